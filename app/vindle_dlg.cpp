// The main window: device search, connection state, commands and the update
// flow. See vindle_dlg.h for the threading rules.
#include "app/vindle_dlg.h"

#include <algorithm>
#include <cstring>
#include <span>

#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QListWidget>
#include <QMenu>
#include <QPointer>
#include <QProgressBar>

#include "app/command_flows.h"
#include "app/device_format.h"
#include "app/prompts.h"
#include "config/cfg_commands.h"
#include "config/cfg_info_fields.h"
#include "config/dialogs/about_dlg.h"
#include "config/dialogs/addma_dlg.h"
#include "config/dialogs/cfg_dlg.h"
#include "config/dialogs/pwd_dlg.h"
#include "tftp/tftp_config.h"
#include "ui/message_box.h"
#include "ui/profile.h"
#include "ui/resources.h"

namespace {

CAppPrompts g_DefaultPrompts;

void CopyText(char (&target)[256], std::string_view text)
{
    const std::string cut = CutUtf8(text, sizeof target - 1);
    std::memcpy(target, cut.data(), cut.size());
    target[cut.size()] = '\0';
}

InitCfgMsg MakeDeviceRecord(std::uint32_t dwIp, std::uint32_t dwNetmask, std::uint32_t dwGateway,
                            const std::uint8_t* pMac)
{
    InitCfgMsg record;
    if (pMac != nullptr)
        std::memcpy(record.mac, pMac, sizeof record.mac);
    record.ip = dwIp;
    record.netmask = dwNetmask;
    record.gateway = dwGateway;
    return record;
}

}  // namespace

CvindleDlg::CvindleDlg(std::uint32_t dwAdapterAddr, const AdapterList* pAdapterList, CAppPrompts* pPrompts,
                       QWidget* pParent)
    : CStyleDialog(IDD_VINDLE_DIALOG, pParent)
    , CInitCfg(dwAdapterAddr, CFG_DISCOVERY_PORT, UdpStart::Deferred)
    , CCfgClt()
    , m_pAdapterList(pAdapterList)
    , m_dwAdapterAddr(dwAdapterAddr)
    , m_hIcon(LoadAppIcon())
    , m_pPrompts(pPrompts != nullptr ? pPrompts : &g_DefaultPrompts)
{
    if (QListWidget* pList = DeviceList()) {
        connect(pList, &QListWidget::customContextMenuRequested, this, [this, pList](const QPoint& pos) {
            QListWidgetItem* pItem = pList->itemAt(pos);
            OnDeviceRightClick(pItem != nullptr ? pList->row(pItem) : -1, pos);
        });
        connect(pList, &QListWidget::itemDoubleClicked, this,
                [this, pList](QListWidgetItem* pItem) { OnDeviceDoubleClick(pList->row(pItem)); });
    }
    m_SearchTimer.setSingleShot(true);
    m_SearchTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_SearchTimer, &QTimer::timeout, this, [this] { PaceSearch(SearchCue::Timer); });
    // Last: from here on replies may call into the window, which is now
    // complete.
    CInitCfg::StartReceiving();
}

CvindleDlg::~CvindleDlg()
{
    // Nothing posted from now on may run: the window is going.
    m_Queue.Close();
    // Waits for a progress call that is running with this window; none
    // comes after it.
    ProgressReceiver.Clear(static_cast<void*>(this));
    // m_UpdateThread and m_StopGuard go next.
}

QListWidget* CvindleDlg::DeviceList() const
{
    return DlgItem<QListWidget>(IDC_DEVICE_LIST);
}

QProgressBar* CvindleDlg::ProgressBar() const
{
    return DlgItem<QProgressBar>(IDC_PROGRESS);
}

QComboBox* CvindleDlg::AdapterCombo() const
{
    return DlgItem<QComboBox>(IDC_ADAPTER_COMBO);
}

