// The report formats read back the way a script would read them, the
// discovery flags, and SHA-256 against the published FIPS 180 examples.

#include "cli/report.h"

#include <sstream>

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include "cli/sha256.h"
#include "cli/targets.h"

namespace {

UpdateReport SampleReport()
{
    UpdateReport report;
    report.kind = "system";
    report.file = "fw, \"new\".bin";
    report.fileSize = 300000;
    report.sha256 = std::string(64, 'a');
    BoxRecord ok;
    ok.ip = *ParseIpv4("10.77.0.2");
    ok.mac = "02:77:00:00:00:02";
    ok.result = BoxResultKind::Ok;
    ok.attempts = 2;
    ok.bytesServed = 600000;
    ok.seconds = 12.25;
    ok.infoBefore = {
        "box", "02-77-00-00-00-02", "10.77.0.2", "255.255.255.0", "0.0.0.0", "fw-1.0", "hw-1", "up", "x"};
    ok.infoAfter = ok.infoBefore;
    ok.infoAfter[5] = "fw-2.0";
    BoxRecord error;
    error.ip = *ParseIpv4("10.77.0.3");
    error.result = BoxResultKind::BoxError;
    error.errorText = "Flash voll, \"sorry\"";
    error.attempts = 1;
    BoxRecord unreachable;
    unreachable.ip = *ParseIpv4("10.77.0.50");
    unreachable.result = BoxResultKind::Unreachable;
    report.boxes = {ok, error, unreachable};
    return report;
}

TEST(Report, JsonReadsBackWithStableKeysAndNumbers)
{
    const auto json = nlohmann::json::parse(FormatUpdateReport(SampleReport(), OutputFormat::Json));
    EXPECT_EQ(json["file"]["name"], "fw, \"new\".bin");
    EXPECT_EQ(json["file"]["size"], 300000);
    EXPECT_EQ(json["file"]["sha256"], std::string(64, 'a'));
    ASSERT_EQ(json["boxes"].size(), 3u);
    const auto& ok = json["boxes"][0];
    EXPECT_EQ(ok["ip"], "10.77.0.2");
    EXPECT_EQ(ok["result"], "ok");
    EXPECT_EQ(ok["attempts"], 2);
    EXPECT_EQ(ok["bytes_served"], 600000);
    EXPECT_DOUBLE_EQ(ok["seconds"].get<double>(), 12.25);
    EXPECT_EQ(ok["info_before"]["firmware"], "fw-1.0");
    EXPECT_EQ(ok["info_after"]["firmware"], "fw-2.0");
    EXPECT_EQ(ok["info_after"]["extra"], nlohmann::json::array({"up", "x"}));
    EXPECT_EQ(json["boxes"][1]["result"], "Flash voll, \"sorry\"");
    EXPECT_FALSE(json["boxes"][1]["ok"].get<bool>());
    EXPECT_TRUE(json["boxes"][2]["info_before"].is_null());
    EXPECT_EQ(json["boxes"][2]["result"], "unreachable");
}

TEST(Report, CsvReadsBackRowForRowWithTheFileOnceAbove)
{
    std::istringstream lines(FormatUpdateReport(SampleReport(), OutputFormat::Csv));
    std::string line;
    std::getline(lines, line);
    EXPECT_EQ(line.rfind("# system update with fw, \"new\".bin, 300000 bytes, sha256 aaaa", 0), 0u) << line;
    std::vector<std::vector<std::string>> rows;
    while (std::getline(lines, line)) {
        const auto fields = SplitCsvLine(line);
        ASSERT_TRUE(fields) << line;
        rows.push_back(*fields);
    }
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[0],
              (std::vector<std::string>{"mac", "ip", "result", "attempts", "bytes_served", "seconds",
                                        "firmware_before", "firmware_after", "info_before", "info_after"}));
    EXPECT_EQ(rows[1][2], "ok");
    EXPECT_EQ(rows[1][4], "600000");
    EXPECT_EQ(rows[1][6], "fw-1.0");
    EXPECT_EQ(rows[1][7], "fw-2.0");
    EXPECT_EQ(rows[1][8], "box|02-77-00-00-00-02|10.77.0.2|255.255.255.0|0.0.0.0|fw-1.0|hw-1|up|x");
    EXPECT_EQ(rows[2][2], "Flash voll, \"sorry\"");
    EXPECT_EQ(rows[3][2], "unreachable");
    for (const auto& row : rows)
        EXPECT_EQ(row.size(), rows[0].size());
}

