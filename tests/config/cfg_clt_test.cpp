// CCfgClt against a scripted box on loopback. The box side is written with
// raw sockets and its own framing, so that a fault in the client's framing
// cannot be mirrored by the test; only the cipher is shared, and that is
// pinned by the published vectors in blowfish_test.cpp.

#include "config/cfg_clt.h"

#include <chrono>
#include <cstdio>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "tests/common/recording_cfg_clt.h"
#include "tests/common/wait.h"

namespace {

using namespace std::chrono_literals;

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

// The box's end of one connection, scripted by the test.
class ScriptedBox final
{
public:
    ScriptedBox()
    {
        m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        ::listen(m_listener, 4);
        socklen_t length = sizeof addr;
        ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&addr), &length);
        m_port = ntohs(addr.sin_port);
        BlowfishInit(CFG_BLOWFISH_KEY_LENGTH, &m_cipher);
    }
    ~ScriptedBox()
    {
        Close();
        ::close(m_listener);
    }

    std::uint16_t Port() const { return m_port; }

    bool Accept()
    {
        pollfd fd{m_listener, POLLIN, 0};
        if (::poll(&fd, 1, static_cast<int>(WAIT.count())) != 1) {
            return false;
        }
        m_conn = ::accept(m_listener, nullptr, nullptr);
        return m_conn >= 0;
    }

    void Close()
    {
        if (m_conn >= 0) {
            ::close(m_conn);
            m_conn = -1;
        }
    }

    void SendRaw(const std::string& bytes) const
    {
        ASSERT_EQ(::send(m_conn, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
    }

    // Frames raw payload bytes with the 2-byte little-endian length.
    void SendPayload(const std::string& payload) const
    {
        std::string frame;
        frame += static_cast<char>(payload.size() & 0xFF);
        frame += static_cast<char>(payload.size() >> 8);
        SendRaw(frame + payload);
    }

    // A message as the box sends it: text, NUL, zero padding, encrypted.
    void SendText(const std::string& text) const
    {
        std::vector<std::uint8_t> buffer(text.size() + 8, 0);
        std::memcpy(buffer.data(), text.data(), text.size());
        const auto length = EncryptBuffer(m_cipher, buffer.data(), static_cast<std::uint32_t>(text.size() + 1));
        SendPayload(std::string(reinterpret_cast<char*>(buffer.data()), length));
    }

    // The next frame's raw bytes, length included; nullopt when nothing came.
    std::optional<std::string> ReadFrame(std::chrono::milliseconds timeout = WAIT) const
    {
        const std::string header = Read(2, timeout);
        if (header.size() < 2) {
            return std::nullopt;
        }
        const std::size_t length = static_cast<std::uint8_t>(header[0]) | static_cast<std::uint8_t>(header[1]) << 8;
        return header + Read(length, timeout);
    }

    // The decrypted payload of the next frame, padding included.
    std::string ReadPlainPayload() const
    {
        const auto frame = ReadFrame();
        if (!frame || frame->size() < 2) {
            return {};
        }
        std::string payload = frame->substr(2);
        DecryptBuffer(m_cipher, reinterpret_cast<std::uint8_t*>(payload.data()),
                      static_cast<std::uint32_t>(payload.size()));
        return payload;
    }

    bool WaitForEnd() const
    {
        const auto deadline = std::chrono::steady_clock::now() + WAIT;
        while (std::chrono::steady_clock::now() < deadline) {
            pollfd fd{m_conn, POLLIN, 0};
            if (::poll(&fd, 1, 10) == 1) {
                char chunk[4096];
                if (::recv(m_conn, chunk, sizeof chunk, 0) <= 0) {
                    return true;
                }
            }
        }
        return false;
    }

    int Fd() const { return m_conn; }

private:
    std::string Read(std::size_t count, std::chrono::milliseconds timeout) const
    {
        std::string bytes;
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (bytes.size() < count) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            pollfd fd{m_conn, POLLIN, 0};
            if (left.count() <= 0 || ::poll(&fd, 1, static_cast<int>(left.count())) != 1) {
                break;
            }
            char chunk[4096];
            const ssize_t n = ::recv(m_conn, chunk, std::min(sizeof chunk, count - bytes.size()), 0);
            if (n <= 0) {
                break;
            }
            bytes.append(chunk, static_cast<std::size_t>(n));
        }
        return bytes;
    }

    int m_listener = -1;
    int m_conn = -1;
    std::uint16_t m_port = 0;
    BlowfishContext m_cipher{};
};

