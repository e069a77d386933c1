// Configuration service of the simulated box; see box_config_service.h.

#include "box_config_service.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "box_log.h"
#include "box_update.h"

namespace {

constexpr std::size_t MAX_PAYLOAD = 2048;
constexpr int POLL_SLICE_MS = 50;

BoxUpdateResult g_configuredUpdate;  // written by the service before its threads start
thread_local std::uint32_t g_requesterIp = 0;

// The boxes' block order: each 32-bit half little-endian.
std::uint32_t Le32(const std::uint8_t* p)
{
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

void PutLe32(std::uint8_t* p, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
}

bool StartsWith(const std::string& text, const char* prefix)
{
    return text.rfind(prefix, 0) == 0;
}

// "FILE INFO" of an update command. The tool sends the bare file name and
// then this box's own info field, both unquoted, so a blank inside the name
// (common in names chosen on a desktop) cannot be told from the separator.
// The box knows which info field it announced: when the text ends with it,
// everything before is the name. Otherwise the first blank separates.
void SplitUpdateArguments(const std::string& rest, const std::string& ownInfo, std::string& file,
                          std::string& info)
{
    const std::string tail = " " + ownInfo;
    if (rest.size() > tail.size() && rest.compare(rest.size() - tail.size(), tail.size(), tail) == 0) {
        file = rest.substr(0, rest.size() - tail.size());
        info = ownInfo;
        return;
    }
    const auto blank = rest.find(' ');
    file = rest.substr(0, blank);
    info = blank == std::string::npos ? "" : rest.substr(blank + 1);
}

}  // namespace

__attribute__((weak)) BoxUpdateResult RunUpdate(const std::string&, const std::string&)
{
    return ConfiguredUpdateResult();
}

std::uint32_t UpdateRequesterIp()
{
    return g_requesterIp;
}

BoxUpdateResult ConfiguredUpdateResult()
{
    return g_configuredUpdate;
}

BoxConfigService::BoxConfigService(const BoxOptions& options, BoxState& state)
    : m_options(options)
    , m_state(state)
{
    BlowfishInit(CFG_BLOWFISH_KEY_LENGTH, &m_cipher);
    g_configuredUpdate = {options.updateAnswer, options.updateError};
}

BoxConfigService::~BoxConfigService()
{
    Stop();
}

bool BoxConfigService::OpenListener(std::string& error)
{
    m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_listener < 0) {
        error = std::string("socket: ") + std::strerror(errno);
        return false;
    }
    const int on = 1;
    ::setsockopt(m_listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    // After a reboot the box comes back on the port it had before.
    addr.sin_port = htons(m_port != 0 ? m_port.load() : m_options.configPort);
    addr.sin_addr.s_addr = m_options.configBindIp;
    if (::bind(m_listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(m_listener, 16) != 0) {
        error = "TCP port " + std::to_string(m_options.configPort) + ": " + std::strerror(errno);
        CloseListener();
        return false;
    }
    socklen_t length = sizeof addr;
    if (::getsockname(m_listener, reinterpret_cast<sockaddr*>(&addr), &length) == 0)
        m_port = ntohs(addr.sin_port);
    return true;
}

void BoxConfigService::CloseListener()
{
    if (m_listener >= 0) {
        ::close(m_listener);
        m_listener = -1;
    }
}

bool BoxConfigService::Start(std::string& error)
{
    if (!OpenListener(error)) {
        return false;
    }
    BoxLog("config: listening on TCP port %u", static_cast<unsigned>(m_port.load()));
    m_thread = std::thread([this] { Listen(); });
    return true;
}

void BoxConfigService::Stop()
{
    m_stop = true;
    {
        std::lock_guard lock(m_mutex);
        m_wake.notify_all();
    }
    if (m_thread.joinable()) {
        m_thread.join();
    }
    ReapFinished(true);
    CloseListener();
}

void BoxConfigService::ReapFinished(bool all)
{
    std::list<std::unique_ptr<Connection>> done;
    {
        std::lock_guard lock(m_mutex);
        for (auto it = m_connections.begin(); it != m_connections.end();) {
            if (all || (*it)->finished) {
                if (all) {
                    ::shutdown((*it)->fd, SHUT_RDWR);
                }
                done.splice(done.end(), m_connections, it++);
            } else {
                ++it;
            }
        }
    }
    for (auto& connection : done) {
        connection->thread.join();
        ::close(connection->fd);
    }
}

bool BoxConfigService::Sleep(unsigned ms)
{
    std::unique_lock lock(m_mutex);
    return !m_wake.wait_for(lock, std::chrono::milliseconds(ms), [this] { return m_stop.load(); });
}

void BoxConfigService::Reboot()
{
    std::lock_guard lock(m_mutex);
    m_rebootPending = true;
    m_rebootUntil = std::chrono::steady_clock::now() + std::chrono::milliseconds(m_options.rebootMs);
    m_wake.notify_all();
}

void BoxConfigService::Listen()
{
    while (!m_stop) {
        bool reboot = false;
        {
            std::lock_guard lock(m_mutex);
            reboot = m_rebootPending;
        }
        if (reboot) {
            // Away: no listener, every connection cut, until the time is up.
            CloseListener();
            {
                std::lock_guard lock(m_mutex);
                for (auto& connection : m_connections) {
                    ::shutdown(connection->fd, SHUT_RDWR);
                }
            }
            m_state.SetAway(true);
            BoxLog("config: rebooting, away for %u ms", m_options.rebootMs);
            {
                std::unique_lock lock(m_mutex);
                m_wake.wait_until(lock, m_rebootUntil, [this] { return m_stop.load(); });
                m_rebootPending = false;
            }
            m_state.SetAway(false);
            std::string error;
            while (!m_stop && !OpenListener(error) && Sleep(100)) {
            }
            if (m_stop) {
                break;
            }
            BoxLog("config: back after reboot");
        }

        ReapFinished(false);
        pollfd fd{m_listener, POLLIN, 0};
        if (::poll(&fd, 1, POLL_SLICE_MS) <= 0 || (fd.revents & POLLIN) == 0) {
            continue;
        }
        sockaddr_in peer{};
        socklen_t length = sizeof peer;
        const int client = ::accept4(m_listener, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC);
        if (client < 0) {
            continue;
        }
        std::lock_guard lock(m_mutex);
        std::size_t open = 0;
        std::size_t fromPeer = 0;
        for (const auto& c : m_connections) {
            if (!c->finished) {
                ++open;
                fromPeer += c->peerIp == peer.sin_addr.s_addr ? 1 : 0;
            }
        }
        // Each connection holds a thread; a flood of them must not take the
        // box down, and the connections it serves go on.
        if (open >= MAX_CONNECTIONS || fromPeer >= MAX_CONNECTIONS_PER_PEER) {
            BoxLog("config: connection from %s refused: %zu connections open%s",
                   FormatIpv4(peer.sin_addr.s_addr).c_str(), open >= MAX_CONNECTIONS ? open : fromPeer,
                   open >= MAX_CONNECTIONS ? "" : " from this address");
            ::close(client);
            continue;
        }
        auto connection = std::make_unique<Connection>();
        connection->fd = client;
        connection->peerIp = peer.sin_addr.s_addr;
        Connection& ref = *connection;
        m_connections.push_back(std::move(connection));
        ref.thread = std::thread([this, &ref] { Serve(ref); });
    }
}

bool BoxConfigService::SendText(int fd, const std::string& text)
{
    const std::size_t length = std::min(text.size() + 1, MAX_PAYLOAD - 2 - 7);
    const std::size_t padded = (length + 7) / 8 * 8;
    std::vector<std::uint8_t> frame(2 + padded, 0);
    frame[0] = static_cast<std::uint8_t>(padded);
    frame[1] = static_cast<std::uint8_t>(padded >> 8);
    std::memcpy(frame.data() + 2, text.data(), length - 1);
    for (std::size_t at = 2; at < frame.size(); at += 8) {
        std::uint32_t left = Le32(&frame[at]);
        std::uint32_t right = Le32(&frame[at + 4]);
        BlowfishEncrypt(&m_cipher, &left, &right);
        PutLe32(&frame[at], left);
        PutLe32(&frame[at + 4], right);
    }
    std::size_t sent = 0;
    while (sent < frame.size()) {
        const ssize_t n = ::send(fd, frame.data() + sent, frame.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            if (n < 0 && errno == EINTR) {
                continue;
            }
            return false;
        }
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

bool BoxConfigService::ReadFrame(int fd, const char* peer, std::string& payload)
{
    // Called once input is waiting: the frame has begun.
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(m_options.frameTimeoutMs);
    auto readExactly = [&](std::uint8_t* into, std::size_t count) {
        std::size_t got = 0;
        while (got < count) {
            pollfd p{fd, POLLIN, 0};
            if (m_stop) {
                return false;
            }
            if (std::chrono::steady_clock::now() >= deadline) {
                BoxLog("config: connection from %s closed: no whole frame within %u ms", peer,
                       m_options.frameTimeoutMs);
                return false;
            }
            if (::poll(&p, 1, POLL_SLICE_MS) <= 0) {
                continue;
            }
            const ssize_t n = ::recv(fd, into + got, count - got, 0);
            if (n <= 0) {
                if (n < 0 && errno == EINTR) {
                    continue;
                }
                return false;
            }
            got += static_cast<std::size_t>(n);
        }
        return true;
    };
    std::uint8_t header[2];
    if (!readExactly(header, 2)) {
        return false;
    }
    const std::size_t length = header[0] | static_cast<std::size_t>(header[1]) << 8;
    if (length == 0 || length > MAX_PAYLOAD || length % 8 != 0) {
        BoxLog("config: refusing a frame of %zu bytes", length);
        return false;
    }
    std::vector<std::uint8_t> bytes(length);
    if (!readExactly(bytes.data(), length)) {
        return false;
    }
    for (std::size_t at = 0; at < length; at += 8) {
        std::uint32_t left = Le32(&bytes[at]);
        std::uint32_t right = Le32(&bytes[at + 4]);
        BlowfishDecrypt(&m_cipher, &left, &right);
        PutLe32(&bytes[at], left);
        PutLe32(&bytes[at + 4], right);
    }
    const auto end = std::find(bytes.begin(), bytes.end(), 0);
    payload.assign(bytes.begin(), end);
    return true;
}

int BoxConfigService::WaitTicking(int fd, bool watchInput, int ms,
                                  std::chrono::steady_clock::time_point& nextStatus, unsigned& statusValue)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        if (m_stop) {
            return -1;
        }
        {
            std::lock_guard lock(m_mutex);
            if (m_rebootPending) {
                return -1;
            }
        }
        const auto now = std::chrono::steady_clock::now();
        if (m_options.statusIntervalMs > 0 && now >= nextStatus) {
            statusValue = (statusValue + 10) % 110;
            if (!SendText(fd, "status|" + std::to_string(statusValue) + "|100")) {
                return -1;
            }
            nextStatus = now + std::chrono::milliseconds(m_options.statusIntervalMs);
        }
        if (now >= deadline) {
            return 0;
        }
        auto slice = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
        slice = std::min<long long>(slice, POLL_SLICE_MS);
        if (!watchInput) {
            Sleep(static_cast<unsigned>(slice));
            continue;
        }
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(slice)) > 0) {
            return 1;
        }
    }
}

