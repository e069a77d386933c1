// A TFTP server object: start-up, the request loop on its own thread (one
// datagram per ready listening socket, access check, transfer limits, then a
// transfer thread per RRQ/WRQ) and the orderly stop. The loop owns the
// transfer threads it starts and joins them, finished ones as it goes and
// all of them when the server stops.

#include "tftp/tftp_server.h"

#include <atomic>
#include <cerrno>
#include <list>
#include <mutex>
#include <thread>

#include "platform/native_types.h"
#include "platform/poll.h"
#include "platform/socket.h"
#include "platform/wake.h"
#include "tftp/tftp_config.h"
#include "tftp/tftp_report.h"
#include "tftp/tftp_request.h"
#include "tftp/tftp_transfer.h"

namespace {

// How long the listener sleeps when idle; finished transfer threads are
// joined at the latest after REAP_WAIT_MS.
constexpr int IDLE_WAIT_MS = 20000;
constexpr int REAP_WAIT_MS = 1000;

struct Worker
{
    std::thread thread;
    std::atomic<bool> done{false};
};

// Parses a read or write request once, so that every event of it names
// the file; a malformed one is answered by its transfer, from a port of
// its own.
void ParseRequest(TftpRequest& request)
{
    request.parse = ParseTftpRequest(std::span<const std::uint8_t>(request.packet.data(), request.packetLength));
    if (request.parse.ok) {
        request.fileName = request.parse.request.fileName;
        request.write = request.parse.request.opcode == TFTP_WRQ;
    }
}

// Which workers ReapWorkers joins.
enum class Reap
{
    Finished,
    All,
};

}  // namespace

class TftpServer::Impl final
{
public:
    Impl();
    ~Impl();

    std::uint32_t Start(std::istream& ini, std::string_view programPath, std::string_view iniPath);
    void Stop();
    const TftpSettings& Settings() const { return m_settings; }

    TftpHomes m_homes;
    TftpReporter m_reporter;
    TftpEventHub m_events;
    TftpTransferRegistry m_registry;
    std::array<std::atomic<std::uint16_t>, TFTP_MAX_LISTEN> m_ports{};

private:
    void RunRequestLoop();
    void HandleDatagram(std::size_t index, std::list<Worker>& workers);
    void StartTransfer(std::unique_ptr<TftpRequest> request, std::list<Worker>& workers);
    // Whether a refused datagram was a read or write request, which its
    // owner hears of.
    enum class Refused
    {
        Datagram,
        Request,
    };
    void Refuse(TftpRequest& request, const TftpError& error, Refused what);
    void ClearStop();

    std::mutex m_startMutex;  // Start and Stop one at a time
    bool m_running = false;
    // Written by Start before the loop thread exists, read-only while it runs.
    TftpSettings m_settings;
    TftpServerContext m_context;
    // Readable while the server is asked to stop. Kept for the object's life,
    // so that a stop can never hit a closed handle.
    const vindle::platform::WakeHandle m_stop;
    std::thread m_loop;
};

TftpServer::Impl::Impl()
{
    m_context.settings = &m_settings;
    m_context.homes = &m_homes;
    m_context.reporter = &m_reporter;
    m_context.events = &m_events;
    m_context.registry = &m_registry;
}

TftpServer::Impl::~Impl()
{
    Stop();
}

void TftpServer::Impl::ClearStop()
{
    m_registry.Reset();
    m_stop.Drain();
}

std::uint32_t TftpServer::Impl::Start(std::istream& ini, std::string_view programPath,
                                      std::string_view iniPath)
{
    std::lock_guard lock(m_startMutex);
    if (m_running)
        return TFTP_SERVER_RUNNING;
    if (!m_stop.Valid())
        return TFTP_SERVER_NO_STOP_EVENT;
    ClearStop();
    m_settings = ReadTftpSettings(ini, programPath, m_reporter, iniPath);
    m_homes.Assign(m_settings.config.homes);
    if (OpenListeningEndpoints(m_settings, m_homes.Snapshot(), m_reporter) == 0)
        return TFTP_SERVER_NO_ENDPOINT;
    ReportLine(m_reporter, "\nAccepting requests..");
    try {
        m_loop = std::thread(&Impl::RunRequestLoop, this);
    } catch (...) {
        CloseListeningEndpoints(m_settings.config);
        return TFTP_SERVER_THREAD_FAILED;
    }
    for (std::size_t i = 0; i < TFTP_MAX_LISTEN; ++i)
        m_ports[i].store(m_settings.config.endpoints[i].port);
    m_running = true;
    return TFTP_SERVER_OK;
}