bool CvindleDlg::OnInitDialog()
{
    CStyleDialog::OnInitDialog();
    // The about item of the system menu has no counterpart on Linux, where
    // the window manager owns that menu; the "Info" button remains.
    setWindowIcon(m_hIcon);
    if (QWidget* pStatus = GetDlgItem(IDC_CONN_STATUS)) {
        ApplyLabelStyle(pStatus);
    }
    SetConnectedState(false);

    if (QComboBox* pCombo = AdapterCombo(); pCombo != nullptr && m_pAdapterList != nullptr) {
        pCombo->clear();
        for (std::uint32_t i = 0; i < m_pAdapterList->count; ++i) {
            const AdapterInfo& info = m_pAdapterList->adapters[i];
            pCombo->addItem(QString::fromUtf8(
                info.description,
                static_cast<qsizetype>(strnlen(info.description, sizeof info.description))));
            // With several adapters on the chosen address the last one stays
            // selected.
            if (info.address == m_dwAdapterAddr)
                pCombo->setCurrentIndex(pCombo->count() - 1);
            else if (i == 0)
                pCombo->setCurrentIndex(-1);
        }
    }
    StartSearch();
    return true;
}

bool CvindleDlg::OnCommand(int nId)
{
    switch (nId) {
    case IDC_NEW_SEARCH:
        StartSearch();
        return true;
    case ID_CONNECT:
        OnConnect();
        return true;
    case ID_DISCONNECT:
        OnDisconnect();
        return true;
    case ID_REBOOT:
        OnReboot();
        return true;
    case ID_IP_ADDRESS:
        OnIpAddress();
        return true;
    case ID_SET_PASSWORD:
        OnSetPassword();
        return true;
    case ID_SYSTEM_UPDATE:
        OnUpdate(UPDATE_SYSTEM);
        return true;
    case ID_APPLICATION_UPDATE:
        OnUpdate(UPDATE_APPLICATION);
        return true;
    case ID_SOFTWARE_UPDATE:
        OnUpdate(UPDATE_SOFTWARE);
        return true;
    case IDC_INFO:
    case IDM_ABOUTBOX:
        OnAbout();
        return true;
    default:
        return false;
    }
}

void CvindleDlg::OnCancel()
{
    if (m_bUpdateWaiting) {
        if (!m_pPrompts->Confirm(this, QString::fromUtf8(TEXT_QUIT_DURING_UPDATE)))
            return;
    }
    // The client and this window go with the dialog: a waiting update ends
    // now, without a verdict.
    m_UpdateThread.request_stop();
    m_bUpdateRunning = false;
    if (QComboBox* pCombo = AdapterCombo(); pCombo != nullptr && pCombo->currentIndex() >= 0)
        WriteProfileString(QStringLiteral("Parameters"), QStringLiteral("adapter"), pCombo->currentText());
    EndDialog(IDCANCEL);
}

void CvindleDlg::StartSearch()
{
    QListWidget* pList = DeviceList();
    if (pList == nullptr)
        return;
    pList->clear();
    m_Devices.clear();
    ++m_dwListGeneration;
    // A search that cannot be sent leaves the list empty; the operator can
    // search again.
    static_cast<void>(SendInitCfgMsg(nullptr, static_cast<CInitCfg*>(this), CFG_SEARCH_REQ, 0, 0, 0));
}

void CvindleDlg::AppendDevice(const InitCfgMsg& record)
{
    QListWidget* pList = DeviceList();
    if (pList == nullptr)
        return;
    const std::string label = FormatDeviceLabel(record.ip, std::span<const std::uint8_t, 6>(record.mac));
    auto* pItem = new QListWidgetItem(m_hIcon, QString::fromStdString(label));
    pItem->setTextAlignment(Qt::AlignHCenter | Qt::AlignTop);
    pItem->setData(Qt::UserRole, static_cast<qulonglong>(m_Devices.size()));
    m_Devices.push_back(record);
    pList->addItem(pItem);
}