void BoxConfigService::Serve(Connection& connection)
{
    char peer[INET_ADDRSTRLEN] = "";
    in_addr peerAddr{connection.peerIp};
    inet_ntop(AF_INET, &peerAddr, peer, sizeof peer);

    // The box whose address the tool connected to.
    sockaddr_in local{};
    socklen_t length = sizeof local;
    ::getsockname(connection.fd, reinterpret_cast<sockaddr*>(&local), &length);
    for (std::size_t i = 0; i < m_state.Count(); ++i) {
        if (m_state.Get(i).ip == local.sin_addr.s_addr) {
            connection.box = i;
        }
    }
    const BoxIdentity box = m_state.Get(connection.box);
    BoxLog("config: connection from %s to %s", peer, FormatIpv4(box.ip).c_str());

    auto nextStatus =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(m_options.statusIntervalMs);
    unsigned statusValue = 0;
    const std::string info = "info|vindle-box|" + FormatMac(box.mac, MacStyle::Dashes) + "|" +
                             FormatIpv4(box.ip) + "|" + FormatIpv4(box.netmask) + "|" +
                             FormatIpv4(box.gateway) + "|" + m_state.Firmware(connection.box) + "|hw-1|up|" +
                             m_options.infoField;
    bool open = SendText(connection.fd, info);
    while (open) {
        const int ready = WaitTicking(connection.fd, true, 1000, nextStatus, statusValue);
        if (ready < 0) {
            break;
        }
        if (ready == 0) {
            continue;
        }
        std::string command;
        if (!ReadFrame(connection.fd, peer, command)) {
            break;
        }
        g_requesterIp = connection.peerIp;
        open = Answer(connection, command);
        g_requesterIp = 0;
        // A delay or an update may have taken a while; do not flood the
        // tool with the status messages that fell due meanwhile.
        nextStatus = std::max(nextStatus, std::chrono::steady_clock::now());
    }
    BoxLog("config: connection from %s ended", peer);
    connection.finished = true;
}

