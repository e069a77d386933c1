#include "cli/report.h"

#include <algorithm>
#include <cstdio>
#include <map>

#include "platform/socket.h"

#include <nlohmann/json.hpp>

#include "cli/safe_text.h"
#include "cli/targets.h"
#include "config/cfg_info_fields.h"

namespace {

// The info fields after the named ones are listed as "extra".
constexpr std::size_t INFO_NAMED = std::size(INFO_FIELD_NAMES);

nlohmann::json InfoJson(const std::vector<std::string>& fields)
{
    nlohmann::json info = nlohmann::json::object();
    if (fields.empty())
        return nullptr;
    for (std::size_t i = 0; i < INFO_NAMED; ++i)
        info[INFO_FIELD_NAMES[i]] = i < fields.size() ? fields[i] : std::string();
    nlohmann::json extra = nlohmann::json::array();
    for (std::size_t i = INFO_NAMED; i < fields.size(); ++i)
        extra.push_back(fields[i]);
    info["extra"] = extra;
    return info;
}

std::string Field(const std::vector<std::string>& fields, std::size_t index)
{
    return index < fields.size() ? fields[index] : std::string();
}

std::string JoinFields(const std::vector<std::string>& fields, std::size_t from)
{
    std::string joined;
    for (std::size_t i = from; i < fields.size(); ++i)
        joined += (i == from ? "" : "|") + fields[i];
    return joined;
}

// A box's text may hold bytes that are not UTF-8; they are shown replaced
// instead of ending the program.
std::string Dump(const nlohmann::json& json)
{
    return json.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

// Rows as CSV (header first) or as a table with columns padded to width.
std::string Rows(std::vector<std::vector<std::string>> rows, OutputFormat format)
{
    std::string text;
    if (format == OutputFormat::Csv) {
        for (const auto& row : rows)
            text += CsvRecord(row);
        return text;
    }
    for (auto& row : rows)
        for (std::string& cell : row)
            cell = EscapeControls(cell);
    std::vector<std::size_t> widths;
    for (const auto& row : rows)
        for (std::size_t i = 0; i < row.size(); ++i) {
            widths.resize(std::max(widths.size(), row.size()));
            widths[i] = std::max(widths[i], row[i].size());
        }
    for (const auto& row : rows) {
        std::string line;
        for (std::size_t i = 0; i < row.size(); ++i) {
            line += row[i];
            if (i + 1 < row.size())
                line += std::string(widths[i] - row[i].size() + 2, ' ');
        }
        text += line + '\n';
    }
    return text;
}

std::string ImpossibleNote(const FoundBox& box)
{
    return "impossible reply (" + box.impossible + ")";
}

std::string Seconds(double seconds)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", seconds);
    return text;
}

}  // namespace

void FlagDuplicates(std::vector<FoundBox>& boxes)
{
    std::map<std::uint32_t, std::vector<std::size_t>> byIp;
    std::map<std::string, std::size_t> macCount;
    for (std::size_t i = 0; i < boxes.size(); ++i) {
        byIp[boxes[i].ip].push_back(i);
        ++macCount[boxes[i].mac];
    }
    for (auto& [ip, indexes] : byIp)
        for (std::size_t i : indexes)
            for (std::size_t j : indexes)
                if (boxes[i].mac != boxes[j].mac)
                    boxes[i].ipConflict = true;
    for (FoundBox& box : boxes)
        box.macRepeated = macCount[box.mac] > 1;
}

std::string ImpossibleReply(std::uint32_t ip, const std::array<std::uint8_t, 6>& mac, std::uint32_t ownIp)
{
    const std::uint32_t host = ntohl(ip);
    if (host == 0)
        return "address 0.0.0.0";
    if (host == 0xffffffffu)
        return "broadcast address";
    if (host >> 28 == 0xe)
        return "multicast address";
    if (ip == ownIp)
        return "this computer's own address";
    if (std::all_of(mac.begin(), mac.end(), [](std::uint8_t b) { return b == 0xff; }))
        return "broadcast MAC";
    return {};
}

std::string FormatFoundBoxes(const std::vector<FoundBox>& boxes, OutputFormat format)
{
    if (format == OutputFormat::Json) {
        nlohmann::json list = nlohmann::json::array();
        for (const FoundBox& box : boxes)
            list.push_back({{"ip", FormatIpv4(box.ip)},
                            {"mac", box.mac},
                            {"netmask", FormatIpv4(box.netmask)},
                            {"gateway", FormatIpv4(box.gateway)},
                            {"adapter", box.adapter},
                            {"ip_conflict", box.ipConflict},
                            {"mac_repeated", box.macRepeated},
                            {"impossible", box.impossible.empty() ? nlohmann::json(nullptr)
                                                                  : nlohmann::json(box.impossible)}});
        return Dump(list);
    }
    std::vector<std::vector<std::string>> rows;
    rows.push_back({"ip", "mac", "netmask", "gateway", "adapter", "note"});
    for (const FoundBox& box : boxes) {
        std::string note;
        if (box.ipConflict)
            note = "ip claimed by another mac";
        if (box.macRepeated)
            note += std::string(note.empty() ? "" : "; ") + "mac seen twice";
        if (!box.impossible.empty())
            note += (note.empty() ? "" : "; ") + ImpossibleNote(box);
        rows.push_back({FormatIpv4(box.ip), box.mac, FormatIpv4(box.netmask), FormatIpv4(box.gateway),
                        box.adapter, note});
    }
    return Rows(rows, format);
}

