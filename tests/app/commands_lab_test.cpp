// The commands on a connected box, against simulated boxes in the lab:
// connect (also to a box added by hand) and disconnect, the three updates
// with the box's TFTP download and the progress bar, the box's verdicts, the
// password, and quitting or giving other commands while an update waits.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>

#include <QAction>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>

#include <gtest/gtest.h>

#include "app/adapters.h"
#include "app/vindle_dlg.h"
#include "config/cfg_commands.h"
#include "config/dialogs/pwd_dlg.h"
#include "tests/app/app_test_support.h"
#include "tftp/tftp_config.h"
#include "tftp/tftp_server.h"
#include "ui/ip_address_ctrl.h"

namespace {

using namespace std::chrono_literals;

// One folder with an update file per kind, outside the program's folder, so
// that a box can only get them when the server looks where the operator
// chose.
class CUpdateFolder final
{
public:
    CUpdateFolder()
    {
        char dir[] = "/tmp/vindle-updates-XXXXXX";
        m_dir = mkdtemp(dir) != nullptr ? dir : "";
    }
    ~CUpdateFolder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_dir, ignored);
    }
    std::string Make(const std::string& name, std::size_t bytes)
    {
        const std::string path = m_dir + "/" + name;
        std::ofstream out(path, std::ios::binary);
        for (std::size_t i = 0; i < bytes; ++i)
            out.put(static_cast<char>(i * 7 + 3));
        return path;
    }
    const std::string& Path() const { return m_dir; }

private:
    std::string m_dir;
};

class CommandsTest : public LabTest
{
protected:
    int MinBoxes() const override { return 2; }

    static void SetUpTestSuite()
    {
        ProgressNotifier.store(&CvindleDlg::OnTftpProgress);
        ProgressReceiver.Set(nullptr);
        std::istringstream noIni;
        s_tftpStatus = StartTftpServer(noIni, TftpProgramPath());
    }
    static void TearDownTestSuite()
    {
        StopTftpServer();
        ProgressNotifier.store(nullptr);
    }

    void StartBoxes(const std::vector<std::string>& extraArgs = {})
    {
        ASSERT_EQ(s_tftpStatus, TFTP_SERVER_OK) << "the TFTP server could not listen on port 69";
        m_boxes = std::make_unique<CLabBoxes>(2, extraArgs);
        ASSERT_TRUE(m_boxes->Ready());
        m_adapters = std::make_unique<CAdapters>();
        m_dlg = std::make_unique<CvindleDlg>(IpOf(Lab().ToolIp()), m_adapters->List(), &m_prompts);
        m_dlg->ShowModeless();
        ASSERT_TRUE(WaitUi([&] { return m_dlg->DeviceCount() >= 2; }));
        QObject::connect(m_dlg->ProgressBar(), &QProgressBar::valueChanged, m_dlg.get(),
                         [this](int value) { m_progress.push_back(value); });
    }

    void TearDown() override
    {
        m_dlg.reset();
        m_boxes.reset();
    }

    // Connects to box 1 the way the operator does: right click, "Verbinden".
    void ConnectToBox1()
    {
        const int row = RowOf(*m_dlg, Lab().Box(1).ip);
        ASSERT_GE(row, 0);
        m_prompts.onMenu = [](QMenu&) { return ID_CONNECT; };
        m_dlg->OnDeviceRightClick(row, QPoint(5, 5));
        ASSERT_TRUE(WaitUi([&] { return m_dlg->IsBoxConnected(); }));
        // Commands are accepted once the box's "info" has arrived.
        ASSERT_TRUE(WaitUi([&] { return m_dlg->IsReady() && !m_dlg->DeviceInfo().isEmpty(); }));
        m_prompts.onMenu = {};
    }

    bool WaitForMessage(const QString& text, std::chrono::milliseconds timeout = WAIT)
    {
        return WaitUi([&] { return m_messages.Has(text); }, timeout);
    }

    static inline std::uint32_t s_tftpStatus = TFTP_SERVER_THREAD_FAILED;
    CScriptedPrompts m_prompts;
    CMessageBoxRecorder m_messages;
    CUpdateFolder m_folder;
    std::unique_ptr<CLabBoxes> m_boxes;
    std::unique_ptr<CAdapters> m_adapters;
    std::unique_ptr<CvindleDlg> m_dlg;
    std::vector<int> m_progress;
};

