#include "cli/core_services.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sstream>
#include <stop_token>

#include "config/cfg_clt.h"
#include "platform/console.h"
#include "platform/socket.h"
#include "tftp/tftp_config.h"
#include "tftp/tftp_report.h"
#include "tftp/tftp_server.h"

namespace {

using namespace std::chrono_literals;

// A BoxSession over CCfgClt. One stop source ends every wait of the
// session and stays requested, so a session cancelled before Open never
// connects and one cancelled between commands sends no more.
class CfgBoxSession final
    : public BoxSession
    , private CCfgClt
{
public:
    bool Open(std::uint32_t ip, std::chrono::milliseconds timeout) override
    {
        const std::stop_token stop = m_stop.get_token();
        if (stop.stop_requested())
            return false;
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        (void)Connect(FormatIpv4(ip).c_str(), CFG_SERVICE_PORT);  // always "failed"; WaitReady tells
        if (!WaitReady(timeout, stop) || stop.stop_requested())
            return false;
        // Readiness is announced just before OnInfo runs on the connection's
        // thread, so the fields may still be on their way.
        std::unique_lock lock(m_infoLock);
        return m_infoChanged.wait_until(lock, stop, deadline, [this] { return m_hasInfo; }) &&
               !stop.stop_requested();
    }

    std::vector<std::string> Info() const override
    {
        std::lock_guard lock(m_infoLock);
        return m_info;
    }

    BoxAnswer Command(std::string_view command, std::chrono::milliseconds timeout) override
    {
        const CfgCommandResult result = RunCommand(command, timeout, m_stop.get_token());
        BoxAnswer answer;
        switch (result.outcome) {
        case CfgOutcome::Answered:
            answer.outcome = BoxOutcome::Answered;
            answer.ok = result.status == CFG_OK;
            if (!answer.ok) {
                // The box's text follows its keyword after a blank.
                answer.text = result.text;
                answer.text.erase(0, answer.text.find_first_not_of(' '));
            }
            break;
        case CfgOutcome::Disconnected:
            answer.outcome = BoxOutcome::Disconnected;
            break;
        case CfgOutcome::Cancelled:
            answer.outcome = BoxOutcome::Cancelled;
            break;
        case CfgOutcome::TimedOut:
            answer.outcome = BoxOutcome::TimedOut;
            break;
        case CfgOutcome::NotSent:
            answer.outcome = BoxOutcome::NotSent;
            break;
        }
        return answer;
    }

    void Cancel() override
    {
        // Unlike CancelCommand, a stop request also ends a waiting Open and
        // keeps later commands from going out.
        m_stop.request_stop();
    }

private:
    void OnInfo() override
    {
        const std::int32_t count =
            std::clamp<std::int32_t>(GetLastResult(), 0, static_cast<std::int32_t>(CFG_MAX_FIELDS));
        std::vector<std::string> fields;
        for (std::int32_t i = 0; i < count; ++i)
            fields.push_back(GetField(static_cast<std::uint32_t>(i)));
        {
            std::lock_guard lock(m_infoLock);
            m_info = std::move(fields);
            m_hasInfo = true;
        }
        m_infoChanged.notify_all();
    }

    std::stop_source m_stop;
    mutable std::mutex m_infoLock;
    std::condition_variable_any m_infoChanged;
    std::vector<std::string> m_info;  // of the last "info" message
    bool m_hasInfo = false;
    // Last: the connection thread stops before any member goes. The base
    // is named here, where its private inheritance is visible.
    CWorkerGuard m_StopGuard{static_cast<CCfgClt&>(*this)};
};

// A TFTP server for the update's folder: its events feed the engine, its
// report lines go to standard error only when asked for.
class TftpFileServer final : public UpdateFileServer
{
public:
    explicit TftpFileServer(ServerLines lines)
    {
        // Report lines would mix with the results on standard output; they
        // go to standard error only when asked for.
        m_server.SetReportSink([lines](std::string_view line) {
            if (lines == ServerLines::ToStandardError)
                vindle::platform::WriteStandardError(line);
        });
    }
    ~TftpFileServer() override { Stop(); }

