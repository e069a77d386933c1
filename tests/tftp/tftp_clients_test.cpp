// The server against TFTP clients this project did not write: curl, the
// tftp-hpa client and atftp (installed by dev.sh). Each transfer is compared
// byte for byte with its source.

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tftp/tftp_config.h"
#include "tftp_test_support.h"

extern char** environ;

namespace {

struct RunResult
{
    int status = -1;
    std::string output;
};

// Runs argv (looked up in PATH) in `folder`, bounded by `timeout` so that a
// hanging client cannot hang the test; stdout and stderr are captured.
RunResult RunClient(const std::filesystem::path& folder, std::vector<std::string> argv)
{
    argv.insert(argv.begin(), {"timeout", "-s", "KILL", "60"});
    const std::filesystem::path log = folder / "client.log";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
    std::vector<char*> args;
    for (std::string& arg : argv)
        args.push_back(arg.data());
    args.push_back(nullptr);
    RunResult result;
    pid_t pid = -1;
    if (posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ) == 0) {
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    posix_spawn_file_actions_destroy(&actions);
    std::ifstream in(log);
    std::stringstream text;
    text << in.rdbuf();
    result.output = text.str();
    return result;
}

class TftpClientsTest : public TftpServerTest
{
protected:
    void SetUp() override
    {
        StartServer("[TFTP-OPTIONS]\noverwrite=y\n");
        m_local = m_temp.Path() / "local";
        std::filesystem::create_directories(m_local);
    }
    std::string Url(const std::string& name) const
    {
        return "tftp://127.0.0.1:" + std::to_string(m_port) + "/" + name;
    }
    std::string Port() const { return std::to_string(m_port); }