TEST_F(CommandsTest, ConnectShowsVerbundenInGreenAndTheMenuFollowsTheState)
{
    ASSERT_NO_FATAL_FAILURE(StartBoxes({"--info-field", "hw-42"}));
    ASSERT_NO_FATAL_FAILURE(ConnectToBox1());
    EXPECT_EQ(m_dlg->GetDlgItemText(IDC_CONN_STATUS), QStringLiteral("verbunden"));
    auto* pStatus = m_dlg->DlgItem<QLabel>(IDC_CONN_STATUS);
    ASSERT_NE(pStatus, nullptr);
    EXPECT_EQ(pStatus->palette().color(QPalette::WindowText).rgb() & 0xFFFFFF, 0x00FF00u);
    EXPECT_EQ(m_dlg->DeviceInfo(), QStringLiteral("hw-42"));
    EXPECT_TRUE(m_boxes->Box(1).WaitForText("config: connection from " + Lab().ToolIp(), WAIT));

    std::map<int, bool> enabled;
    m_prompts.onMenu = [&](QMenu& menu) {
        for (QAction* pAction : menu.actions())
            enabled[pAction->data().toInt()] = pAction->isEnabled();
        return 0;
    };
    m_dlg->OnDeviceRightClick(0, QPoint(5, 5));
    const std::map<int, bool> expected{{ID_IP_ADDRESS, true},    {ID_CONNECT, false},
                                       {ID_DISCONNECT, true},    {ID_SOFTWARE_UPDATE, true},
                                       {ID_SYSTEM_UPDATE, true}, {ID_APPLICATION_UPDATE, true},
                                       {ID_REBOOT, true},        {ID_SET_PASSWORD, true}};
    EXPECT_EQ(enabled, expected);

    m_dlg->OnCommand(ID_DISCONNECT);
    ASSERT_TRUE(WaitUi([&] { return !m_dlg->IsBoxConnected(); }));
    EXPECT_EQ(m_dlg->GetDlgItemText(IDC_CONN_STATUS), QStringLiteral("nicht verbunden"));
}

TEST_F(CommandsTest, ConnectOnABoxAddedByHandReachesItsConfigurationService)
{
    ASSERT_NO_FATAL_FAILURE(StartBoxes());
    const std::size_t listed = m_dlg->DeviceCount();
    m_prompts.onDialog = [](CDialog& dlg) {
        dlg.IpAddressCtrl(IDC_ADD_ADDRESS)->SetText(QString::fromStdString(Lab().Box(2).ip));
        dlg.OnOK();
    };
    m_dlg->OnDeviceRightClick(-1, QPoint(5, 5));
    ASSERT_TRUE(WaitUi([&] { return m_dlg->DeviceCount() == listed + 1; }));
    const int row = static_cast<int>(listed);
    ASSERT_EQ(m_dlg->DeviceList()->item(row)->text(),
              QString::fromStdString(Lab().Box(2).ip + "\n00-00-00-00-00-00"));

    // The hand-added record has only an address, and that is all that
    // "Verbinden" needs: port 1000 of that address.
    m_prompts.onMenu = [](QMenu&) { return ID_CONNECT; };
    m_dlg->OnDeviceRightClick(row, QPoint(5, 5));
    ASSERT_TRUE(WaitUi([&] { return m_dlg->IsBoxConnected(); }));
    EXPECT_TRUE(m_boxes->Box(2).WaitForText("config: connection from " + Lab().ToolIp(), WAIT));
    EXPECT_EQ(m_dlg->GetDlgItemText(IDC_CONN_STATUS), QStringLiteral("verbunden"));
}

