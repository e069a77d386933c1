// End to end: the standalone server vindle-tftpd on 127.0.0.1 and a free
// port, with a temporary home, against the independent client in
// tools/tftp-client. Every downloaded file is compared byte for byte.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include <gtest/gtest.h>

#include "tests/common/tftpd.h"
#include "tools/tftp-client/tftp_client.h"

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<std::uint8_t>;

void WriteFile(const fs::path& path, const Bytes& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Bytes RandomBytes(std::size_t size, unsigned seed)
{
    std::mt19937 random(seed);
    Bytes bytes(size);
    for (auto& b : bytes)
        b = static_cast<std::uint8_t>(random());
    return bytes;
}

// The files served, named after their sizes. The sizes sit on the block
// boundaries where a transfer must end with a short or an empty block.
const std::size_t FILE_SIZES[] = {
    0, 1, 511, 512, 513, 1428 * 3, 8192 * 2, 65464, 65464 + 1,
};
// A few MiB, fetched only with the larger blocks: thousands of lock-step
// round trips at 512 bytes would make the test slow under the sanitizers
// without finding anything the small files don't.
constexpr std::size_t BIG_SIZE = 3 * 1024 * 1024 + 17;
constexpr std::uint32_t BIG_MIN_BLKSIZE = 8192;

class TftpEndToEnd : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_server = std::make_unique<TftpdProcess>(VINDLE_TFTPD_PATH);
        const fs::path& home = s_server->Folder();
        unsigned seed = 1;
        for (std::size_t size : FILE_SIZES)
            WriteFile(home / ("f" + std::to_string(size)), RandomBytes(size, seed++));
        WriteFile(home / ("f" + std::to_string(BIG_SIZE)), RandomBytes(BIG_SIZE, seed++));
        fs::create_directory(home / "out");
        // Uploads land beside the program only where the INI names its
        // folder as a home: the server refuses to plant files there otherwise.
        s_started =
            s_server->StartOnLoopback("[HOME]\n" + home.string() + "\n[TFTP-OPTIONS]\nblksize=65464\n");
        ASSERT_TRUE(s_started) << "vindle-tftpd did not start on 127.0.0.1";
    }

    static void TearDownTestSuite() { s_server.reset(); }

    void SetUp() override { ASSERT_TRUE(s_started); }

    TftpClientOptions Options(std::uint32_t blksize) const
    {
        TftpClientOptions options;
        options.port = s_server->Port();
        options.blksize = blksize;
        options.timeout = std::chrono::milliseconds(2000);
        options.retries = 2;
        return options;
    }

    static inline std::unique_ptr<TftpdProcess> s_server;
    static inline bool s_started = false;
};

TEST_F(TftpEndToEnd, EveryFileArrivesIntactAtEveryBlockSize)
{
    // 0 stands for a plain RFC 1350 request without options.
    std::vector<std::size_t> sizes(std::begin(FILE_SIZES), std::end(FILE_SIZES));
    for (std::uint32_t blksize : {0u, 512u, 1428u, 8192u, 65464u}) {
        if (blksize == BIG_MIN_BLKSIZE)
            sizes.push_back(BIG_SIZE);
        for (std::size_t size : sizes) {
            const std::string name = "f" + std::to_string(size);
            SCOPED_TRACE(name + " blksize " + std::to_string(blksize));
            TftpClientOptions options = Options(blksize == 0 ? 512 : blksize);
            options.useOptions = blksize != 0;
            const fs::path local = s_server->Folder() / "out" / name;
            const TftpTransferResult result = TftpGetFile(options, name, local.string());
            ASSERT_EQ(result.status, TFTP_CLIENT_OK) << TftpDescribe(result);
            EXPECT_EQ(ReadFile(local), ReadFile(s_server->Folder() / name));
            EXPECT_EQ(result.bytes, size);
            // n full blocks and the short (maybe empty) one that ends it.
            EXPECT_EQ(result.blocks, size / options.blksize + 1);
            if (options.useOptions) {
                EXPECT_TRUE(result.optionsAcknowledged);
                EXPECT_EQ(result.blksize, blksize);
                EXPECT_EQ(result.tsize, size);
            } else {
                EXPECT_FALSE(result.optionsAcknowledged);
            }
            fs::remove(local);
        }
    }
}

