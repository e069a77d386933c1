// INI configuration, listening sockets and start-up summary of a TFTP
// server. Runs on the thread that starts the server; see tftp_config.h.

#include "tftp/tftp_config.h"

#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>

#include "platform/datagrams.h"
#include "platform/file.h"
#include "platform/native_types.h"
#include "platform/socket.h"

#include "tftp/tftp_options.h"
#include "tftp/tftp_report.h"
#include "tftp/tftp_request.h"

namespace {

std::string Lowercase(std::string_view text)
{
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return out;
}

std::string WithSeparator(std::string_view path)
{
    std::string out(path);
    if (out.empty() || out.back() != '/')
        out += '/';
    return out;
}

// Dotted IPv4 address to a network-order number; nullopt-like false on error.
bool ParseDotted(std::string_view text, std::uint32_t& ip)
{
    std::string copy(text);
    in_addr address{};
    if (inet_pton(AF_INET, copy.c_str(), &address) != 1)
        return false;
    ip = address.s_addr;
    return true;
}

std::string Dotted(std::uint32_t networkOrder)
{
    char text[INET_ADDRSTRLEN] = "";
    in_addr address{};
    address.s_addr = networkOrder;
    inet_ntop(AF_INET, &address, text, sizeof text);
    return text;
}

bool ListenAddressSyntaxOk(std::string_view address)
{
    int dots = 0;
    for (char c : address) {
        if (c == '.')
            ++dots;
        else if (c < '0' || c > '9')
            return false;
    }
    return dots == 3;
}

// Adds an address unless it is taken already; false when the table is full.
bool AddListenAddress(TftpConfig& config, std::uint32_t ip, std::uint16_t port)
{
    for (std::size_t i = 0; i < TFTP_MAX_LISTEN; ++i) {
        if (config.listenIp[i] == ip)
            return true;
        if (config.listenIp[i] == 0) {
            config.listenIp[i] = ip;
            config.listenPort[i] = port;
            return true;
        }
    }
    return false;
}

bool ListenTableFull(const TftpConfig& config)
{
    return config.listenIp[TFTP_MAX_LISTEN - 1] != 0;
}

void ApplyHomeEntry(const std::string& entry, TftpConfig& config, const TftpReporter& reporter)
{
    TftpHomeEntry& first = config.homes[0];
    const std::size_t equals = entry.find('=');
    if (equals == std::string::npos) {
        if (!first.alias.empty())
            ReportLine(reporter, "Section [HOME], alias and bare path mixup, entry %s ignored",
                       entry.c_str());
        else if (!first.path.empty())
            ReportLine(reporter, "Section [HOME], Duplicate Path: %s ignored", entry.c_str());
        else
            first.path = WithSeparator(entry);
        return;
    }
    if (first.alias.empty() && !first.path.empty()) {
        ReportLine(reporter, "Section [HOME], alias and bare path mixup, entry %s ignored", entry.c_str());
        return;
    }
    const std::string alias = entry.substr(0, equals);
    const std::string path = entry.substr(equals + 1);
    if (alias.find_first_of("/\\><.") != std::string::npos) {
        ReportLine(reporter, "Section [HOME], invalid chars in alias %s, entry ignored", alias.c_str());
        return;
    }
    if (alias.empty() || alias.size() > TFTP_MAX_ALIAS || path.empty()) {
        ReportLine(reporter, "Section [HOME], alias name too large");
        return;
    }
    for (TftpHomeEntry& home : config.homes) {
        if (home.alias.empty()) {
            home.alias = alias;
            home.path = WithSeparator(path);
            return;
        }
        if (EqualsNoCase(home.alias, alias)) {
            ReportLine(reporter, "Section [HOME], Duplicate Entry: %s ignored", entry.c_str());
            return;
        }
    }
    // All entries taken: dropped without a message.
}

void ApplyPortRange(const std::string& value, TftpConfig& config, const TftpReporter& reporter)
{
    config.portLow = 0;
    config.portHigh = 0;
    const std::size_t hyphen = value.find('-');
    if (hyphen == std::string::npos) {
        ReportLine(reporter, "Invalid port range %s\n", value.c_str());
        return;
    }
    const std::string lowText = value.substr(0, hyphen);
    const std::uint64_t low = ParseDecimal(lowText);
    const std::uint64_t high = ParseDecimal(std::string_view(value).substr(hyphen + 1));
    const auto inRange = [](std::uint64_t port) { return port >= 1024 && port <= 65534; };
    if (!inRange(low) || !inRange(high) || low > high) {
        ReportLine(reporter, "Invalid port range %s\n", lowText.c_str());
        return;
    }
    config.portLow = static_cast<std::uint32_t>(low);
    config.portHigh = static_cast<std::uint32_t>(high);
}

// A transfer limit: a positive decimal count. Anything else keeps the
// current limit, since no limit at all is what the key exists to prevent.
std::uint32_t TransferLimit(const std::string& value, std::uint32_t current)
{
    const std::uint64_t v = SkipLeadingSpace(value).starts_with('-') ? 0 : ParseDecimal(value);
    if (v == 0)
        return current;
    return v > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<std::uint32_t>(v);
}

void ReportSummary(const TftpSettings& settings, const std::array<TftpHomeEntry, TFTP_MAX_HOMES>& homes,
                   const TftpReporter& reporter)
{
    const TftpConfig& config = settings.config;
    ReportLine(reporter, "\nStarting TFTP...");
    for (const TftpHomeEntry& home : homes)
        if (!home.path.empty())
            ReportLine(reporter, "alias /%s is mapped to %s", home.alias.c_str(), home.path.c_str());
    for (const ListenEndpoint& endpoint : config.endpoints)
        if (endpoint.ip != 0)
            ReportLine(reporter, "listening On: %s:%i", Dotted(endpoint.ip).c_str(), endpoint.port);
    if (config.clients[0].low == 0)
        ReportLine(reporter, "permitted clients: all");
    for (const ClientRange& range : config.clients) {
        if (range.low == 0)
            break;
        ReportLine(reporter, "permitted clients: %s-%s", Dotted(htonl(range.low)).c_str(),
                   Dotted(htonl(range.high)).c_str());
    }
    if (config.portLow == 0 && config.portHigh == 0)
        ReportLine(reporter, "server port range: all");
    else
        ReportLine(reporter, "server port range: %u-%u", config.portLow, config.portHigh);
    ReportLine(reporter, "max blksize: %u", settings.maxBlockSize);
    // Only a server that grants windows says so; the default summary stays.
    if (settings.maxWindowSize > 1)
        ReportLine(reporter, "max windowsize: %u", settings.maxWindowSize);
    ReportLine(reporter, "defult blksize: %u", TFTP_DEFAULT_BLKSIZE);
    ReportLine(reporter, "default interval: %u", static_cast<unsigned>(settings.defaultInterval));
    ReportLine(reporter, "overwrite existing files: %s", config.overwrite ? "yes" : "no");
}

}  // namespace