const InitCfgMsg* CvindleDlg::RecordAt(int nRow) const
{
    const QListWidget* pList = DeviceList();
    const QListWidgetItem* pItem = pList != nullptr && nRow >= 0 ? pList->item(nRow) : nullptr;
    if (pItem == nullptr)
        return nullptr;
    const qulonglong index = pItem->data(Qt::UserRole).toULongLong();
    return index < m_Devices.size() ? &m_Devices[static_cast<std::size_t>(index)] : nullptr;
}

InitCfgMsg CvindleDlg::Device(std::size_t i) const
{
    const InitCfgMsg* pRecord = RecordAt(static_cast<int>(i));
    return pRecord != nullptr ? *pRecord : InitCfgMsg{};
}

void CvindleDlg::OnSearchReply(std::uint32_t dwIp, std::uint32_t dwNetmask, std::uint32_t dwGateway,
                               const std::uint8_t* pMac)
{
    // pMac points into the receive buffer: copy it before returning.
    const InitCfgMsg record = MakeDeviceRecord(dwIp, dwNetmask, dwGateway, pMac);
    m_Queue.Post([this, record] { AppendDevice(record); });
}

void CvindleDlg::OnSetIpReply(std::uint32_t, std::uint32_t, std::uint32_t, const std::uint8_t*)
{
    m_Queue.Post([this] { PaceSearch(SearchCue::SetIpReply); });
}

void CvindleDlg::PaceSearch(SearchCue cue)
{
    const CSearchPacer::Clock::time_point now = CSearchPacer::Clock::now();
    if (cue == SearchCue::Timer ? m_SearchPacer.OnTimer(now) : m_SearchPacer.OnReply(now))
        StartSearch();
    const std::optional<CSearchPacer::Clock::time_point> due = m_SearchPacer.Due();
    if (due && !m_SearchTimer.isActive())
        m_SearchTimer.start(std::chrono::ceil<std::chrono::milliseconds>(*due - now));
}

void CvindleDlg::SetConnectedState(bool bConnected)
{
    m_bConnected = bConnected ? 1 : 0;
    SetDlgItemText(IDC_CONN_STATUS, QString::fromUtf8(bConnected ? TEXT_CONNECTED : TEXT_NOT_CONNECTED));
    // Template 102 has none of these; the context menu shows the state.
    for (int nId : {ID_DISCONNECT, ID_SYSTEM_UPDATE, ID_APPLICATION_UPDATE, ID_REBOOT}) {
        if (GetDlgItem(nId) != nullptr)
            EnableDlgItem(nId, bConnected);
    }
    if (GetDlgItem(ID_CONNECT) != nullptr)
        EnableDlgItem(ID_CONNECT, !bConnected);
}

void CvindleDlg::OnConnected()
{
    // The client has keyed its cipher before this call.
    m_Queue.Post([this] { SetConnectedState(true); });
}

void CvindleDlg::OnDisconnected(std::int32_t nReason)
{
    // An older attempt that failed late (after "Verbinden" on another box)
    // leaves the status of the current connection alone; the client itself
    // ends a waiting update only with the connection it went out on.
    if (nReason == CFG_DISCONNECTED && IsConnected())
        return;
    m_Queue.Post([this] { SetConnectedState(false); });
}

void CvindleDlg::OnInfo()
{
    std::string info = DeviceInfoField(GetField(INFO_FIELD_ECHO));
    m_Queue.Post([this, info = std::move(info)] { CopyText(m_szDeviceInfo, info); });
}

std::unique_ptr<QMenu> CvindleDlg::BuildContextMenu()
{
    std::unique_ptr<QMenu> pMenu = LoadMenu(IDR_CONTEXT_MENU);
    if (!pMenu)
        return pMenu;
    // The password command has no place in the menu resource; it joins the
    // other commands that need a connection.
    QAction* pPassword = pMenu->addAction(QString::fromUtf8(TEXT_MENU_SET_PASSWORD));
    pPassword->setData(ID_SET_PASSWORD);
    const bool bConnected = m_bConnected != 0;
    EnableMenuItem(*pMenu, ID_CONNECT, !bConnected);
    for (int nId : {ID_DISCONNECT, ID_SOFTWARE_UPDATE, ID_SYSTEM_UPDATE, ID_APPLICATION_UPDATE, ID_REBOOT,
                    ID_SET_PASSWORD})
        EnableMenuItem(*pMenu, nId, bConnected);
    return pMenu;
}