TEST_F(CommandsTest, EachUpdateSendsItsCommandAndTheBoxFetchesTheFileFromTheChosenFolder)
{
    ASSERT_NO_FATAL_FAILURE(StartBoxes({"--info-field", "X9"}));
    ASSERT_NO_FATAL_FAILURE(ConnectToBox1());
    struct Case
    {
        int command;
        const char* file;
        const char* expectedCommand;
    };
    const Case cases[] = {
        {ID_SYSTEM_UPDATE, "system.bin", "appcfg cmd c=3 system.bin X9"},
        {ID_APPLICATION_UPDATE, "application.bin", "appcfg cmd c=6 application.bin X9"},
        {ID_SOFTWARE_UPDATE, "software.bin", "appcfg cmd c=7 software.bin X9"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        m_progress.clear();
        const std::size_t boxesBefore = m_messages.Boxes().size();
        const std::size_t size = 3 * 1024 * 1024 + 100;
        m_prompts.updateFile = QString::fromStdString(m_folder.Make(c.file, size));
        m_dlg->OnCommand(c.command);
        EXPECT_TRUE(m_dlg->ProgressBar()->isVisible());
        EXPECT_TRUE(
            m_boxes->Box(1).WaitForText(std::string("config: command '") + c.expectedCommand + "'", WAIT));
        ASSERT_TRUE(WaitUi([&] { return m_messages.Boxes().size() > boxesBefore; }, 20s));
        const CMessageBoxRecorder::Box& verdict = m_messages.Boxes().back();
        EXPECT_EQ(verdict.kind, MsgBoxKind::Plain);
        EXPECT_EQ(verdict.caption, QStringLiteral("Information"));
        EXPECT_EQ(verdict.text, QStringLiteral("Update erfolgreich durchgeführt"));
        // The box got the whole file by TFTP from the chosen folder (the
        // program's own folder has no such file), and the bar followed the
        // transfer up to its end.
        EXPECT_TRUE(m_boxes->Box(1).WaitForText(
            std::string("update: received '") + c.file + "': " + std::to_string(size) + " bytes", WAIT));
        ASSERT_FALSE(m_progress.empty());
        EXPECT_EQ(m_progress.back(), 100);
        EXPECT_GE(m_progress.size(), 3u);
        // Closing the verdict (at once, under the hook) hides the bar again.
        EXPECT_TRUE(WaitUi([&] { return !m_dlg->ProgressBar()->isVisible(); }));
        EXPECT_FALSE(m_dlg->IsUpdateRunning());
    }
    // A cancelled file chooser starts nothing.
    m_prompts.updateFile.clear();
    m_dlg->OnCommand(ID_SYSTEM_UPDATE);
    EXPECT_FALSE(m_dlg->IsUpdateRunning());

    // The server keeps running after the window. The window's destructor
    // clears the receiver, which waits for a progress call in flight, so
    // what a transfer reports afterwards reaches nothing.
    void* pWindow = static_cast<void*>(m_dlg.get());
    EXPECT_EQ(ProgressReceiver.Get(), pWindow);
    m_dlg.reset();
    EXPECT_EQ(ProgressReceiver.Get(), nullptr);
}

TEST_F(CommandsTest, AnUpdateTheBoxRefusesShowsItsReasonWithTheLeadingBlank)
{
    ASSERT_NO_FATAL_FAILURE(StartBoxes({"--update-answer", "error", "--update-error", "no space left"}));
    ASSERT_NO_FATAL_FAILURE(ConnectToBox1());
    m_prompts.updateFile = QString::fromStdString(m_folder.Make("fw.bin", 1000));
    m_dlg->OnCommand(ID_SYSTEM_UPDATE);
    ASSERT_TRUE(WaitForMessage(QStringLiteral("Update fehlerhaft\n( no space left)"), 10s));
    EXPECT_EQ(m_messages.Boxes().back().kind, MsgBoxKind::Plain);
}

TEST_F(CommandsTest, RebootSendsItsCommandAndShowsNothing)
{
    ASSERT_NO_FATAL_FAILURE(StartBoxes({"--reboot-time", "300"}));
    ASSERT_NO_FATAL_FAILURE(ConnectToBox1());
    m_dlg->OnCommand(ID_REBOOT);
    EXPECT_TRUE(m_boxes->Box(1).WaitForText("config: command 'appcfg cmd c=2'", WAIT));
    EXPECT_TRUE(m_boxes->Box(1).WaitForText("config: rebooting", WAIT));
    // The box drops the connection while it restarts.
    EXPECT_TRUE(WaitUi([&] { return !m_dlg->IsBoxConnected(); }));
    EXPECT_TRUE(m_messages.Boxes().empty());
}

TEST_F(CommandsTest, UpdateWhileNotConnectedIsIgnored)
{
    ASSERT_NO_FATAL_FAILURE(StartBoxes());
    m_prompts.updateFile = QString::fromStdString(m_folder.Make("fw.bin", 1000));
    m_dlg->OnCommand(ID_SYSTEM_UPDATE);
    EXPECT_EQ(m_prompts.fileChoosers, 0);
    EXPECT_FALSE(m_dlg->IsUpdateRunning());
}

TEST_F(CommandsTest, TooLongNamesAreRefusedBeforeAnythingIsSent)
{
    ASSERT_NO_FATAL_FAILURE(StartBoxes({"--info-field", std::string(100, 'i')}));
    ASSERT_NO_FATAL_FAILURE(ConnectToBox1());
    // 140 + 100 characters exceed the 239 the box's command buffer holds.
    m_prompts.updateFile = QString::fromStdString(m_folder.Make(std::string(140, 'f'), 10));
    m_dlg->OnCommand(ID_SYSTEM_UPDATE);
    EXPECT_TRUE(m_messages.Has(QString::fromStdString(UserText(AppStatus::UpdateNameTooLong))));
    EXPECT_FALSE(m_dlg->IsUpdateRunning());
    EXPECT_FALSE(m_dlg->ProgressBar()->isVisible());
}

TEST_F(CommandsTest, PasswordIsSetAndConfirmed)
{
    ASSERT_NO_FATAL_FAILURE(StartBoxes());
    ASSERT_NO_FATAL_FAILURE(ConnectToBox1());
    m_prompts.onDialog = [](CDialog& dlg) {
        ASSERT_NE(dynamic_cast<CPwdDlg*>(&dlg), nullptr);
        dlg.DlgItem<QLineEdit>(IDC_PASSWORD)->setText(QStringLiteral("Geheim 1"));
        dlg.DlgItem<QLineEdit>(IDC_PASSWORD_REPEAT)->setText(QStringLiteral("Geheim 1"));
        dlg.OnOK();
    };
    m_dlg->OnCommand(ID_SET_PASSWORD);
    ASSERT_EQ(m_messages.Boxes().size(), 1u);
    // The standard application box: the program's name as its caption and
    // the exclamation icon, unlike the plain box of an update's verdict.
    EXPECT_EQ(m_messages.Boxes().back().kind, MsgBoxKind::Application);
    EXPECT_EQ(m_messages.Boxes().back().caption, QCoreApplication::applicationName());
    EXPECT_EQ(m_messages.Boxes().back().text, QStringLiteral("Kennwort erfolgreich gesetzt"));
    EXPECT_TRUE(m_boxes->Box(1).WaitForText("config: password set to 'Geheim 1'", WAIT));
    EXPECT_TRUE(m_boxes->Box(1).WaitForText("config: command 'appcfg cmd c=1 16'", WAIT));
}

TEST_F(CommandsTest, PasswordWithoutConnectionFails)
{
    ASSERT_NO_FATAL_FAILURE(StartBoxes());
    m_prompts.onDialog = [](CDialog& dlg) { dlg.OnOK(); };  // two empty fields are equal
    m_dlg->OnCommand(ID_SET_PASSWORD);
    ASSERT_EQ(m_messages.Boxes().size(), 1u);
    EXPECT_EQ(m_messages.Boxes().back().kind, MsgBoxKind::Application);
    EXPECT_EQ(m_messages.Boxes().back().caption, QCoreApplication::applicationName());
    EXPECT_EQ(m_messages.Boxes().back().text, QStringLiteral("Kennwort konnte nicht gesetzt werden"));
}

TEST_F(CommandsTest, OtherCommandsAreRefusedWhileAnUpdateWaits)
{
    ASSERT_NO_FATAL_FAILURE(StartBoxes({"--update-delay", "60000"}));
    ASSERT_NO_FATAL_FAILURE(ConnectToBox1());
    m_prompts.updateFile = QString::fromStdString(m_folder.Make("slow.bin", 1000));
    m_dlg->OnCommand(ID_SYSTEM_UPDATE);
    ASSERT_TRUE(m_boxes->Box(1).WaitForText("config: command 'appcfg cmd c=3 slow.bin", WAIT));
    ASSERT_TRUE(m_dlg->IsUpdateRunning());
    const QString busy = QString::fromStdString(UserText(AppStatus::UpdateBusy));
    for (int command : {ID_REBOOT, ID_SET_PASSWORD, ID_APPLICATION_UPDATE}) {
        SCOPED_TRACE(command);
        const std::size_t before = m_messages.Boxes().size();
        m_dlg->OnCommand(command);
        ASSERT_EQ(m_messages.Boxes().size(), before + 1);
        EXPECT_EQ(m_messages.Boxes().back().text, busy);
    }
    EXPECT_EQ(m_prompts.dialogs, 0);
    EXPECT_EQ(m_prompts.fileChoosers, 1);
}

TEST_F(CommandsTest, QuittingWhileAnUpdateWaitsAsksThenEndsTheWaitAtOnce)
{
    ASSERT_NO_FATAL_FAILURE(StartBoxes({"--update-delay", "60000"}));
    ASSERT_NO_FATAL_FAILURE(ConnectToBox1());
    m_prompts.updateFile = QString::fromStdString(m_folder.Make("slow.bin", 1000));
    m_dlg->OnCommand(ID_SYSTEM_UPDATE);
    ASSERT_TRUE(m_boxes->Box(1).WaitForText("config: command 'appcfg cmd c=3 slow.bin", WAIT));

    // "Nein" keeps the window.
    m_prompts.confirmAnswer = false;
    m_dlg->DlgItem<QPushButton>(IDCANCEL)->click();
    EXPECT_EQ(m_prompts.questions.size(), 1);
    EXPECT_TRUE(m_dlg->isVisible());
    EXPECT_TRUE(m_dlg->IsUpdateRunning());

    m_prompts.confirmAnswer = true;
    // The box answers only after a minute: a quit that waited for the
    // answer would run into the deadline.
    static_assert(std::chrono::seconds(60) > 2 * HANG_DEADLINE);
    const auto start = std::chrono::steady_clock::now();
    m_dlg->DlgItem<QPushButton>(IDCANCEL)->click();
    EXPECT_FALSE(m_dlg->isVisible());
    m_dlg.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, HANG_DEADLINE);
    // No verdict for an update whose wait was ended by quitting. The window
    // closed its queue and stopped its workers, so what it has not shown
    // by now it never will.
    RunPostedUiEvents();
    EXPECT_FALSE(m_messages.Has(QStringLiteral("Update fehlerhaft\n()")));
}

