#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>

#include "config/dialogs/about_dlg.h"
#include "config/dialogs/addma_dlg.h"
#include "config/dialogs/cfg_dlg.h"
#include "config/dialogs/pwd_dlg.h"
#include "tests/ui/qt_test_support.h"
#include "ui/ip_address_ctrl.h"

namespace {

std::uint32_t Net(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d)
{
    const std::uint8_t bytes[4] = {a, b, c, d};
    std::uint32_t dw = 0;
    std::memcpy(&dw, bytes, sizeof dw);
    return dw;
}

std::array<std::uint8_t, 4> Bytes(std::uint32_t dw)
{
    std::array<std::uint8_t, 4> bytes{};
    std::memcpy(bytes.data(), &dw, bytes.size());
    return bytes;
}

void ClickOk(CDialog& dlg)
{
    dlg.DlgItem<QPushButton>(IDOK)->click();
}

}  // namespace

TEST(CfgDlg, ShowsThePresetsAndReturnsThemInNetworkOrder)
{
    CCfgDlg dlg;
    dlg.m_dwIp = Net(192, 168, 1, 10);
    dlg.m_dwNetmask = Net(255, 255, 255, 0);
    dlg.m_dwGateway = 0;
    QString ip, mask, gateway;
    const int nResult = RunModal(dlg, [&] {
        ip = dlg.GetDlgItemText(IDC_IPADDRESS);
        mask = dlg.GetDlgItemText(IDC_NETMASK);
        gateway = dlg.GetDlgItemText(IDC_GATEWAY);
        ClickOk(dlg);
    });
    ASSERT_EQ(nResult, IDOK);
    EXPECT_EQ(ip, QStringLiteral("192.168.1.10"));
    EXPECT_EQ(mask, QStringLiteral("255.255.255.0"));
    // A gateway of 0 is shown blank, not as 0.0.0.0.
    EXPECT_TRUE(gateway.isEmpty());
    EXPECT_TRUE(dlg.IpAddressCtrl(IDC_GATEWAY)->IsBlank());
    EXPECT_EQ(Bytes(dlg.m_dwIp), (std::array<std::uint8_t, 4>{0xC0, 0xA8, 0x01, 0x0A}));
    EXPECT_EQ(Bytes(dlg.m_dwNetmask), (std::array<std::uint8_t, 4>{0xFF, 0xFF, 0xFF, 0x00}));
    EXPECT_EQ(dlg.m_dwGateway, 0u);
}

TEST(CfgDlg, TakesWhatWasTypedAsIsAndFillsBlankFieldsWithZero)
{
    CCfgDlg dlg;
    dlg.m_dwIp = Net(192, 168, 1, 10);
    dlg.m_dwNetmask = Net(255, 255, 255, 0);
    dlg.m_dwGateway = Net(192, 168, 1, 1);
    const int nResult = RunModal(dlg, [&] {
        auto* pIp = dlg.IpAddressCtrl(IDC_IPADDRESS);
        pIp->ClearAddress();
        pIp->Field(0)->setText(QStringLiteral("10"));
        pIp->Field(1)->setText(QStringLiteral("1"));
        dlg.IpAddressCtrl(IDC_GATEWAY)->ClearAddress();
        ClickOk(dlg);
    });
    ASSERT_EQ(nResult, IDOK);
    EXPECT_EQ(dlg.m_dwIp, Net(10, 1, 0, 0));
    EXPECT_EQ(dlg.m_dwNetmask, Net(255, 255, 255, 0));
    EXPECT_EQ(dlg.m_dwGateway, 0u);
}

TEST(CfgDlg, RunTwiceShowsTheNewPresets)
{
    CCfgDlg dlg;
    dlg.m_dwGateway = Net(10, 0, 0, 1);
    RunModal(dlg, [&] { dlg.EndDialog(IDCANCEL); });
    dlg.m_dwGateway = 0;
    QString gateway = QStringLiteral("unset");
    RunModal(dlg, [&] {
        gateway = dlg.GetDlgItemText(IDC_GATEWAY);
        dlg.EndDialog(IDCANCEL);
    });
    EXPECT_TRUE(gateway.isEmpty());
}

