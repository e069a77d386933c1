// INI configuration, listening sockets and start-up summary of the TFTP
// server. Runs on the thread that starts the server; see tftp_config.h.

#include "tftp/tftp_config.h"

#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <sys/socket.h>
#include <unistd.h>

#include "tftp/tftp_options.h"
#include "tftp/tftp_report.h"
#include "tftp/tftp_request.h"

TftpConfig g_tftpConfig;
std::uint32_t MaxBlockSize = TFTP_MAX_BLKSIZE;
std::uint16_t DefaultInterval = TFTP_DEFAULT_INTERVAL;
std::atomic<TftpProgressFunction> ProgressNotifier{nullptr};
std::atomic<void*> ProgressReceiver{nullptr};

namespace
{

// Guards the home entries against the application replacing entry 0 while a
// transfer resolves its name.
std::mutex g_homeMutex;

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

void ApplyHomeEntry(const std::string& entry, TftpConfig& config)
{
    TftpHomeEntry& first = config.homes[0];
    const std::size_t equals = entry.find('=');
    if (equals == std::string::npos) {
        if (!first.alias.empty())
            ReportLine("Section [HOME], alias and bare path mixup, entry %s ignored", entry.c_str());
        else if (!first.path.empty())
            ReportLine("Section [HOME], Duplicate Path: %s ignored", entry.c_str());
        else
            first.path = WithSeparator(entry);
        return;
    }
    if (first.alias.empty() && !first.path.empty()) {
        ReportLine("Section [HOME], alias and bare path mixup, entry %s ignored", entry.c_str());
        return;
    }
    const std::string alias = entry.substr(0, equals);
    const std::string path = entry.substr(equals + 1);
    if (alias.find_first_of("/\\><.") != std::string::npos) {
        ReportLine("Section [HOME], invalid chars in alias %s, entry ignored", alias.c_str());
        return;
    }
    if (alias.empty() || alias.size() > TFTP_MAX_ALIAS || path.empty()) {
        ReportLine("Section [HOME], alias name too large");
        return;
    }
    for (TftpHomeEntry& home : config.homes) {
        if (home.alias.empty()) {
            home.alias = alias;
            home.path = WithSeparator(path);
            return;
        }
        if (EqualsNoCase(home.alias, alias)) {
            ReportLine("Section [HOME], Duplicate Entry: %s ignored", entry.c_str());
            return;
        }
    }
    // All entries taken: dropped without a message.
}

void ApplyPortRange(const std::string& value, TftpConfig& config)
{
    config.portLow = 0;
    config.portHigh = 0;
    const std::size_t hyphen = value.find('-');
    if (hyphen == std::string::npos) {
        ReportLine("Invalid port range %s\n", value.c_str());
        return;
    }
    const std::string lowText = value.substr(0, hyphen);
    const std::uint64_t low = ParseDecimal(lowText);
    const std::uint64_t high = ParseDecimal(std::string_view(value).substr(hyphen + 1));
    const auto inRange = [](std::uint64_t port) { return port >= 1024 && port <= 65534; };
    if (!inRange(low) || !inRange(high) || low > high) {
        ReportLine("Invalid port range %s\n", lowText.c_str());
        return;
    }
    config.portLow = static_cast<std::uint32_t>(low);
    config.portHigh = static_cast<std::uint32_t>(high);
}

void ReportSummary(const TftpConfig& config)
{
    ReportLine("\nStarting TFTP...");
    for (const TftpHomeEntry& home : TftpHomeSnapshot())
        if (!home.path.empty())
            ReportLine("alias /%s is mapped to %s", home.alias.c_str(), home.path.c_str());
    for (const ListenEndpoint& endpoint : config.endpoints)
        if (endpoint.ip != 0)
            ReportLine("listening On: %s:%i", Dotted(endpoint.ip).c_str(), endpoint.port);
    if (config.clients[0].low == 0)
        ReportLine("permitted clients: all");
    for (const ClientRange& range : config.clients) {
        if (range.low == 0)
            break;
        ReportLine("permitted clients: %s-%s", Dotted(htonl(range.low)).c_str(),
                   Dotted(htonl(range.high)).c_str());
    }
    if (config.portLow == 0 && config.portHigh == 0)
        ReportLine("server port range: all");
    else
        ReportLine("server port range: %u-%u", config.portLow, config.portHigh);
    ReportLine("max blksize: %u", MaxBlockSize);
    ReportLine("defult blksize: %u", TFTP_DEFAULT_BLKSIZE);
    ReportLine("default interval: %u", static_cast<unsigned>(DefaultInterval));
    ReportLine("overwrite existing files: %s", config.overwrite ? "yes" : "no");
}

} // namespace

