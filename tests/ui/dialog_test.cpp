#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/ui/qt_test_support.h"
#include "ui/dialog.h"
#include "ui/ip_address_ctrl.h"

namespace {

// Records the commands that reach the virtual handlers.
class CRecordingDlg : public CDialog
{
public:
    using CDialog::CDialog;
    bool OnCommand(int nId) override
    {
        commands.push_back(nId);
        return true;
    }
    void OnCancel() override
    {
        ++nCancels;
        if (!bRefuseCancel)
            CDialog::OnCancel();
    }
    std::vector<int> commands;
    int nCancels = 0;
    bool bRefuseCancel = false;
};

const int ALL_TEMPLATES[] = {IDD_ABOUTBOX, IDD_VINDLE_DIALOG, IDD_CFG_DIALOG, IDD_PWD_DIALOG,
                             IDD_ADDMA_DIALOG};

}  // namespace

TEST(DialogTemplate, EveryControlSitsWhereItsTemplateSays)
{
    for (int nTemplate : ALL_TEMPLATES) {
        SCOPED_TRACE(nTemplate);
        const DlgTemplate* pTemplate = FindDlgTemplate(nTemplate);
        ASSERT_NE(pTemplate, nullptr);
        CDialog dlg(nTemplate);
        ASSERT_EQ(dlg.Controls().size(), static_cast<qsizetype>(pTemplate->items.size()));
        // The template's size is the client area, inside a drawn border.
        const QRect client = dlg.MapDialogRect(QRect(0, 0, pTemplate->cx, pTemplate->cy));
        EXPECT_LE(client.width(), dlg.width());
        EXPECT_GE(client.width() + 6, dlg.width());
        for (qsizetype i = 0; i < dlg.Controls().size(); ++i) {
            const DlgItemTemplate& item = pTemplate->items[static_cast<std::size_t>(i)];
            QWidget* pCtrl = dlg.Controls()[i];
            SCOPED_TRACE(item.nId);
            EXPECT_EQ(CDialog::CtrlId(pCtrl), item.nId);
            if (item.nId != IDC_STATIC) {
                EXPECT_EQ(dlg.GetDlgItem(item.nId), pCtrl);
            }
            const QRect expected = dlg.MapDialogRect(QRect(item.x, item.y, item.cx, item.cy));
            EXPECT_EQ(pCtrl->pos(), expected.topLeft());
            // Icons, the banner and combo boxes take their own height.
            if (item.kind != CtrlKind::IconStatic && item.kind != CtrlKind::BitmapStatic &&
                item.kind != CtrlKind::ComboBox) {
                EXPECT_EQ(pCtrl->size(), expected.size());
            }
        }
    }
}

