// The request loop on the server thread: one datagram per ready listening
// socket, access check, then a transfer thread per RRQ/WRQ. The loop owns
// the transfer threads it starts and joins them, finished ones as it goes
// and all of them when the server stops.

#include "tftp/tftp_server.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

#include <arpa/inet.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include "tftp/tftp_config.h"
#include "tftp/tftp_report.h"
#include "tftp/tftp_transfer.h"

namespace
{

// How long the listener sleeps when idle; finished transfer threads are
// joined at the latest after REAP_WAIT_MS.
constexpr int IDLE_WAIT_MS = 20000;
constexpr int REAP_WAIT_MS = 1000;

struct Worker
{
    std::thread thread;
    std::atomic<bool> done{false};
};

// Readable while the server is asked to stop. Created once and kept for the
// life of the process, so that a stop can never hit a closed descriptor.
int StopFd()
{
    static const int fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    return fd;
}

void ClearStop()
{
    ResetTransferStop();
    std::uint64_t value = 0;
    while (read(StopFd(), &value, sizeof value) > 0) {
    }
}

std::mutex g_startMutex;
std::thread g_loopThread;
bool g_started = false;

void ListenerError(TftpRequest& request, const TftpError& error)
{
    SetTransferError(request, error);
    ReportTransfer(request, request.message);
    (void)sendto(request.listenSocket, request.errorPacket.data(), request.errorLength, 0,
                 reinterpret_cast<const sockaddr*>(&request.client), sizeof request.client);
}

// Receives one datagram from listening endpoint `index` and answers it or
// hands it to a new transfer thread.
void HandleDatagram(std::size_t index, std::list<Worker>& workers)
{
    auto request = std::make_unique<TftpRequest>();
    request->endpointIndex = static_cast<std::uint8_t>(index);
    request->listenSocket = g_tftpConfig.endpoints[index].socket;
    socklen_t clientLength = sizeof request->client;
    // NOTE: recvfrom would cut a longer datagram silently; MSG_TRUNC makes it
    // return the real length so that the overflow is seen.
    const ssize_t n = recvfrom(request->listenSocket, request->packet.data(), request->packet.size(),
                               MSG_TRUNC | MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&request->client),
                               &clientLength);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
        return;
    if (n < 0 || static_cast<std::size_t>(n) > request->packet.size()) {
        ReportTransfer(*request, "Communication Error");
        return;
    }
    request->packetLength = static_cast<std::size_t>(n);

    // Access is decided before anything of the content is looked at.
    if (!TftpClientAllowed(request->client.sin_addr.s_addr)) {
        ListenerError(*request, TFTP_ERR_DENIED);
        return;
    }
    const std::uint16_t opcode =
        n >= 2 ? static_cast<std::uint16_t>(request->packet[0] << 8 | request->packet[1]) : 0;
    if (opcode == TFTP_RRQ || opcode == TFTP_WRQ) {
        Worker& worker = workers.emplace_back();
        TftpRequest* owned = request.get();
        std::atomic<bool>* done = &worker.done;
        try {
            worker.thread = std::thread([owned, done] {
                TransferThread(std::unique_ptr<TftpRequest>(owned));
                done->store(true, std::memory_order_release);
            });
            request.release();
        } catch (...) {
            workers.pop_back();
            ListenerError(*request, TFTP_ERR_THREAD);
        }
        return;
    }
    if (opcode == TFTP_ERROR) {
        // An ERROR is never answered, however short: the bytes it lacks read
        // as zero (no code, no text), since the packet starts zero-filled.
        const std::size_t length = request->packetLength;
        const char* text = reinterpret_cast<const char*>(request->packet.data() + TFTP_HEADER);
        const std::size_t textRoom = length > TFTP_HEADER ? length - TFTP_HEADER : 0;
        char message[TFTP_REQUEST_MAX + 64];
        std::snprintf(message, sizeof message, "Error Code %i at Client, %.*s",
                      request->packet[2] << 8 | request->packet[3],
                      static_cast<int>(strnlen(text, textRoom)), text);
        ReportTransfer(*request, message);
        return;
    }
    ListenerError(*request, TFTP_ERR_UNKNOWN_TID);
}

void ReapWorkers(std::list<Worker>& workers, bool all)
{
    for (auto it = workers.begin(); it != workers.end();) {
        if (all || it->done.load(std::memory_order_acquire)) {
            it->thread.join();
            it = workers.erase(it);
        } else {
            ++it;
        }
    }
}

// Serves until the stop event; then waits for every transfer (TftpServerStop
// has woken them too). The caller closes the listening sockets afterwards,
// on the thread that also reads them.
void RunRequestLoop()
{
    std::list<Worker> workers;
    pollfd fds[TFTP_MAX_LISTEN + 1];
    nfds_t count = 0;
    for (const ListenEndpoint& endpoint : g_tftpConfig.endpoints)
        if (endpoint.ip != 0)
            fds[count++] = {endpoint.socket, POLLIN, 0};
    const nfds_t listening = count;
    fds[count++] = {StopFd(), POLLIN, 0};

    for (;;) {
        const int ready = poll(fds, count, workers.empty() ? IDLE_WAIT_MS : REAP_WAIT_MS);
        ReapWorkers(workers, false);
        if (fds[listening].revents != 0)
            break;
        if (ready <= 0)
            continue;
        for (nfds_t i = 0; i < listening; ++i)
            if (fds[i].revents != 0)
                HandleDatagram(i, workers);
    }
    ReapWorkers(workers, true);
}

} // namespace

void TftpServerThread()
{
    // A stop requested before this thread got here still counts, so the
    // stop state is not cleared here but at the end of the previous run.
    LoadTftpConfig();
    if (g_tftpConfig.endpoints[0].ip == 0)
        return;
    ReportLine("\nAccepting requests..");
    RunRequestLoop();
    CloseListeningEndpoints();
    ClearStop();
}

void TftpServerStop()
{
    const std::uint64_t one = 1;
    (void)write(StopFd(), &one, sizeof one);
    StopTransfers();
}

std::uint32_t StartTftpServer(std::istream& ini, std::string_view programPath)
{
    std::lock_guard lock(g_startMutex);
    if (g_started)
        return TFTP_SERVER_RUNNING;
    ClearStop();
    ConfigureTftp(ini, programPath);
    if (OpenListeningEndpoints() == 0)
        return TFTP_SERVER_NO_ENDPOINT;
    ReportLine("\nAccepting requests..");
    try {
        g_loopThread = std::thread(RunRequestLoop);
    } catch (...) {
        CloseListeningEndpoints();
        return TFTP_SERVER_THREAD_FAILED;
    }
    g_started = true;
    return TFTP_SERVER_OK;
}

void StopTftpServer()
{
    std::lock_guard lock(g_startMutex);
    if (!g_started)
        return;
    TftpServerStop();
    g_loopThread.join();
    CloseListeningEndpoints();
    ClearStop();
    g_started = false;
}

std::uint16_t TftpListenPort(std::size_t index)
{
    if (index >= TFTP_MAX_LISTEN)
        return 0;
    return g_tftpConfig.endpoints[index].port;
}
