#include "cli/targets.h"

#include "platform/socket.h"

namespace {

std::optional<unsigned> ParseDecimalPart(std::string_view text, std::size_t maxDigits, unsigned maxValue)
{
    if (text.empty() || text.size() > maxDigits)
        return std::nullopt;
    unsigned value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value > maxValue)
        return std::nullopt;
    return value;
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::uint32_t PrefixMask(unsigned prefix)
{
    // Host order; a shift by 32 is undefined, so /0 is spelled out.
    return prefix == 0 ? 0 : 0xFFFFFFFFu << (32 - prefix);
}

std::string_view TrimLine(std::string_view line)
{
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
        line.remove_suffix(1);
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t'))
        line.remove_prefix(1);
    return line;
}

}  // namespace

std::optional<std::uint32_t> ParseIpv4(std::string_view text)
{
    std::uint32_t hostOrder = 0;
    for (int part = 0; part < 4; ++part) {
        const std::size_t dot = text.find('.');
        const bool last = part == 3;
        if (last != (dot == std::string_view::npos))
            return std::nullopt;
        const auto value = ParseDecimalPart(text.substr(0, dot), 3, 255);
        if (!value)
            return std::nullopt;
        hostOrder = hostOrder << 8 | *value;
        text.remove_prefix(last ? text.size() : dot + 1);
    }
    return htonl(hostOrder);
}

std::optional<MacBytes> ParseMac(std::string_view text)
{
    if (text.size() != 17)
        return std::nullopt;
    const char separator = text[2];
    if (separator != ':' && separator != '-')
        return std::nullopt;
    MacBytes mac{};
    for (std::size_t i = 0; i < 6; ++i) {
        const int high = HexDigit(text[i * 3]);
        const int low = HexDigit(text[i * 3 + 1]);
        if (high < 0 || low < 0 || (i < 5 && text[i * 3 + 2] != separator))
            return std::nullopt;
        mac[i] = static_cast<std::uint8_t>(high << 4 | low);
    }
    return mac;
}

std::optional<Ipv4Range> ParseCidr(std::string_view text)
{
    const std::size_t slash = text.find('/');
    if (slash == std::string_view::npos)
        return std::nullopt;
    const auto address = ParseIpv4(text.substr(0, slash));
    const auto prefix = ParseDecimalPart(text.substr(slash + 1), 2, 32);
    if (!address || !prefix)
        return std::nullopt;
    return Ipv4Range{htonl(ntohl(*address) & PrefixMask(*prefix)), *prefix};
}

bool RangeContains(const Ipv4Range& range, std::uint32_t ip)
{
    return (ntohl(ip) & PrefixMask(range.prefix)) == ntohl(range.network);
}

std::optional<PortRange> ParsePortRange(std::string_view text)
{
    const std::size_t dash = text.find('-');
    if (dash == std::string_view::npos)
        return std::nullopt;
    const auto low = ParseDecimalPart(text.substr(0, dash), 5, 65535);
    const auto high = ParseDecimalPart(text.substr(dash + 1), 5, 65535);
    if (!low || !high || *low < 1024 || *high > 65534 || *low > *high)
        return std::nullopt;
    return PortRange{static_cast<std::uint16_t>(*low), static_cast<std::uint16_t>(*high)};
}

TargetParse ParseTarget(std::string_view text)
{
    Target target;
    target.text = std::string(text);
    if (text.empty())
        return {std::nullopt, "empty target"};
    if (text.find('/') != std::string_view::npos) {
        const auto range = ParseCidr(text);
        if (!range)
            return {std::nullopt, "not a range like 10.77.0.0/24 (prefix 0 to 32)"};
        target.kind = TargetKind::Range;
        target.range = *range;
        return {target, {}};
    }
    if (text.find(':') != std::string_view::npos || text.find('-') != std::string_view::npos) {
        const auto mac = ParseMac(text);
        if (!mac)
            return {std::nullopt, "not a MAC like 02:77:00:00:00:02"};
        target.kind = TargetKind::Mac;
        target.mac = *mac;
        return {target, {}};
    }
    const auto ip = ParseIpv4(text);
    if (!ip)
        return {std::nullopt, "not an IPv4 address, MAC or range"};
    target.ip = *ip;
    return {target, {}};
}

std::optional<std::vector<std::string>> SplitCsvLine(std::string_view line)
{
    std::vector<std::string> fields;
    std::string field;
    std::size_t i = 0;
    while (true) {
        field.clear();
        if (i < line.size() && line[i] == '"') {
            ++i;
            while (true) {
                if (i >= line.size())
                    return std::nullopt;
                if (line[i] == '"') {
                    if (i + 1 < line.size() && line[i + 1] == '"') {
                        field += '"';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                field += line[i++];
            }
            if (i < line.size() && line[i] != ',')
                return std::nullopt;
        } else {
            while (i < line.size() && line[i] != ',')
                field += line[i++];
        }
        fields.push_back(field);
        if (i >= line.size())
            return fields;
        ++i;  // the comma
    }
}

std::string CsvField(std::string_view value)
{
    if (value.find_first_of(",\"\r\n") == std::string_view::npos)
        return std::string(value);
    std::string quoted = "\"";
    for (const char c : value) {
        quoted += c;
        if (c == '"')
            quoted += '"';
    }
    return quoted + '"';
}

TargetListParse ParseTargetList(std::string_view text)
{
    TargetListParse result;
    std::size_t ipColumn = 0;
    std::size_t macColumn = 0;
    bool csv = false;
    std::size_t lineNumber = 0;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view raw = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        ++lineNumber;
        const std::string_view line = TrimLine(raw);
        const std::string where = "line " + std::to_string(lineNumber) + ": ";
        if (lineNumber == 1 && line.substr(0, 3) == "ip,") {
            const auto header = SplitCsvLine(line);
            csv = true;
            macColumn = header ? header->size() : 0;
            for (std::size_t i = 0; header && i < header->size(); ++i)
                if ((*header)[i] == "mac")
                    macColumn = i;
            continue;
        }
        if (line.empty() || line.front() == '#')
            continue;
        std::string_view value = line;
        std::vector<std::string> fields;
        if (csv) {
            auto split = SplitCsvLine(line);
            if (!split)
                return {{}, where + "broken CSV quoting"};
            fields = std::move(*split);
            if (ipColumn < fields.size() && !fields[ipColumn].empty())
                value = fields[ipColumn];
            else if (macColumn < fields.size())
                value = fields[macColumn];
            else
                return {{}, where + "no ip or mac column"};
        }
        TargetParse parsed = ParseTarget(value);
        if (!parsed.target)
            return {{}, where + std::string(value) + ": " + parsed.error};
        result.targets.push_back(std::move(*parsed.target));
    }
    return result;
}