void TftpHomes::Assign(const std::array<TftpHomeEntry, TFTP_MAX_HOMES>& homes)
{
    std::lock_guard lock(m_mutex);
    m_homes = homes;
}

void TftpHomes::SetHomeDirectory(std::string_view directory)
{
    std::string path = WithSeparator(directory);
    std::lock_guard lock(m_mutex);
    m_homes[0].path = std::move(path);
}

std::array<TftpHomeEntry, TFTP_MAX_HOMES> TftpHomes::Snapshot() const
{
    std::lock_guard lock(m_mutex);
    return m_homes;
}

void ApplyLoggingSection(const IniSection& section, TftpSettings& settings, const TftpReporter& reporter)
{
    TftpConfig& config = settings.config;
    const std::size_t first = NextIniEntry(section.entries, 0, false);
    if (first == section.entries.size())
        return;
    const std::string& value = section.entries[first];
    if (EqualsNoCase(value, "None"))
        config.logLevel = TftpLogLevel::None;
    else if (EqualsNoCase(value, "Errors"))
        config.logLevel = TftpLogLevel::Errors;
    else if (EqualsNoCase(value, "All"))
        config.logLevel = TftpLogLevel::All;
    else
        ReportLine(reporter, "Section [LOGGING], Invalid Logging Level: %s ignored", value.c_str());
}

