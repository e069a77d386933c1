// Packet builders and parsers of the TFTP client, checked against the byte
// layouts of RFC 1350, 2347, 2348 and 2349.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tools/tftp-client/tftp_client.h"
#include "tools/tftp-client/tftp_packet.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes B(const std::string& text)
{
    return Bytes(text.begin(), text.end());
}

std::string S(const Bytes& bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

}  // namespace

TEST(TftpClientPacket, BuildsRequestsAsNulTerminatedFields)
{
    const std::vector<TftpOption> options = {{"blksize", "1428"}, {"tsize", "0"}};
    struct Row
    {
        const char* name;
        std::uint16_t opcode;
        std::string file;
        std::string mode;
        std::vector<TftpOption> options = {};
        std::string expected;  // empty: the request cannot be built
    } rows[] = {
        {"plain read", TFTP_RRQ, "a.bin", "octet", {}, std::string("\0\1a.bin\0octet\0", 14)},
        {"write with options", TFTP_WRQ, "x", "netascii", options,
         std::string("\0\2x\0netascii\0blksize\0001428\0tsize\0000\0", 34)},
        {"empty name still framed", TFTP_RRQ, "", "octet", {}, std::string("\0\1\0octet\0", 9)},
        {"NUL inside the name", TFTP_RRQ, std::string("a\0b", 3), "octet", {}, ""},
        {"NUL inside an option value", TFTP_RRQ, "a", "octet", {{"blksize", std::string("5\0", 2)}}, ""},
        // RFC 2347 keeps a request within 512 bytes.
        {"too long for 512 bytes", TFTP_RRQ, std::string(600, 'n'), "octet", {}, ""},
        {"exactly 512 bytes",
         TFTP_RRQ,
         std::string(502, 'n'),
         "octet",
         {},
         std::string("\0\1", 2) + std::string(502, 'n') + std::string("\0octet\0", 7)},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(S(BuildTftpRequest(row.opcode, row.file, row.mode, row.options)), row.expected);
    }
}

TEST(TftpClientPacket, BuildsAckAndErrorInNetworkOrder)
{
    std::uint8_t ack[TFTP_HEADER];
    BuildTftpAck(0xABCD, ack);
    EXPECT_EQ(S(Bytes(ack, ack + 4)), std::string("\0\4\xAB\xCD", 4));
    EXPECT_EQ(S(BuildTftpError(TFTP_EBADID, "Unknown transfer ID")),
              std::string("\0\5\0\5Unknown transfer ID\0", 24));
    // A NUL in the text would end it early on the wire; cut it there.
    EXPECT_EQ(S(BuildTftpError(0, std::string("ab\0cd", 5))), std::string("\0\5\0\0ab\0", 7));
}

TEST(TftpClientPacket, ParsesWhatAServerSends)
{
    struct Row
    {
        const char* name;
        std::string bytes;
        std::optional<std::uint16_t> opcode;  // nullopt: rejected
        std::uint16_t block = 0;
        std::size_t dataSize = 0;
        std::uint16_t errorCode = 0;
        std::string text = {};
        std::vector<TftpOption> options = {};
    } rows[] = {
        {"empty DATA ends a transfer", std::string("\0\3\0\1", 4), TFTP_DATA, 1, 0},
        {"DATA with payload", std::string("\0\3\xFF\xFFxyz", 7), TFTP_DATA, 65535, 3},
        {"DATA without block number", std::string("\0\3\0", 3), std::nullopt},
        {"ACK", std::string("\0\4\1\0", 4), TFTP_ACK, 256},
        {"ACK too short", std::string("\0\4\1", 3), std::nullopt},
        {"ERROR with text", std::string("\0\5\0\1File not found\0", 19), TFTP_ERROR, 0, 0, 1,
         "File not found"},
        {"ERROR without terminator keeps its text", std::string("\0\5\0\2nope", 8), TFTP_ERROR, 0, 0, 2,
         "nope"},
        {"ERROR without code", std::string("\0\5\0", 3), std::nullopt},
        {"OACK with two options",
         std::string("\0\6blksize\0001428\0tsize\0009\0", 23),
         TFTP_OACK,
         0,
         0,
         0,
         "",
         {{"blksize", "1428"}, {"tsize", "9"}}},
        {"empty OACK", std::string("\0\6", 2), TFTP_OACK},
        {"OACK name without value", std::string("\0\6blksize\0", 10), std::nullopt},
        {"OACK value without terminator", std::string("\0\6blksize\0001428", 14), std::nullopt},
        {"a request is nothing a client takes", std::string("\0\1a\0octet\0", 10), std::nullopt},
        {"unknown opcode", std::string("\0\11\0\0", 4), std::nullopt},
        {"one byte", std::string("\0", 1), std::nullopt},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const Bytes bytes = B(row.bytes);
        const std::optional<TftpPacket> packet = ParseTftpPacket(bytes);
        ASSERT_EQ(packet.has_value(), row.opcode.has_value());
        if (!packet)
            continue;
        EXPECT_EQ(packet->opcode, *row.opcode);
        EXPECT_EQ(packet->block, row.block);
        EXPECT_EQ(packet->data.size(), row.dataSize);
        EXPECT_EQ(packet->errorCode, row.errorCode);
        EXPECT_EQ(packet->text, row.text);
        EXPECT_EQ(packet->options, row.options);
    }
}

