// Builds a dialog from its template and routes the standard commands: OK,
// Cancel, Esc and the close box to the virtual handlers, every other button
// to OnCommand.
#include "ui/dialog.h"

#include <QAction>
#include <QComboBox>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>

#include "ui/ip_address_ctrl.h"
#include "ui/resources.h"

namespace {

constexpr const char* CTRL_ID_PROPERTY = "vindleCtrlId";

// Win32 rounds dialog-unit conversions half away from zero.
int MulDiv(int value, int numerator, int denominator)
{
    const long long product = static_cast<long long>(value) * numerator;
    const long long half = denominator / 2;
    return static_cast<int>(product >= 0 ? (product + half) / denominator : (product - half) / denominator);
}

Qt::WindowFlags FlagsForStyle(std::uint32_t dwStyle)
{
    if (dwStyle & DS_CAPTION) {
        Qt::WindowFlags flags = (dwStyle & DS_APPWINDOW) ? Qt::Window : Qt::Dialog;
        flags |= Qt::CustomizeWindowHint | Qt::WindowTitleHint;
        if (dwStyle & DS_SYSMENU)
            flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
        if (dwStyle & DS_MINIMIZEBOX)
            flags |= Qt::WindowMinimizeButtonHint;
        return flags;
    }
    // A pop-up without title bar: the border is drawn by paintEvent.
    return Qt::Dialog | Qt::FramelessWindowHint;
}

}  // namespace

CDialog::CDialog(int nTemplateId, QWidget* pParent) : QDialog(pParent), m_nTemplateId(nTemplateId)
{
    setFont(DialogFont());
    const QFontMetrics metrics(font());
    const int letters =
        metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    m_baseUnits = QSize((letters / 26 + 1) / 2, metrics.height());

    m_pClient = new QWidget(this);
    const DlgTemplate* pTemplate = FindDlgTemplate(nTemplateId);
    if (!pTemplate) {
        m_pClient->resize(0, 0);
        return;
    }
    m_dwStyle = pTemplate->dwStyle;
    if (!(m_dwStyle & DS_CAPTION))
        m_nFrame = (m_dwStyle & DS_MODALFRAME) ? 3 : 1;
    setWindowFlags(FlagsForStyle(m_dwStyle));
    if (pTemplate->pszCaption)
        setWindowTitle(QString::fromUtf8(pTemplate->pszCaption));
    setWindowIcon(LoadAppIcon());

    const QRect client = MapDialogRect(QRect(0, 0, pTemplate->cx, pTemplate->cy));
    m_pClient->setGeometry(m_nFrame, m_nFrame, client.width(), client.height());
    // Nothing in a dialog moves or stretches: the templates are fixed.
    setFixedSize(client.width() + 2 * m_nFrame, client.height() + 2 * m_nFrame);
    CreateControls(*pTemplate);
}

CDialog::~CDialog() = default;