// The templates written out once more by hand, so that a slip in the data
// (an id, a rectangle, a text, the order that is also the tab order) shows
// up here rather than on the operator's screen.
TEST(DialogTemplate, TemplatesHoldExactlyTheirControls)
{
    using K = CtrlKind;
    struct Item
    {
        int nId;
        CtrlKind kind;
        const char* pszText;
        int x, y, cx, cy;
    };
    struct Dlg
    {
        int nId;
        const char* pszCaption;
        std::uint32_t dwStyle;
        int cx, cy;
        std::vector<Item> items;
    };
    const Dlg dialogs[] = {
        {IDD_ABOUTBOX,
         nullptr,
         DS_THINBORDER | DS_SYSMENU,
         236,
         126,
         {{-1, K::IconStatic, nullptr, 11, 52, 20, 20},
          {-1, K::Label, "Orvex-Maintenance Version 1.0.0.6", 40, 49, 119, 8},
          {-1, K::Label, "Copyright \u00a9 2026 Orvex", 40, 64, 119, 8},
          {1, K::DefPushButton, "OK", 92, 97, 50, 16},
          {1005, K::BitmapStatic, nullptr, 0, 0, 20, 20}}},
        {IDD_VINDLE_DIALOG,
         "Orvex-Maintenance",
         DS_CAPTION | DS_SYSMENU | DS_MINIMIZEBOX | DS_APPWINDOW,
         320,
         214,
         {{1002, K::DefPushButton, "Neue Suche", 14, 154, 50, 16},
          {1000, K::ListView, nullptr, 8, 53, 306, 90},
          {1007, K::ProgressBar, nullptr, 14, 193, 284, 9},
          {1005, K::BitmapStatic, nullptr, 0, 0, 15, 13},
          {2, K::PushButton, "Beenden", 250, 154, 50, 16},
          {1011, K::PushButton, "Info", 192, 154, 50, 16},
          {1009, K::ComboBox, nullptr, 72, 32, 241, 52},
          {-1, K::Label, "Netzwerk-Adapter:", 8, 34, 62, 8},
          {1012, K::Label, "nicht verbunden", 43, 178, 53, 8},
          {-1, K::Label, "Status:", 16, 178, 24, 8}}},
        {IDD_CFG_DIALOG,
         nullptr,
         DS_THINBORDER | DS_SYSMENU,
         200,
         181,
         {{1, K::DefPushButton, "OK", 10, 148, 50, 14},
          {2, K::PushButton, "Abbrechen", 138, 149, 50, 14},
          {1001, K::IpAddress, nullptr, 73, 60, 100, 15},
          {1005, K::BitmapStatic, nullptr, 0, 0, 20, 20},
          {1002, K::IpAddress, nullptr, 73, 92, 100, 15},
          {-1, K::Label, "IP-Adresse:", 11, 63, 39, 8},
          {-1, K::Label, "Subnetzmaske:", 11, 95, 50, 8},
          {1003, K::IpAddress, nullptr, 73, 124, 100, 15},
          {-1, K::Label, "Standardgateway:", 11, 127, 61, 8}}},
        {IDD_PWD_DIALOG,
         nullptr,
         DS_THINBORDER | DS_SYSMENU,
         186,
         150,
         {{1, K::DefPushButton, "OK", 5, 131, 50, 14},
          {2, K::PushButton, "Abbrechen", 129, 131, 50, 14},
          {1011, K::Edit, nullptr, 23, 59, 138, 14},
          {1012, K::Edit, nullptr, 23, 94, 138, 14},
          {-1, K::Label, "Kennwort:", 23, 47, 34, 8},
          {-1, K::Label, "Kennwortwiederholung:", 23, 83, 77, 8},
          {1005, K::BitmapStatic, nullptr, 0, 0, 20, 20}}},
        {IDD_ADDMA_DIALOG,
         nullptr,
         DS_MODALFRAME | DS_SYSMENU,
         186,
         123,
         {{1, K::DefPushButton, "OK", 10, 102, 50, 14},
          {2, K::PushButton, "Cancel", 126, 102, 50, 14},
          {-1, K::Label, "MA hinzuf\u00fcgen:", 70, 47, 51, 8},
          {1013, K::IpAddress, nullptr, 42, 66, 100, 15},
          {1005, K::BitmapStatic, nullptr, 0, 0, 20, 20}}},
    };
    const auto text = [](const char* psz) { return std::string(psz ? psz : "(none)"); };
    for (const Dlg& want : dialogs) {
        SCOPED_TRACE(want.nId);
        const DlgTemplate* pHave = FindDlgTemplate(want.nId);
        ASSERT_NE(pHave, nullptr);
        EXPECT_EQ(text(pHave->pszCaption), text(want.pszCaption));
        EXPECT_EQ(pHave->dwStyle, want.dwStyle);
        EXPECT_EQ(pHave->cx, want.cx);
        EXPECT_EQ(pHave->cy, want.cy);
        EXPECT_STREQ(pHave->pszFont, "MS Shell Dlg");
        EXPECT_EQ(pHave->nPointSize, 8);
        ASSERT_EQ(pHave->items.size(), want.items.size());
        for (std::size_t i = 0; i < want.items.size(); ++i) {
            const Item& w = want.items[i];
            const DlgItemTemplate& h = pHave->items[i];
            SCOPED_TRACE(i);
            EXPECT_EQ(h.nId, w.nId);
            EXPECT_EQ(h.kind, w.kind);
            EXPECT_EQ(text(h.pszText), text(w.pszText));
            EXPECT_EQ(QRect(h.x, h.y, h.cx, h.cy), QRect(w.x, w.y, w.cx, w.cy));
        }
    }
    // The password fields hide what is typed and scroll sideways.
    for (const DlgItemTemplate& item : FindDlgTemplate(IDD_PWD_DIALOG)->items) {
        if (item.kind == CtrlKind::Edit) {
            EXPECT_EQ(item.dwFlags, CF_PASSWORD | CF_AUTOHSCROLL | CF_BORDER | CF_TABSTOP);
        }
    }
}

