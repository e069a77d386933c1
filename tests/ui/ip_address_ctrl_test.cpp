#include <QApplication>
#include <QLineEdit>
#include <QTest>

#include <gtest/gtest.h>

#include <cstring>

#include "tests/ui/qt_test_support.h"
#include "ui/ip_address_ctrl.h"
#include "ui/style_dialog.h"

namespace {

std::array<std::uint8_t, 4> Bytes(std::uint32_t dwNet)
{
    std::array<std::uint8_t, 4> bytes{};
    std::memcpy(bytes.data(), &dwNet, bytes.size());
    return bytes;
}

}  // namespace

TEST(IpAddressConversion, NetworkOrderKeepsTheFirstOctetInTheLowestByte)
{
    // 192.168.1.10 as the control reports it: first octet most significant.
    const std::uint32_t dwNet = IpNetFromCtrl(0xC0A8010Au);
    EXPECT_EQ(Bytes(dwNet), (std::array<std::uint8_t, 4>{0xC0, 0xA8, 0x01, 0x0A}));
    EXPECT_EQ(IpCtrlFromNet(dwNet), 0xC0A8010Au);
    EXPECT_EQ(IpNetFromCtrl(0), 0u);
}

TEST(IpAddressCtrl, BlankFieldsReadAsZero)
{
    struct Row
    {
        const char* name;
        std::array<const char*, 4> fields;
        std::uint32_t dwExpected;
        int nFilled;
    };
    const Row rows[] = {
        {"all blank", {"", "", "", ""}, 0, 0},
        {"first two typed", {"10", "1", "", ""}, 0x0A010000u, 2},
        {"last only", {"", "", "", "7"}, 0x00000007u, 1},
        {"all typed", {"192", "168", "1", "10"}, 0xC0A8010Au, 4},
        {"explicit zeros count as typed", {"0", "0", "0", "0"}, 0, 4},
    };
    CIpAddressCtrl ctrl;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        for (int i = 0; i < 4; ++i)
            ctrl.Field(i)->setText(QString::fromLatin1(row.fields[static_cast<std::size_t>(i)]));
        std::uint32_t dwAddress = 0xFFFFFFFFu;
        EXPECT_EQ(ctrl.GetAddress(dwAddress), row.nFilled);
        EXPECT_EQ(dwAddress, row.dwExpected);
    }
}

TEST(IpAddressCtrl, TextRoundTripsAndLimitsOctets)
{
    CIpAddressCtrl ctrl;
    EXPECT_TRUE(ctrl.Text().isEmpty());
    ctrl.SetText(QStringLiteral("10.0.300.5"));
    EXPECT_EQ(ctrl.Text(), QStringLiteral("10.0.255.5"));
    ctrl.SetAddress(0xFFFFFF00u);
    EXPECT_EQ(ctrl.Text(), QStringLiteral("255.255.255.0"));
    ctrl.ClearAddress();
    EXPECT_TRUE(ctrl.IsBlank());
}

class IpAddressTyping : public ::testing::Test
{
protected:
    // A real dialog, so that the control has a window to take the focus in.
    CStyleDialog dlg{IDD_ADDMA_DIALOG};
    CIpAddressCtrl* pCtrl = nullptr;

    void SetUp() override
    {
        OpenActive(dlg);
        pCtrl = dlg.IpAddressCtrl(IDC_ADD_ADDRESS);
        ASSERT_NE(pCtrl, nullptr);
        pCtrl->SetFieldFocus(0);
    }
};

TEST_F(IpAddressTyping, DotsAndThreeDigitsMoveToTheNextField)
{
    TypeIntoFocus(QStringLiteral("192.168.1.10"));
    EXPECT_EQ(pCtrl->Text(), QStringLiteral("192.168.1.10"));

    pCtrl->ClearAddress();
    pCtrl->SetFieldFocus(0);
    // Three digits move on by themselves; a dot typed right after them must
    // not skip a field.
    TypeIntoFocus(QStringLiteral("192168001.5"));
    EXPECT_EQ(pCtrl->Text(), QStringLiteral("192.168.1.5"));
}

TEST_F(IpAddressTyping, PartlyTypedAddressFillsWithZeros)
{
    TypeIntoFocus(QStringLiteral("10.1"));
    std::uint32_t dwAddress = 0;
    EXPECT_EQ(pCtrl->GetAddress(dwAddress), 2);
    EXPECT_EQ(dwAddress, 0x0A010000u);
}

TEST_F(IpAddressTyping, OctetAbove255IsLimited)
{
    TypeIntoFocus(QStringLiteral("300"));
    EXPECT_EQ(pCtrl->Field(0)->text(), QStringLiteral("255"));
}

TEST_F(IpAddressTyping, LettersAreRefused)
{
    TypeIntoFocus(QStringLiteral("1a2"));
    EXPECT_EQ(pCtrl->Field(0)->text(), QStringLiteral("12"));
}

TEST(IpAddressFocus, TabLeavesTheControlInsteadOfVisitingEachField)
{
    CStyleDialog dlg(IDD_CFG_DIALOG);
    OpenActive(dlg);
    dlg.GotoDlgCtrl(IDC_IPADDRESS);
    ASSERT_EQ(QApplication::focusWidget(), dlg.IpAddressCtrl(IDC_IPADDRESS)->Field(0));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), dlg.IpAddressCtrl(IDC_NETMASK)->Field(0))
        << QApplication::focusWidget()->objectName().toStdString() << " in "
        << QApplication::focusWidget()->parentWidget()->objectName().toStdString();
}