// Redirects one file descriptor (1 or 2) into a pipe until Stop(). What the
// client writes is small, far below what a pipe holds.
class FdCapture final
{
public:
    explicit FdCapture(int fd) : m_fd(fd)
    {
        std::fflush(nullptr);
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
            return;
        }
        m_readFd = fds[0];
        m_savedFd = ::dup(fd);
        ::dup2(fds[1], fd);
        ::close(fds[1]);
    }
    ~FdCapture() { Stop(); }
    FdCapture(const FdCapture&) = delete;
    FdCapture& operator=(const FdCapture&) = delete;

    const std::string& Stop()
    {
        if (m_savedFd >= 0) {
            std::fflush(nullptr);
            ::dup2(m_savedFd, m_fd);
            ::close(m_savedFd);
            m_savedFd = -1;
            char chunk[4096];
            ssize_t n = 0;
            while ((n = ::read(m_readFd, chunk, sizeof chunk)) > 0) {
                m_text.append(chunk, static_cast<std::size_t>(n));
            }
            ::close(m_readFd);
        }
        return m_text;
    }

private:
    int m_fd;
    int m_savedFd = -1;
    int m_readFd = -1;
    std::string m_text;
};

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

    // Runs SendCommand on a worker, so that the test can play the box.
    struct Pending
    {
        std::thread thread;
        std::uint32_t status = 0;
        std::uint32_t count = 0xDEAD;
        CfgFields reply{};
    };

    // The test answers every command it starts; the default timeout only
    // ends a wait for an answer that never comes.
    void Start(Pending& pending, std::string command,
               std::uint32_t timeoutMs = static_cast<std::uint32_t>(HANG_DEADLINE.count()))
    {
        pending.thread = std::thread([this, &pending, command, timeoutMs] {
            pending.status = client.SendCommand(command.c_str(), timeoutMs, &pending.count, &pending.reply);
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
    const Case cases[] = {
        {"appcfg cmd c=2", 16}, {"appcfg cmd c=21", 16}, {"appcfg cmd c=1 16", 24}};
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
        EXPECT_EQ(pending.status, CFG_OK);
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
        std::uint32_t count;   // checked for CFG_OK only
        std::vector<std::string> fields;
    };
    const std::string twenty = "ok|1|2|3|4|5|6|7|8|9|10|11|12|13|14|15|16|17|18|19|20";
    const Case cases[] = {
        {"ok with fields", "ok|1|2", CFG_OK, 2, {"1", "2"}},
        {"error text keeps its leading blank", "error Datei fehlt", CFG_ERROR_REPLY, 0, {" Datei fehlt"}},
        {"ok and error is an error", "ok error x", CFG_ERROR_REPLY, 0, {" x"}},
        {"twenty fields keep sixteen", twenty, CFG_OK, 16,
         {"1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11", "12", "13", "14", "15", "16"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Pending pending;
        Start(pending, "appcfg cmd c=3 file.bin box-serial");
        ASSERT_TRUE(box.ReadFrame().has_value());
        box.SendText(c.reply);
        pending.thread.join();
        EXPECT_EQ(pending.status, c.status);
        if (c.status == CFG_OK) {
            EXPECT_EQ(pending.count, c.count);
        }
        for (std::size_t i = 0; i < c.fields.size(); ++i) {
            EXPECT_EQ(std::string(pending.reply.m_szField[i]), c.fields[i]);
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
    box.SendText("info|x");   // nor do info messages
    box.SendText("ok|done");
    pending.thread.join();
    EXPECT_EQ(pending.status, CFG_OK);
    EXPECT_EQ(pending.count, 1u);
    EXPECT_STREQ(pending.reply.m_szField[0], "done");
}

TEST_F(CfgClient, NoAnswerTimesOutAfterTheGivenTime)
{
    ConnectReady();
    std::uint32_t count = 0;
    std::uint32_t status = CFG_OK;
    // A lower bound only: a busy machine can make the wait longer, never
    // shorter. The upper one is that the call returns at all.
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(ReturnsBefore(HANG_DEADLINE, [&] { status = client.SendCommand("appcfg cmd c=2", 300, &count); }));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 300ms);
    EXPECT_EQ(status, CFG_FAILED);
    EXPECT_EQ(client.GetField(0), "");
}

TEST_F(CfgClient, ConnectionEndingDuringAWaitEndsItAtOnce)
{
    ConnectReady();
    Pending pending;
    // Far beyond the deadline: only the end of the connection ends the wait.
    Start(pending, "appcfg cmd c=7 sw.bin box-serial", CFG_TIMEOUT_UPDATE_MS);
    static_assert(std::chrono::milliseconds(CFG_TIMEOUT_UPDATE_MS) > 2 * HANG_DEADLINE);
    ASSERT_TRUE(box.ReadFrame().has_value());
    box.Close();
    EXPECT_TRUE(ReturnsBefore(HANG_DEADLINE, [&] { pending.thread.join(); }));
    EXPECT_EQ(pending.status, CFG_FAILED);
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
    EXPECT_EQ(pending.status, CFG_OK);
    EXPECT_STREQ(pending.reply.m_szField[0], "done");
}

TEST_F(CfgClient, CommandsBeforeInfoOrConnectionSendNothing)
{
    std::uint32_t count = 0;
    EXPECT_EQ(client.SendCommand("appcfg cmd c=2", 100, &count), CFG_FAILED) << "no connection";
    Connect();
    // Refused at once: a wait for an answer would run into the deadline.
    std::uint32_t status = CFG_OK;
    EXPECT_TRUE(ReturnsBefore(HANG_DEADLINE, [&] {
        status = client.SendCommand("appcfg cmd c=2", CFG_TIMEOUT_UPDATE_MS, &count);
    }));
    EXPECT_EQ(status, CFG_FAILED) << "no info yet";
    EXPECT_FALSE(box.ReadFrame(200ms).has_value());
}

TEST_F(CfgClient, OverlongCommandIsRefusedNotCut)
{
    ConnectReady();
    std::uint32_t count = 0;
    const std::string longest(CFG_MAX_COMMAND_LENGTH, 'c');
    const std::string tooLong(CFG_MAX_COMMAND_LENGTH + 1, 'c');
    EXPECT_EQ(client.SendCommand(tooLong.c_str(), 100, &count), CFG_FAILED);
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
    bool bSeen = false;
    std::string out;
    std::string err;
    {
        FdCapture stdoutCapture(1);
        FdCapture stderrCapture(2);
        client.Connect("127.0.0.1", box.Port());
        bSeen = box.Accept() && client.WaitFor("connected");
        box.SendText("info|a");
        box.SendText(longText);
        box.SendPayload("odd");   // no whole block: no text, no keyword
        box.Close();
        bSeen = bSeen && client.WaitFor("disconnected 0");
        out = stdoutCapture.Stop();
        err = stderrCapture.Stop();
    }
    ASSERT_TRUE(bSeen);
    // The ended connection's idle cycle may add its line while it is reaped.
    for (auto at = out.find("Thread running\n"); at != std::string::npos; at = out.find("Thread running\n")) {
        out.erase(at, std::strlen("Thread running\n"));
    }
    EXPECT_EQ(out, "TCP_CONNECT_IND:\nTCP_DISCONNECT_IND:\n");
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
    std::uint32_t count = 0;
    EXPECT_EQ(client.SendCommand("appcfg cmd c=2", 100, &count), CFG_FAILED);
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
    EXPECT_EQ(pending.status, CFG_OK);
}

TEST_F(CfgClient, FailedConnectGivesOnlyDisconnected)
{
    std::uint16_t closedPort = 0;
    {
        ScriptedBox gone;   // its port is free again once it is destroyed
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
        std::uint32_t count = 0;
        EXPECT_EQ(victim.SendCommand("appcfg cmd c=2", 50, &count), CFG_FAILED);
    }
}

TEST_F(CfgClient, BoxThatNeverReadsCannotHangTheClient)
{
    ConnectReady();
    const std::string big(CFG_MAX_COMMAND_LENGTH, 'b');
    std::uint32_t count = 0;
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
            (void)client.SendCommand(big.c_str(), 0, &count);
            if (std::chrono::steady_clock::now() - before >= sendTimeout && ++failuresInARow >= 2) {
                break;
            }
        }
    }));
}

}  // namespace