void CvindleDlg::OnDeviceRightClick(int nItem, const QPoint& listPos)
{
    m_nMenuItem = nItem;
    m_dwMenuGeneration = m_dwListGeneration;
    if (nItem < 0) {
        CAddMADlg dlg(this);
        if (m_pPrompts->RunDialog(dlg) == IDOK) {
            const std::uint8_t zeroMac[6] = {};
            OnSearchReply(dlg.m_dwIp, 0, 0, zeroMac);
        }
        return;
    }
    std::unique_ptr<QMenu> pMenu = BuildContextMenu();
    if (!pMenu)
        return;
    QListWidget* pList = DeviceList();
    const QPoint globalPos = pList != nullptr ? pList->viewport()->mapToGlobal(listPos) : listPos;
    const int nChosen = m_pPrompts->PopupMenu(*pMenu, globalPos);
    if (nChosen != 0)
        OnCommand(nChosen);
}

void CvindleDlg::OnDeviceDoubleClick(int nItem)
{
    const InitCfgMsg* pRecord = RecordAt(nItem);
    if (pRecord == nullptr)
        return;
    static_cast<void>(m_pPrompts->OpenUrl(QString::fromStdString(FormatAdminUrl(pRecord->ip))));
}

void CvindleDlg::OnConnect()
{
    const InitCfgMsg* pRecord = m_dwMenuGeneration == m_dwListGeneration ? RecordAt(m_nMenuItem) : nullptr;
    if (pRecord != nullptr) {
        // The outcome arrives through OnConnected or OnDisconnected.
        const std::string host = FormatIpv4(pRecord->ip);
        Connect(host.c_str(), CFG_SERVICE_PORT);
    }
    m_nMenuItem = -1;
}

void CvindleDlg::OnDisconnect()
{
    // Without a connection there is nothing to end; the end of one arrives
    // through OnDisconnected.
    CCfgClt::Disconnect();
}

void CvindleDlg::ShowStatus(AppStatus status)
{
    AppMessageBox(this, QString::fromStdString(UserText(status)));
}

bool CvindleDlg::RefuseWhileUpdating()
{
    if (!m_bUpdateRunning)
        return false;
    ShowStatus(AppStatus::UpdateBusy);
    return true;
}

void CvindleDlg::OnReboot()
{
    if (RefuseWhileUpdating())
        return;
    // Nothing is shown whatever comes of it: a rebooting box drops the
    // connection, often before it answers.
    static_cast<void>(RunCommand(CMD_REBOOT, std::chrono::milliseconds(CMD_REBOOT_TIMEOUT_MS)));
}

void CvindleDlg::OnIpAddress()
{
    QListWidget* pList = DeviceList();
    if (pList == nullptr)
        return;
    int nLast = -1;
    for (const QModelIndex& index : pList->selectionModel()->selectedIndexes())
        nLast = std::max(nLast, index.row());
    const InitCfgMsg* pRecord = RecordAt(nLast);
    if (pRecord == nullptr)
        return;
    // A copy: replies keep arriving while the dialog runs, and a new search
    // may empty the list meanwhile.
    const InitCfgMsg record = *pRecord;
    CCfgDlg dlg(this);
    dlg.m_dwIp = record.ip;
    dlg.m_dwNetmask = record.netmask;
    dlg.m_dwGateway = record.gateway;
    if (m_pPrompts->RunDialog(dlg) != IDOK)
        return;
    // The box's set-IP reply refreshes the list; without one the list stays
    // as it is, which is all the operator could be told.
    static_cast<void>(SendInitCfgMsg(record.mac, static_cast<CInitCfg*>(this), CFG_SET_IP_REQ, dlg.m_dwIp,
                                     dlg.m_dwNetmask, dlg.m_dwGateway));
}