bool BoxConfigService::Answer(Connection& connection, const std::string& command)
{
    BoxLog("config: command '%s'", command.c_str());
    const int fd = connection.fd;
    if (command == "appcfg cmd c=2") {
        SendText(fd, "ok");
        Reboot();
        return false;
    }
    if (StartsWith(command, "appcfg config c=2 p=root")) {
        const auto from = command.find("\"1=");
        const auto to = command.rfind('"');
        const std::string password =
            from != std::string::npos && to > from + 3 ? command.substr(from + 3, to - from - 3) : "";
        BoxLog("config: password set to '%s'", password.c_str());
        return SendText(fd, "ok");
    }
    if (command == "appcfg cmd c=1 16") {
        return SendText(fd, "ok");
    }
    for (const char* prefix : {"appcfg cmd c=3 ", "appcfg cmd c=6 ", "appcfg cmd c=7 "}) {
        if (!StartsWith(command, prefix)) {
            continue;
        }
        std::string file;
        std::string info;
        SplitUpdateArguments(command.substr(std::strlen(prefix)), m_options.infoField, file, info);
        const BoxUpdateResult result = RunUpdate(file, info);

        auto nextStatus = std::chrono::steady_clock::now();
        unsigned statusValue = 0;
        // The delay is spent without reading: the tool waits for the answer.
        if (m_options.updateDelayMs > 0 &&
            WaitTicking(fd, false, static_cast<int>(m_options.updateDelayMs), nextStatus, statusValue) < 0) {
            return false;
        }
        switch (result.verdict) {
        case BoxUpdateVerdict::Ok:
            BoxLog("config: update '%s' (%s): ok", file.c_str(), info.c_str());
            if (m_options.updateFirmware) {
                m_state.SetFirmware(connection.box, *m_options.updateFirmware);
                BoxLog("config: firmware now %s", m_options.updateFirmware->c_str());
            }
            if (!SendText(fd, "ok")) {
                return false;
            }
            if (m_options.rebootAfterUpdate) {
                Reboot();
                return false;
            }
            return true;
        case BoxUpdateVerdict::Error:
            BoxLog("config: update '%s' (%s): error %s", file.c_str(), info.c_str(), result.reason.c_str());
            return SendText(fd, "error " + result.reason);
        case BoxUpdateVerdict::Drop:
            BoxLog("config: update '%s' (%s): dropping the connection", file.c_str(), info.c_str());
            return false;
        }
    }
    return SendText(fd, "error unknown command");
}