// Focus goes where the platform's dialog manager puts it: to the first tab
// stop in template order when the dialog opens, and Tab walks the tab stops
// in template order, round and round.
TEST(DialogFocus, TabVisitsTheTabStopsInTemplateOrder)
{
    struct Row
    {
        int nTemplate;
        std::vector<int> tabStops;
    };
    const Row rows[] = {
        {IDD_ABOUTBOX, {IDOK}},
        {IDD_VINDLE_DIALOG, {IDC_NEW_SEARCH, IDC_DEVICE_LIST, IDCANCEL, IDC_INFO, IDC_ADAPTER_COMBO}},
        {IDD_CFG_DIALOG, {IDOK, IDCANCEL, IDC_IPADDRESS, IDC_NETMASK, IDC_GATEWAY}},
        {IDD_PWD_DIALOG, {IDOK, IDCANCEL, IDC_PASSWORD, IDC_PASSWORD_REPEAT}},
        {IDD_ADDMA_DIALOG, {IDOK, IDCANCEL, IDC_ADD_ADDRESS}},
    };
    // The control a focus widget belongs to (an octet field belongs to its
    // IP address control).
    const auto focusedId = [] {
        for (QWidget* p = QApplication::focusWidget(); p; p = p->parentWidget()) {
            if (CDialog::CtrlId(p) != IDC_STATIC)
                return CDialog::CtrlId(p);
        }
        return 0;
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.nTemplate);
        CDialog dlg(row.nTemplate);
        OpenActive(dlg);
        std::vector<int> visited{focusedId()};
        for (std::size_t i = 0; i < row.tabStops.size(); ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            visited.push_back(focusedId());
        }
        std::vector<int> expected = row.tabStops;
        expected.push_back(row.tabStops.front());
        EXPECT_EQ(visited, expected);
        dlg.EndDialog(IDCANCEL);
    }
}

TEST(DialogTemplate, DialogUnitsFollowTheFontsCharacterSize)
{
    CDialog dlg(IDD_CFG_DIALOG);
    const QSize base = dlg.BaseUnits();
    // 8 points of a sans-serif font are several pixels wide and high.
    EXPECT_GE(base.width(), 4);
    EXPECT_GE(base.height(), 9);
    EXPECT_EQ(dlg.MapDialogRect(QRect(0, 0, 4, 8)).size(), base);
    EXPECT_EQ(dlg.MapDialogRect(QRect(0, 0, 400, 800)).size(), base * 100);
}

TEST(DialogTemplate, UnknownIdGivesAnEmptyDialog)
{
    CDialog dlg(4711);
    EXPECT_TRUE(dlg.Controls().isEmpty());
    EXPECT_EQ(dlg.GetDlgItem(IDOK), nullptr);
    EXPECT_TRUE(dlg.GetDlgItemText(IDOK).isEmpty());
}

TEST(DialogModal, StandardKeysAndButtonsGiveTheirResults)
{
    struct Row
    {
        const char* name;
        std::function<void(CDialog&)> action;
        int nExpected;
    };
    const Row rows[] = {
        {"OK button", [](CDialog& d) { d.DlgItem<QPushButton>(IDOK)->click(); }, IDOK},
        {"Cancel button", [](CDialog& d) { d.DlgItem<QPushButton>(IDCANCEL)->click(); }, IDCANCEL},
        {"Enter in an edit presses the default button",
         [](CDialog& d) { QTest::keyClick(d.GetDlgItem(IDC_PASSWORD), Qt::Key_Return); }, IDOK},
        {"Esc", [](CDialog& d) { QTest::keyClick(d.GetDlgItem(IDC_PASSWORD), Qt::Key_Escape); }, IDCANCEL},
        {"close box", [](CDialog& d) { d.close(); }, IDCANCEL},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        CDialog dlg(IDD_PWD_DIALOG);
        EXPECT_EQ(RunModal(dlg, [&] { row.action(dlg); }), row.nExpected);
        EXPECT_FALSE(dlg.isVisible());
    }
}

TEST(DialogModal, OtherButtonsReachOnCommandAndEnterPressesTheDefault)
{
    CRecordingDlg dlg(IDD_VINDLE_DIALOG);
    const int nResult = RunModal(dlg, [&] {
        dlg.DlgItem<QPushButton>(IDC_INFO)->click();
        // 1002 "Neue Suche" is the default button of the main window.
        QTest::keyClick(dlg.GetDlgItem(IDC_ADAPTER_COMBO), Qt::Key_Return);
        dlg.DlgItem<QPushButton>(IDCANCEL)->click();
    });
    EXPECT_EQ(nResult, IDCANCEL);
    EXPECT_EQ(dlg.commands, (std::vector<int>{IDC_INFO, IDC_NEW_SEARCH}));
}

TEST(DialogModal, AnOnCancelThatRefusesKeepsTheDialogOpen)
{
    CRecordingDlg dlg(IDD_CFG_DIALOG);
    dlg.bRefuseCancel = true;
    const int nResult = RunModal(dlg, [&] {
        QTest::keyClick(dlg.GetDlgItem(IDOK), Qt::Key_Escape);
        dlg.close();
        EXPECT_TRUE(dlg.isVisible());
        dlg.EndDialog(IDOK);
    });
    EXPECT_EQ(nResult, IDOK);
    EXPECT_EQ(dlg.nCancels, 2);
}

