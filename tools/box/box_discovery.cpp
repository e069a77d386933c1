// The box side of discovery: search and set-IP requests in, replies out.

#include "box_discovery.h"

#include <cerrno>
#include <cstring>

#include <arpa/inet.h>
#include <net/if.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "box_log.h"
#include "box_rules.h"

namespace {

// The wire format, written out here independently of the tool's own code.
constexpr std::size_t MSG_SIZE = 52;
constexpr std::uint8_t SEARCH_REQ = 0x01;
constexpr std::uint8_t SET_IP_REQ = 0x02;
constexpr std::uint8_t RSP_FLAG = 0x80;

std::uint32_t ReadAddress(std::span<const std::uint8_t> bytes, std::size_t at)
{
    std::uint32_t value;
    std::memcpy(&value, &bytes[at], 4);  // stays in network order
    return value;
}

void WriteAddress(std::uint8_t* bytes, std::uint32_t value)
{
    std::memcpy(bytes, &value, 4);
}

std::string Where(const sockaddr_in& address)
{
    return FormatIpv4(address.sin_addr.s_addr) + ":" + std::to_string(ntohs(address.sin_port));
}

std::string Describe(const BoxIdentity& box)
{
    return FormatMac(box.mac, MacStyle::Dashes) + " " + FormatIpv4(box.ip) + "/" + FormatIpv4(box.netmask) +
           " gw " + FormatIpv4(box.gateway);
}

// Replaces the interface's primary IPv4 address and netmask.
bool ChangeInterfaceAddress(const std::string& name, std::uint32_t ip, std::uint32_t netmask,
                            std::string& error)
{
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    auto set = [&](unsigned long request, std::uint32_t value, const char* what) {
        ifreq request_data{};
        std::strncpy(request_data.ifr_name, name.c_str(), IFNAMSIZ - 1);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = value;
        std::memcpy(&request_data.ifr_addr, &address, sizeof address);
        if (ioctl(fd, request, &request_data) == 0)
            return true;
        error = std::string(what) + ": " + std::strerror(errno);
        return false;
    };
    const bool ok = set(SIOCSIFADDR, ip, "address") && set(SIOCSIFNETMASK, netmask, "netmask") &&
                    set(SIOCSIFBRDADDR, ip | ~netmask, "broadcast address");
    close(fd);
    return ok;
}

}  // namespace

BoxDiscovery::BoxDiscovery(const BoxOptions& options, BoxState& state) : m_options(options), m_state(state)
{
}

BoxDiscovery::~BoxDiscovery()
{
    Stop();
}