    std::string Start(const std::string& folder, std::uint32_t address, std::uint16_t port,
                      std::uint16_t portLow, std::uint16_t portHigh) override
    {
        std::ostringstream ini;
        ini << "[LISTEN-ON]\n" << FormatIpv4(address) << ":" << port << "\n[HOME]\n" << folder << "\n";
        if (portLow != 0)
            ini << "[TFTP-OPTIONS]\nport-range=" << portLow << "-" << portHigh << "\n";
        std::istringstream in(ini.str());
        const std::uint32_t status = m_server.Start(in, TftpProgramPath());
        if (status == TFTP_SERVER_OK)
            return {};
        return status == TFTP_SERVER_NO_ENDPOINT
                   ? "cannot listen on " + FormatIpv4(address) + ":" + std::to_string(port)
                   : "the TFTP server does not start";
    }

    void SetEventHandler(std::function<void(const FileServeEvent&)> handler) override
    {
        if (!handler) {
            m_server.SetEventHandler(nullptr);
            return;
        }
        m_server.SetEventHandler([handler = std::move(handler)](const TftpTransferEvent& transfer) {
            if (transfer.write || transfer.kind == TftpTransferEvent::Kind::Started)
                return;
            FileServeEvent event;
            event.client = transfer.client.sin_addr.s_addr;
            event.bytesSent = transfer.bytesSent;
            event.fileSize = transfer.fileSize;
            event.message = transfer.message;
            switch (transfer.kind) {
            case TftpTransferEvent::Kind::Finished:
                event.kind = FileServeEvent::Kind::Finished;
                event.percent = 100;
                break;
            case TftpTransferEvent::Kind::Failed:
                event.kind = FileServeEvent::Kind::Failed;
                break;
            default:
                event.kind = FileServeEvent::Kind::Progress;
                event.percent = TftpPercentSent(transfer);
                break;
            }
            handler(event);
        });
    }

    void AbortTransfers() override { m_server.EndTransfers(); }

    void Stop() override { m_server.Stop(); }

private:
    TftpServer m_server;
};

}  // namespace

std::unique_ptr<BoxSession> MakeCfgBoxSession()
{
    return std::make_unique<CfgBoxSession>();
}

std::unique_ptr<UpdateFileServer> MakeTftpFileServer(ServerLines lines)
{
    return std::make_unique<TftpFileServer>(lines);
}

FleetSearch::FleetSearch(std::uint32_t adapterIp, std::string adapterName)
    : CInitCfg(adapterIp, CFG_DISCOVERY_PORT, UdpStart::Deferred)
    , m_adapter(std::move(adapterName))
    , m_adapterIp(adapterIp)
{
    StartReceiving();
}

FleetSearch::~FleetSearch()
{
    End(1);
}

std::vector<FoundBox> FleetSearch::Search(std::chrono::milliseconds wait)
{
    std::size_t first;
    {
        std::lock_guard lock(m_lock);
        first = m_replies.size();
    }
    (void)SendInitCfgMsg(nullptr, this, CFG_SEARCH_REQ, 0, 0, 0);
    std::unique_lock lock(m_lock);
    // Every reply of the window counts, so the wait is the whole time.
    m_changed.wait_for(lock, wait, [] { return false; });
    return {m_replies.begin() + static_cast<std::ptrdiff_t>(first), m_replies.end()};
}

bool FleetSearch::Answers(std::uint32_t ip, std::chrono::milliseconds timeout)
{
    std::size_t first;
    {
        std::lock_guard lock(m_lock);
        first = m_replies.size();
    }
    (void)SendInitCfgMsg(nullptr, this, CFG_SEARCH_REQ, 0, 0, 0);
    std::unique_lock lock(m_lock);
    return m_changed.wait_for(lock, timeout, [&] {
        for (std::size_t i = first; i < m_replies.size(); ++i)
            if (m_replies[i].ip == ip)
                return true;
        return false;
    });
}