void SetTftpHomeDirectory(std::string_view directory)
{
    std::string path = WithSeparator(directory);
    std::lock_guard lock(g_homeMutex);
    g_tftpConfig.homes[0].path = std::move(path);
}

std::array<TftpHomeEntry, TFTP_MAX_HOMES> TftpHomeSnapshot()
{
    std::lock_guard lock(g_homeMutex);
    return g_tftpConfig.homes;
}

void ApplyLoggingSection(const IniSection& section, TftpConfig& config)
{
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
        ReportLine("Section [LOGGING], Invalid Logging Level: %s ignored", value.c_str());
}

void ApplyListenOnSection(const IniSection& section, TftpConfig& config)
{
    for (std::size_t i = NextIniEntry(section.entries, 0, false); i < section.entries.size();
         i = NextIniEntry(section.entries, i, true)) {
        if (ListenTableFull(config))
            break;
        const std::string& entry = section.entries[i];
        const std::size_t colon = entry.find(':');
        const std::string_view address = std::string_view(entry).substr(0, colon);
        std::uint32_t ip = 0;
        if (!ListenAddressSyntaxOk(address) || !ParseDotted(address, ip) || ip == 0) {
            ReportLine("Warning: Section [LISTEN-ON], Invalid IP Address %s, ignored", entry.c_str());
            continue;
        }
        std::uint16_t port = TFTP_PORT;
        if (colon != std::string::npos)
            port = static_cast<std::uint16_t>(ParseDecimal(std::string_view(entry).substr(colon + 1)));
        AddListenAddress(config, ip, port);
    }
}

void ApplyHomeSection(const IniSection& section, TftpConfig& config, std::string_view programDirectory)
{
    std::lock_guard lock(g_homeMutex);
    for (std::size_t i = NextIniEntry(section.entries, 0, false); i < section.entries.size();
         i = NextIniEntry(section.entries, i, true))
        ApplyHomeEntry(section.entries[i], config);
    config.writeGuard.programFolderIsHome = TftpHomesNameFolder(config.homes, programDirectory);
    if (config.homes[0].path.empty())
        config.homes[0].path = WithSeparator(programDirectory);
}

void ApplyOptionsSection(const IniSection& section, TftpConfig& config)
{
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
            MaxBlockSize = static_cast<std::uint32_t>(
                v < TFTP_MIN_BLKSIZE ? TFTP_MIN_BLKSIZE : (v > TFTP_MAX_BLKSIZE ? TFTP_MAX_BLKSIZE : v));
        } else if (key == TFTP_OPT_INTERVAL) {
            std::uint16_t v = static_cast<std::uint16_t>(ParseDecimal(value));
            if (v == 0)
                v = TFTP_DEFAULT_INTERVAL;
            if (v > TFTP_MAX_INTERVAL)
                v = TFTP_MAX_INTERVAL;
            DefaultInterval = v;
        } else if (key == "overwrite") {
            config.overwrite = EqualsNoCase(value, "y");
        } else if (key == "port-range") {
            ApplyPortRange(value, config);
        } else {
            ReportLine("Unknown Option %s\n", key.c_str());
        }
    }
}

void ApplyAllowedClientsSection(const IniSection& section, TftpConfig& config)
{
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
            ReportLine("Section [ALLOWED-CLIENTS] Invalid entry %s in ini file, ignored", entry.c_str());
            continue;
        }
        if (count == TFTP_MAX_CLIENT_RANGES) {
            ReportLine("Section [ALLOWED-CLIENTS] too many entries, %s ignored", entry.c_str());
            continue;
        }
        config.clients[count++] = {low, high};
    }
}

