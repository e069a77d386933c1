// The simulated box's update step: on "appcfg cmd c=3|6|7 FILE INFO" the
// configuration service calls RunUpdate on the connection's thread, which
// fetches FILE by TFTP from the tool (a read request to the tool's address,
// port 69, octet, with blksize and tsize unless switched off, and with
// windowsize when asked for; --update-ack-delay slows each ACK), checks the
// size it received against the announced tsize, and logs size and CRC-32 of
// what arrived so that a test can compare them with the file it served.
// Only after a good download does the configured answer (--update-answer)
// count, so a test can still play a box that rejects a good file.
#include "box_update.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "box_log.h"
#include "box_options.h"
#include "box_update_download.h"
#include "tools/tftp-client/tftp_client.h"

namespace {

struct DownloadSettings
{
    bool enabled = true;
    std::optional<std::uint32_t> server;  // network byte order
    std::uint16_t port = TFTP_PORT;
    bool useOptions = true;
    std::uint32_t blksize = 1428;
    std::string keepDir;
    std::uint16_t windowsize = 1;
    unsigned ackDelayMs = 0;
};

// Written by ConfigureUpdateDownload before the services start.
DownloadSettings g_download;

// The name under which a kept file is stored: the last path element only,
// so that a name from the wire can never leave the folder.
std::string LocalName(const std::string& file)
{
    const std::size_t slash = file.find_last_of("/\\");
    std::string name = slash == std::string::npos ? file : file.substr(slash + 1);
    if (name.empty() || name == "." || name == "..")
        name = "update.bin";
    return name;
}

BoxUpdateResult Failed(const std::string& reason)
{
    return {BoxUpdateVerdict::Error, reason};
}

}  // namespace

void ConfigureUpdateDownload(const BoxOptions& options)
{
    g_download.enabled = options.updateDownload;
    g_download.server = options.tftpServer;
    g_download.port = options.tftpPort;
    g_download.useOptions = !options.updateNoOptions;
    g_download.blksize = options.updateBlksize;
    g_download.keepDir = options.updateDir;
    g_download.windowsize = options.updateWindowsize;
    g_download.ackDelayMs = options.updateAckDelayMs;
}

BoxUpdateResult RunUpdate(const std::string& file, const std::string& info)
{
    if (!g_download.enabled)
        return ConfiguredUpdateResult();
    const std::uint32_t server = g_download.server.value_or(UpdateRequesterIp());
    if (file.empty())
        return Failed("no file name");
    if (server == 0)
        return Failed("no TFTP server address");

    TftpClientOptions options;
    options.server = FormatIpv4(server);
    options.port = g_download.port;
    options.useOptions = g_download.useOptions;
    options.blksize = g_download.blksize;
    options.tsize = true;
    options.timeout = std::chrono::milliseconds(1000);
    options.retries = 5;
    options.windowsize = g_download.windowsize;
    options.ackDelay = std::chrono::milliseconds(g_download.ackDelayMs);
    const bool windowAsked = options.useOptions && options.windowsize > 1;
    BoxLog("update: fetching '%s' (%s) from %s:%u%s%s", file.c_str(), info.c_str(), options.server.c_str(),
           static_cast<unsigned>(options.port), options.useOptions ? "" : " without options",
           windowAsked ? (", asking for windowsize " + std::to_string(options.windowsize)).c_str() : "");

    // A kept file is written beside its final name and renamed only once it
    // is complete and checked.
    std::string keptPath;
    std::string partPath;
    const bool keep = !g_download.keepDir.empty();
    FILE* kept = nullptr;
    if (keep) {
        keptPath = g_download.keepDir + "/" + LocalName(file);
        partPath = keptPath + ".part";
        kept = std::fopen(partPath.c_str(), "wb");
        if (kept == nullptr)
            return Failed("cannot store " + keptPath + ": " + std::strerror(errno));
    }
    std::uint32_t crc = 0;
    TftpTransferResult result = TftpGet(options, file, [&crc, kept](std::span<const std::uint8_t> bytes) {
        crc = TftpCrc32(crc, bytes);
        return kept == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), kept) == bytes.size();
    });
    std::string reason;
    if (keep && std::fclose(kept) != 0 && result.status == TFTP_CLIENT_OK)
        reason = "cannot store " + keptPath;
    if (result.status != TFTP_CLIENT_OK)
        reason = "download failed: " + TftpDescribe(result);
    else if (result.tsize && *result.tsize != result.bytes)
        reason = "size mismatch: received " + std::to_string(result.bytes) + " bytes, tsize " +
                 std::to_string(*result.tsize);
    if (!reason.empty()) {
        if (keep)
            std::remove(partPath.c_str());
        BoxLog("update: '%s' failed: %s", file.c_str(), reason.c_str());
        return Failed(reason);
    }
    if (keep && std::rename(partPath.c_str(), keptPath.c_str()) != 0) {
        std::remove(partPath.c_str());
        return Failed("cannot store " + keptPath + ": " + std::strerror(errno));
    }
    BoxLog("update: received '%s': %llu bytes, crc32 %08x, blksize %u, tsize %s%s%s%s", file.c_str(),
           static_cast<unsigned long long>(result.bytes), crc, result.blksize,
           result.tsize ? std::to_string(*result.tsize).c_str() : "none",
           windowAsked ? (", windowsize " + std::to_string(result.windowsize)).c_str() : "",
           keep ? ", kept as " : "", keptPath.c_str());
    return ConfiguredUpdateResult();
}