void CvindleDlg::OnSetPassword()
{
    if (RefuseWhileUpdating())
        return;
    CPwdDlg dlg(this);
    dlg.m_szPassword[0] = '\0';
    if (m_pPrompts->RunDialog(dlg) != IDOK)
        return;
    ShowStatus(SetBoxPassword(
        *this, std::string_view(dlg.m_szPassword, strnlen(dlg.m_szPassword, sizeof dlg.m_szPassword))));
}

void CvindleDlg::OnUpdate(std::int32_t nKind)
{
    if (m_bConnected == 0)
        return;
    if (RefuseWhileUpdating())
        return;
    const QString path = m_pPrompts->ChooseUpdateFile(this);
    if (path.isEmpty())
        return;
    const QByteArray localPath = QFile::encodeName(path);
    const std::optional<UpdateFile> file =
        SplitUpdatePath(std::string_view(localPath.constData(), localPath.size()));
    if (!file) {
        ShowStatus(AppStatus::UpdatePathInvalid);
        return;
    }
    std::optional<std::string> command = BuildUpdateCommand(
        nKind, file->name, std::string_view(m_szDeviceInfo, strnlen(m_szDeviceInfo, sizeof m_szDeviceInfo)));
    if (!command) {
        ShowStatus(AppStatus::UpdateNameTooLong);
        return;
    }

    // The box asks for the bare name; the server now looks in its folder.
    SetTftpHomeDirectory(file->folder);
    ProgressReceiver.Set(static_cast<void*>(this));
    CopyText(m_szUpdateFile, file->name);
    m_nUpdateKind = nKind;

    if (QProgressBar* pBar = ProgressBar()) {
        pBar->setRange(0, 100);
        pBar->setValue(0);
        pBar->show();
    }
    m_bUpdateRunning = true;
    m_bUpdateWaiting = true;
    ++m_dwUpdateSerial;
    // The previous update thread has posted its verdict by now; assigning
    // joins it.
    m_UpdateThread = std::jthread(
        [this, command = std::move(*command)](std::stop_token stop) { UpdateThread(stop, command); });
}

void CvindleDlg::UpdateThread(std::stop_token stop, const std::string& command)
{
    const UpdateVerdict verdict =
        RunUpdate(*this, command, std::chrono::milliseconds(CMD_UPDATE_TIMEOUT_MS), stop);
    m_bUpdateWaiting = false;
    std::string text = UserText(verdict.status, verdict.boxText);
    m_Queue.Post([this, text = std::move(text), bCancelled = verdict.bCancelled] {
        FinishUpdate(QString::fromStdString(text), bCancelled);
    });
}

void CvindleDlg::FinishUpdate(const QString& verdict, bool bCancelled)
{
    m_bUpdateRunning = false;
    if (bCancelled)
        return;
    const std::uint32_t dwSerial = m_dwUpdateSerial;
    QPointer<CvindleDlg> pSelf(this);
    PlainMessageBoxAsync(verdict, [pSelf, dwSerial] {
        // A later update owns the progress bar by now.
        if (pSelf && pSelf->m_dwUpdateSerial == dwSerial && !pSelf->m_bUpdateRunning) {
            if (QProgressBar* pBar = pSelf->ProgressBar())
                pBar->hide();
        }
    });
}

void CvindleDlg::SetProgress(int nPercent)
{
    if (QProgressBar* pBar = ProgressBar())
        pBar->setValue(std::clamp(nPercent, 0, 100));
}

void CvindleDlg::OnTftpProgress(void* pReceiver, std::int32_t nPercent)
{
    // The receiver is a live window: its destructor clears ProgressReceiver,
    // which waits for this call.
    auto* pWindow = static_cast<CvindleDlg*>(pReceiver);
    pWindow->m_Queue.Post([pWindow, nPercent] { pWindow->SetProgress(nPercent); });
}

void CvindleDlg::OnAbout()
{
    CAboutDlg dlg(this);
    m_pPrompts->RunDialog(dlg);
}
