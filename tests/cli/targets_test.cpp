// The parsers of vindlectl's command-line values, as tables of accepted and
// refused texts.

#include "cli/targets.h"

#include <arpa/inet.h>

#include <gtest/gtest.h>

namespace {

TEST(Targets, TellsAddressesMacsAndRangesApartAndRefusesNearMisses)
{
    struct Row
    {
        const char* text;
        bool ok;
        TargetKind kind;
        const char* shown;  // the address, MAC or network as vindlectl prints it
    };
    const Row rows[] = {
        {"10.77.0.2", true, TargetKind::Address, "10.77.0.2"},
        {"0.0.0.0", true, TargetKind::Address, "0.0.0.0"},
        {"255.255.255.255", true, TargetKind::Address, "255.255.255.255"},
        {"02:77:00:00:00:0A", true, TargetKind::Mac, "02:77:00:00:00:0a"},
        {"02-77-00-00-00-0a", true, TargetKind::Mac, "02:77:00:00:00:0a"},
        // Host bits are cleared, so the range means what a person meant.
        {"10.77.0.5/24", true, TargetKind::Range, "10.77.0.0"},
        {"10.77.0.0/0", true, TargetKind::Range, "0.0.0.0"},
        {"10.77.0.9/32", true, TargetKind::Range, "10.77.0.9"},
        {"", false, {}, ""},
        {"10.77.0", false, {}, ""},
        {"10.77.0.2.", false, {}, ""},
        {"10.77.0.256", false, {}, ""},
        {"10.77.0.0002", false, {}, ""},
        {" 10.77.0.2", false, {}, ""},
        {"10.77.0.+2", false, {}, ""},
        {"10..0.2", false, {}, ""},
        {"box-1", false, {}, ""},
        {"02:77:00:00:00", false, {}, ""},
        {"02:77-00:00:00:0a", false, {}, ""},
        {"02:77:00:00:00:0g", false, {}, ""},
        {"02:77:00:00:00:0a:", false, {}, ""},
        {"10.77.0.0/33", false, {}, ""},
        {"10.77.0.0/", false, {}, ""},
        {"10.77.0.0/2a", false, {}, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        const TargetParse parsed = ParseTarget(row.text);
        ASSERT_EQ(parsed.target.has_value(), row.ok) << parsed.error;
        if (!row.ok) {
            EXPECT_FALSE(parsed.error.empty());
            continue;
        }
        EXPECT_EQ(parsed.target->kind, row.kind);
        switch (row.kind) {
        case TargetKind::Address:
            EXPECT_EQ(FormatIpv4(parsed.target->ip), row.shown);
            break;
        case TargetKind::Mac:
            EXPECT_EQ(FormatMac(parsed.target->mac), row.shown);
            break;
        case TargetKind::Range:
            EXPECT_EQ(FormatIpv4(parsed.target->range.network), row.shown);
            break;
        }
    }
    // An embedded NUL is part of the text, not its end.
    EXPECT_FALSE(ParseTarget(std::string_view("10.77.0.2\0x", 11)).target);
}

TEST(Targets, RangeContainsExactlyItsAddresses)
{
    const Ipv4Range range = *ParseCidr("10.77.0.0/30");
    EXPECT_TRUE(RangeContains(range, *ParseIpv4("10.77.0.0")));
    EXPECT_TRUE(RangeContains(range, *ParseIpv4("10.77.0.3")));
    EXPECT_FALSE(RangeContains(range, *ParseIpv4("10.77.0.4")));
    EXPECT_FALSE(RangeContains(range, *ParseIpv4("10.78.0.1")));
    EXPECT_TRUE(RangeContains(*ParseCidr("1.2.3.4/0"), *ParseIpv4("200.1.1.1")));
    // Ranges compare by what they cover: host bits do not count, the prefix
    // does.
    EXPECT_EQ(*ParseCidr("10.77.0.5/24"), *ParseCidr("10.77.0.0/24"));
    EXPECT_NE(*ParseCidr("10.77.0.0/24"), *ParseCidr("10.77.0.0/25"));
}

TEST(Targets, PortRangeStaysWithinWhatTheServerAccepts)
{
    struct Row
    {
        const char* text;
        bool ok;
    };
    const Row rows[] = {{"50000-50100", true}, {"1024-1024", true},    {"65534-65534", true},
                        {"1023-2000", false},  {"2000-65535", false},  {"3000-2000", false},
                        {"50000", false},      {"-5", false},          {"50000-", false},
                        {"5e4-6e4", false},    {"99999-100000", false}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(ParsePortRange(row.text).has_value(), row.ok);
    }
}

TEST(Targets, CsvLinesSplitWithQuotesAndRefuseBrokenOnes)
{
    struct Row
    {
        const char* text;
        std::optional<std::vector<std::string>> fields;
    };
    const Row rows[] = {
        {"", std::vector<std::string>{""}},
        {"a,b", std::vector<std::string>{"a", "b"}},
        {"a,,", std::vector<std::string>{"a", "", ""}},
        {"\"a,b\",c", std::vector<std::string>{"a,b", "c"}},
        {"\"say \"\"hi\"\"\"", std::vector<std::string>{"say \"hi\""}},
        {"\"open", std::nullopt},
        {"\"a\"b", std::nullopt},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(SplitCsvLine(row.text), row.fields);
        if (row.fields && row.fields->size() == 1) {
            EXPECT_EQ(SplitCsvLine(CsvField((*row.fields)[0])), row.fields);
        }
    }
}

TEST(Targets, ReadsDiscoverCsvAndPlainLists)
{
    // What `vindlectl discover --format csv` writes; a row without an
    // address falls back to its MAC.
    const TargetListParse csv = ParseTargetList(
        "ip,mac,netmask,gateway,adapter,note\r\n"
        "10.77.0.2,02:77:00:00:00:02,255.255.255.0,0.0.0.0,br0,\r\n"
        ",02:77:00:00:00:03,255.255.255.0,0.0.0.0,br0,\"ip claimed by another mac; mac seen twice\"\n");
    ASSERT_TRUE(csv.error.empty()) << csv.error;
    ASSERT_EQ(csv.targets.size(), 2u);
    EXPECT_EQ(csv.targets[0].kind, TargetKind::Address);
    EXPECT_EQ(FormatIpv4(csv.targets[0].ip), "10.77.0.2");
    EXPECT_EQ(csv.targets[1].kind, TargetKind::Mac);

    const TargetListParse plain =
        ParseTargetList("# lab boxes\n10.77.0.2\n\n  02:77:00:00:00:03  \n10.77.1.0/24");
    ASSERT_TRUE(plain.error.empty()) << plain.error;
    ASSERT_EQ(plain.targets.size(), 3u);
    EXPECT_EQ(plain.targets[2].kind, TargetKind::Range);

    EXPECT_TRUE(ParseTargetList("").targets.empty());
    const TargetListParse bad = ParseTargetList("10.77.0.2\n10.77.0.300\n");
    EXPECT_TRUE(bad.targets.empty());
    EXPECT_EQ(bad.error.rfind("line 2: 10.77.0.300: ", 0), 0u) << bad.error;
    EXPECT_EQ(ParseTargetList("ip,mac\n\"10.77.0.2,x\n").error.rfind("line 2:", 0), 0u);
}

}  // namespace