void ApplyListenOnSection(const IniSection& section, TftpSettings& settings, const TftpReporter& reporter)
{
    TftpConfig& config = settings.config;
    for (std::size_t i = NextIniEntry(section.entries, 0, false); i < section.entries.size();
         i = NextIniEntry(section.entries, i, true)) {
        if (ListenTableFull(config))
            break;
        const std::string& entry = section.entries[i];
        const std::size_t colon = entry.find(':');
        const std::string_view address = std::string_view(entry).substr(0, colon);
        std::uint32_t ip = 0;
        if (!ListenAddressSyntaxOk(address) || !ParseDotted(address, ip) || ip == 0) {
            ReportLine(reporter, "Warning: Section [LISTEN-ON], Invalid IP Address %s, ignored",
                       entry.c_str());
            continue;
        }
        std::uint16_t port = TFTP_PORT;
        if (colon != std::string::npos)
            port = static_cast<std::uint16_t>(ParseDecimal(std::string_view(entry).substr(colon + 1)));
        AddListenAddress(config, ip, port);
    }
}

void ApplyHomeSection(const IniSection& section, TftpSettings& settings, std::string_view programDirectory,
                      const TftpReporter& reporter)
{
    TftpConfig& config = settings.config;
    for (std::size_t i = NextIniEntry(section.entries, 0, false); i < section.entries.size();
         i = NextIniEntry(section.entries, i, true))
        ApplyHomeEntry(section.entries[i], config, reporter);
    config.writeGuard.programFolderIsHome = TftpHomesNameFolder(config.homes, programDirectory);
    if (config.homes[0].path.empty())
        config.homes[0].path = WithSeparator(programDirectory);
}

void ApplyOptionsSection(const IniSection& section, TftpSettings& settings, const TftpReporter& reporter)
{
    TftpConfig& config = settings.config;
    for (std::size_t i = NextIniEntry(section.entries, 0, false); i < section.entries.size();
         i = NextIniEntry(section.entries, i, true)) {
        const std::string& entry = section.entries[i];
        const std::size_t equals = entry.find('=');
        if (equals == std::string::npos)
            continue;
        const std::string key = Lowercase(std::string_view(entry).substr(0, equals));
        const std::string value = entry.substr(equals + 1);
        if (key == TFTP_OPT_BLKSIZE) {
            const std::uint64_t v = SkipLeadingSpace(value).starts_with('-') ? 0 : ParseDecimal(value);
            settings.maxBlockSize = static_cast<std::uint32_t>(
                v < TFTP_MIN_BLKSIZE ? TFTP_MIN_BLKSIZE : (v > TFTP_MAX_BLKSIZE ? TFTP_MAX_BLKSIZE : v));
        } else if (key == TFTP_OPT_WINDOWSIZE) {
            // A negative or missing number keeps lock-step, like 0.
            const std::uint64_t v = SkipLeadingSpace(value).starts_with('-') ? 0 : ParseDecimal(value);
            settings.maxWindowSize =
                static_cast<std::uint32_t>(v < 1 ? 1 : (v > TFTP_MAX_WINDOWSIZE ? TFTP_MAX_WINDOWSIZE : v));
        } else if (key == TFTP_OPT_INTERVAL) {
            std::uint16_t v = static_cast<std::uint16_t>(ParseDecimal(value));
            if (v == 0)
                v = TFTP_DEFAULT_INTERVAL;
            if (v > TFTP_MAX_INTERVAL)
                v = TFTP_MAX_INTERVAL;
            settings.defaultInterval = v;
        } else if (key == "overwrite") {
            config.overwrite = EqualsNoCase(value, "y");
        } else if (key == "port-range") {
            ApplyPortRange(value, config, reporter);
        } else if (key == "max-transfers") {
            settings.maxTransfers = TransferLimit(value, settings.maxTransfers);
        } else if (key == "max-transfers-per-client") {
            settings.maxTransfersPerClient = TransferLimit(value, settings.maxTransfersPerClient);
        } else {
            ReportLine(reporter, "Unknown Option %s\n", key.c_str());
        }
    }
}

void ApplyAllowedClientsSection(const IniSection& section, TftpSettings& settings,
                                const TftpReporter& reporter)
{
    TftpConfig& config = settings.config;
    std::size_t count = 0;
    for (std::size_t i = NextIniEntry(section.entries, 0, false); i < section.entries.size();
         i = NextIniEntry(section.entries, i, true)) {
        const std::string& entry = section.entries[i];
        const std::size_t hyphen = entry.find('-');
        std::uint32_t low = 0;
        std::uint32_t high = 0;
        bool ok = ParseDotted(std::string_view(entry).substr(0, hyphen), low);
        if (hyphen == std::string::npos)
            high = low;
        else
            ok = ok && ParseDotted(std::string_view(entry).substr(hyphen + 1), high);
        low = ntohl(low);
        high = ntohl(high);
        const auto usable = [](std::uint32_t ip) { return ip != 0 && ip != 0xFFFFFFFFu; };
        if (!ok || !usable(low) || !usable(high) || low > high) {
            ReportLine(reporter, "Section [ALLOWED-CLIENTS] Invalid entry %s in ini file, ignored",
                       entry.c_str());
            continue;
        }
        if (count == TFTP_MAX_CLIENT_RANGES) {
            ReportLine(reporter, "Section [ALLOWED-CLIENTS] too many entries, %s ignored", entry.c_str());
            continue;
        }
        config.clients[count++] = {low, high};
    }
}

