// The main window against simulated boxes in the lab: search, list, new
// search, hand-added boxes, menu enabling, the administration page, IP
// settings, the adapter box's selection, storing the adapter, and quitting
// under a reply flood.
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <thread>
#include <vector>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QComboBox>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include "app/adapters.h"
#include "app/device_format.h"
#include "app/vindle_app.h"
#include "app/vindle_dlg.h"
#include "config/dialogs/addma_dlg.h"
#include "config/dialogs/cfg_dlg.h"
#include "discovery/init_cfg_msg.h"
#include "tests/app/app_test_support.h"
#include "ui/ip_address_ctrl.h"
#include "ui/profile.h"

namespace {

using namespace std::chrono_literals;

std::string Label(int box)
{
    const LabBox& b = Lab().Box(box);
    std::string mac = b.mac;
    for (char& c : mac)
        c = c == ':' ? '-' : static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return b.ip + "\n" + mac;
}

class MainWindowTest : public LabTest
{
protected:
    int MinBoxes() const override { return 3; }

    void SetUp() override
    {
        LabTest::SetUp();
        if (HasFatalFailure())
            return;
        m_boxes = std::make_unique<CLabBoxes>(3);
        ASSERT_TRUE(m_boxes->Ready()) << "vindle-box did not start in every box namespace";
    }

    void TearDown() override
    {
        m_dlg.reset();
        m_boxes.reset();
    }

    void OpenWindow(std::uint32_t dwAddr)
    {
        m_adapters = std::make_unique<CAdapters>();
        m_dlg = std::make_unique<CvindleDlg>(dwAddr, m_adapters->List(), &m_prompts);
        m_dlg->ShowModeless();
    }
    void OpenWindow() { OpenWindow(IpOf(Lab().ToolIp())); }

    bool WaitForDevices(std::size_t count)
    {
        return WaitUi([&] { return m_dlg->DeviceCount() >= count; });
    }

    QStringList Labels() const
    {
        QStringList labels;
        for (int row = 0; row < m_dlg->DeviceList()->count(); ++row)
            labels.append(m_dlg->DeviceList()->item(row)->text());
        labels.sort();
        return labels;
    }