    std::filesystem::path m_local;
};

TEST_F(TftpClientsTest, CurlReadsALargeFileAtEveryBlockSize)
{
    // 5 MB + 3 bytes: more than 65536 blocks of 512 would be 32 MB, so the
    // wrap is tested elsewhere; this checks the data.
    const Bytes file = RandomBytes(5 * 1024 * 1024 + 3);
    WriteFile(Home() / "big.bin", file);
    for (const char* blockSize : {"512", "1468", "8192", "65464"}) {
        SCOPED_TRACE(blockSize);
        const std::string out = std::string("got") + blockSize + ".bin";
        const RunResult run =
            RunClient(m_local, {"curl", "-sS", "--tftp-blksize", blockSize, "-o", out, Url("big.bin")});
        ASSERT_EQ(run.status, 0) << run.output;
        EXPECT_EQ(ReadFile(m_local / out), file);
    }
}

TEST_F(TftpClientsTest, CurlReadsAFileOfWholeBlocksAndWritesOne)
{
    const Bytes file = RandomBytes(8 * 512);
    WriteFile(Home() / "whole.bin", file);
    RunResult run = RunClient(m_local, {"curl", "-sS", "-o", "whole.bin", Url("whole.bin")});
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(ReadFile(m_local / "whole.bin"), file);

    const Bytes upload = RandomBytes(100000, 7);
    WriteFile(m_local / "up.bin", upload);
    run = RunClient(m_local, {"curl", "-sS", "--tftp-blksize", "1024", "-T", "up.bin", Url("stored.bin")});
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_TRUE(m_reports.WaitFor("stored.bin, 98 Blocks Received"));
    EXPECT_EQ(ReadFile(Home() / "stored.bin"), upload);
}

TEST_F(TftpClientsTest, TftpHpaReadsAndWritesInOctetMode)
{
    const Bytes file = RandomBytes(1024 * 1024 + 17);
    WriteFile(Home() / "image.bin", file);
    RunResult run = RunClient(
        m_local, {"tftp", "-m", "octet", "127.0.0.1", Port(), "-c", "get", "image.bin", "image.bin"});
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(ReadFile(m_local / "image.bin"), file);

    const Bytes upload = RandomBytes(300000, 3);
    WriteFile(m_local / "up.bin", upload);
    run =
        RunClient(m_local, {"tftp", "-m", "octet", "127.0.0.1", Port(), "-c", "put", "up.bin", "sub-up.bin"});
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_TRUE(m_reports.WaitFor("sub-up.bin, 586 Blocks Received"));
    EXPECT_EQ(ReadFile(Home() / "sub-up.bin"), upload);
}

TEST_F(TftpClientsTest, TftpHpaRoundTripsTextInNetasciiMode)
{
    // Lines long enough that CR LF pairs straddle block edges.
    std::string text;
    for (int i = 0; i < 400; ++i)
        text += "line " + std::to_string(i) + std::string(static_cast<std::size_t>(i % 37), '.') + "\n";
    WriteFile(m_local / "notes.txt", ToBytes(text));
    RunResult run =
        RunClient(m_local, {"tftp", "-m", "netascii", "127.0.0.1", Port(), "-c", "put", "notes.txt"});
    ASSERT_EQ(run.status, 0) << run.output;
    ASSERT_TRUE(m_reports.WaitFor("notes.txt,"));
    // Stored as a text file with CR LF line ends, each exactly once.
    std::string stored;
    for (char c : text) {
        if (c == '\n')
            stored += '\r';
        stored += c;
    }
    EXPECT_EQ(ReadFile(Home() / "notes.txt"), ToBytes(stored));

    run = RunClient(m_local,
                    {"tftp", "-m", "netascii", "127.0.0.1", Port(), "-c", "get", "notes.txt", "back.txt"});
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(ReadFile(m_local / "back.txt"), ToBytes(text));
}

TEST_F(TftpClientsTest, AtftpNegotiatesBlockSizeAndTransferSize)
{
    const Bytes file = RandomBytes(2 * 1024 * 1024 + 5);
    WriteFile(Home() / "fw.bin", file);
    RunResult run = RunClient(m_local, {"atftp", "--option", "blksize 8192", "--option", "tsize 0", "--trace",
                                        "-g", "-r", "fw.bin", "-l", "fw.bin", "127.0.0.1", Port()});
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(ReadFile(m_local / "fw.bin"), file);
    // atftp's trace shows what the OACK granted.
    const std::size_t oack = run.output.find("received OACK");
    ASSERT_NE(oack, std::string::npos) << run.output;
    const std::string line = run.output.substr(oack, run.output.find('\n', oack) - oack);
    EXPECT_NE(line.find("blksize: 8192"), std::string::npos) << line;
    EXPECT_NE(line.find("tsize: " + std::to_string(file.size())), std::string::npos) << line;

    const Bytes upload = RandomBytes(700000, 9);
    WriteFile(m_local / "up.bin", upload);
    run = RunClient(m_local, {"atftp", "--option", "blksize 4096", "-p", "-l", "up.bin", "-r", "atftp-up.bin",
                              "127.0.0.1", Port()});
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_TRUE(m_reports.WaitFor("atftp-up.bin, 171 Blocks Received"));
    EXPECT_EQ(ReadFile(Home() / "atftp-up.bin"), upload);
}

// A server that grants windows of up to 16 blocks, against atftp asking
// for exactly that, in both directions and both modes.
class TftpWindowedClientsTest : public TftpClientsTest
{
protected:
    void SetUp() override
    {
        StartServer("[TFTP-OPTIONS]\noverwrite=y\nwindowsize=16\n");
        m_local = m_temp.Path() / "local";
        std::filesystem::create_directories(m_local);
    }
    // atftp takes the transfer mode only as an interactive command, so the
    // commands come from a file on its standard input.
    RunResult Atftp(const std::string& mode, const std::string& command)
    {
        std::ofstream(m_local / "commands")
            << "option windowsize 16\noption blksize 1428\nmode " << mode << "\n"
            << command << "\nquit\n";
        return RunClient(m_local, {"sh", "-c", "atftp --trace 127.0.0.1 " + Port() + " < commands"});
    }
};

// Text with LF line ends and neither CR nor 0x1A, `size` bytes long.
Bytes LfText(std::size_t size)
{
    Bytes text(size);
    for (std::size_t i = 0; i < size; ++i)
        text[i] = static_cast<std::uint8_t>(i % 53 == 52 ? '\n' : 'a' + i % 26);
    return text;
}

Bytes WithCrLf(const Bytes& text)
{
    Bytes out;
    for (std::uint8_t c : text) {
        if (c == '\n')
            out.push_back('\r');
        out.push_back(c);
    }
    return out;
}

TEST_F(TftpWindowedClientsTest, AtftpMovesFilesAroundTheWindowEdgesBothWays)
{
    // A window of 16 blocks of 1428 bytes: files that end just before, on
    // and just after its edge, and one of thousands of windows.
    constexpr std::size_t window = 16 * 1428;
    const std::size_t sizes[] = {0, 1, window - 1, window, window + 1, 3 * 1024 * 1024 + 5};
    for (const char* mode : {"octet", "netascii"}) {
        const bool text = std::string_view(mode) == "netascii";
        for (std::size_t size : sizes) {
            SCOPED_TRACE(std::string(mode) + " " + std::to_string(size));
            const std::string name = std::string(mode) + std::to_string(size);
            // Text mode serves a file's CR LF as LF, and stores the CR LF
            // the client sends for each LF as one CR LF; the sizes count
            // the bytes on the wire of the read.
            const Bytes local = text ? LfText(size) : RandomBytes(size, static_cast<unsigned>(size));
            const Bytes stored = text ? WithCrLf(local) : local;
            WriteFile(Home() / (name + ".get"), stored);
            RunResult run = Atftp(mode, "get " + name + ".get " + name + ".got");
            ASSERT_EQ(run.status, 0) << run.output;
            ASSERT_NE(run.output.find("received OACK <windowsize: 16, blksize: 1428,"), std::string::npos)
                << run.output.substr(0, 2000);
            EXPECT_EQ(ReadFile(m_local / (name + ".got")), local);

            WriteFile(m_local / (name + ".put"), local);
            run = Atftp(mode, "put " + name + ".put " + name + ".up");
            ASSERT_EQ(run.status, 0) << run.output;
            ASSERT_TRUE(m_reports.WaitFor(name + ".up, ")) << m_reports.All();
            EXPECT_EQ(ReadFile(Home() / (name + ".up")), stored);
        }
    }
}

#ifdef VINDLE_TFTP_PATH
// The project's client (vindle-tftp) through a window of 4 blocks with a
// timeout of 1 second on the server (interval 1), a packet dropped on
// purpose per case. It runs as its own program: it has its own wire
// vocabulary, which must not meet the server's in one binary.
class TftpProjectClientWindowTest : public TftpClientsTest
{
protected:
    void SetUp() override
    {
        StartServer("[TFTP-OPTIONS]\nwindowsize=4\ninterval=1\n");
        m_local = m_temp.Path() / "local";
        std::filesystem::create_directories(m_local);
    }
};

TEST_F(TftpProjectClientWindowTest, FetchesThroughLossWrapAndText)
{
    struct Case
    {
        const char* name;
        const char* drop;  // vindle-tftp's option, or nullptr
        const char* mode;
        bool wraps;  // a file of 65537 blocks instead of 11
    };
    const Case cases[] = {
        {"no loss", nullptr, "octet", false},
        {"DATA lost in the middle of a window", "--drop-data=3", "octet", false},
        // The client waits for the window's end, then acknowledges what came.
        {"window's last DATA lost", "--drop-data=4", "octet", false},
        {"last DATA of the file lost", "--drop-data=11", "octet", false},
        // ACK 0 after the OACK is the first ACK; the second ends a window.
        {"ACK of a window lost", "--drop-ack=2", "octet", false},
        // Blocks 65533, 65534, 65535 and 0 make up a window; 65535 is lost,
        // so the window is sent again from there, across the wrap, and the
        // ACK of 1 ends the file.
        {"block numbers wrap inside a window", "--drop-data=65535", "octet", true},
        {"text through a window", "--drop-data=3", "netascii", false},
    };
    const Bytes file = RandomBytes(10 * 512 + 100, 9);
    const Bytes large = RandomBytes(65536 * 512 + 100, 9);
    // Text without CR or 0x1A passes unchanged both ways.
    Bytes text(10 * 512 + 100);
    for (std::size_t i = 0; i < text.size(); ++i)
        text[i] = static_cast<std::uint8_t>(i % 61 == 60 ? '\n' : 'a' + i % 26);
    int index = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // A file per case, so that each report line is told apart.
        const std::string name = "f" + std::to_string(index++);
        const Bytes& source = c.wraps ? large : std::string_view(c.mode) == "octet" ? file : text;
        WriteFile(Home() / name, source);
        std::vector<std::string> argv = {VINDLE_TFTP_PATH, "get", "--port",    Port(), "--mode",    c.mode,
                                         "--windowsize",   "4",   "--timeout", "300",  "--retries", "10"};
        if (c.drop) {
            const std::string_view drop(c.drop);
            const std::size_t equals = drop.find('=');
            argv.emplace_back(drop.substr(0, equals));
            argv.emplace_back(drop.substr(equals + 1));
        }
        argv.insert(argv.end(), {"127.0.0.1", name, name + ".got"});
        const RunResult run = RunClient(m_local, argv);
        ASSERT_EQ(run.status, 0) << run.output;
        EXPECT_NE(run.output.find("windowsize 4"), std::string::npos) << run.output;
        EXPECT_TRUE(ReadFile(m_local / (name + ".got")) == source);
        const char* blocks = c.wraps ? ", 65537 Blocks Served" : ", 11 Blocks Served";
        EXPECT_TRUE(m_reports.WaitFor(name + blocks)) << m_reports.All();
    }
}
#endif

TEST_F(TftpClientsTest, ClientsSeeTheServersErrors)
{
    const RunResult run = RunClient(m_local, {"curl", "-sS", "-o", "x", Url("missing.bin")});
    EXPECT_NE(run.status, 0);
    EXPECT_TRUE(m_reports.WaitFor("missing.bin, File Not Found"));
}

}  // namespace