TftpSettings ReadTftpSettings(std::istream& ini, std::string_view programPath, const TftpReporter& reporter,
                              std::string_view iniPath)
{
    TftpSettings settings;
    ApplyLoggingSection(ReadIniSection(ini, "LOGGING"), settings, reporter);
    // Whatever the section says, every report is printed.
    settings.config.logLevel = TftpLogLevel::All;
    ApplyListenOnSection(ReadIniSection(ini, "LISTEN-ON"), settings, reporter);
    ApplyHomeSection(ReadIniSection(ini, "HOME"), settings, DirectoryOfProgram(programPath), reporter);
    settings.config.writeGuard =
        MakeTftpWriteGuard(programPath, settings.config.writeGuard.programFolderIsHome, iniPath);
    ApplyOptionsSection(ReadIniSection(ini, "TFTP-OPTIONS"), settings, reporter);
    ApplyAllowedClientsSection(ReadIniSection(ini, "ALLOWED-CLIENTS"), settings, reporter);
    if (settings.config.listenIp[0] == 0)
        AddInterfaceAddresses(settings.config);
    return settings;
}

void AddInterfaceAddresses(TftpConfig& config)
{
    for (const std::uint32_t address : vindle::platform::InterfaceAddresses()) {
        if (ListenTableFull(config))
            break;
        if (address != 0)
            AddListenAddress(config, address, TFTP_PORT);
    }
}

std::size_t OpenListeningEndpoints(TftpSettings& settings,
                                   const std::array<TftpHomeEntry, TFTP_MAX_HOMES>& homes,
                                   const TftpReporter& reporter)
{
    TftpConfig& config = settings.config;
    std::size_t count = 0;
    for (std::size_t i = 0; i < TFTP_MAX_LISTEN && config.listenIp[i] != 0; ++i) {
        const SOCKET fd = SocketOpen(SOCK_DGRAM, false);
        if (fd == INVALID_SOCKET) {
            ReportLine(reporter, "Failed to Create Socket");
            continue;
        }
        vindle::platform::PrepareServerSocket(fd);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = config.listenIp[i];
        address.sin_port = htons(config.listenPort[i]);
        socklen_t length = sizeof address;
        if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            closesocket(fd);
            ReportLine(reporter, "%s Port %u, bind failed", Dotted(config.listenIp[i]).c_str(),
                       static_cast<unsigned>(config.listenPort[i]));
            continue;
        }
        ListenEndpoint& endpoint = config.endpoints[count++];
        endpoint.socket = fd;
        endpoint.address = address;
        endpoint.ip = address.sin_addr.s_addr;
        endpoint.port = ntohs(address.sin_port);
    }
    if (count == 0) {
        // NOTE: the server does not wait for a key here: standard input may be
        // a terminal the user types into for something else.
        ReportLine(reporter, "No listening Interfaces available, stopping...");
        return 0;
    }
    ReportSummary(settings, homes, reporter);
    return count;
}

void CloseListeningEndpoints(TftpConfig& config)
{
    for (ListenEndpoint& endpoint : config.endpoints) {
        if (endpoint.socket >= 0)
            closesocket(endpoint.socket);
        endpoint = ListenEndpoint{};
    }
}

std::string TftpProgramPath()
{
    std::string path = vindle::platform::ProgramPath();
    if (path.empty())
        return "./vindle";
    return path;
}

bool TftpClientAllowed(const TftpConfig& config, std::uint32_t ip)
{
    const std::uint32_t host = ntohl(ip);
    const auto& clients = config.clients;
    if (clients[0].low == 0)
        return true;
    for (const ClientRange& range : clients) {
        if (range.low == 0)
            break;
        if (host >= range.low && host <= range.high)
            return true;
    }
    return false;
}
