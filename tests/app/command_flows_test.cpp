// The update and password flows against a scripted box on loopback: what
// goes out, and the text the operator is shown for each way the box (or the
// operator) ends the exchange.
#include "app/command_flows.h"

#include <chrono>
#include <future>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "config/cfg_clt.h"
#include "tests/config/scripted_box.h"

namespace {

using namespace std::chrono_literals;

using cfgtest::ScriptedBox;

// The text of each command the box received until it answered them all.
std::string Received(ScriptedBox& box)
{
    std::string plain = box.ReadPlainPayload();
    return plain.substr(0, plain.find('\0'));
}

class CommandFlows : public ::testing::Test
{
protected:
    // Connects; with bReady the box introduces itself first.
    void Connect(bool bReady = true)
    {
        client.Connect("127.0.0.1", box.Port());
        ASSERT_TRUE(box.Accept());
        if (bReady) {
            box.SendText("info|a|b|c|d|e|f|g|h|X9");
            ASSERT_TRUE(client.WaitReady(WAIT));
        }
    }

    ScriptedBox box;
    CCfgClt client;
};

TEST_F(CommandFlows, AnUpdateShowsTheBoxVerdictOrAFailureAndAStopShowsNothing)
{
    struct Case
    {
        const char* name;
        bool bReady;
        // Plays the box once the command arrived (or, without a command,
        // right away); may ask for the stop instead.
        void (*box)(ScriptedBox&, std::stop_source&);
        bool bCancelled;
        const char* shown;  // UserText of the verdict
    };
    const Case cases[] = {
        {"ok", true, [](ScriptedBox& b, std::stop_source&) { b.SendText("done ok|1"); }, false,
         "Update erfolgreich durchgeführt"},
        {"error with its leading blank", true,
         [](ScriptedBox& b, std::stop_source&) { b.SendText("error no space left"); }, false,
         "Update fehlerhaft\n( no space left)"},
        {"status and info do not end it", true,
         [](ScriptedBox& b, std::stop_source&) {
             b.SendText("status|40|100");
             b.SendText("info|x");
             b.SendText("ok");
         },
         false, "Update erfolgreich durchgeführt"},
        {"the box hangs up", true, [](ScriptedBox& b, std::stop_source&) { b.Close(); }, false,
         "Update fehlerhaft\n()"},
        {"the operator quits", true, [](ScriptedBox&, std::stop_source& s) { s.request_stop(); }, true,
         nullptr},
        {"no info yet: nothing sent", false, nullptr, false, "Update fehlerhaft\n()"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // A fresh box and client per case: some cases end the connection.
        ScriptedBox caseBox;
        CCfgClt caseClient;
        caseClient.Connect("127.0.0.1", caseBox.Port());
        ASSERT_TRUE(caseBox.Accept());
        if (c.bReady) {
            caseBox.SendText("info|a|b|c|d|e|f|g|h|X9");
            ASSERT_TRUE(caseClient.WaitReady(WAIT));
        }
        std::stop_source stop;
        std::packaged_task<UpdateVerdict()> task([&] {
            return RunUpdate(caseClient, "appcfg cmd c=3 fw.bin X9", std::chrono::hours(1), stop.get_token());
        });
        std::future<UpdateVerdict> done = task.get_future();
        std::thread updater(std::move(task));
        std::string command;
        if (c.bReady) {
            command = Received(caseBox);
            c.box(caseBox, stop);
        }
        const bool bEnded = done.wait_for(WAIT) == std::future_status::ready;
        if (!bEnded)
            stop.request_stop();  // lets the thread be joined
        updater.join();
        ASSERT_TRUE(bEnded);
        if (c.bReady) {
            EXPECT_EQ(command, "appcfg cmd c=3 fw.bin X9");
        } else {
            EXPECT_FALSE(caseBox.ReadFrame(200ms).has_value());
        }
        const UpdateVerdict verdict = done.get();
        EXPECT_EQ(verdict.bCancelled, c.bCancelled);
        if (!c.bCancelled) {
            EXPECT_EQ(UserText(verdict.status, verdict.boxText), c.shown);
        }
    }
}

TEST_F(CommandFlows, APasswordIsConfirmedOnlyAfterTheBoxAcceptedIt)
{
    ASSERT_NO_FATAL_FAILURE(Connect());
    struct Case
    {
        const char* name;
        std::string password;
        const char* answer;                 // to the password command; null: never sent
        std::vector<std::string> commands;  // what the box receives
        AppStatus status;
    };
    const Case cases[] = {
        {"accepted",
         "Geheim 1",
         "ok",
         {"appcfg config c=2 p=root \"1=Geheim 1\"", "appcfg cmd c=1 16"},
         AppStatus::PasswordSet},
        {"refused", "x", "error denied", {"appcfg config c=2 p=root \"1=x\""}, AppStatus::PasswordFailed},
        {"too long", std::string(227, 'p'), nullptr, {}, AppStatus::PasswordTooLong},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::packaged_task<AppStatus()> task([&] { return SetBoxPassword(client, c.password); });
        std::future<AppStatus> done = task.get_future();
        std::thread setter(std::move(task));
        std::vector<std::string> received;
        for (std::size_t i = 0; i < c.commands.size(); ++i) {
            received.push_back(Received(box));
            box.SendText(i == 0 ? c.answer : "ok");
        }
        setter.join();
        EXPECT_EQ(received, c.commands);
        EXPECT_FALSE(box.ReadFrame(200ms).has_value()) << "nothing more";
        EXPECT_EQ(done.get(), c.status);
    }
}

}  // namespace
