#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <vector>

#include "tests/ui/qt_test_support.h"
#include "ui/dialog.h"
#include "ui/ip_address_ctrl.h"

namespace {

// Records the commands that reach the virtual handlers.
class CRecordingDlg : public CDialog {
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

const int ALL_TEMPLATES[] = {IDD_ABOUTBOX, IDD_VINDLE_DIALOG, IDD_CFG_DIALOG, IDD_PWD_DIALOG, IDD_ADDMA_DIALOG};

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
    struct Row {
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
    EXPECT_EQ(QString::fromUtf8(FindStringResource(IDS_ABOUTBOX)), QStringLiteral("&Info \u00fcber vindle..."));
    EXPECT_EQ(FindStringResource(4711), nullptr);
}
