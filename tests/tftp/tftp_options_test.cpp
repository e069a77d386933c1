// Option negotiation (RFC 2347/2348/2349 and the interval option), over
// requests parsed from hand-made packets.

#include <gtest/gtest.h>

#include "tftp/tftp_options.h"
#include "tftp/tftp_request.h"
#include "tftp_test_support.h"

namespace {

using OptionList = std::vector<std::pair<std::string, std::string>>;

TftpNegotiation Negotiate(const OptionList& options, std::uint64_t fileSize = 700,
                          std::uint32_t maxBlockSize = TFTP_MAX_BLKSIZE, std::uint16_t interval = 3,
                          std::uint32_t maxWindowSize = 1)
{
    const Bytes packet = Request(TFTP_RRQ, "f", "octet", options);
    const TftpRequestParse parse = ParseTftpRequest(packet);
    EXPECT_TRUE(parse.ok);
    TftpOptionLimits limits;
    limits.maxBlockSize = maxBlockSize;
    limits.defaultInterval = interval;
    limits.maxWindowSize = maxWindowSize;
    limits.fileSize = fileSize;
    return NegotiateOptions(parse.request, limits);
}

OptionList Echoed(const TftpNegotiation& n)
{
    Packet packet;
    packet.bytes.assign(n.oack.begin(), n.oack.begin() + static_cast<std::ptrdiff_t>(n.oackLength));
    return packet.Options();
}

TEST(TftpOptions, ClampsAndEchoesEachRecognisedOption)
{
    struct Case
    {
        const char* name;
        OptionList options;
        OptionList echo;
        std::uint32_t blockSize;
        std::uint32_t timeout;
    };
    const Case cases[] = {
        {"blksize and tsize",
         {{"blksize", "1024"}, {"tsize", "0"}},
         {{"blksize", "1024"}, {"tsize", "700"}},
         1024,
         2},
        {"blksize below 512 is raised", {{"blksize", "256"}}, {{"blksize", "512"}}, 512, 2},
        {"blksize 8 is raised", {{"blksize", "8"}}, {{"blksize", "512"}}, 512, 2},
        {"largest blksize", {{"blksize", "65464"}}, {{"blksize", "65464"}}, 65464, 2},
        // 65465 and more do not fit one IPv4 datagram with the header.
        {"blksize above the maximum", {{"blksize", "100000"}}, {{"blksize", "65464"}}, 65464, 2},
        // Taken as an unsigned 32-bit number, -1 is very large.
        {"negative blksize", {{"blksize", "-1"}}, {{"blksize", "65464"}}, 65464, 2},
        {"blank before the value", {{"blksize", " 1024"}}, {{"blksize", "1024"}}, 1024, 2},
        {"name keeps its case", {{"BlkSize", "2048"}}, {{"BlkSize", "2048"}}, 2048, 2},
        {"interval 0 becomes 1", {{"interval", "0"}}, {{"interval", "1"}}, 512, 1},
        {"interval 200 becomes 120", {{"interval", "200"}}, {{"interval", "120"}}, 512, 60},
        {"interval 5 rounds up", {{"interval", "5"}}, {{"interval", "5"}}, 512, 3},
        {"unknown option skipped", {{"windowsize", "4"}}, {}, 512, 2},
        {"last occurrence wins",
         {{"blksize", "1024"}, {"blksize", "2048"}},
         {{"blksize", "1024"}, {"blksize", "2048"}},
         2048,
         2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const TftpNegotiation n = Negotiate(c.options);
        EXPECT_TRUE(n.oackMode);
        EXPECT_EQ(Echoed(n), c.echo);
        EXPECT_EQ(n.blockSize, c.blockSize);
        EXPECT_EQ(n.timeoutSeconds, c.timeout);
    }
}

TEST(TftpOptions, WithoutOptionsNoOackAndDefaults)
{
    const TftpNegotiation n = Negotiate({}, 700, TFTP_MAX_BLKSIZE, 120);
    EXPECT_FALSE(n.oackMode);
    EXPECT_EQ(n.blockSize, 512u);
    EXPECT_EQ(n.timeoutSeconds, 60u);  // half of the interval 120
}

TEST(TftpOptions, ConfiguredMaximumLimitsTheGrant)
{
    const TftpNegotiation n = Negotiate({{"blksize", "9000"}}, 0, 1468);
    EXPECT_EQ(n.blockSize, 1468u);
}

TEST(TftpOptions, OackNeverExceedsItsPacketAndUnechoedOptionsAreNotApplied)
{
    // 60 tsize options fit the 512-byte request (8 bytes each) but their echo
    // with a ten-digit size (17 bytes each) does not fit 512 bytes.
    OptionList options(60, {"tsize", "0"});
    options.emplace_back("blksize", "4096");
    const TftpNegotiation n = Negotiate(options, 4000000000ull);
    EXPECT_LE(n.oackLength, TFTP_OACK_MAX);
    const OptionList echo = Echoed(n);
    ASSERT_FALSE(echo.empty());
    for (const auto& [name, value] : echo)
        EXPECT_EQ(name, "tsize");
    // The blksize row did not fit, so the client falls back to 512 and so
    // must the server.
    EXPECT_EQ(n.blockSize, 512u);
}

TEST(TftpOptions, WindowSizeIsGrantedUpToTheConfiguredMaximum)
{
    struct Case
    {
        const char* name;
        std::uint32_t maxWindowSize;
        OptionList options;
        OptionList echo;
        std::uint32_t windowSize;
    };
    const Case cases[] = {
        // The default server keeps lock-step and does not know the option.
        {"lock-step server", 1, {{"windowsize", "16"}}, {}, 1},
        {"below the maximum", 64, {{"windowsize", "16"}}, {{"windowsize", "16"}}, 16},
        {"above the maximum", 64, {{"WindowSize", "100"}}, {{"WindowSize", "64"}}, 64},
        // A window carries at most 64 KiB: 128 blocks of 512 bytes, 8 of 8192.
        {"far above every limit", 65535, {{"windowsize", "99999999999"}}, {{"windowsize", "128"}}, 128},
        {"bytes bound the window",
         64,
         {{"windowsize", "16"}, {"blksize", "8192"}},
         {{"windowsize", "8"}, {"blksize", "8192"}},
         8},
        {"exactly 64 KiB",
         64,
         {{"blksize", "4096"}, {"windowsize", "16"}},
         {{"blksize", "4096"}, {"windowsize", "16"}},
         16},
        // Two blocks of 65464 would exceed it: lock-step, the option unknown.
        {"largest blocks", 64, {{"blksize", "65464"}, {"windowsize", "4"}}, {{"blksize", "65464"}}, 1},
        {"one block", 64, {{"windowsize", "1"}}, {{"windowsize", "1"}}, 1},
        // RFC 7440 allows 1..65535: 0 and text that is no number are
        // skipped like an unknown option, and the transfer stays lock-step.
        {"zero", 64, {{"windowsize", "0"}, {"blksize", "1024"}}, {{"blksize", "1024"}}, 1},
        {"no number", 64, {{"windowsize", "many"}}, {}, 1},
        {"negative", 64, {{"windowsize", "-4"}}, {}, 1},
        {"empty", 64, {{"windowsize", ""}}, {}, 1},
        {"last occurrence wins",
         64,
         {{"windowsize", "8"}, {"windowsize", "4"}},
         {{"windowsize", "8"}, {"windowsize", "4"}},
         4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const TftpNegotiation n = Negotiate(c.options, 700, TFTP_MAX_BLKSIZE, 3, c.maxWindowSize);
        EXPECT_TRUE(n.oackMode);
        EXPECT_EQ(Echoed(n), c.echo);
        EXPECT_EQ(n.windowSize, c.windowSize);
    }
}

TEST(TftpOptions, TimeoutIsHalfTheIntervalRoundedUp)
{
    EXPECT_EQ(TimeoutForInterval(3), 2u);
    EXPECT_EQ(TimeoutForInterval(1), 1u);
    EXPECT_EQ(TimeoutForInterval(120), 60u);
}

}  // namespace
