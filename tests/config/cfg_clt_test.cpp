// CCfgClt against a scripted box on loopback (tests/config/scripted_box.h).

#include "config/cfg_clt.h"

#include "config/cfg_commands.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <future>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "tests/common/core_output_capture.h"
#include "tests/common/recording_cfg_clt.h"
#include "tests/common/wait.h"
#include "tests/config/scripted_box.h"

namespace {

using namespace std::chrono_literals;
using cfgtest::ScriptedBox;

// Polls a state that no event announces, until a deadline.
template <typename Predicate>
bool WaitUntil(Predicate predicate, std::chrono::milliseconds timeout = WAIT)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!predicate()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

// A client connected to a scripted box, optionally ready (info received).
class CfgClient : public ::testing::Test
{
protected:
    void Connect()
    {
        client.Connect("127.0.0.1", box.Port());
        ASSERT_TRUE(box.Accept());
        ASSERT_TRUE(client.WaitFor("connected"));
    }

    void ConnectReady()
    {
        Connect();
        box.SendText("info|a|b|c|d|e|f|g|h|box-serial|j");
        ASSERT_TRUE(client.WaitFor("info box-serial"));
        ASSERT_TRUE(client.IsReady());
    }

    // Runs a command on a worker, so that the test can play the box.
    struct Pending
    {
        std::thread thread;
        CfgCommandResult result;
    };

    // The test answers every command it starts; the default timeout only
    // ends a wait for an answer that never comes.
    void Start(Pending& pending, std::string command,
               std::uint32_t timeoutMs = static_cast<std::uint32_t>(HANG_DEADLINE.count()))
    {
        pending.thread = std::thread([this, &pending, command, timeoutMs] {
            pending.result = client.RunCommand(command, std::chrono::milliseconds(timeoutMs));
        });
    }

    ScriptedBox box;
    RecordingCfgClt client;
};

TEST_F(CfgClient, BecomesReadyOnInfoAndKeepsItsFields)
{
    ConnectReady();
    EXPECT_EQ(client.GetField(8), "box-serial");
    EXPECT_EQ(client.GetLastResult(), 10);
    EXPECT_EQ(client.GetMessageCount(), 1u);
}

TEST_F(CfgClient, CommandsArePaddedToWholeBlocksInOneFrame)
{
    ConnectReady();
    struct Case
    {
        std::string command;
        std::size_t payload;
    };
    // 14 characters + NUL + one zero byte; 15 + NUL fill two blocks; 16 + NUL
    // need a third.
    const Case cases[] = {{"appcfg cmd c=2", 16}, {"appcfg cmd c=21", 16}, {"appcfg cmd c=1 16", 24}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command);
        Pending pending;
        Start(pending, c.command);
        const auto frame = box.ReadFrame();
        ASSERT_TRUE(frame.has_value());
        ASSERT_EQ(frame->size(), c.payload + 2);
        EXPECT_EQ(static_cast<std::uint8_t>((*frame)[0]), c.payload);
        EXPECT_EQ((*frame)[1], 0);
        box.SendText("ok");
        pending.thread.join();
        EXPECT_EQ(pending.result.status, CFG_OK);
    }
    // The first case byte for byte: the text, its NUL and zero padding.
    Pending pending;
    Start(pending, "appcfg cmd c=2");
    EXPECT_EQ(box.ReadPlainPayload(), std::string("appcfg cmd c=2\0\0", 16));
    box.SendText("ok");
    pending.thread.join();
}