TEST(ConfigDialogs, CancelLeavesTheCallersMembersUntouched)
{
    const std::uint32_t dwIp = Net(192, 168, 1, 10);
    const std::uint32_t dwMask = Net(255, 255, 0, 0);
    const std::uint32_t dwGateway = Net(192, 168, 0, 1);
    struct Row
    {
        const char* name;
        std::function<void(CDialog&)> cancel;
    };
    const Row ways[] = {
        {"Cancel button", [](CDialog& d) { d.DlgItem<QPushButton>(IDCANCEL)->click(); }},
        {"Esc", [](CDialog& d) { QTest::keyClick(d.DlgItem<QPushButton>(IDOK), Qt::Key_Escape); }},
        {"close", [](CDialog& d) { d.close(); }},
    };
    for (const Row& way : ways) {
        SCOPED_TRACE(way.name);
        CCfgDlg cfg;
        cfg.m_dwIp = dwIp;
        cfg.m_dwNetmask = dwMask;
        cfg.m_dwGateway = dwGateway;
        EXPECT_EQ(RunModal(cfg,
                           [&] {
                               cfg.IpAddressCtrl(IDC_IPADDRESS)->SetText(QStringLiteral("1.2.3.4"));
                               cfg.IpAddressCtrl(IDC_GATEWAY)->ClearAddress();
                               way.cancel(cfg);
                           }),
                  IDCANCEL);
        EXPECT_EQ(cfg.m_dwIp, dwIp);
        EXPECT_EQ(cfg.m_dwNetmask, dwMask);
        EXPECT_EQ(cfg.m_dwGateway, dwGateway);

        CAddMADlg add;
        add.m_dwIp = dwIp;
        EXPECT_EQ(RunModal(add,
                           [&] {
                               add.IpAddressCtrl(IDC_ADD_ADDRESS)->SetText(QStringLiteral("10.0.0.5"));
                               way.cancel(add);
                           }),
                  IDCANCEL);
        EXPECT_EQ(add.m_dwIp, dwIp);

        CPwdDlg pwd;
        std::strcpy(pwd.m_szPassword, "preset");
        EXPECT_EQ(RunModal(pwd,
                           [&] {
                               pwd.SetDlgItemText(IDC_PASSWORD, QStringLiteral("neu"));
                               pwd.SetDlgItemText(IDC_PASSWORD_REPEAT, QStringLiteral("neu"));
                               way.cancel(pwd);
                           }),
                  IDCANCEL);
        EXPECT_STREQ(pwd.m_szPassword, "preset");
    }
}

TEST(AddMADlg, StartsBlankAndReturnsTheTypedAddress)
{
    CAddMADlg dlg;
    dlg.m_dwIp = Net(1, 2, 3, 4);
    bool bBlank = false;
    const int nResult = RunModal(dlg, [&] {
        bBlank = dlg.IpAddressCtrl(IDC_ADD_ADDRESS)->IsBlank();
        dlg.IpAddressCtrl(IDC_ADD_ADDRESS)->SetText(QStringLiteral("10.0.0.5"));
        QTest::keyClick(dlg.IpAddressCtrl(IDC_ADD_ADDRESS)->Field(3), Qt::Key_Return);
    });
    ASSERT_EQ(nResult, IDOK);
    EXPECT_TRUE(bBlank);
    EXPECT_EQ(Bytes(dlg.m_dwIp), (std::array<std::uint8_t, 4>{10, 0, 0, 5}));
}

TEST(AddMADlg, UntouchedFieldGivesZero)
{
    CAddMADlg dlg;
    dlg.m_dwIp = Net(1, 2, 3, 4);
    ASSERT_EQ(RunModal(dlg, [&] { ClickOk(dlg); }), IDOK);
    EXPECT_EQ(dlg.m_dwIp, 0u);
}

