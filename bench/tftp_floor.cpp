// tftp-floor: the least work a server can do to serve a TFTP read, as a
// yardstick for the benchmark. It maps the file and hands each window to the
// kernel straight from the mapping, one system call per run of datagrams:
// no read-ahead, no copy of its own, no progress, no report, no checks
// beyond what keeps the transfer correct. Whatever a real server spends on
// top shows as the distance to this one; whatever this one cannot reach is
// set by the client and the machine. Octet reads only; one process per
// transfer. Never a server for real use: it serves any file of its folder
// to anyone who asks.
//
//   tftp-floor FOLDER [ADDRESS:PORT]     (127.0.0.1:69; port 0 picks one)
//
// Once it listens it prints "listening on ADDRESS:PORT" and serves until it
// is ended.

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/udp.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tftp/tftp_options.h"
#include "tftp/tftp_request.h"
#include "tftp/tftp_transfer.h"
#include "tftp/tftp_transport.h"
#include "tftp/tftp_wire.h"

namespace {

constexpr int MAX_TIMEOUTS = 5;

void SendError(int socket, const TftpError& error)
{
    std::uint8_t packet[TFTP_ERROR_MAX];
    (void)send(socket, packet, BuildErrorPacket(packet, error.code, error.text), MSG_NOSIGNAL);
}

// Sends blocks first..last (counted from 1) in runs; each datagram is a
// 4-byte header and a slice of the mapping.
bool SendBlocks(TftpTransport& transport, const CFileMapping& file, std::size_t blockSize,
                std::uint64_t first, std::uint64_t last)
{
    const std::size_t perRun = TftpTransport::DatagramsPerRun(TFTP_HEADER + blockSize);
    std::uint8_t headers[TFTP_MAX_RUN_DATAGRAMS][TFTP_HEADER];
    iovec parts[2 * TFTP_MAX_RUN_DATAGRAMS];
    while (first <= last) {
        const std::uint64_t runEnd = std::min<std::uint64_t>(last, first + perRun - 1);
        std::size_t count = 0;
        for (std::uint64_t b = first; b <= runEnd; ++b) {
            const std::uint64_t offset = (b - 1) * blockSize;
            const std::size_t length =
                offset < file.Size()
                    ? static_cast<std::size_t>(std::min<std::uint64_t>(blockSize, file.Size() - offset))
                    : 0;
            std::uint8_t* header = headers[b - first];
            PutU16(header, TFTP_DATA);
            PutU16(header + 2, static_cast<std::uint16_t>(b));
            parts[count++] = {header, TFTP_HEADER};
            parts[count++] = {const_cast<std::uint8_t*>(file.Data()) + offset, length};
        }
        if (!transport.SendRun(std::span<const iovec>(parts, count), 2, TFTP_HEADER + blockSize))
            return false;
        first = runEnd + 1;
    }
    return true;
}

// Serves one read request from `client` on a socket of its own.
int Serve(const std::string& folder, std::span<const std::uint8_t> datagram, const sockaddr_in& client)
{
    TftpTransport transport;
    transport.socket.Reset(::socket(AF_INET, SOCK_DGRAM, 0));
    const int socket = transport.socket.Get();
    if (socket < 0 || connect(socket, reinterpret_cast<const sockaddr*>(&client), sizeof client) != 0)
        return 1;
    const TftpRequestParse parse = ParseTftpRequest(datagram);
    if (!parse.ok || parse.request.opcode != TFTP_RRQ || IsTextMode(parse.request.mode) ||
        parse.request.fileName.find('/') != std::string_view::npos) {
        SendError(socket, TFTP_ERR_VIOLATION);
        return 1;
    }
    const CUniqueFd fd(open((folder + "/" + std::string(parse.request.fileName)).c_str(), O_RDONLY));
    struct stat status = {};
    if (!fd.Valid() || fstat(fd.Get(), &status) != 0 || !S_ISREG(status.st_mode)) {
        SendError(socket, TFTP_ERR_NOT_FOUND);
        return 1;
    }
    CFileMapping file;
    if (status.st_size > 0 && !file.Map(fd.Get()))
        return 1;
    TftpOptionLimits limits;
    limits.maxWindowSize = TFTP_MAX_WINDOWSIZE;
    limits.fileSize = file.Size();
    const TftpNegotiation n = NegotiateOptions(parse.request, limits);
    const timeval timeout = {static_cast<time_t>(n.timeoutSeconds), 0};
    if (setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout) != 0)
        return 1;

    const std::uint64_t lastBlock = file.Size() / n.blockSize + 1;
    // k: the first block not acknowledged; 0 stands for the OACK.
    std::uint64_t k = n.oackMode ? 0 : 1;
    int timeouts = 0;
    std::uint8_t reply[TFTP_REQUEST_MAX];
    for (;;) {
        const std::uint64_t end = k == 0 ? 0 : std::min(lastBlock, k + n.windowSize - 1);
        const bool sent = k == 0 ? transport.Send(n.oack.data(), n.oackLength)
                                 : SendBlocks(transport, file, n.blockSize, k, end);
        if (!sent)
            return 1;
        const ssize_t got = recv(socket, reply, sizeof reply, 0);
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
            if (++timeouts > MAX_TIMEOUTS) {
                SendError(socket, TFTP_ERR_TIMEOUT);
                return 1;
            }
            continue;
        }
        if (got < static_cast<ssize_t>(TFTP_HEADER) || GetU16(reply) != TFTP_ACK)
            return 1;
        timeouts = 0;
        // Where the acknowledged number lies in the window; anything else is
        // answered by sending the window again.
        const auto offset = static_cast<std::uint16_t>(GetU16(reply + 2) - static_cast<std::uint16_t>(k));
        if (offset > end - k)
            continue;
        if (k + offset == lastBlock && k != 0)
            return 0;
        k += offset + 1;
    }
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: tftp-floor FOLDER [ADDRESS:PORT]\n");
        return 2;
    }
    const std::string folder = argv[1];
    const std::string listen = argc == 3 ? argv[2] : "127.0.0.1:69";
    const std::size_t colon = listen.rfind(':');
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    if (colon == std::string::npos ||
        inet_pton(AF_INET, listen.substr(0, colon).c_str(), &address.sin_addr) != 1) {
        std::fprintf(stderr, "tftp-floor: bad address %s\n", listen.c_str());
        return 2;
    }
    address.sin_port = htons(static_cast<std::uint16_t>(std::atoi(listen.c_str() + colon + 1)));
    const CUniqueFd server(socket(AF_INET, SOCK_DGRAM, 0));
    if (!server.Valid() ||
        bind(server.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        std::perror("tftp-floor: bind");
        return 1;
    }
    socklen_t size = sizeof address;
    getsockname(server.Get(), reinterpret_cast<sockaddr*>(&address), &size);
    std::printf("listening on %s:%u\n", listen.substr(0, colon).c_str(), ntohs(address.sin_port));
    std::fflush(stdout);
    // Transfers run in child processes that nobody waits for.
    std::signal(SIGCHLD, SIG_IGN);
    std::vector<std::uint8_t> datagram(TFTP_REQUEST_MAX);
    for (;;) {
        sockaddr_in client = {};
        socklen_t length = sizeof client;
        const ssize_t got = recvfrom(server.Get(), datagram.data(), datagram.size(), 0,
                                     reinterpret_cast<sockaddr*>(&client), &length);
        if (got < 0)
            continue;
        const pid_t child = fork();
        if (child == 0)
            _exit(Serve(folder, std::span<const std::uint8_t>(datagram.data(), static_cast<std::size_t>(got)),
                        client));
    }
}