void TftpServer::Impl::Stop()
{
    std::lock_guard lock(m_startMutex);
    if (!m_running)
        return;
    m_registry.Stop();
    m_stop.Wake();
    m_loop.join();
    // Closed on this thread only once the loop that reads them has ended.
    CloseListeningEndpoints(m_settings.config);
    for (auto& port : m_ports)
        port.store(0);
    ClearStop();
    m_running = false;
}

// Answers a datagram from the listening socket with an ERROR, reports it
// and, for a read or write request, tells the owner.
void TftpServer::Impl::Refuse(TftpRequest& request, const TftpError& error, Refused what)
{
    SetTransferError(request, error);
    ReportTransfer(request, request.message);
    (void)sendto(request.listenSocket, request.errorPacket.data(), request.errorLength, 0,
                 reinterpret_cast<const sockaddr*>(&request.client), sizeof request.client);
    if (what == Refused::Request)
        PublishTransferEvent(request, TftpTransferEvent::Kind::Failed);
}

void TftpServer::Impl::StartTransfer(std::unique_ptr<TftpRequest> request, std::list<Worker>& workers)
{
    request->slot.clientIp = request->client.sin_addr.s_addr;
    switch (m_registry.Admit(request->slot, m_settings.maxTransfers, m_settings.maxTransfersPerClient)) {
    case TftpTransferRegistry::Admission::TooMany:
        Refuse(*request, TFTP_ERR_TOO_MANY, Refused::Request);
        return;
    case TftpTransferRegistry::Admission::TooManyFromClient:
        Refuse(*request, TFTP_ERR_TOO_MANY_CLIENT, Refused::Request);
        return;
    case TftpTransferRegistry::Admission::Admitted:
        break;
    }
    Worker& worker = workers.emplace_back();
    TftpRequest* owned = request.get();
    std::atomic<bool>* done = &worker.done;
    try {
        worker.thread = std::thread([owned, done] {
            TransferThread(std::unique_ptr<TftpRequest>(owned));
            done->store(true, std::memory_order_release);
        });
        (void)request.release();
    } catch (...) {
        workers.pop_back();
        m_registry.Release(request->slot);
        Refuse(*request, TFTP_ERR_THREAD, Refused::Request);
    }
}

// Receives one datagram from listening endpoint `index` and answers it or
// hands it to a new transfer thread.
void TftpServer::Impl::HandleDatagram(std::size_t index, std::list<Worker>& workers)
{
    auto request = std::make_unique<TftpRequest>();
    request->server = &m_context;
    request->endpointIndex = static_cast<std::uint8_t>(index);
    request->listenSocket = m_settings.config.endpoints[index].socket;
    socklen_t clientLength = sizeof request->client;
    // NOTE: recvfrom would cut a longer datagram silently; MSG_TRUNC makes it
    // return the real length so that the overflow is seen.
    const auto n =
        recvfrom(request->listenSocket, request->packet.data(), request->packet.size(),
                 SOCKET_RECV_TRUNC | SOCKET_SEND_NOWAIT, reinterpret_cast<sockaddr*>(&request->client),
                 &clientLength);
    if (n < 0) {
        const int error = SocketLastError();
        if (error == SOCKET_EAGAIN || error == SOCKET_EWOULDBLOCK || error == SOCKET_EINTR)
            return;
    }
    if (n < 0 || static_cast<std::size_t>(n) > request->packet.size()) {
        ReportTransfer(*request, "Communication Error");
        return;
    }
    request->packetLength = static_cast<std::size_t>(n);
    const std::uint16_t opcode = n >= 2 ? GetU16(request->packet.data()) : 0;
    const bool isRequest = opcode == TFTP_RRQ || opcode == TFTP_WRQ;

    // Access is decided before anything of the content is looked at.
    if (!TftpClientAllowed(m_settings.config, request->client.sin_addr.s_addr)) {
        if (isRequest)
            ParseRequest(*request);
        Refuse(*request, TFTP_ERR_DENIED, isRequest ? Refused::Request : Refused::Datagram);
        return;
    }
    if (isRequest) {
        ParseRequest(*request);
        StartTransfer(std::move(request), workers);
        return;
    }
    if (opcode == TFTP_ERROR) {
        // An ERROR is never answered, however short.
        ReportTransfer(*request, ClientErrorText(std::span<const std::uint8_t>(request->packet.data(),
                                                                               request->packetLength)));
        return;
    }
    Refuse(*request, TFTP_ERR_UNKNOWN_TID, Refused::Datagram);
}