TEST(DialogControls, TextEnableShowAndFocusByID)
{
    CDialog dlg(IDD_VINDLE_DIALOG);
    dlg.SetDlgItemText(IDC_CONN_STATUS, QStringLiteral("verbunden"));
    EXPECT_EQ(dlg.GetDlgItemText(IDC_CONN_STATUS), QStringLiteral("verbunden"));
    EXPECT_EQ(dlg.GetDlgItemText(IDC_NEW_SEARCH), QStringLiteral("Neue Suche"));

    auto* pCombo = dlg.DlgItem<QComboBox>(IDC_ADAPTER_COMBO);
    ASSERT_NE(pCombo, nullptr);
    pCombo->addItems({QStringLiteral("LAN A"), QStringLiteral("LAN B")});
    dlg.SetDlgItemText(IDC_ADAPTER_COMBO, QStringLiteral("LAN B"));
    EXPECT_EQ(dlg.GetDlgItemText(IDC_ADAPTER_COMBO), QStringLiteral("LAN B"));

    EXPECT_TRUE(dlg.GetDlgItem(IDC_PROGRESS)->isHidden());
    dlg.ShowDlgItem(IDC_PROGRESS, true);
    EXPECT_FALSE(dlg.GetDlgItem(IDC_PROGRESS)->isHidden());
    dlg.EnableDlgItem(IDC_INFO, false);
    EXPECT_FALSE(dlg.GetDlgItem(IDC_INFO)->isEnabled());
    // Ids the template does not have are ignored.
    dlg.EnableDlgItem(1004, false);
    dlg.SetDlgItemText(1004, QStringLiteral("x"));

    CDialog cfg(IDD_CFG_DIALOG);
    cfg.SetDlgItemText(IDC_IPADDRESS, QStringLiteral("10.0.0.5"));
    EXPECT_EQ(cfg.GetDlgItemText(IDC_IPADDRESS), QStringLiteral("10.0.0.5"));
    OpenActive(cfg);
    cfg.GotoDlgCtrl(IDC_GATEWAY);
    EXPECT_EQ(QApplication::focusWidget(), cfg.IpAddressCtrl(IDC_GATEWAY)->Field(0));
}

TEST(DialogMenu, ContextMenuHasItsItemsInOrderAndReportsTheChoice)
{
    CRecordingDlg dlg(IDD_VINDLE_DIALOG);
    std::unique_ptr<QMenu> pMenu = dlg.LoadMenu(IDR_CONTEXT_MENU);
    ASSERT_NE(pMenu, nullptr);
    std::vector<std::pair<int, QString>> items;
    for (QAction* pAction : pMenu->actions())
        items.emplace_back(pAction->data().toInt(), pAction->text());
    const std::vector<std::pair<int, QString>> expected{
        {ID_IP_ADDRESS, QStringLiteral("IP-Adresse")},
        {ID_CONNECT, QStringLiteral("Verbinden")},
        {ID_DISCONNECT, QStringLiteral("Trennen")},
        {ID_SOFTWARE_UPDATE, QStringLiteral("Software Update")},
        {ID_SYSTEM_UPDATE, QStringLiteral("System Update")},
        {ID_APPLICATION_UPDATE, QStringLiteral("Applikations Update")},
        {ID_REBOOT, QStringLiteral("Reboot")},
    };
    EXPECT_EQ(items, expected);
    EXPECT_EQ(dlg.LoadMenu(999), nullptr);

    // A greyed item is skipped by the keyboard: Down from the top lands on
    // "Trennen" once "Verbinden" is disabled.
    CDialog::EnableMenuItem(*pMenu, ID_CONNECT, false);
    EXPECT_FALSE(pMenu->actions()[1]->isEnabled());
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, pMenu.get(), &QMenu::close);
    watchdog.start(2000);
    QTimer::singleShot(0, pMenu.get(), [&] {
        QTest::keyClick(pMenu.get(), Qt::Key_Down);
        QTest::keyClick(pMenu.get(), Qt::Key_Down);
        QTest::keyClick(pMenu.get(), Qt::Key_Return);
    });
    const int nChosen = dlg.TrackPopupMenu(*pMenu, QPoint(10, 10));
    EXPECT_EQ(nChosen, ID_DISCONNECT);
    EXPECT_EQ(dlg.commands, std::vector<int>{ID_DISCONNECT});
}

TEST(DialogResources, AboutStringIsThere)
{
    EXPECT_EQ(QString::fromUtf8(FindStringResource(IDS_ABOUTBOX)),
              QStringLiteral("&Info \u00fcber vindle..."));
    EXPECT_EQ(FindStringResource(4711), nullptr);
}