std::string FormatBoxInfos(const std::vector<BoxInfo>& boxes, OutputFormat format)
{
    if (format == OutputFormat::Json) {
        nlohmann::json list = nlohmann::json::array();
        for (const BoxInfo& box : boxes)
            list.push_back({{"target", FormatIpv4(box.ip)},
                            {"reached", box.reached},
                            {"info", box.reached ? InfoJson(box.fields) : nlohmann::json(nullptr)}});
        return Dump(list);
    }
    std::vector<std::vector<std::string>> rows;
    std::vector<std::string> header = {"target", "result"};
    header.insert(header.end(), std::begin(INFO_FIELD_NAMES), std::end(INFO_FIELD_NAMES));
    header.push_back("extra");
    rows.push_back(header);
    for (const BoxInfo& box : boxes) {
        std::vector<std::string> row = {FormatIpv4(box.ip), box.reached ? "ok" : "unreachable"};
        for (std::size_t i = 0; i < INFO_NAMED; ++i)
            row.push_back(Field(box.fields, i));
        row.push_back(JoinFields(box.fields, INFO_NAMED));
        rows.push_back(row);
    }
    return Rows(rows, format);
}

std::string FormatVerdicts(const std::vector<BoxVerdict>& boxes, OutputFormat format)
{
    if (format == OutputFormat::Json) {
        nlohmann::json list = nlohmann::json::array();
        for (const BoxVerdict& box : boxes)
            list.push_back({{"target", FormatIpv4(box.ip)}, {"result", box.result}});
        return Dump(list);
    }
    std::vector<std::vector<std::string>> rows = {{"target", "result"}};
    for (const BoxVerdict& box : boxes)
        rows.push_back({FormatIpv4(box.ip), box.result});
    return Rows(rows, format);
}

std::string FormatUpdateReport(const UpdateReport& report, OutputFormat format)
{
    if (format == OutputFormat::Json) {
        nlohmann::json boxes = nlohmann::json::array();
        for (const BoxRecord& box : report.boxes)
            boxes.push_back({{"mac", box.mac},
                             {"ip", FormatIpv4(box.ip)},
                             {"result", ResultText(box)},
                             {"ok", box.result == BoxResultKind::Ok},
                             {"attempts", box.attempts},
                             {"bytes_served", box.bytesServed},
                             {"seconds", box.seconds},
                             {"info_before", InfoJson(box.infoBefore)},
                             {"info_after", InfoJson(box.infoAfter)}});
        const nlohmann::json root = {
            {"kind", report.kind},
            {"file", {{"name", report.file}, {"size", report.fileSize}, {"sha256", report.sha256}}},
            {"cancelled", report.cancelled},
            {"boxes", boxes}};
        return Dump(root);
    }
    std::vector<std::vector<std::string>> rows;
    rows.push_back({"mac", "ip", "result", "attempts", "bytes_served", "seconds", "firmware_before",
                    "firmware_after", "info_before", "info_after"});
    for (const BoxRecord& box : report.boxes)
        rows.push_back({box.mac, FormatIpv4(box.ip), ResultText(box), std::to_string(box.attempts),
                        std::to_string(box.bytesServed), Seconds(box.seconds),
                        Field(box.infoBefore, INFO_FIELD_FIRMWARE), Field(box.infoAfter, INFO_FIELD_FIRMWARE),
                        JoinFields(box.infoBefore, 0), JoinFields(box.infoAfter, 0)});
    const std::string head = "# " + EscapeControls(report.kind) + " update with " +
                             EscapeControls(report.file) + ", " + std::to_string(report.fileSize) +
                             " bytes, sha256 " + report.sha256 + (report.cancelled ? ", cancelled" : "") +
                             "\n";
    if (format == OutputFormat::Table) {
        // The table is for people: the long info columns stay in the files.
        for (auto& row : rows)
            row.resize(8);
        return Rows(rows, format) + head.substr(2);
    }
    return head + Rows(rows, format);
}

std::optional<OutputFormat> ReportFormatForPath(std::string_view path)
{
    auto endsWith = [&](std::string_view tail) {
        return path.size() > tail.size() && path.substr(path.size() - tail.size()) == tail;
    };
    if (endsWith(".json"))
        return OutputFormat::Json;
    if (endsWith(".csv"))
        return OutputFormat::Csv;
    return std::nullopt;
}