TEST(Report, DiscoveryCsvFeedsTargetsAndFlagsConflicts)
{
    std::vector<FoundBox> boxes = {
        {*ParseIpv4("10.77.0.2"), 0, 0, "02:77:00:00:00:02", "br0"},
        {*ParseIpv4("10.77.0.2"), 0, 0, "02:77:00:00:00:03", "br0"},
        {*ParseIpv4("10.77.0.4"), 0, 0, "02:77:00:00:00:04", "br0"},
        {*ParseIpv4("10.77.0.5"), 0, 0, "02:77:00:00:00:04", "eth1"},
    };
    FlagDuplicates(boxes);
    EXPECT_TRUE(boxes[0].ipConflict);
    EXPECT_TRUE(boxes[1].ipConflict);
    EXPECT_FALSE(boxes[2].ipConflict);
    EXPECT_FALSE(boxes[0].macRepeated);
    EXPECT_TRUE(boxes[2].macRepeated);
    EXPECT_TRUE(boxes[3].macRepeated);
    const TargetListParse again = ParseTargetList(FormatFoundBoxes(boxes, OutputFormat::Csv));
    ASSERT_TRUE(again.error.empty()) << again.error;
    ASSERT_EQ(again.targets.size(), 4u);
    EXPECT_EQ(FormatIpv4(again.targets[3].ip), "10.77.0.5");
    const auto json = nlohmann::json::parse(FormatFoundBoxes(boxes, OutputFormat::Json));
    EXPECT_TRUE(json[1]["ip_conflict"].get<bool>());
    EXPECT_TRUE(json[3]["mac_repeated"].get<bool>());
}

TEST(Report, RepliesNoBoxCanSendAreNamedAndNoted)
{
    const std::uint32_t own = *ParseIpv4("10.77.0.1");
    const MacBytes box = *ParseMac("02:77:00:00:00:02");
    const MacBytes broadcast = *ParseMac("ff:ff:ff:ff:ff:ff");
    struct Row
    {
        const char* ip;
        MacBytes mac;
        const char* why;
    };
    const Row rows[] = {
        {"10.77.0.2", box, ""},
        {"223.255.255.255", box, ""},
        {"240.0.0.1", box, ""},
        {"0.0.0.0", box, "address 0.0.0.0"},
        {"255.255.255.255", box, "broadcast address"},
        {"224.0.0.1", box, "multicast address"},
        {"239.255.255.250", box, "multicast address"},
        {"10.77.0.1", box, "this computer's own address"},
        {"10.77.0.3", broadcast, "broadcast MAC"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.ip);
        EXPECT_EQ(ImpossibleReply(*ParseIpv4(row.ip), row.mac, own), row.why);
    }
    FoundBox found{*ParseIpv4("224.0.0.1"), 0, 0, "02:77:00:00:00:02", "br0"};
    found.impossible = "multicast address";
    EXPECT_NE(FormatFoundBoxes({found}, OutputFormat::Table).find("  impossible reply (multicast address)\n"),
              std::string::npos);
    EXPECT_EQ(nlohmann::json::parse(FormatFoundBoxes({found}, OutputFormat::Json))[0]["impossible"],
              "multicast address");
}

TEST(Sha256, MatchesThePublishedExamples)
{
    struct Row
    {
        std::string input;
        const char* digest;
    };
    const Row rows[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        // 56 bytes: the padding needs a block of its own.
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.input.substr(0, 20));
        Sha256 whole;
        whole.Add({reinterpret_cast<const std::uint8_t*>(row.input.data()), row.input.size()});
        EXPECT_EQ(HexDigest(whole.Finish()), row.digest);
        // Fed in uneven pieces, the digest is the same.
        Sha256 pieces;
        for (std::size_t i = 0; i < row.input.size(); i += 63)
            pieces.Add({reinterpret_cast<const std::uint8_t*>(row.input.data()) + i,
                        std::min<std::size_t>(63, row.input.size() - i)});
        EXPECT_EQ(HexDigest(pieces.Finish()), row.digest);
    }
}

}  // namespace