TEST(TftpClientPacket, ParsesOnlyPlainDecimalNumbers)
{
    struct Row
    {
        const char* text;
        std::optional<std::uint64_t> value;
    } rows[] = {
        {"0", 0},
        {"65464", 65464},
        {"18446744073709551615", UINT64_MAX},
        {"18446744073709551616", std::nullopt},
        {"", std::nullopt},
        {"-1", std::nullopt},
        {"+1", std::nullopt},
        {" 1", std::nullopt},
        {"1a", std::nullopt},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(ParseTftpNumber(row.text), row.value);
    }
}

TEST(TftpClientPacket, AcceptsOnlyOackTermsWithinTheRequest)
{
    const std::vector<TftpOption> asked = {{"blksize", "8192"}, {"tsize", "0"}};
    struct Row
    {
        const char* name;
        std::vector<TftpOption> oack;
        bool ok;
        std::uint32_t blksize;
        std::optional<std::uint64_t> tsize;
    } rows[] = {
        {"granted as asked", {{"blksize", "8192"}, {"tsize", "70000"}}, true, 8192, 70000},
        {"names compare without case", {{"BlkSize", "8192"}}, true, 8192, std::nullopt},
        // RFC 2348: the server may lower the size; 8 is the smallest legal one.
        {"lowered", {{"blksize", "1024"}}, true, 1024, std::nullopt},
        {"lowered to the minimum", {{"blksize", "8"}}, true, 8, std::nullopt},
        {"no options granted: RFC 1350 sizes", {}, true, 512, std::nullopt},
        {"raised above the request", {{"blksize", "8193"}}, false, 0, std::nullopt},
        {"below the minimum", {{"blksize", "7"}}, false, 0, std::nullopt},
        {"not a number", {{"tsize", "big"}}, false, 0, std::nullopt},
        {"never requested", {{"windowsize", "4"}}, false, 0, std::nullopt},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const TftpOackTerms terms = TftpAcceptOack(asked, row.oack);
        EXPECT_EQ(terms.error.empty(), row.ok) << terms.error;
        if (!row.ok)
            continue;
        EXPECT_EQ(terms.blksize, row.blksize);
        EXPECT_EQ(terms.tsize, row.tsize);
    }
}

TEST(TftpClientPacket, ConvertsNetasciiBothWays)
{
    struct Row
    {
        const char* name;
        std::string local;
        std::string wire;
    } rows[] = {
        {"line ends", "a\nb\n", "a\r\nb\r\n"},
        {"bare CR", "a\rb", std::string("a\r\0b", 4)},
        {"CR before LF stays two line ends apart", "\r\n", std::string("\r\0\r\n", 4)},
        {"trailing CR", "x\r", std::string("x\r\0", 3)},
        {"nothing to convert", "plain", "plain"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Bytes wire;
        TftpNetasciiEncode(B(row.local), wire);
        EXPECT_EQ(S(wire), row.wire);
        // Decoding must not depend on where the blocks split the stream.
        for (std::size_t cut = 0; cut <= row.wire.size(); ++cut) {
            TftpNetasciiDecoder decoder;
            Bytes local;
            decoder.Decode(B(row.wire.substr(0, cut)), local);
            decoder.Decode(B(row.wire.substr(cut)), local);
            decoder.Finish(local);
            EXPECT_EQ(S(local), row.local) << "split at " << cut;
        }
    }
}

TEST(TftpClientPacket, ChecksumMatchesTheStandardCrc32)
{
    // The check value of CRC-32/ISO-HDLC for "123456789".
    EXPECT_EQ(TftpCrc32(0, B("123456789")), 0xCBF43926u);
    // Fed in pieces, the checksum is the same as over the whole.
    EXPECT_EQ(TftpCrc32(TftpCrc32(0, B("1234")), B("56789")), 0xCBF43926u);
    EXPECT_EQ(TftpCrc32(0, Bytes{}), 0u);
}
