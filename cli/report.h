#pragma once
// vindlectl's results as a human table, CSV or JSON: one record per box,
// stable snake_case keys. The table shows what people read, CSV adds what
// spreadsheets want as columns, JSON holds the whole record with nested
// values. Pure: records in, text out.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/update_engine.h"

enum class OutputFormat
{
    Table,
    Csv,
    Json,
};

// A box seen by a search.
struct FoundBox
{
    std::uint32_t ip = 0;  // network byte order
    std::uint32_t netmask = 0;
    std::uint32_t gateway = 0;
    std::string mac;           // "02:77:00:00:00:02"
    std::string adapter;       // the adapter it answered on
    bool ipConflict = false;   // another MAC claims the same address
    bool macRepeated = false;  // the MAC answered more than once
    std::string impossible{};  // why no box can have sent the reply as it is
};

// Why a search reply claiming ip and mac cannot come from a box on the
// adapter with address ownIp (all network byte order), or "" when it can.
std::string ImpossibleReply(std::uint32_t ip, const std::array<std::uint8_t, 6>& mac, std::uint32_t ownIp);

// Marks address conflicts and repeated MACs; the order is kept.
void FlagDuplicates(std::vector<FoundBox>& boxes);
std::string FormatFoundBoxes(const std::vector<FoundBox>& boxes, OutputFormat format);

// The info fields of one box, as its configuration service sent them.
struct BoxInfo
{
    std::uint32_t ip = 0;
    bool reached = false;
    std::vector<std::string> fields;
};
std::string FormatBoxInfos(const std::vector<BoxInfo>& boxes, OutputFormat format);

// A command's verdict per box (reboot, passwd).
struct BoxVerdict
{
    std::uint32_t ip = 0;
    std::string result;  // "ok" or why not
};
std::string FormatVerdicts(const std::vector<BoxVerdict>& boxes, OutputFormat format);

struct UpdateReport
{
    std::string kind;  // system, app, software
    std::string file;  // the file's name as given
    std::uint64_t fileSize = 0;
    std::string sha256;
    bool cancelled = false;
    std::vector<BoxRecord> boxes;
};
std::string FormatUpdateReport(const UpdateReport& report, OutputFormat format);
// By the file name's ending: ".json" or ".csv"; nullopt for anything else.
std::optional<OutputFormat> ReportFormatForPath(std::string_view path);