TEST(PwdDlg, ComparesBothFieldsExactly)
{
    struct Row
    {
        const char* name;
        QString first;
        QString second;
        bool bAccepted;
    };
    const Row rows[] = {
        {"equal", QStringLiteral("geheim"), QStringLiteral("geheim"), true},
        {"both empty", QString(), QString(), true},
        {"umlauts", QStringLiteral("K\u00e4se\u00df"), QStringLiteral("K\u00e4se\u00df"), true},
        {"case only", QStringLiteral("Geheim"), QStringLiteral("geheim"), false},
        {"one longer", QStringLiteral("geheim"), QStringLiteral("geheim1"), false},
        {"second empty", QStringLiteral("geheim"), QString(), false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        MessageBoxRecorder boxes;
        CPwdDlg dlg;
        std::strcpy(dlg.m_szPassword, "old");
        QString afterFirst, afterSecond;
        bool bOpenAfterMismatch = false;
        const int nResult = RunModal(dlg, [&] {
            dlg.SetDlgItemText(IDC_PASSWORD, row.first);
            dlg.SetDlgItemText(IDC_PASSWORD_REPEAT, row.second);
            ClickOk(dlg);
            if (dlg.isVisible()) {
                bOpenAfterMismatch = true;
                afterFirst = dlg.GetDlgItemText(IDC_PASSWORD);
                afterSecond = dlg.GetDlgItemText(IDC_PASSWORD_REPEAT);
                dlg.DlgItem<QPushButton>(IDCANCEL)->click();
            }
        });
        if (row.bAccepted) {
            EXPECT_EQ(nResult, IDOK);
            EXPECT_EQ(QString::fromUtf8(dlg.m_szPassword), row.first);
            EXPECT_TRUE(boxes.entries.empty());
        } else {
            EXPECT_EQ(nResult, IDCANCEL);
            EXPECT_TRUE(bOpenAfterMismatch);
            EXPECT_TRUE(afterFirst.isEmpty());
            EXPECT_TRUE(afterSecond.isEmpty());
            ASSERT_EQ(boxes.entries.size(), 1u);
            EXPECT_EQ(boxes.entries[0].kind, MsgBoxKind::Application);
            EXPECT_EQ(boxes.entries[0].text, QStringLiteral("Die Kennw\u00f6rter sind unterschiedlich!"));
            // OnOK empties the member before it compares.
            EXPECT_STREQ(dlg.m_szPassword, "");
        }
    }
}

TEST(PwdDlg, FieldsHideTheTextAndTakeNoMoreThanFitsTheCommand)
{
    MessageBoxRecorder boxes;
    CPwdDlg dlg;
    OpenActive(dlg);
    auto* pEdit = dlg.DlgItem<QLineEdit>(IDC_PASSWORD);
    ASSERT_NE(pEdit, nullptr);
    EXPECT_EQ(pEdit->echoMode(), QLineEdit::Password);
    EXPECT_EQ(dlg.DlgItem<QLineEdit>(IDC_PASSWORD_REPEAT)->echoMode(), QLineEdit::Password);

    // Typing stops at the limit.
    pEdit->setFocus();
    QTest::keyClicks(pEdit, QString(230, QLatin1Char('a')));
    EXPECT_EQ(pEdit->text().size(), static_cast<qsizetype>(CPwdDlg::PWD_MAX_BYTES));

    QApplication::processEvents();
    EXPECT_TRUE(boxes.entries.empty()) << "typing stops without a message";

    // A paste that would not fit is refused as a whole instead of cut, and
    // says why.
    pEdit->clear();
    pEdit->insert(QStringLiteral("abc"));
    QApplication::clipboard()->setText(QString(225, QLatin1Char('b')));
    pEdit->paste();
    EXPECT_EQ(pEdit->text(), QStringLiteral("abc"));
    QApplication::processEvents();
    ASSERT_EQ(boxes.entries.size(), 1u);
    EXPECT_EQ(boxes.entries[0].kind, MsgBoxKind::Application);
    EXPECT_EQ(boxes.entries[0].text,
              QStringLiteral("Das Kennwort ist zu lang (h\u00f6chstens 226 Zeichen)."));

    // The limit counts bytes: 113 two-byte letters fit, 114 do not.
    pEdit->clear();
    pEdit->insert(QString(113, QChar(0xE4)));
    EXPECT_EQ(pEdit->text().size(), 113);
    pEdit->insert(QString(1, QChar(0xE4)));
    EXPECT_EQ(pEdit->text().size(), 113);
}

TEST(PwdDlg, LongestPasswordIsStoredWhole)
{
    CPwdDlg dlg;
    const QString longest(static_cast<qsizetype>(CPwdDlg::PWD_MAX_BYTES), QLatin1Char('x'));
    ASSERT_EQ(RunModal(dlg,
                       [&] {
                           dlg.SetDlgItemText(IDC_PASSWORD, longest);
                           dlg.SetDlgItemText(IDC_PASSWORD_REPEAT, longest);
                           ClickOk(dlg);
                       }),
              IDOK);
    EXPECT_EQ(std::strlen(dlg.m_szPassword), CPwdDlg::PWD_MAX_BYTES);
}

TEST(PwdDlg, TooLongTextIsRefusedNotCut)
{
    // Text put in from outside the keyboard bypasses the field's limit; OnOK
    // must still not pass on a cut password.
    MessageBoxRecorder boxes;
    CPwdDlg dlg;
    const QString tooLong(300, QLatin1Char('x'));
    bool bStillOpen = false;
    const int nResult = RunModal(dlg, [&] {
        dlg.DlgItem<QLineEdit>(IDC_PASSWORD)->setValidator(nullptr);
        dlg.DlgItem<QLineEdit>(IDC_PASSWORD_REPEAT)->setValidator(nullptr);
        dlg.SetDlgItemText(IDC_PASSWORD, tooLong);
        dlg.SetDlgItemText(IDC_PASSWORD_REPEAT, tooLong);
        ClickOk(dlg);
        bStillOpen = dlg.isVisible();
        dlg.EndDialog(IDCANCEL);
    });
    EXPECT_EQ(nResult, IDCANCEL);
    EXPECT_TRUE(bStillOpen);
    EXPECT_STREQ(dlg.m_szPassword, "");
    ASSERT_EQ(boxes.entries.size(), 1u);
}

TEST(AboutDlg, ShowsIconVersionAndASecondLine)
{
    CAboutDlg dlg;
    std::vector<QString> texts;
    bool bIcon = false;
    for (QWidget* pCtrl : dlg.Controls()) {
        if (auto* pLabel = qobject_cast<QLabel*>(pCtrl)) {
            if (!pLabel->text().isEmpty())
                texts.push_back(pLabel->text());
            if (CDialog::CtrlId(pLabel) == IDC_STATIC && !pLabel->pixmap().isNull())
                bIcon = true;
        }
    }
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0], QStringLiteral("Orvex-Maintenance Version 1.0.0.6"));
    EXPECT_FALSE(texts[1].isEmpty());
    EXPECT_TRUE(bIcon);
    EXPECT_EQ(RunModal(dlg, [&] { QTest::keyClick(dlg.GetDlgItem(IDOK), Qt::Key_Return); }), IDOK);
}