    CScriptedPrompts m_prompts;
    CMessageBoxRecorder m_messages;
    std::unique_ptr<CLabBoxes> m_boxes;
    std::unique_ptr<CAdapters> m_adapters;
    std::unique_ptr<CvindleDlg> m_dlg;
};

TEST_F(MainWindowTest, StartUpSearchesOnceAndListsEveryBoxWithItsLabel)
{
    OpenWindow();
    // The combo box is filled before the search goes out, with the adapter
    // the window is bound to selected.
    QComboBox* pCombo = m_dlg->AdapterCombo();
    ASSERT_NE(pCombo, nullptr);
    EXPECT_EQ(pCombo->currentText().toStdString(), Lab().ToolIf());
    EXPECT_EQ(m_dlg->GetDlgItemText(IDC_CONN_STATUS), QStringLiteral("nicht verbunden"));

    ASSERT_TRUE(WaitForDevices(3));
    EXPECT_EQ(Labels(), (QStringList{QString::fromStdString(Label(1)), QString::fromStdString(Label(2)),
                                     QString::fromStdString(Label(3))}));
    const int row = RowOf(*m_dlg, Lab().Box(2).ip);
    ASSERT_GE(row, 0);
    EXPECT_EQ(m_dlg->Device(static_cast<std::size_t>(row)).ip, IpOf(Lab().Box(2).ip));
    EXPECT_EQ(m_dlg->Device(static_cast<std::size_t>(row)).netmask, IpOf("255.255.255.0"));
    for (int box = 1; box <= 3; ++box)
        EXPECT_EQ(m_boxes->CountLines(box, "discovery: search from", 300ms), 1) << "box " << box;
    EXPECT_EQ(m_dlg->DeviceCount(), 3u);
}

TEST_F(MainWindowTest, TheSameBoxAnsweringTwiceIsListedTwice)
{
    OpenWindow();
    ASSERT_TRUE(WaitForDevices(3));
    const std::uint8_t mac[6] = {0x00, 0x11, 0x22, 0xAA, 0xBB, 0x0C};
    SendSearchReply(Lab().ToolIp(), "192.168.1.10", mac);
    SendSearchReply(Lab().ToolIp(), "192.168.1.10", mac);
    ASSERT_TRUE(WaitForDevices(5));
    EXPECT_EQ(Labels().count(QStringLiteral("192.168.1.10\n00-11-22-AA-BB-0C")), 2);
}

TEST_F(MainWindowTest, NewSearchEmptiesTheListAndSearchesOnce)
{
    OpenWindow();
    ASSERT_TRUE(WaitForDevices(3));
    for (int box = 1; box <= 3; ++box)
        ASSERT_EQ(m_boxes->CountLines(box, "discovery: search from", 100ms), 1);

    auto* pButton = m_dlg->DlgItem<QPushButton>(IDC_NEW_SEARCH);
    ASSERT_NE(pButton, nullptr);
    pButton->click();
    // Emptied at once, on the user-interface thread, before any reply.
    EXPECT_EQ(m_dlg->DeviceCount(), 0u);
    EXPECT_EQ(m_dlg->DeviceList()->count(), 0);
    ASSERT_TRUE(WaitForDevices(3));
    for (int box = 1; box <= 3; ++box)
        EXPECT_EQ(m_boxes->CountLines(box, "discovery: search from", 300ms), 2) << "box " << box;
    EXPECT_EQ(m_dlg->DeviceCount(), 3u);
}

TEST_F(MainWindowTest, RightClickOnEmptySpaceAddsABoxByHand)
{
    OpenWindow();
    ASSERT_TRUE(WaitForDevices(3));
    m_prompts.onDialog = [](CDialog& dlg) {
        ASSERT_NE(dynamic_cast<CAddMADlg*>(&dlg), nullptr);
        dlg.IpAddressCtrl(IDC_ADD_ADDRESS)->SetText(QStringLiteral("10.0.0.5"));
        dlg.OnOK();
    };
    m_prompts.onMenu = [](QMenu&) {
        ADD_FAILURE() << "no menu on empty space";
        return 0;
    };
    m_dlg->OnDeviceRightClick(-1, QPoint(5, 5));
    EXPECT_EQ(m_prompts.dialogs, 1);
    ASSERT_TRUE(WaitForDevices(4));
    EXPECT_EQ(m_dlg->DeviceList()->item(3)->text(), QStringLiteral("10.0.0.5\n00-00-00-00-00-00"));

    // Cancel adds nothing.
    m_prompts.onDialog = [](CDialog& dlg) { dlg.OnCancel(); };
    m_dlg->OnDeviceRightClick(-1, QPoint(5, 5));
    // OK would have posted the new device before the call returned.
    RunPostedUiEvents();
    EXPECT_EQ(m_dlg->DeviceCount(), 4u);
}

TEST_F(MainWindowTest, ContextMenuWhileNotConnectedOffersOnlyConnectAndIpSettings)
{
    OpenWindow();
    ASSERT_TRUE(WaitForDevices(1));
    std::map<int, bool> enabled;
    QStringList texts;
    m_prompts.onMenu = [&](QMenu& menu) {
        for (QAction* pAction : menu.actions()) {
            if (pAction->isSeparator())
                continue;
            enabled[pAction->data().toInt()] = pAction->isEnabled();
            texts.append(pAction->text());
        }
        return 0;
    };
    m_dlg->OnDeviceRightClick(0, QPoint(10, 10));
    EXPECT_EQ(texts, (QStringList{"IP-Adresse", "Verbinden", "Trennen", "Software Update", "System Update",
                                  "Applikations Update", "Reboot", "Kennwort setzen"}));
    const std::map<int, bool> expected{{ID_IP_ADDRESS, true},     {ID_CONNECT, true},
                                       {ID_DISCONNECT, false},    {ID_SOFTWARE_UPDATE, false},
                                       {ID_SYSTEM_UPDATE, false}, {ID_APPLICATION_UPDATE, false},
                                       {ID_REBOOT, false},        {ID_SET_PASSWORD, false}};
    EXPECT_EQ(enabled, expected);
}

TEST_F(MainWindowTest, DoubleClickOpensTheAdministrationPageOfThatBox)
{
    OpenWindow();
    ASSERT_TRUE(WaitForDevices(3));
    // Rows keep their boxes also when the list is shown in another order.
    m_dlg->DeviceList()->sortItems(Qt::DescendingOrder);
    const int row = RowOf(*m_dlg, Lab().Box(3).ip);
    ASSERT_GE(row, 0);
    m_dlg->OnDeviceDoubleClick(row);
    m_dlg->OnDeviceDoubleClick(-1);  // empty space: nothing
    EXPECT_EQ(m_prompts.urls,
              QStringList{QString::fromStdString("http://" + Lab().Box(3).ip + "/admin?p=0")});
}

TEST_F(MainWindowTest, InfoOpensTheAboutBox)
{
    OpenWindow();
    bool bAbout = false;
    m_prompts.onDialog = [&](CDialog& dlg) {
        bAbout = dlg.GetTemplateId() == IDD_ABOUTBOX;
        dlg.OnOK();
    };
    m_dlg->DlgItem<QPushButton>(IDC_INFO)->click();
    EXPECT_EQ(m_prompts.dialogs, 1);
    EXPECT_TRUE(bAbout);
    EXPECT_TRUE(m_dlg->isVisible());
}

TEST_F(MainWindowTest, IpSettingsChangeTheBoxAddressAndTheListRefreshes)
{
    OpenWindow();
    ASSERT_TRUE(WaitForDevices(3));
    const int row = RowOf(*m_dlg, Lab().Box(2).ip);
    ASSERT_GE(row, 0);
    // Without a selection the command does nothing.
    m_dlg->OnCommand(ID_IP_ADDRESS);
    EXPECT_EQ(m_prompts.dialogs, 0);

    // With two boxes selected it works on the later row.
    const int other = row == 0 ? 1 : 0;
    m_dlg->DeviceList()->item(std::min(row, other))->setSelected(true);
    m_dlg->DeviceList()->item(std::max(row, other))->setSelected(true);
    const int target = std::max(row, other);
    const std::string targetIp = FormatIpv4(m_dlg->Device(static_cast<std::size_t>(target)).ip);
    QString shownIp;
    m_prompts.onDialog = [&](CDialog& dlg) {
        ASSERT_NE(dynamic_cast<CCfgDlg*>(&dlg), nullptr);
        shownIp = dlg.IpAddressCtrl(IDC_IPADDRESS)->Text();
        dlg.IpAddressCtrl(IDC_IPADDRESS)->SetText(QStringLiteral("10.77.0.50"));
        dlg.OnOK();
    };
    m_dlg->OnCommand(ID_IP_ADDRESS);
    EXPECT_EQ(shownIp.toStdString(), targetIp);
    // The box's set-IP reply starts a new search, which lists it anew.
    ASSERT_TRUE(WaitUi([&] { return RowOf(*m_dlg, "10.77.0.50") >= 0; }));
    EXPECT_EQ(RowOf(*m_dlg, targetIp), -1);
    ASSERT_TRUE(WaitForDevices(3));
}

TEST_F(MainWindowTest, QuittingStoresTheAdapterAndTheNextStartBindsToIt)
{
    // A second adapter for the tool side: a bridge of its own with an address.
    ASSERT_EQ(RunInBox(LAB_TOOL_SIDE,
                       "ip link add vindlet0 type bridge && ip addr add 10.99.0.1/24 dev vindlet0 && "
                       "ip link set vindlet0 up")
                  .exitCode,
              0);
    struct Case
    {
        const char* name;
        const char* adapter;
        const char* address;
        void (*quit)(CvindleDlg&);
    };
    const Case cases[] = {
        {"Beenden", "vindlet0", "10.99.0.1",
         [](CvindleDlg& dlg) { dlg.DlgItem<QPushButton>(IDCANCEL)->click(); }},
        {"Esc", "br0", "10.77.0.1", [](CvindleDlg& dlg) { QTest::keyClick(&dlg, Qt::Key_Escape); }},
        {"close box", "vindlet0", "10.99.0.1", [](CvindleDlg& dlg) { dlg.close(); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OpenWindow();
        QComboBox* pCombo = m_dlg->AdapterCombo();
        const int index = pCombo->findText(QString::fromLatin1(c.adapter));
        ASSERT_GE(index, 0);
        pCombo->setCurrentIndex(index);
        c.quit(*m_dlg);
        EXPECT_FALSE(m_dlg->isVisible());
        m_dlg.reset();
        EXPECT_EQ(ReadAdapterSetting(), QString::fromLatin1(c.adapter));

        // The next start: same enumeration and choice as the program's.
        m_adapters = std::make_unique<CAdapters>();
        const std::uint32_t dwAddr = StartupAdapterAddress(*m_adapters);
        EXPECT_EQ(dwAddr, IpOf(c.address));
        OpenWindow(dwAddr);
        EXPECT_EQ(m_dlg->AdapterAddress(), IpOf(c.address));
        EXPECT_EQ(m_dlg->AdapterCombo()->currentText(), QString::fromLatin1(c.adapter));
        m_dlg.reset();
    }
    // An adapter the setting names but the machine no longer has.
    WriteProfileString(QStringLiteral("Parameters"), QStringLiteral("adapter"), QStringLiteral("gone0"));
    m_adapters = std::make_unique<CAdapters>();
    EXPECT_EQ(StartupAdapterAddress(*m_adapters), IpOf(Lab().ToolIp()));
    RunInBox(LAB_TOOL_SIDE, "ip link del vindlet0");
}

TEST_F(MainWindowTest, TheComboSelectsTheLastAdapterOnTheBoundAddressAndQuitStoresOnlyASelection)
{
    struct Adapter
    {
        const char* description;
        const char* address;
    };
    struct Case
    {
        const char* name;
        std::vector<Adapter> adapters;
        int selected;        // expected current index, -1 for none
        const char* stored;  // the setting after "Beenden"
    };
    // The window is bound to the lab's tool address in every case.
    const Case cases[] = {
        {"two on the address: the later one",
         {{"LAN A", "10.77.0.1"}, {"LAN B", "192.168.1.5"}, {"LAN C", "10.77.0.1"}},
         2,
         "LAN C"},
        {"only the first", {{"LAN A", "10.77.0.1"}, {"LAN B", "192.168.1.5"}}, 0, "LAN A"},
        // Without a selection the stored description stays as it was.
        {"none on the address", {{"LAN A", "192.168.1.5"}, {"LAN B", "192.168.1.6"}}, -1, "earlier0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(WriteProfileString(QStringLiteral("Parameters"), QStringLiteral("adapter"),
                                       QStringLiteral("earlier0")));
        const auto words = (AdapterListSize(static_cast<std::uint32_t>(c.adapters.size())) + 3) / 4;
        std::vector<std::uint32_t> buffer(words, 0);
        auto* pList = reinterpret_cast<AdapterList*>(buffer.data());
        pList->count = static_cast<std::uint32_t>(c.adapters.size());
        for (std::size_t i = 0; i < c.adapters.size(); ++i) {
            std::snprintf(pList->adapters[i].description, sizeof pList->adapters[i].description, "%s",
                          c.adapters[i].description);
            pList->adapters[i].address = IpOf(c.adapters[i].address);
        }
        m_dlg = std::make_unique<CvindleDlg>(IpOf(Lab().ToolIp()), pList, &m_prompts);
        m_dlg->ShowModeless();
        QComboBox* pCombo = m_dlg->AdapterCombo();
        ASSERT_EQ(pCombo->count(), static_cast<int>(c.adapters.size()));
        EXPECT_EQ(pCombo->currentIndex(), c.selected);
        m_dlg->DlgItem<QPushButton>(IDCANCEL)->click();
        m_dlg.reset();
        EXPECT_EQ(ReadAdapterSetting(), QString::fromLatin1(c.stored));
    }
}

TEST_F(MainWindowTest, QuittingDuringAReplyFloodNeitherHangsNorCrashes)
{
    OpenWindow();
    ASSERT_TRUE(WaitForDevices(3));
    std::atomic<bool> stop{false};
    std::atomic<int> sent{0};
    std::thread flood([&] {
        const std::uint8_t mac[6] = {0x02, 0x77, 0x00, 0x00, 0x01, 0x00};
        const auto end = std::chrono::steady_clock::now() + 3s;
        while (!stop.load() && std::chrono::steady_clock::now() < end && sent.load() < 50000) {
            SendSearchReply(Lab().ToolIp(), "10.77.0.200", mac);
            ++sent;
        }
    });
    ASSERT_TRUE(WaitForDevices(50));
    // A deadline for a hang only: a busy machine may take its time.
    const auto start = std::chrono::steady_clock::now();
    m_dlg->DlgItem<QPushButton>(IDCANCEL)->click();
    m_dlg.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, HANG_DEADLINE);
    // Replies still arriving for a window that is gone reach nothing.
    RunPostedUiEvents();
    stop = true;
    flood.join();
    EXPECT_GT(sent.load(), 50);
}

// A forged flood of set-IP replies: one search at once, then at most one a
// second; before, every reply broadcast a search of its own.
TEST_F(MainWindowTest, AFloodOfSetIpRepliesSearchesAtMostOncePerSecond)
{
    OpenWindow();
    ASSERT_TRUE(WaitForDevices(3));
    ASSERT_EQ(m_boxes->CountLines(1, "discovery: search from", 100ms), 1);

    const std::uint8_t mac[6] = {0x02, 0x77, 0x00, 0x00, 0x02, 0x00};
    const auto reply = EncodeInitCfgMsg(CFG_SET_IP_RSP, mac, IpOf("10.77.0.201"), IpOf("255.255.255.0"), 0);
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(CFG_DISCOVERY_PORT);
    to.sin_addr.s_addr = IpOf(Lab().ToolIp());
    int sent = 0;
    for (int i = 0; i < 500; ++i) {
        sent += sendto(fd, reply.data(), reply.size(), 0, reinterpret_cast<const sockaddr*>(&to),
                       sizeof to) == static_cast<ssize_t>(reply.size());
    }
    close(fd);
    EXPECT_EQ(sent, 500);
    // The window handles the replies on its event loop; long enough for the
    // trailing search a second after the last one.
    SpinUi(2500ms);
    const int searches = m_boxes->CountLines(1, "discovery: search from", 300ms) - 1;
    // Unpaced, every reply started a search (495 of 500 were counted). Paced,
    // a burst gets one search at once, one per second it lasts and one
    // trailing; 500 datagrams to loopback take far less than the 20 seconds
    // this bound allows even on a loaded machine.
    EXPECT_GE(searches, 1);
    EXPECT_LE(searches, 20);
    ASSERT_TRUE(WaitForDevices(3));
}

}  // namespace