bool FleetSearch::SetIp(const MacBytes& mac, std::uint32_t ip, std::uint32_t netmask, std::uint32_t gateway,
                        std::chrono::milliseconds timeout)
{
    const std::string wanted = FormatMac(mac);
    std::size_t first;
    {
        std::lock_guard lock(m_lock);
        first = m_setIpMacs.size();
    }
    if (SendInitCfgMsg(mac.data(), this, CFG_SET_IP_REQ, ip, netmask, gateway) != UDP_SEND_OK)
        return false;
    std::unique_lock lock(m_lock);
    return m_changed.wait_for(lock, timeout, [&] {
        for (std::size_t i = first; i < m_setIpMacs.size(); ++i)
            if (m_setIpMacs[i] == wanted)
                return true;
        return false;
    });
}

void FleetSearch::OnSearchReply(std::uint32_t ip, std::uint32_t netmask, std::uint32_t gateway,
                                const std::uint8_t* pMac)
{
    MacBytes mac;
    std::memcpy(mac.data(), pMac, mac.size());
    std::lock_guard lock(m_lock);
    m_replies.push_back({ip, netmask, gateway, FormatMac(mac), m_adapter, false, false,
                         ImpossibleReply(ip, mac, m_adapterIp)});
    m_changed.notify_all();
}

void FleetSearch::OnSetIpReply(std::uint32_t, std::uint32_t, std::uint32_t, const std::uint8_t* pMac)
{
    MacBytes mac;
    std::memcpy(mac.data(), pMac, mac.size());
    std::lock_guard lock(m_lock);
    m_setIpMacs.push_back(FormatMac(mac));
    m_changed.notify_all();
}

int ProbeUdpBind(std::uint32_t ip, std::uint16_t port)
{
    const SOCKET fd = SocketOpen(SOCK_DGRAM, false);
    if (fd == INVALID_SOCKET)
        return SocketLastError();
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = ip;
    address.sin_port = htons(port);
    const int result = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 ? 0 : SocketLastError();
    closesocket(fd);
    return result;
}

std::vector<bool> ProbeTcp(const std::vector<std::uint32_t>& ips, std::uint16_t port,
                           std::chrono::milliseconds timeout)
{
    std::vector<bool> reachable(ips.size(), false);
    std::vector<pollfd> fds(ips.size(), pollfd{INVALID_SOCKET, POLLOUT, 0});
    std::vector<SOCKET> sockets;
    for (std::size_t i = 0; i < ips.size(); ++i) {
        const SOCKET fd = SocketOpen(SOCK_STREAM, true);
        if (fd == INVALID_SOCKET)
            continue;
        sockets.push_back(fd);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = ips[i];
        address.sin_port = htons(port);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
            reachable[i] = true;
        else if (SocketLastError() == SOCKET_EINPROGRESS)
            fds[i].fd = fd;
    }
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (true) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        bool waiting = false;
        for (const pollfd& p : fds)
            waiting = waiting || p.fd != INVALID_SOCKET;
        if (!waiting || left.count() <= 0)
            break;
        if (::poll(fds.data(), fds.size(), static_cast<int>(left.count())) < 0 && SocketLastError() != SOCKET_EINTR)
            break;
        for (std::size_t i = 0; i < fds.size(); ++i) {
            if (fds[i].fd == INVALID_SOCKET || fds[i].revents == 0)
                continue;
            // A socket whose state cannot be read has not shown a connection.
            int error = 0;
            socklen_t length = sizeof error;
            reachable[i] = ::getsockopt(fds[i].fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
            fds[i].fd = INVALID_SOCKET;
        }
    }
    for (const SOCKET fd : sockets)
        closesocket(fd);
    return reachable;
}