void ConfigureTftp(std::istream& ini, std::string_view programPath)
{
    {
        std::lock_guard lock(g_homeMutex);
        g_tftpConfig = TftpConfig{};
    }
    MaxBlockSize = TFTP_MAX_BLKSIZE;
    DefaultInterval = TFTP_DEFAULT_INTERVAL;

    ApplyLoggingSection(ReadIniSection(ini, "LOGGING"), g_tftpConfig);
    // Whatever the section says, every report is printed.
    g_tftpConfig.logLevel = TftpLogLevel::All;
    ApplyListenOnSection(ReadIniSection(ini, "LISTEN-ON"), g_tftpConfig);
    ApplyHomeSection(ReadIniSection(ini, "HOME"), g_tftpConfig, DirectoryOfProgram(programPath));
    g_tftpConfig.writeGuard = MakeTftpWriteGuard(programPath, g_tftpConfig.writeGuard.programFolderIsHome);
    ApplyOptionsSection(ReadIniSection(ini, "TFTP-OPTIONS"), g_tftpConfig);
    ApplyAllowedClientsSection(ReadIniSection(ini, "ALLOWED-CLIENTS"), g_tftpConfig);
    if (g_tftpConfig.listenIp[0] == 0)
        AddInterfaceAddresses();
}

void AddInterfaceAddresses()
{
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return;
    for (ifaddrs* entry = list; entry != nullptr && !ListenTableFull(g_tftpConfig); entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET)
            continue;
        sockaddr_in address{};
        std::memcpy(&address, entry->ifa_addr, sizeof address);
        if (address.sin_addr.s_addr != 0)
            AddListenAddress(g_tftpConfig, address.sin_addr.s_addr, TFTP_PORT);
    }
    freeifaddrs(list);
}

std::size_t OpenListeningEndpoints()
{
    TftpConfig& config = g_tftpConfig;
    std::size_t count = 0;
    for (std::size_t i = 0; i < TFTP_MAX_LISTEN && config.listenIp[i] != 0; ++i) {
        const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
        if (fd < 0) {
            ReportLine("Failed to Create Socket");
            continue;
        }
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = config.listenIp[i];
        address.sin_port = htons(config.listenPort[i]);
        socklen_t length = sizeof address;
        if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            close(fd);
            ReportLine("%s Port %u, bind failed", Dotted(config.listenIp[i]).c_str(),
                       static_cast<unsigned>(config.listenPort[i]));
            continue;
        }
        ListenEndpoint& endpoint = config.endpoints[count++];
        endpoint.socket = fd;
        endpoint.address = address;
        endpoint.ip = address.sin_addr.s_addr;
        endpoint.port = ntohs(address.sin_port);
        if (fd + 1 > config.maxSocket)
            config.maxSocket = fd + 1;
    }
    if (count == 0) {
        // NOTE: the server does not wait for a key here: standard input may be
        // a terminal the user types into for something else.
        ReportLine("No listening Interfaces available, stopping...");
        return 0;
    }
    ReportSummary(config);
    return count;
}

void CloseListeningEndpoints()
{
    for (ListenEndpoint& endpoint : g_tftpConfig.endpoints) {
        if (endpoint.socket >= 0)
            close(endpoint.socket);
        endpoint = ListenEndpoint{};
    }
    g_tftpConfig.maxSocket = 0;
}

std::string TftpProgramPath()
{
    char path[TFTP_MAX_PATH + 1];
    const ssize_t n = readlink("/proc/self/exe", path, TFTP_MAX_PATH);
    if (n <= 0)
        return "./vindle";
    return std::string(path, static_cast<std::size_t>(n));
}

void LoadTftpConfig()
{
    const std::string program = TftpProgramPath();
    std::ifstream file(IniPathForProgram(program), std::ios::binary);
    std::stringstream text;
    if (file)
        text << file.rdbuf();
    ConfigureTftp(text, program);
    OpenListeningEndpoints();
}

bool TftpClientAllowed(std::uint32_t ip)
{
    const std::uint32_t host = ntohl(ip);
    const auto& clients = g_tftpConfig.clients;
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
