// The project's client (tools/tftp-client) fetching from the server through
// a window, with packets dropped on purpose. Kept apart from the server's
// headers: the client has its own wire vocabulary.

#include <gtest/gtest.h>

#include "tftp_test_support.h"
#include "tools/tftp-client/tftp_client.h"

namespace
{

using namespace std::chrono_literals;

class TftpWindowClientTest : public TftpServerTest
{
protected:
    void SetUp() override { StartServer("[TFTP-OPTIONS]\nwindowsize=4\ninterval=1\n"); }
};

// The project's client through a window of 4, with one packet dropped on
// purpose per case; every fetched file must equal its source.
TEST_F(TftpWindowClientTest, ProjectClientFetchesThroughLoss)
{
    struct Case
    {
        const char* name;
        std::uint16_t firstBlock;   // the server's first block number
        std::uint64_t dropData;
        std::uint64_t dropAck;
        TftpMode mode;
    };
    const Case cases[] = {
        {"no loss", 1, 0, 0, TftpMode::Octet},
        {"DATA lost in the middle of a window", 1, 3, 0, TftpMode::Octet},
        // The client waits for the window's end and acknowledges what came.
        {"window's last DATA lost", 1, 4, 0, TftpMode::Octet},
        {"last DATA of the file lost", 1, 11, 0, TftpMode::Octet},
        // ACK 0 after the OACK is the first ACK; the second ends a window.
        {"ACK of a window lost", 1, 0, 2, TftpMode::Octet},
        // Blocks 65534, 65535, 0, 1 make up the first window.
        {"block numbers wrap inside a window", 65534, 3, 0, TftpMode::Octet},
        {"text through a window", 1, 3, 0, TftpMode::Netascii},
    };
    const Bytes file = RandomBytes(10 * 512 + 100, 9);
    // Text without CR or 0x1A passes unchanged both ways.
    Bytes text(10 * 512 + 100);
    for (std::size_t i = 0; i < text.size(); ++i)
        text[i] = static_cast<std::uint8_t>(i % 61 == 60 ? '\n' : 'a' + i % 26);
    int index = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // A file per case, so that each report line is told apart.
        const std::string name = "f" + std::to_string(index++);
        const Bytes& source = c.mode == TftpMode::Octet ? file : text;
        WriteFile(Home() / name, source);
        SetFirstDataBlock(c.firstBlock);
        TftpClientOptions options;
        options.port = m_port;
        options.mode = c.mode;
        options.windowsize = 4;
        options.timeout = 300ms;
        options.retries = 10;
        options.dropData = c.dropData;
        options.dropAck = c.dropAck;
        Bytes received;
        const TftpTransferResult result = TftpGet(options, name, [&](std::span<const std::uint8_t> data) {
            received.insert(received.end(), data.begin(), data.end());
            return true;
        });
        ASSERT_EQ(result.status, TFTP_CLIENT_OK) << TftpDescribe(result);
        EXPECT_EQ(result.windowsize, 4u);
        EXPECT_EQ(received, source);
        EXPECT_TRUE(m_reports.WaitFor(name + ", 11 Blocks Served")) << m_reports.All();
    }
}

} // namespace
