// The server's INI file, whatever it holds: every section read and applied
// as at start-up, into a configuration of its own. The interface addresses
// are not looked up, so nothing here touches the network.

#include <algorithm>
#include <sstream>
#include <string>

#include "fuzz/fuzz_check.h"
#include "tftp/ini_reader.h"
#include "tftp/tftp_config.h"
#include "tftp/tftp_report.h"
#include "tftp/tftp_request.h"

namespace
{

constexpr const char* SECTIONS[] = {"LOGGING", "LISTEN-ON", "HOME", "TFTP-OPTIONS", "ALLOWED-CLIENTS"};

void Discard(void*, std::string_view)
{
}

void CheckSection(const IniSection& section)
{
    if (!section.found)
        FUZZ_CHECK(section.entries.empty());
    for (const std::string& entry : section.entries) {
        FUZZ_CHECK(!entry.empty() && entry.size() <= INI_LINE_PIECE);
        FUZZ_CHECK(static_cast<unsigned char>(entry.back()) > 32);
        FUZZ_CHECK(entry.front() != '[');
        FUZZ_CHECK(entry.find('\n') == std::string::npos);
    }
}

void CheckConfig(const TftpConfig& config)
{
    FUZZ_CHECK(MaxBlockSize >= TFTP_MIN_BLKSIZE && MaxBlockSize <= TFTP_MAX_BLKSIZE);
    FUZZ_CHECK(DefaultInterval >= 1 && DefaultInterval <= TFTP_MAX_INTERVAL);
    FUZZ_CHECK(config.logLevel <= TftpLogLevel::All);
    FUZZ_CHECK((config.portLow == 0 && config.portHigh == 0) ||
               (config.portLow >= 1024 && config.portLow <= config.portHigh && config.portHigh <= 65534));

    // Listen addresses: distinct, packed at the front.
    std::size_t listen = 0;
    while (listen < TFTP_MAX_LISTEN && config.listenIp[listen] != 0)
        ++listen;
    for (std::size_t i = listen; i < TFTP_MAX_LISTEN; ++i)
        FUZZ_CHECK(config.listenIp[i] == 0 && config.listenPort[i] == 0);
    for (std::size_t i = 0; i < listen; ++i)
        for (std::size_t j = i + 1; j < listen; ++j)
            FUZZ_CHECK(config.listenIp[i] != config.listenIp[j]);

    // Homes: one bare directory, or aliases packed at the front with
    // distinct names no resolver can be tricked by.
    const auto& homes = config.homes;
    FUZZ_CHECK(!homes[0].path.empty());
    for (const TftpHomeEntry& home : homes)
        FUZZ_CHECK(home.path.empty() || home.path.back() == '/');
    if (homes[0].alias.empty()) {
        for (std::size_t i = 1; i < homes.size(); ++i)
            FUZZ_CHECK(homes[i].alias.empty() && homes[i].path.empty());
    } else {
        std::size_t count = 0;
        while (count < homes.size() && !homes[count].alias.empty())
            ++count;
        for (std::size_t i = 0; i < count; ++i) {
            const std::string& alias = homes[i].alias;
            FUZZ_CHECK(alias.size() <= TFTP_MAX_ALIAS && alias.find_first_of("/\\><.") == std::string::npos);
            FUZZ_CHECK(!homes[i].path.empty());
            for (std::size_t j = i + 1; j < count; ++j)
                FUZZ_CHECK(!EqualsNoCase(alias, homes[j].alias));
        }
        for (std::size_t i = count; i < homes.size(); ++i)
            FUZZ_CHECK(homes[i].path.empty());
    }

    // Client ranges: usable, ordered within, packed at the front.
    std::size_t ranges = 0;
    while (ranges < config.clients.size() && config.clients[ranges].low != 0)
        ++ranges;
    for (std::size_t i = 0; i < config.clients.size(); ++i) {
        const ClientRange& range = config.clients[i];
        if (i >= ranges) {
            FUZZ_CHECK(range.low == 0 && range.high == 0);
            continue;
        }
        FUZZ_CHECK(range.low <= range.high && range.high != 0xFFFFFFFFu);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const bool silenced = [] {
        SetTftpReportSink(Discard, nullptr);
        return true;
    }();
    (void)silenced;

    std::istringstream ini(std::string(reinterpret_cast<const char*>(data), size));
    IniSection sections[std::size(SECTIONS)];
    for (std::size_t i = 0; i < std::size(SECTIONS); ++i) {
        sections[i] = ReadIniSection(ini, SECTIONS[i]);
        CheckSection(sections[i]);
    }
    // The stream is rewound for every section, so a second reading is the
    // same.
    const IniSection again = ReadIniSection(ini, "HOME");
    FUZZ_CHECK(again.found == sections[2].found && again.entries == sections[2].entries);

    // The order of ConfigureTftp, without the interface lookup.
    TftpConfig config;
    MaxBlockSize = TFTP_MAX_BLKSIZE;
    DefaultInterval = TFTP_DEFAULT_INTERVAL;
    ApplyLoggingSection(sections[0], config);
    ApplyListenOnSection(sections[1], config);
    ApplyHomeSection(sections[2], config, "/opt/vindle/");
    ApplyOptionsSection(sections[3], config);
    ApplyAllowedClientsSection(sections[4], config);
    CheckConfig(config);
    return 0;
}