bool BoxDiscovery::Start(std::string& error)
{
    m_socket = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    m_wake = eventfd(0, EFD_CLOEXEC);
    if (m_socket < 0 || m_wake < 0) {
        error = std::string("socket: ") + std::strerror(errno);
        Stop();
        return false;
    }
    const int on = 1;
    setsockopt(m_socket, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    setsockopt(m_socket, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    const std::string& ifname = m_state.InterfaceName();
    // Tied to its interface, the box hears broadcasts there and its own
    // broadcasts leave there, whatever its address and the routes say.
    if (!ifname.empty() && setsockopt(m_socket, SOL_SOCKET, SO_BINDTODEVICE, ifname.c_str(),
                                      static_cast<socklen_t>(ifname.size())) != 0) {
        error = "cannot tie to " + ifname + ": " + std::strerror(errno);
        Stop();
        return false;
    }
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(m_options.discoveryPort);
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    if (bind(m_socket, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        error =
            "cannot bind UDP port " + std::to_string(m_options.discoveryPort) + ": " + std::strerror(errno);
        Stop();
        return false;
    }
    m_thread = std::thread(&BoxDiscovery::Run, this);
    BoxLog("discovery: ready on %s port %u, %zu box(es), replies by %s",
           ifname.empty() ? "*" : ifname.c_str(), m_options.discoveryPort, m_state.Count(),
           m_options.replyMode == ReplyMode::Broadcast ? "broadcast" : "unicast");
    return true;
}

void BoxDiscovery::Stop()
{
    if (m_thread.joinable()) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = write(m_wake, &one, sizeof one);
        m_thread.join();
    }
    if (m_socket >= 0)
        close(m_socket);
    if (m_wake >= 0)
        close(m_wake);
    m_socket = m_wake = -1;
}

void BoxDiscovery::Run()
{
    std::uint8_t buffer[2048];
    for (;;) {
        pollfd fds[2] = {{m_socket, POLLIN, 0}, {m_wake, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            BoxLog("discovery: poll failed: %s", std::strerror(errno));
            return;
        }
        if (fds[1].revents != 0)
            return;
        if (fds[0].revents == 0)
            continue;
        sockaddr_in from{};
        socklen_t fromLength = sizeof from;
        const ssize_t received = recvfrom(m_socket, buffer, sizeof buffer, MSG_TRUNC,
                                          reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (received < 0) {
            if (errno != EINTR && errno != EAGAIN)
                BoxLog("discovery: receive failed: %s", std::strerror(errno));
            continue;
        }
        if (static_cast<std::size_t>(received) > sizeof buffer) {
            BoxLog("discovery: ignored oversized datagram (%zd bytes) from %s", received,
                   Where(from).c_str());
            continue;
        }
        Serve(std::span(buffer, static_cast<std::size_t>(received)), from);
    }
}

void BoxDiscovery::Serve(std::span<const std::uint8_t> datagram, const sockaddr_in& from)
{
    // Replies (ours looped back, or other boxes' broadcasts) are not for us.
    if (!datagram.empty() && (datagram[0] & RSP_FLAG) != 0)
        return;
    if (datagram.size() < MSG_SIZE) {
        BoxLog("discovery: ignored short request (%zu bytes) from %s", datagram.size(), Where(from).c_str());
        return;
    }
    if (m_state.IsAway()) {
        BoxLog("discovery: rebooting, ignored request type 0x%02x from %s", datagram[0], Where(from).c_str());
        return;
    }
    switch (datagram[0]) {
    case SEARCH_REQ:
        AnswerSearch(from);
        break;
    case SET_IP_REQ:
        AnswerSetIp(datagram, from);
        break;
    default:
        BoxLog("discovery: ignored request type 0x%02x from %s", datagram[0], Where(from).c_str());
        break;
    }
}

void BoxDiscovery::AnswerSearch(const sockaddr_in& from)
{
    BoxLog("discovery: search from %s", Where(from).c_str());
    if (!Delay())
        return;
    std::size_t sent = 0;
    for (std::size_t k = 0; k < m_state.Count(); ++k) {
        if (SendReply(SEARCH_REQ | RSP_FLAG, m_state.Get(k), from))
            ++sent;
    }
    if (m_state.Count() == 1)
        BoxLog("discovery: search reply %s", Describe(m_state.Get(0)).c_str());
    else
        BoxLog("discovery: search replies sent: %zu of %zu", sent, m_state.Count());
}

void BoxDiscovery::AnswerSetIp(std::span<const std::uint8_t> datagram, const sockaddr_in& from)
{
    MacAddress mac;
    std::memcpy(mac.data(), &datagram[1], mac.size());
    const auto index = m_state.FindByMac(mac);
    if (!index) {
        BoxLog("discovery: set-ip for %s from %s: not mine", FormatMac(mac, MacStyle::Dashes).c_str(),
               Where(from).c_str());
        return;
    }
    const std::uint32_t ip = ReadAddress(datagram, 8);
    const std::uint32_t netmask = ReadAddress(datagram, 12);
    const std::uint32_t gateway = ReadAddress(datagram, 16);
    // Not answered: the reply tells the tool that the box took the address.
    if (const char* refusal = SetIpRefusal(ip, netmask)) {
        BoxLog("discovery: set-ip box %zu to %s/%s from %s refused: %s; keeps %s", *index + 1,
               FormatIpv4(ip).c_str(), FormatIpv4(netmask).c_str(), Where(from).c_str(), refusal,
               Describe(m_state.Get(*index)).c_str());
        return;
    }
    m_state.SetAddresses(*index, ip, netmask, gateway);
    const BoxIdentity box = m_state.Get(*index);
    BoxLog("discovery: set-ip box %zu now %s", *index + 1, Describe(box).c_str());
    if (!Delay())
        return;
    // Answer while the old address still routes to the requester; a new
    // address in another subnet could not reach it by unicast any more.
    SendReply(SET_IP_REQ | RSP_FLAG, box, from);

    const std::string& ifname = m_state.InterfaceName();
    if (m_state.Count() == 1 && m_options.changeInterface && !ifname.empty()) {
        std::string error;
        if (ChangeInterfaceAddress(ifname, ip, netmask, error))
            BoxLog("discovery: interface %s now %s/%s", ifname.c_str(), FormatIpv4(ip).c_str(),
                   FormatIpv4(netmask).c_str());
        else
            BoxLog("discovery: interface %s unchanged: %s", ifname.c_str(), error.c_str());
    }
}

bool BoxDiscovery::SendReply(std::uint8_t type, const BoxIdentity& box, const sockaddr_in& from)
{
    std::uint8_t bytes[MSG_SIZE] = {};
    bytes[0] = type;
    std::memcpy(&bytes[1], box.mac.data(), box.mac.size());
    WriteAddress(&bytes[8], box.ip);
    WriteAddress(&bytes[12], box.netmask);
    WriteAddress(&bytes[16], box.gateway);

    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(m_options.discoveryPort);
    to.sin_addr.s_addr =
        m_options.replyMode == ReplyMode::Broadcast ? htonl(INADDR_BROADCAST) : from.sin_addr.s_addr;
    // About two seconds of waiting for the interface queue at most.
    for (int attempt = 0; attempt < 200; ++attempt) {
        if (sendto(m_socket, bytes, sizeof bytes, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) ==
            static_cast<ssize_t>(sizeof bytes))
            return true;
        if (errno == EINTR)
            continue;
        // A burst may outrun the interface queue; wait for room, then retry.
        if (errno == ENOBUFS || errno == EAGAIN) {
            pollfd fds[2] = {{m_socket, POLLOUT, 0}, {m_wake, POLLIN, 0}};
            if (poll(fds, 2, 10) >= 0 && fds[1].revents == 0)
                continue;
            break;
        }
        break;
    }
    BoxLog("discovery: reply to %s failed: %s", Where(to).c_str(), std::strerror(errno));
    return false;
}

bool BoxDiscovery::Delay()
{
    if (m_options.replyDelayMs == 0)
        return true;
    pollfd wake = {m_wake, POLLIN, 0};
    return poll(&wake, 1, static_cast<int>(m_options.replyDelayMs)) == 0;
}