TEST_F(CommandsTest, DisconnectingEndsAWaitingUpdateWithAFailure)
{
    ASSERT_NO_FATAL_FAILURE(StartBoxes({"--update-delay", "60000"}));
    ASSERT_NO_FATAL_FAILURE(ConnectToBox1());
    m_prompts.updateFile = QString::fromStdString(m_folder.Make("slow.bin", 1000));
    m_dlg->OnCommand(ID_SYSTEM_UPDATE);
    ASSERT_TRUE(m_boxes->Box(1).WaitForText("config: command 'appcfg cmd c=3 slow.bin", WAIT));
    m_dlg->OnCommand(ID_DISCONNECT);
    ASSERT_TRUE(WaitForMessage(QStringLiteral("Update fehlerhaft\n()")));
    EXPECT_FALSE(m_dlg->IsUpdateRunning());
}

TEST_F(CommandsTest, ClosingTheWindowWhileTheBoxKeepsSendingNeitherHangsNorCrashes)
{
    ASSERT_NO_FATAL_FAILURE(StartBoxes({"--status-interval", "1"}));
    ASSERT_NO_FATAL_FAILURE(ConnectToBox1());
    // A deadline for a hang only; the close itself has no pause to wait out.
    const auto start = std::chrono::steady_clock::now();
    m_dlg->DlgItem<QPushButton>(IDCANCEL)->click();
    m_dlg.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, HANG_DEADLINE);
}

}  // namespace
