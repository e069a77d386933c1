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

namespace {

constexpr const char* SECTIONS[] = {"LOGGING", "LISTEN-ON", "HOME", "TFTP-OPTIONS", "ALLOWED-CLIENTS"};

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

void CheckSettings(const TftpSettings& settings)
{
    const TftpConfig& config = settings.config;
    FUZZ_CHECK(settings.maxBlockSize >= TFTP_MIN_BLKSIZE && settings.maxBlockSize <= TFTP_MAX_BLKSIZE);
    FUZZ_CHECK(settings.defaultInterval >= 1 && settings.defaultInterval <= TFTP_MAX_INTERVAL);
    // A limit of 0 would refuse every transfer; the keys exist to bound
    // them, never to turn the server off.
    FUZZ_CHECK(settings.maxTransfers >= 1 && settings.maxTransfersPerClient >= 1);
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // Warnings are discarded: printing millions of them would only slow
    // the run down.
    static TftpReporter reporter;
    static const bool silenced = (reporter.SetSink([](std::string_view) {}), true);
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

    // The order of ReadTftpSettings, without the interface lookup.
    TftpSettings settings;
    ApplyLoggingSection(sections[0], settings, reporter);
    ApplyListenOnSection(sections[1], settings, reporter);
    ApplyHomeSection(sections[2], settings, "/opt/vindle/", reporter);
    ApplyOptionsSection(sections[3], settings, reporter);
    ApplyAllowedClientsSection(sections[4], settings, reporter);
    CheckSettings(settings);
    return 0;
}
