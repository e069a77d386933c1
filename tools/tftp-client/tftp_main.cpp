// vindle-tftp: a command-line TFTP client over the vindle_tftp_client
// library, for tests, the benchmark and manual checks.
//
//   vindle-tftp get [options] HOST REMOTE [LOCAL|-]
//   vindle-tftp put [options] HOST LOCAL [REMOTE]
//
// Prints one summary line on stderr; with --crc also the CRC-32 of the
// transferred data on stdout (a get to "-" discards the data and keeps only
// the checksum then). Exit status 0 on success, 1 on a failed transfer, 2 on
// bad usage.
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tools/tftp-client/tftp_client.h"

namespace {

void Usage()
{
    std::fputs("usage: vindle-tftp get [options] HOST REMOTE [LOCAL|-]\n"
               "       vindle-tftp put [options] HOST LOCAL [REMOTE]\n"
               "options:\n"
               "  --port N           server port (69)\n"
               "  --blksize N        request block size N (8..65464; default 512)\n"
               "  --tsize | --no-tsize  ask for / announce the transfer size (on)\n"
               "  --no-options       plain request without any option\n"
               "  --mode octet|netascii\n"
               "  --timeout MS       wait per attempt (1000)\n"
               "  --retries N        re-sendings before giving up (5)\n"
               "  --crc              print the CRC-32 of the received data on stdout (get)\n"
               "  --expect-blksize   fail unless the server granted the requested blksize\n"
               "  --check-tsize      fail unless the received size equals the announced tsize\n"
               "  --windowsize N     ask for a window of N blocks (RFC 7440, get; 1..65535;\n"
               "                     default 1: not asked); without the server's consent\n"
               "                     the transfer goes block by block\n"
               "  --drop-data K      lose the K-th DATA packet of the transfer once (counting\n"
               "                     every DATA sent or received, re-sendings included)\n"
               "  --drop-ack K       lose the K-th ACK of the transfer once (ACK 0 counts)\n",
               stderr);
}

bool ParseUnsigned(const char* text, unsigned long max, unsigned long& out)
{
    char* end = nullptr;
    errno = 0;
    const unsigned long value = std::strtoul(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || value > max || text[0] == '-')
        return false;
    out = value;
    return true;
}

std::string BaseName(const std::string& path)
{
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        Usage();
        return 2;
    }
    const std::string command = argv[1];
    if (command != "get" && command != "put") {
        Usage();
        return 2;
    }
    TftpClientOptions options;
    bool crc = false;
    bool expectBlksize = false;
    bool checkTsize = false;
    std::vector<std::string> positional;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        unsigned long value = 0;
        auto needValue = [&](unsigned long max) {
            if (i + 1 >= argc || !ParseUnsigned(argv[i + 1], max, value)) {
                std::fprintf(stderr, "vindle-tftp: %s needs a number up to %lu\n", arg.c_str(), max);
                std::exit(2);
            }
            ++i;
        };
        if (arg == "--port") {
            needValue(65535);
            options.port = static_cast<std::uint16_t>(value);
        } else if (arg == "--blksize") {
            needValue(TFTP_MAX_BLKSIZE);
            options.blksize = static_cast<std::uint32_t>(value);
        } else if (arg == "--tsize") {
            options.tsize = true;
        } else if (arg == "--no-tsize") {
            options.tsize = false;
        } else if (arg == "--no-options") {
            options.useOptions = false;
        } else if (arg == "--mode" && i + 1 < argc) {
            const std::string mode = argv[++i];
            if (TftpEqualNoCase(mode, "octet")) {
                options.mode = TftpMode::Octet;
            } else if (TftpEqualNoCase(mode, "netascii")) {
                options.mode = TftpMode::Netascii;
            } else {
                std::fprintf(stderr, "vindle-tftp: unknown mode %s\n", mode.c_str());
                return 2;
            }
        } else if (arg == "--timeout") {
            needValue(600000);
            options.timeout = std::chrono::milliseconds(value);
        } else if (arg == "--retries") {
            needValue(100);
            options.retries = static_cast<unsigned>(value);
        } else if (arg == "--windowsize") {
            needValue(65535);
            if (value == 0) {
                std::fprintf(stderr, "vindle-tftp: --windowsize needs a window from 1 to 65535\n");
                return 2;
            }
            options.windowsize = static_cast<std::uint16_t>(value);
        } else if (arg == "--drop-data") {
            needValue(0xFFFFFFFFul);
            options.dropData = value;
        } else if (arg == "--drop-ack") {
            needValue(0xFFFFFFFFul);
            options.dropAck = value;
        } else if (arg == "--crc") {
            crc = true;
        } else if (arg == "--expect-blksize") {
            expectBlksize = true;
        } else if (arg == "--check-tsize") {
            checkTsize = true;
        } else if (!arg.empty() && arg[0] == '-' && arg != "-") {
            Usage();
            return 2;
        } else {
            positional.push_back(arg);
        }
    }
    if (positional.size() < 2 || positional.size() > 3) {
        Usage();
        return 2;
    }
    options.server = positional[0];

    const auto start = std::chrono::steady_clock::now();
    TftpTransferResult result;
    std::uint32_t checksum = 0;
    if (command == "get") {
        const std::string& remote = positional[1];
        const std::string local = positional.size() == 3 ? positional[2] : BaseName(remote);
        if (local == "-") {
            // The data itself is not kept: only its size and checksum.
            result = TftpGet(options, remote, [&checksum](std::span<const std::uint8_t> bytes) {
                checksum = TftpCrc32(checksum, bytes);
                return true;
            });
        } else if (crc) {
            // Checksum while writing, so that no second pass is needed.
            FILE* file = std::fopen((local + ".part").c_str(), "wb");
            if (file == nullptr) {
                std::perror(local.c_str());
                return 1;
            }
            result = TftpGet(options, remote, [&](std::span<const std::uint8_t> bytes) {
                checksum = TftpCrc32(checksum, bytes);
                return std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
            });
            const bool closed = std::fclose(file) == 0;
            if (result.status == TFTP_CLIENT_OK &&
                (!closed || std::rename((local + ".part").c_str(), local.c_str()) != 0)) {
                result.status = TFTP_CLIENT_ERR_LOCAL;
                result.message = "cannot write " + local;
            }
            if (result.status != TFTP_CLIENT_OK)
                std::remove((local + ".part").c_str());
        } else {
            result = TftpGetFile(options, remote, local);
        }
    } else {
        const std::string& local = positional[1];
        const std::string remote = positional.size() == 3 ? positional[2] : BaseName(local);
        result = TftpPutFile(options, remote, local);
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    if (result.status == TFTP_CLIENT_OK && expectBlksize && options.useOptions &&
        result.blksize != options.blksize) {
        result.status = TFTP_CLIENT_ERR_PROTOCOL;
        result.message = "server granted blksize " + std::to_string(result.blksize) + " instead of " +
                         std::to_string(options.blksize);
    }
    if (result.status == TFTP_CLIENT_OK && checkTsize && command == "get" &&
        (!result.tsize || *result.tsize != result.bytes)) {
        result.status = TFTP_CLIENT_ERR_PROTOCOL;
        result.message = "received " + std::to_string(result.bytes) + " bytes, tsize " +
                         (result.tsize ? std::to_string(*result.tsize) : std::string("missing"));
    }
    if (result.status != TFTP_CLIENT_OK) {
        std::fprintf(stderr, "vindle-tftp: %s\n", TftpDescribe(result).c_str());
        return 1;
    }
    const std::string window =
        result.windowsize > 1 ? ", windowsize " + std::to_string(result.windowsize) : std::string();
    std::fprintf(stderr, "%s %llu bytes, %llu blocks, blksize %u%s%s, %.3f s, %.2f MB/s\n",
                 command == "get" ? "received" : "sent", static_cast<unsigned long long>(result.bytes),
                 static_cast<unsigned long long>(result.blocks), result.blksize,
                 result.optionsAcknowledged ? " (OACK)" : "", window.c_str(), seconds,
                 seconds > 0 ? static_cast<double>(result.bytes) / seconds / 1e6 : 0.0);
    if (crc && command == "get")
        std::printf("%08x\n", checksum);
    return 0;
}
