#include "tests/app/app_test_support.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QListWidget>
#include <QMenu>
#include <QTest>

#include "app/vindle_dlg.h"
#include "discovery/init_cfg_msg.h"
#include "ui/dialog.h"

int CScriptedPrompts::RunDialog(CDialog& dlg)
{
    ++dialogs;
    dlg.ShowModeless();
    if (onDialog)
        onDialog(dlg);
    if (dlg.isVisible())
        dlg.OnCancel();
    return dlg.result();
}

QString CScriptedPrompts::ChooseUpdateFile(QWidget*)
{
    ++fileChoosers;
    return updateFile;
}

bool CScriptedPrompts::Confirm(QWidget*, const QString& text)
{
    questions.append(text);
    return confirmAnswer;
}

int CScriptedPrompts::PopupMenu(QMenu& menu, const QPoint&)
{
    return onMenu ? onMenu(menu) : 0;
}

bool CScriptedPrompts::OpenUrl(const QString& url)
{
    urls.append(url);
    return true;
}

CMessageBoxRecorder::CMessageBoxRecorder() : m_pBoxes(std::make_shared<std::vector<Box>>())
{
    SetMessageBoxHook([boxes = m_pBoxes](MsgBoxKind kind, const QString& caption, const QString& text) {
        boxes->push_back({kind, caption, text});
    });
}

CMessageBoxRecorder::~CMessageBoxRecorder()
{
    SetMessageBoxHook({});
}

bool CMessageBoxRecorder::Has(const QString& text) const
{
    for (const Box& box : *m_pBoxes) {
        if (box.text == text)
            return true;
    }
    return false;
}

bool WaitUi(const std::function<bool()>& predicate, std::chrono::milliseconds timeout)
{
    return QTest::qWaitFor(predicate, static_cast<int>(timeout.count()));
}

void SpinUi(std::chrono::milliseconds duration)
{
    QTest::qWait(static_cast<int>(duration.count()));
}

void RunPostedUiEvents()
{
    // A function run in the first pass may post more; the second runs that.
    for (int pass = 0; pass < 2; ++pass) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
}

std::uint32_t IpOf(const std::string& dotted)
{
    in_addr address{};
    inet_pton(AF_INET, dotted.c_str(), &address);
    return address.s_addr;
}

CLabBoxes::CLabBoxes(int count, const std::vector<std::string>& extraArgs)
{
    for (int i = 1; i <= count; ++i) {
        // The identity is given, not read from the interface, and a set-IP
        // request leaves the interface alone: every test starts from the
        // lab's addresses whatever an earlier test asked a box to do.
        const LabBox& lab = Lab().Box(i);
        std::vector<std::string> argv{
            ToolPath("vindle-box"), "--interface", lab.ifname, "--ip", lab.ip, "--mac", lab.mac,
            "--no-interface-change"};
        argv.insert(argv.end(), extraArgs.begin(), extraArgs.end());
        m_boxes.push_back(std::make_unique<LabProcess>(i, argv, LabProcess::Output::CaptureMerged));
    }
    for (auto& box : m_boxes) {
        // Generous: under a sanitizer on a busy machine a box takes a while.
        if (!box->Started() || !box->WaitForText("discovery: ready", std::chrono::seconds(15)) ||
            !box->WaitForText("config: listening", std::chrono::seconds(15)))
            m_ready = false;
    }
}

int CLabBoxes::CountLines(int i, const std::string& text, std::chrono::milliseconds drainFor)
{
    LabProcess& box = Box(i);
    box.Drain(drainFor);
    int count = 0;
    for (std::size_t pos = box.Captured().find(text); pos != std::string::npos;
         pos = box.Captured().find(text, pos + text.size()))
        ++count;
    return count;
}

void SendSearchReply(const std::string& toolIp, const std::string& boxIp, const std::uint8_t (&mac)[6])
{
    const auto datagram = EncodeInitCfgMsg(CFG_SEARCH_RSP, mac, IpOf(boxIp), IpOf("255.255.255.0"), 0);
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(CFG_DISCOVERY_PORT);
    to.sin_addr.s_addr = IpOf(toolIp);
    EXPECT_EQ(
        sendto(fd, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to),
        static_cast<ssize_t>(datagram.size()));
    close(fd);
}

int RowOf(const CvindleDlg& dlg, const std::string& ip)
{
    QListWidget* pList = dlg.DeviceList();
    const QString prefix = QString::fromStdString(ip) + QLatin1Char('\n');
    for (int row = 0; pList != nullptr && row < pList->count(); ++row) {
        if (pList->item(row)->text().startsWith(prefix))
            return row;
    }
    return -1;
}

int RunOffscreenApp(int& argc, char** argv, const char* settingsPattern, const std::function<int()>& run)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    std::string settingsDir(settingsPattern);
    if (mkdtemp(settingsDir.data()) == nullptr)
        return 2;
    setenv("XDG_CONFIG_HOME", settingsDir.c_str(), 1);
    int status = 0;
    {
        QApplication app(argc, argv);
        status = run();
    }
    std::error_code ignored;
    std::filesystem::remove_all(settingsDir, ignored);
    return status;
}