TEST_F(CfgClient, RepliesGiveTheStatusesAndFields)
{
    ConnectReady();
    struct Case
    {
        const char* name;
        std::string reply;
        std::uint32_t status;
        std::uint32_t count;  // checked for CFG_OK only
        std::vector<std::string> fields;
    };
    const std::string twenty = "ok|1|2|3|4|5|6|7|8|9|10|11|12|13|14|15|16|17|18|19|20";
    const Case cases[] = {
        {"ok with fields", "ok|1|2", CFG_OK, 2, {"1", "2"}},
        {"error text keeps its leading blank", "error Datei fehlt", CFG_ERROR_REPLY, 0, {" Datei fehlt"}},
        {"ok and error is an error", "ok error x", CFG_ERROR_REPLY, 0, {" x"}},
        {"twenty fields keep sixteen",
         twenty,
         CFG_OK,
         16,
         {"1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11", "12", "13", "14", "15", "16"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Pending pending;
        Start(pending, "appcfg cmd c=3 file.bin box-serial");
        ASSERT_TRUE(box.ReadFrame().has_value());
        box.SendText(c.reply);
        pending.thread.join();
        EXPECT_EQ(pending.result.status, c.status);
        if (c.status == CFG_OK) {
            EXPECT_EQ(pending.result.fieldCount, c.count);
        }
        for (std::size_t i = 0; i < c.fields.size(); ++i) {
            EXPECT_EQ(std::string(pending.result.fields.m_szField[i]), c.fields[i]);
            EXPECT_EQ(client.GetField(static_cast<std::uint32_t>(i)), c.fields[i]);
        }
    }
}

TEST_F(CfgClient, StatusMessagesDoNotEndAWait)
{
    ConnectReady();
    Pending pending;
    Start(pending, "appcfg cmd c=6 app.bin box-serial");
    ASSERT_TRUE(box.ReadFrame().has_value());
    box.SendText("status|40|100");
    ASSERT_TRUE(client.WaitFor("status 40 100"));
    box.SendText("info|x");  // nor do info messages
    box.SendText("ok|done");
    pending.thread.join();
    EXPECT_EQ(pending.result.status, CFG_OK);
    EXPECT_EQ(pending.result.fieldCount, 1u);
    EXPECT_STREQ(pending.result.fields.m_szField[0], "done");
}

TEST_F(CfgClient, NoAnswerTimesOutAfterTheGivenTime)
{
    ConnectReady();
    std::uint32_t status = CFG_OK;
    // A lower bound only: a busy machine can make the wait longer, never
    // shorter. The upper one is that the call returns at all.
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(ReturnsBefore(HANG_DEADLINE, [&] {
        status = client.RunCommand("appcfg cmd c=2", std::chrono::milliseconds(300)).status;
    }));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 300ms);
    EXPECT_EQ(status, CFG_FAILED);
    EXPECT_EQ(client.GetField(0), "");
}

// A client connected to its own scripted box and ready for commands.
struct ReadyPair
{
    ScriptedBox box;
    RecordingCfgClt client;

    bool Connect()
    {
        client.Connect("127.0.0.1", box.Port());
        if (!box.Accept() || !client.WaitFor("connected")) {
            return false;
        }
        box.SendText("info|ready");
        return client.WaitFor("info ");
    }
};

// Every way out of a command's wait ends it at once and says which; an
// hour-long update wait must never sit out its timeout for an answer that
// cannot come. The wait runs with an hour's timeout and the test waits for
// its end with a deadline.
TEST(CfgRunCommand, EveryWayOutEndsTheWaitAndSaysWhich)
{
    struct Case
    {
        const char* name;
        void (*after)(ReadyPair&, std::stop_source&);  // once the command arrived
        CfgOutcome outcome;
        std::uint32_t status;
        std::string text;
    };
    const Case cases[] = {
        {"ok", [](ReadyPair& p, std::stop_source&) { p.box.SendText("ok|1|2"); }, CfgOutcome::Answered,
         CFG_OK, ""},
        {"error keeps the box text",
         [](ReadyPair& p, std::stop_source&) { p.box.SendText("error no space left"); }, CfgOutcome::Answered,
         CFG_ERROR_REPLY, " no space left"},
        {"an answer right before the end stands",
         [](ReadyPair& p, std::stop_source&) {
             p.box.SendText("ok");
             p.box.Close();
         },
         CfgOutcome::Answered, CFG_OK, ""},
        {"connection ended", [](ReadyPair& p, std::stop_source&) { p.box.Close(); }, CfgOutcome::Disconnected,
         CFG_FAILED, ""},
        {"cancelled from another thread", [](ReadyPair& p, std::stop_source&) { p.client.CancelCommand(); },
         CfgOutcome::Cancelled, CFG_FAILED, ""},
        {"stop requested", [](ReadyPair&, std::stop_source& stop) { stop.request_stop(); },
         CfgOutcome::Cancelled, CFG_FAILED, ""},
        {"destroyed while waiting", [](ReadyPair& p, std::stop_source&) { p.client.StopWorkers(); },
         CfgOutcome::Disconnected, CFG_FAILED, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ReadyPair pair;
        ASSERT_TRUE(pair.Connect());
        std::stop_source stop;
        std::packaged_task<CfgCommandResult()> task([&] {
            return pair.client.RunCommand("appcfg cmd c=3 fw.bin X", std::chrono::hours(1), stop.get_token());
        });
        std::future<CfgCommandResult> done = task.get_future();
        std::thread waiter(std::move(task));
        const bool bArrived = pair.box.ReadFrame().has_value();
        if (bArrived) {
            c.after(pair, stop);
        }
        const bool bEnded = done.wait_for(WAIT) == std::future_status::ready;
        if (!bEnded) {
            pair.client.CancelCommand();  // lets the thread be joined
        }
        waiter.join();
        ASSERT_TRUE(bArrived);
        ASSERT_TRUE(bEnded);
        const CfgCommandResult result = done.get();
        EXPECT_EQ(result.outcome, c.outcome);
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(result.text, c.text);
    }
}

TEST(CfgRunCommand, NothingIsSentWhenTheCommandCannotOrMayNotGoOut)
{
    struct Case
    {
        const char* name;
        bool bConnect;
        bool bReady;
        std::string command;
        bool bStopFirst;
    };
    const Case cases[] = {
        {"no connection", false, false, "appcfg cmd c=2", false},
        {"no info yet", true, false, "appcfg cmd c=2", false},
        {"longer than 1023 characters", true, true, std::string(CFG_MAX_COMMAND_LENGTH + 1, 'c'), false},
        {"an embedded NUL would cut it", true, true, std::string("appcfg cmd c=2\0 x", 17), false},
        // Whoever asked for the stop wants no command to go out any more.
        {"stop requested before", true, true, "appcfg cmd c=2", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ReadyPair pair;
        if (c.bConnect) {
            pair.client.Connect("127.0.0.1", pair.box.Port());
            ASSERT_TRUE(pair.box.Accept());
            ASSERT_TRUE(pair.client.WaitFor("connected"));
            if (c.bReady) {
                pair.box.SendText("info|ready");
                ASSERT_TRUE(pair.client.WaitFor("info "));
            }
        }
        std::stop_source stop;
        if (c.bStopFirst) {
            stop.request_stop();
        }
        const CfgCommandResult result =
            pair.client.RunCommand(c.command, std::chrono::hours(1), stop.get_token());
        EXPECT_EQ(result.outcome, c.bStopFirst ? CfgOutcome::Cancelled : CfgOutcome::NotSent);
        EXPECT_EQ(result.status, CFG_FAILED);
        if (c.bConnect) {
            EXPECT_FALSE(pair.box.ReadFrame(200ms).has_value());
        }
    }
}

// WaitReady ends on the box's info, as soon as no connection exists and no
// attempt is under way any more, or on a stop request.
TEST(CfgWaitReady, EndsOnInfoOrOnceNoConnectionCanCome)
{
    struct Case
    {
        const char* name;
        bool bListening;
        void (*box)(ScriptedBox&);
        bool expected;
        bool bStop = false;  // a stop request after the box's part
    };
    const Case cases[] = {
        {"info arrives", true, [](ScriptedBox& b) { b.SendText("info|a"); }, true},
        {"status only, then the box hangs up", true,
         [](ScriptedBox& b) {
             b.SendText("status|1|2");
             b.Close();
         },
         false},
        {"nobody listens", false, nullptr, false},
        {"stop while the box stays silent", true, [](ScriptedBox&) {}, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::optional<ScriptedBox> box(std::in_place);
        const std::uint16_t port = box->Port();
        if (!c.bListening) {
            box.reset();  // its port is free again
        }
        RecordingCfgClt client;
        client.Connect("127.0.0.1", port);
        std::stop_source stop;
        std::packaged_task<bool()> task(
            [&] { return client.WaitReady(std::chrono::hours(1), stop.get_token()); });
        std::future<bool> done = task.get_future();
        std::thread waiter(std::move(task));
        const bool bAccepted = !c.bListening || box->Accept();
        if (c.bListening && bAccepted) {
            c.box(*box);
        }
        if (c.bStop) {
            stop.request_stop();
        }
        // A failed connect reports after its one-second pause.
        const bool bEnded = done.wait_for(WAIT + 2s) == std::future_status::ready;
        if (!bEnded) {
            client.StopWorkers();  // lets the thread be joined
        }
        waiter.join();
        ASSERT_TRUE(bAccepted);
        ASSERT_TRUE(bEnded);
        EXPECT_EQ(done.get(), c.expected);
    }
}

TEST_F(CfgClient, ConnectionEndingDuringAWaitEndsItAtOnce)
{
    ConnectReady();
    Pending pending;
    // Far beyond the deadline: only the end of the connection ends the wait.
    Start(pending, "appcfg cmd c=7 sw.bin box-serial", CMD_UPDATE_TIMEOUT_MS);
    static_assert(std::chrono::milliseconds(CMD_UPDATE_TIMEOUT_MS) > 2 * HANG_DEADLINE);
    ASSERT_TRUE(box.ReadFrame().has_value());
    box.Close();
    EXPECT_TRUE(ReturnsBefore(HANG_DEADLINE, [&] { pending.thread.join(); }));
    EXPECT_EQ(pending.result.status, CFG_FAILED);
}

// A connection attempt that fails while another connection waits for an
// answer ends only itself.
TEST_F(CfgClient, AFailedSecondAttemptDoesNotEndTheCurrentWait)
{
    ConnectReady();
    std::uint16_t closedPort = 0;
    {
        ScriptedBox gone;
        closedPort = gone.Port();
    }
    Pending pending;
    Start(pending, "appcfg cmd c=3 file.bin box-serial");
    ASSERT_TRUE(box.ReadFrame().has_value());
    client.Connect("127.0.0.1", closedPort);
    // Reported after the one-second pause of a failed connect, and told
    // apart from the end of the current connection.
    ASSERT_TRUE(client.WaitFor("disconnected 0 (current lives on)"));
    EXPECT_TRUE(client.IsConnected());
    box.SendText("ok|done");
    pending.thread.join();
    EXPECT_EQ(pending.result.status, CFG_OK);
    EXPECT_STREQ(pending.result.fields.m_szField[0], "done");
}

TEST_F(CfgClient, CommandsBeforeInfoOrConnectionSendNothing)
{
    EXPECT_EQ(client.RunCommand("appcfg cmd c=2", std::chrono::milliseconds(100)).status, CFG_FAILED)
        << "no connection";
    Connect();
    // Refused at once: a wait for an answer would run into the deadline.
    std::uint32_t status = CFG_OK;
    EXPECT_TRUE(ReturnsBefore(HANG_DEADLINE, [&] {
        status = client.RunCommand("appcfg cmd c=2", std::chrono::milliseconds(CMD_UPDATE_TIMEOUT_MS)).status;
    }));
    EXPECT_EQ(status, CFG_FAILED) << "no info yet";
    EXPECT_FALSE(box.ReadFrame(200ms).has_value());
}

TEST_F(CfgClient, OverlongCommandIsRefusedNotCut)
{
    ConnectReady();
    const std::string longest(CFG_MAX_COMMAND_LENGTH, 'c');
    const std::string tooLong(CFG_MAX_COMMAND_LENGTH + 1, 'c');
    EXPECT_EQ(client.RunCommand(tooLong, std::chrono::milliseconds(100)).status, CFG_FAILED);
    EXPECT_FALSE(box.ReadFrame(200ms).has_value());
    Pending pending;
    Start(pending, longest);
    const auto frame = box.ReadFrame();
    ASSERT_TRUE(frame.has_value());
    EXPECT_EQ(frame->size(), 2u + 1024u);
    box.SendText("ok");
    pending.thread.join();
}

TEST_F(CfgClient, FirstMessageWithoutKeywordReportsNotConnected)
{
    struct Case
    {
        const char* name;
        bool encrypted;
        std::string payload;
    };
    const Case cases[] = {
        {"text without keyword", true, "hello|1|2"},
        {"payload not a multiple of 8", false, "0123456789"},
        {"garbage blocks", false, std::string("\x13\x37\xAA\x55\x00\xFF\x10\x20", 8)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedBox scripted;
        RecordingCfgClt fresh;
        fresh.Connect("127.0.0.1", scripted.Port());
        ASSERT_TRUE(scripted.Accept());
        ASSERT_TRUE(fresh.WaitFor("connected"));
        if (c.encrypted) {
            scripted.SendText(c.payload);
        } else {
            scripted.SendPayload(c.payload);
        }
        ASSERT_TRUE(fresh.WaitFor("disconnected -2147483647"));
        EXPECT_TRUE(fresh.IsConnected()) << "the connection itself stays open";
        // Only the very first message of the client's life counts.
        scripted.SendText("still no keyword");
        scripted.SendText("info|ready");
        ASSERT_TRUE(fresh.WaitFor("info "));
        const auto events = fresh.log.Events();
        ASSERT_EQ(events.size(), 3u);
        EXPECT_EQ(fresh.GetMessageCount(), 3u);
    }
}

// The connection's indications go to standard output, every received
// message with its kind to the debug output (standard error here).
TEST_F(CfgClient, WritesItsIndicationAndDebugLines)
{
    const std::string longText = "status|" + std::string(300, 's');
    CoreOutputCapture capture;
    client.Connect("127.0.0.1", box.Port());
    ASSERT_TRUE(box.Accept());
    ASSERT_TRUE(client.WaitFor("connected"));
    box.SendText("info|a");
    box.SendText(longText);
    box.SendPayload("odd");  // no whole block: no text, no keyword
    box.Close();
    ASSERT_TRUE(client.WaitFor("disconnected 0"));
    // Once the ended connection is gone, nothing more can be written. Its
    // thread may have entered the idle cycle of a finished connection, whose
    // line its stop does not suppress.
    client.StopWorkers();
    const std::string out = capture.Out();
    const std::string err = capture.Err();
    const std::string indications = "TCP_CONNECT_IND:\nTCP_DISCONNECT_IND:\n";
    EXPECT_TRUE(out == indications || out == indications + "Thread running\n") << out;
    // The debug line is cut to its 256-byte buffer: 8 + 246 + line end + NUL.
    const std::string cut = "DataIn: " + longText.substr(0, 246) + "\n";
    ASSERT_EQ(cut.size(), 255u);
    EXPECT_EQ(err, "DataIn: info|a\nMsg: 4\n" + cut + "Msg: 3\nDataIn: \nMsg: 0\n");
}

TEST_F(CfgClient, DisconnectReportsReasonZeroAndRefusesCommands)
{
    ConnectReady();
    EXPECT_EQ(client.Disconnect(), 0u);
    ASSERT_TRUE(client.WaitFor("disconnected 0"));
    EXPECT_TRUE(box.WaitForEnd());
    EXPECT_TRUE(WaitUntil([&] { return !client.IsConnected(); }));
    EXPECT_EQ(client.RunCommand("appcfg cmd c=2", std::chrono::milliseconds(100)).status, CFG_FAILED);
    EXPECT_EQ(client.Disconnect(), CFG_FAILED);
}

TEST_F(CfgClient, ReadyOutlivesAReconnect)
{
    ConnectReady();
    box.Close();
    ASSERT_TRUE(client.WaitFor("disconnected 0"));
    ASSERT_TRUE(WaitUntil([&] { return !client.IsConnected(); }));
    client.Connect("127.0.0.1", box.Port());
    ASSERT_TRUE(box.Accept());
    ASSERT_TRUE(WaitUntil([&] { return client.IsConnected(); }));
    Pending pending;
    Start(pending, "appcfg cmd c=2");
    ASSERT_TRUE(box.ReadFrame().has_value()) << "accepted without a new info";
    box.SendText("ok");
    pending.thread.join();
    EXPECT_EQ(pending.result.status, CFG_OK);
}

TEST_F(CfgClient, FailedConnectGivesOnlyDisconnected)
{
    std::uint16_t closedPort = 0;
    {
        ScriptedBox gone;  // its port is free again once it is destroyed
        closedPort = gone.Port();
    }
    RecordingCfgClt lonely;
    lonely.Connect("127.0.0.1", closedPort);
    ASSERT_TRUE(lonely.WaitFor("disconnected 0"));
    EXPECT_EQ(lonely.log.Events().size(), 1u);
    EXPECT_FALSE(lonely.IsConnected());
}

// A box that breaks the framing or floods the client can only end the
// connection; the client stays usable and is destroyed cleanly.
TEST_F(CfgClient, HostileBoxOnlyEndsTheConnection)
{
    struct Case
    {
        const char* name;
        std::string bytes;
    };
    std::string flood;
    for (int i = 0; i < 500; ++i) {
        flood += std::string("\x08\x00", 2) + std::string(8, static_cast<char>(i));
    }
    const Case cases[] = {
        {"oversized length", std::string("\xFF\xFF", 2) + std::string(64, 'x')},
        {"truncated frame", std::string("\x10\x00", 2) + "abc"},
        {"flood of garbage frames", flood},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedBox scripted;
        RecordingCfgClt victim;
        victim.Connect("127.0.0.1", scripted.Port());
        ASSERT_TRUE(scripted.Accept());
        ASSERT_TRUE(victim.WaitFor("connected"));
        scripted.SendRaw(c.bytes);
        scripted.Close();
        ASSERT_TRUE(victim.WaitFor("disconnected 0"));
        // The connection is forgotten right after the callback returns.
        EXPECT_TRUE(WaitUntil([&] { return !victim.IsConnected(); }));
        EXPECT_EQ(victim.RunCommand("appcfg cmd c=2", std::chrono::milliseconds(50)).status, CFG_FAILED);
    }
}

TEST_F(CfgClient, BoxThatNeverReadsCannotHangTheClient)
{
    ConnectReady();
    const std::string big(CFG_MAX_COMMAND_LENGTH, 'b');
    // Each command waits 0 ms for an answer; sending stops when the box's
    // buffers are full and the send gives up, which ends the connection
    // (a frame may have gone out in part) or keeps failing. A send that
    // took the whole send timeout has given up; when the machine is so busy
    // that others look like that too, feeding merely stops sooner.
    const auto sendTimeout = std::chrono::milliseconds(TCP_SEND_TIMEOUT_MS);
    EXPECT_TRUE(ReturnsBefore(3 * HANG_DEADLINE, [&] {
        int failuresInARow = 0;
        for (int i = 0; i < 20000 && client.IsConnected(); ++i) {
            const auto before = std::chrono::steady_clock::now();
            (void)client.RunCommand(big, std::chrono::milliseconds(0));
            if (std::chrono::steady_clock::now() - before >= sendTimeout && ++failuresInARow >= 2) {
                break;
            }
        }
    }));
}

}  // namespace