TEST_F(TftpEndToEnd, ConcurrentReadsOfOneFileAllArriveIntact)
{
    constexpr int CLIENTS = 4;
    const std::string name = "f" + std::to_string(BIG_SIZE);
    std::vector<TftpTransferResult> results(CLIENTS);
    std::vector<std::thread> threads;
    for (int i = 0; i < CLIENTS; ++i) {
        threads.emplace_back([&, i] {
            results[static_cast<std::size_t>(i)] =
                TftpGetFile(Options(i % 2 ? 8192 : 65464), name,
                            (s_server->Folder() / "out" / ("c" + std::to_string(i))).string());
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    const Bytes expected = ReadFile(s_server->Folder() / name);
    for (int i = 0; i < CLIENTS; ++i) {
        SCOPED_TRACE("client " + std::to_string(i));
        EXPECT_EQ(results[static_cast<std::size_t>(i)].status, TFTP_CLIENT_OK)
            << TftpDescribe(results[static_cast<std::size_t>(i)]);
        EXPECT_EQ(ReadFile(s_server->Folder() / "out" / ("c" + std::to_string(i))), expected);
    }
}

TEST_F(TftpEndToEnd, WrittenFilesArriveIntact)
{
    const std::size_t sizes[] = {0, 512, 513, 1428 * 2, 200000};
    unsigned seed = 100;
    for (std::size_t size : sizes) {
        for (std::uint32_t blksize : {512u, 8192u}) {
            const std::string name = "up" + std::to_string(size) + "_" + std::to_string(blksize);
            SCOPED_TRACE(name);
            const fs::path local = s_server->Folder() / "out" / name;
            WriteFile(local, RandomBytes(size, seed++));
            const TftpTransferResult result = TftpPutFile(Options(blksize), name, local.string());
            ASSERT_EQ(result.status, TFTP_CLIENT_OK) << TftpDescribe(result);
            EXPECT_EQ(result.blksize, blksize);
            // The server has closed the file once it acknowledged the last block.
            EXPECT_EQ(ReadFile(s_server->Folder() / name), ReadFile(local));
        }
    }
}

TEST_F(TftpEndToEnd, WindowNotGrantedFallsBackToLockStepAndSurvivesLostPackets)
{
    // The server does not echo windowsize, so the client goes block by
    // block; a lost DATA and a lost ACK are each made good by a re-sent ACK.
    const std::string name = "f" + std::to_string(1428 * 3);
    for (const bool loseData : {true, false}) {
        SCOPED_TRACE(loseData ? "DATA 2 lost" : "ACK 2 lost");
        TftpClientOptions options = Options(1428);
        options.windowsize = 8;
        options.timeout = std::chrono::milliseconds(200);
        options.retries = 5;
        (loseData ? options.dropData : options.dropAck) = 2;
        const fs::path local = s_server->Folder() / "out" / name;
        const TftpTransferResult result = TftpGetFile(options, name, local.string());
        ASSERT_EQ(result.status, TFTP_CLIENT_OK) << TftpDescribe(result);
        EXPECT_TRUE(result.optionsAcknowledged);
        EXPECT_EQ(result.windowsize, 1u);
        EXPECT_EQ(result.blocks, 4u);
        EXPECT_EQ(ReadFile(local), ReadFile(s_server->Folder() / name));
        fs::remove(local);
    }
}

TEST_F(TftpEndToEnd, MissingFileIsReportedAsTheServerSaidIt)
{
    const TftpTransferResult result =
        TftpGetFile(Options(1428), "no-such-file", (s_server->Folder() / "out" / "none").string());
    EXPECT_EQ(result.status, TFTP_CLIENT_ERR_SERVER);
    EXPECT_EQ(result.errorCode, TFTP_ENOTFOUND);
    // A failed download leaves nothing behind under the local name.
    EXPECT_FALSE(fs::exists(s_server->Folder() / "out" / "none"));
}

}  // namespace