QFont CDialog::DialogFont()
{
    QFont font(QStringLiteral("Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSize(8);
    return font;
}

QRect CDialog::MapDialogRect(const QRect& dlu) const
{
    const int bx = m_baseUnits.width();
    const int by = m_baseUnits.height();
    return QRect(MulDiv(dlu.x(), bx, 4), MulDiv(dlu.y(), by, 8), MulDiv(dlu.width(), bx, 4),
                 MulDiv(dlu.height(), by, 8));
}

void CDialog::CreateControls(const DlgTemplate& tmpl)
{
    for (const DlgItemTemplate& item : tmpl.items) {
        QWidget* pCtrl = CreateControl(item);
        pCtrl->setProperty(CTRL_ID_PROPERTY, item.nId);
        pCtrl->setObjectName(item.nId == IDC_STATIC ? QStringLiteral("static")
                                                    : QStringLiteral("ctrl%1").arg(item.nId));
        if (item.dwFlags & CF_HIDDEN)
            pCtrl->hide();
        m_controls.append(pCtrl);
        if (item.nId != IDC_STATIC)
            m_byId.emplace(item.nId, pCtrl);
    }
}

QWidget* CDialog::CreateControl(const DlgItemTemplate& item)
{
    const QString text = item.pszText ? QString::fromUtf8(item.pszText) : QString();
    const QRect rect = MapDialogRect(QRect(item.x, item.y, item.cx, item.cy));
    QWidget* pCtrl = nullptr;

    switch (item.kind) {
    case CtrlKind::PushButton:
    case CtrlKind::DefPushButton: {
        auto* pButton = new QPushButton(text, m_pClient);
        pButton->setAutoDefault(true);
        pButton->setDefault(item.kind == CtrlKind::DefPushButton);
        const int nId = item.nId;
        connect(pButton, &QPushButton::clicked, this, [this, nId] { Dispatch(nId); });
        pCtrl = pButton;
        break;
    }
    case CtrlKind::Label: {
        auto* pLabel = new QLabel(text, m_pClient);
        pLabel->setTextFormat(Qt::PlainText);
        pLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        pCtrl = pLabel;
        break;
    }
    case CtrlKind::IconStatic: {
        // An icon static takes the icon's own size, not the template's.
        auto* pLabel = new QLabel(m_pClient);
        pLabel->setPixmap(LoadAppIcon().pixmap(QSize(32, 32)));
        pLabel->setGeometry(QRect(rect.topLeft(), QSize(32, 32)));
        return pLabel;
    }
    case CtrlKind::BitmapStatic: {
        auto* pLabel = new QLabel(m_pClient);
        pLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        pLabel->setGeometry(rect);
        // Everything else is drawn over the banner.
        pLabel->lower();
        return pLabel;
    }
    case CtrlKind::Edit: {
        auto* pEdit = new QLineEdit(m_pClient);
        if (item.dwFlags & CF_PASSWORD)
            pEdit->setEchoMode(QLineEdit::Password);
        pCtrl = pEdit;
        break;
    }
    case CtrlKind::IpAddress:
        pCtrl = new CIpAddressCtrl(m_pClient);
        break;
    case CtrlKind::ListView: {
        auto* pList = new QListWidget(m_pClient);
        pList->setViewMode(QListView::IconMode);
        // Items fill rows from the left edge, as the platform's icon view
        // arranges a left-aligned list of few items.
        pList->setFlow(QListView::LeftToRight);
        pList->setWrapping(true);
        pList->setMovement(QListView::Static);
        pList->setResizeMode(QListView::Adjust);
        pList->setWordWrap(true);
        pList->setIconSize(QSize(32, 32));
        pList->setSelectionMode((item.dwFlags & CF_MULTISELECT) ? QAbstractItemView::ExtendedSelection
                                                                : QAbstractItemView::SingleSelection);
        // Room for a two-line label such as "255.255.255.255" over a MAC.
        const QFontMetrics metrics(font());
        const int labelWidth = metrics.horizontalAdvance(QStringLiteral("00-00-00-00-00-00")) + 12;
        pList->setGridSize(QSize(labelWidth, 32 + 2 * metrics.height() + 12));
        pList->setContextMenuPolicy(Qt::CustomContextMenu);
        pCtrl = pList;
        break;
    }
    case CtrlKind::ComboBox: {
        // The template's height is that of the dropped list; the box itself
        // keeps its natural height.
        auto* pCombo = new QComboBox(m_pClient);
        pCombo->setEditable(false);
        pCombo->setGeometry(rect.x(), rect.y(), rect.width(), pCombo->sizeHint().height());
        return pCombo;
    }
    case CtrlKind::ProgressBar: {
        auto* pBar = new QProgressBar(m_pClient);
        pBar->setRange(0, 100);
        pBar->setValue(0);
        pBar->setTextVisible(false);
        pCtrl = pBar;
        break;
    }
    }
    pCtrl->setGeometry(rect);
    return pCtrl;
}

void CDialog::Dispatch(int nId)
{
    if (nId == IDOK)
        OnOK();
    else if (nId == IDCANCEL)
        OnCancel();
    else
        OnCommand(nId);
}

int CDialog::DoModal()
{
    OnInitDialog();
    return exec();
}

void CDialog::ShowModeless()
{
    OnInitDialog();
    show();
}

void CDialog::EndDialog(int nResult)
{
    done(nResult);
}

bool CDialog::OnInitDialog()
{
    return true;
}

void CDialog::OnOK()
{
    EndDialog(IDOK);
}

void CDialog::OnCancel()
{
    EndDialog(IDCANCEL);
}

bool CDialog::OnCommand(int)
{
    return false;
}

void CDialog::accept()
{
    OnOK();
}

void CDialog::reject()
{
    OnCancel();
}

void CDialog::paintEvent(QPaintEvent* pEvent)
{
    QDialog::paintEvent(pEvent);
    if (m_nFrame == 0)
        return;
    QPainter painter(this);
    const QRect outer = rect().adjusted(0, 0, -1, -1);
    painter.setPen(QColor(0x64, 0x64, 0x64));
    painter.drawRect(outer);
    if (m_nFrame > 1) {
        // A dialog frame: a raised band inside the outline.
        painter.setPen(palette().color(QPalette::Button));
        for (int i = 1; i < m_nFrame; ++i)
            painter.drawRect(outer.adjusted(i, i, -i, -i));
    }
}

QWidget* CDialog::GetDlgItem(int nId) const
{
    const auto it = m_byId.find(nId);
    return it == m_byId.end() ? nullptr : it->second;
}

CIpAddressCtrl* CDialog::IpAddressCtrl(int nId) const
{
    return DlgItem<CIpAddressCtrl>(nId);
}

int CDialog::CtrlId(const QWidget* pCtrl)
{
    if (!pCtrl)
        return IDC_STATIC;
    const QVariant id = pCtrl->property(CTRL_ID_PROPERTY);
    return id.isValid() ? id.toInt() : IDC_STATIC;
}

QString CDialog::GetDlgItemText(int nId) const
{
    QWidget* pCtrl = GetDlgItem(nId);
    if (auto* pLabel = qobject_cast<QLabel*>(pCtrl))
        return pLabel->text();
    if (auto* pButton = qobject_cast<QPushButton*>(pCtrl))
        return pButton->text();
    if (auto* pEdit = qobject_cast<QLineEdit*>(pCtrl))
        return pEdit->text();
    if (auto* pCombo = qobject_cast<QComboBox*>(pCtrl))
        return pCombo->currentText();
    if (auto* pIp = qobject_cast<CIpAddressCtrl*>(pCtrl))
        return pIp->Text();
    return {};
}

void CDialog::SetDlgItemText(int nId, const QString& text)
{
    QWidget* pCtrl = GetDlgItem(nId);
    if (auto* pLabel = qobject_cast<QLabel*>(pCtrl))
        pLabel->setText(text);
    else if (auto* pButton = qobject_cast<QPushButton*>(pCtrl))
        pButton->setText(text);
    else if (auto* pEdit = qobject_cast<QLineEdit*>(pCtrl))
        pEdit->setText(text);
    else if (auto* pIp = qobject_cast<CIpAddressCtrl*>(pCtrl))
        pIp->SetText(text);
    else if (auto* pCombo = qobject_cast<QComboBox*>(pCtrl))
        pCombo->setCurrentIndex(pCombo->findText(text));
}

void CDialog::EnableDlgItem(int nId, bool bEnable)
{
    if (QWidget* pCtrl = GetDlgItem(nId))
        pCtrl->setEnabled(bEnable);
}

void CDialog::ShowDlgItem(int nId, bool bShow)
{
    if (QWidget* pCtrl = GetDlgItem(nId))
        pCtrl->setVisible(bShow);
}

void CDialog::GotoDlgCtrl(int nId)
{
    if (auto* pIp = IpAddressCtrl(nId))
        pIp->SetFieldFocus(0);
    else if (QWidget* pCtrl = GetDlgItem(nId))
        pCtrl->setFocus(Qt::OtherFocusReason);
}

std::unique_ptr<QMenu> CDialog::LoadMenu(int nMenuId)
{
    const MenuTemplate* pTemplate = FindMenuTemplate(nMenuId);
    if (!pTemplate)
        return nullptr;
    auto pMenu = std::make_unique<QMenu>(QString::fromUtf8(pTemplate->pszTitle), this);
    for (const MenuItemTemplate& item : pTemplate->items) {
        if (item.nId == 0) {
            pMenu->addSeparator();
            continue;
        }
        QAction* pAction = pMenu->addAction(QString::fromUtf8(item.pszText));
        pAction->setData(item.nId);
    }
    return pMenu;
}

void CDialog::EnableMenuItem(QMenu& menu, int nId, bool bEnable)
{
    for (QAction* pAction : menu.actions()) {
        if (!pAction->isSeparator() && pAction->data().toInt() == nId)
            pAction->setEnabled(bEnable);
    }
}

int CDialog::TrackPopupMenu(QMenu& menu, const QPoint& globalPos)
{
    QAction* pChosen = menu.exec(globalPos);
    if (!pChosen)
        return 0;
    const int nId = pChosen->data().toInt();
    OnCommand(nId);
    return nId;
}