namespace {

void ReapWorkers(std::list<Worker>& workers, Reap which)
{
    for (auto it = workers.begin(); it != workers.end();) {
        if (which == Reap::All || it->done.load(std::memory_order_acquire)) {
            it->thread.join();
            it = workers.erase(it);
        } else {
            ++it;
        }
    }
}

}  // namespace

// Serves until the stop event; then waits for every transfer (Stop has woken
// them too). Stop closes the listening sockets afterwards.
void TftpServer::Impl::RunRequestLoop()
{
    std::list<Worker> workers;
    using vindle::platform::PollItem;
    PollItem items[TFTP_MAX_LISTEN + 1];
    std::size_t count = 0;
    for (const ListenEndpoint& endpoint : m_settings.config.endpoints)
        if (endpoint.ip != 0)
            items[count++] = {static_cast<vindle::platform::NativeHandle>(endpoint.socket),
                              vindle::platform::kPollReadable, 0};
    const std::size_t listening = count;
    items[count++] = {m_stop.PollHandle(), vindle::platform::kPollReadable, 0};

    for (;;) {
        const vindle::platform::PollResult ready =
            vindle::platform::PollHandles(items, count, workers.empty() ? IDLE_WAIT_MS : REAP_WAIT_MS);
        ReapWorkers(workers, Reap::Finished);
        if (ready == vindle::platform::PollResult::kReady && items[listening].ready != 0)
            break;
        if (ready != vindle::platform::PollResult::kReady)
            continue;
        for (std::size_t i = 0; i < listening; ++i)
            if (items[i].ready != 0)
                HandleDatagram(i, workers);
    }
    ReapWorkers(workers, Reap::All);
}

TftpServer::TftpServer() : m_impl(std::make_unique<Impl>())
{
}

TftpServer::~TftpServer() = default;

std::uint32_t TftpServer::Start(std::istream& ini, std::string_view programPath, std::string_view iniPath)
{
    return m_impl->Start(ini, programPath, iniPath);
}

void TftpServer::Stop()
{
    m_impl->Stop();
}

void TftpServer::EndTransfers()
{
    m_impl->m_registry.Stop();
}

void TftpServer::SetHomeDirectory(std::string_view directory)
{
    m_impl->m_homes.SetHomeDirectory(directory);
}

void TftpServer::SetEventHandler(TftpEventFunction handler)
{
    m_impl->m_events.SetHandler(std::move(handler));
}

void TftpServer::SetReportSink(std::function<void(std::string_view line)> sink)
{
    m_impl->m_reporter.SetSink(std::move(sink));
}

std::uint16_t TftpServer::ListenPort(std::size_t index) const
{
    return index < TFTP_MAX_LISTEN ? m_impl->m_ports[index].load() : 0;
}

const TftpSettings& TftpServer::Settings() const
{
    return m_impl->Settings();
}

std::size_t TftpServer::RunningTransfers() const
{
    return m_impl->m_registry.Running();
}

std::array<TftpHomeEntry, TFTP_MAX_HOMES> TftpServer::HomeEntries() const
{
    return m_impl->m_homes.Snapshot();
}
