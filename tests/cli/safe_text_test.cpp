// What a box can put into vindlectl's output: escaped controls on the
// terminal, cells a spreadsheet takes as text, and JSON that survives bytes
// that are not UTF-8.

#include "cli/safe_text.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include "cli/report.h"
#include "cli/targets.h"

namespace {

TEST(SafeText, EscapesEveryControlAndLeavesOtherTextAlone)
{
    struct Row
    {
        std::string text;
        std::string shown;
    };
    const Row rows[] = {
        {"Update fehlgeschlagen: Flash voll", "Update fehlgeschlagen: Flash voll"},
        {"Größe \"ü\" € \\x1b", "Größe \"ü\" € \\x1b"},
        {"\x1b[1A\x1b[2K10.77.0.2: ok", "\\x1b[1A\\x1b[2K10.77.0.2: ok"},
        {std::string("a\0b\r\n\t\x7f", 7), "a\\x00b\\x0d\\x0a\\x09\\x7f"},
        // U+009B opens an escape sequence on a UTF-8 terminal; U+00A0 is text.
        {"\xc2\x9b"
         "2J\xc2\x80\xc2\xa0",
         "\\xc2\\x9b2J\\xc2\\x80\xc2\xa0"},
        {"\xc2", "\xc2"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.shown);
        EXPECT_EQ(EscapeControls(row.text), row.shown);
    }
}

TEST(SafeText, CsvCellsNeverStartAFormulaOrARecord)
{
    struct Row
    {
        std::string cell;
        std::string written;
    };
    const Row rows[] = {
        {"fw-1.0", "fw-1.0"},
        {"a,b", "\"a,b\""},
        {"=HYPERLINK(\"x\")", "\"'=HYPERLINK(\"\"x\"\")\""},
        {"+1", "'+1"},
        {"-1", "'-1"},
        {"@SUM(A1)", "'@SUM(A1)"},
        {"\t=1", "'\\x09=1"},
        {"\r=1", "'\\x0d=1"},
        {"x\n=1", "x\\x0a=1"},
        {"", ""},
    };
    std::vector<std::string> cells;
    std::string record;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.cell);
        EXPECT_EQ(CsvRecord({row.cell}), row.written + "\n");
        cells.push_back(row.cell);
        record += (record.empty() ? "" : ",") + row.written;
    }
    // Cells keep their places in a record, and it reads back as one line.
    EXPECT_EQ(CsvRecord(cells), record + "\n");
    const auto fields = SplitCsvLine(record);
    ASSERT_TRUE(fields);
    EXPECT_EQ(fields->size(), cells.size());
}

TEST(SafeText, EveryWriterShowsABoxTextSafely)
{
    const std::string forged = "\x1b[1A\x1b[2K10.77.0.2: ok";
    BoxInfo info;
    info.ip = *ParseIpv4("10.77.0.2");
    info.reached = true;
    info.fields = {"=cmd|' /C calc'!A0", "02-77-00-00-00-02", forged, "", "", "fw\xff"};
    BoxRecord record;
    record.ip = info.ip;
    record.result = BoxResultKind::BoxError;
    record.errorText = forged;
    record.infoBefore = info.fields;
    UpdateReport report;
    report.file = "fw\x1b.bin";
    report.boxes = {record};
    for (const OutputFormat format : {OutputFormat::Table, OutputFormat::Csv}) {
        SCOPED_TRACE(static_cast<int>(format));
        for (const std::string& text : {FormatBoxInfos({info}, format), FormatUpdateReport(report, format),
                                        FormatVerdicts({{info.ip, forged}}, format)}) {
            EXPECT_EQ(text.find('\x1b'), std::string::npos) << text;
            EXPECT_NE(text.find("\\x1b[1A"), std::string::npos) << text;
        }
    }
    EXPECT_NE(FormatBoxInfos({info}, OutputFormat::Csv).find(",'=cmd|"), std::string::npos);
    // Not UTF-8: replaced, and the rest of the record is still there.
    const auto json = nlohmann::json::parse(FormatBoxInfos({info}, OutputFormat::Json));
    EXPECT_EQ(json[0]["info"]["address"], forged);
    EXPECT_EQ(json[0]["info"]["firmware"], "fw\xef\xbf\xbd");
}

}  // namespace
