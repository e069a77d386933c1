// POSIX side of the adapter tables: links and IPv4 addresses read over
// routing netlink. Runs on the caller's thread.
#include "platform/adapters.h"

#include <cerrno>
#include <cstring>

#include <arpa/inet.h>
#include <linux/if.h>
#include <linux/if_arp.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

enum class DumpResult
{
    Complete,
    Interrupted,  // the table changed while the kernel sent it; ask again
    Failed,
};

// One routing-netlink dump request; hands every reply message to `handle`.
template <typename Handler>
DumpResult Dump(int fd, std::uint16_t type, unsigned char family, std::uint32_t seq, Handler handle)
{
    struct
    {
        nlmsghdr header;
        rtgenmsg body;
    } request{};
    request.header.nlmsg_len = NLMSG_LENGTH(sizeof(rtgenmsg));
    request.header.nlmsg_type = type;
    request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    request.header.nlmsg_seq = seq;
    request.body.rtgen_family = family;
    if (send(fd, &request, request.header.nlmsg_len, 0) < 0)
        return DumpResult::Failed;
    bool interrupted = false;

    std::vector<char> buffer(64 * 1024);
    for (;;) {
        const ssize_t received = recv(fd, buffer.data(), buffer.size(), 0);
        if (received < 0) {
            if (errno == EINTR)
                continue;
            return DumpResult::Failed;
        }
        if (received == 0)
            return DumpResult::Failed;
        int remaining = static_cast<int>(received);
        // NLMSG_OK compares the header's unsigned length with the signed
        // remainder, which clang flags inside the C library's macro.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wsign-compare"
        for (auto* header = reinterpret_cast<nlmsghdr*>(buffer.data()); NLMSG_OK(header, remaining);
             header = NLMSG_NEXT(header, remaining)) {
#pragma GCC diagnostic pop
            if (header->nlmsg_seq != seq)
                continue;
            if (header->nlmsg_flags & NLM_F_DUMP_INTR)
                interrupted = true;
            if (header->nlmsg_type == NLMSG_DONE)
                return interrupted ? DumpResult::Interrupted : DumpResult::Complete;
            if (header->nlmsg_type == NLMSG_ERROR)
                return DumpResult::Failed;
            handle(header);
        }
    }
}

void ParseLink(const nlmsghdr* header, std::vector<AdapterLink>& links)
{
    if (header->nlmsg_type != RTM_NEWLINK || header->nlmsg_len < NLMSG_LENGTH(sizeof(ifinfomsg)))
        return;
    const auto* info = static_cast<const ifinfomsg*>(NLMSG_DATA(header));
    AdapterLink link;
    link.index = info->ifi_index;
    link.hwType = info->ifi_type;
    link.flags = info->ifi_flags;
    int length = static_cast<int>(IFLA_PAYLOAD(header));
    for (auto* attr = IFLA_RTA(info); RTA_OK(attr, length); attr = RTA_NEXT(attr, length)) {
        const auto* data = static_cast<const char*>(RTA_DATA(attr));
        const std::size_t size = RTA_PAYLOAD(attr);
        switch (attr->rta_type) {
        case IFLA_IFNAME:
            link.name.assign(data, strnlen(data, size));
            break;
        case IFLA_IFALIAS:
            link.alias.assign(data, strnlen(data, size));
            break;
        case IFLA_ADDRESS:
            link.hwAddress.assign(data, data + size);
            break;
        case IFLA_OPERSTATE:
            if (size >= 1)
                link.operState = static_cast<unsigned char>(data[0]);
            break;
        default:
            break;
        }
    }
    links.push_back(std::move(link));
}

void ParseAddress(const nlmsghdr* header, std::vector<AdapterAddress>& addresses)
{
    if (header->nlmsg_type != RTM_NEWADDR || header->nlmsg_len < NLMSG_LENGTH(sizeof(ifaddrmsg)))
        return;
    const auto* info = static_cast<const ifaddrmsg*>(NLMSG_DATA(header));
    if (info->ifa_family != AF_INET)
        return;
    AdapterAddress entry;
    entry.index = static_cast<int>(info->ifa_index);
    const unsigned prefix = std::min<unsigned>(info->ifa_prefixlen, 32);
    entry.netmask = htonl(prefix == 0 ? 0 : 0xFFFFFFFFu << (32 - prefix));
    bool haveLocal = false;
    bool haveAny = false;
    int length = static_cast<int>(IFA_PAYLOAD(header));
    for (auto* attr = IFA_RTA(info); RTA_OK(attr, length); attr = RTA_NEXT(attr, length)) {
        if (RTA_PAYLOAD(attr) < sizeof(std::uint32_t))
            continue;
        // On a point-to-point link IFA_ADDRESS is the peer; IFA_LOCAL is ours.
        if (attr->rta_type == IFA_LOCAL) {
            std::memcpy(&entry.address, RTA_DATA(attr), sizeof entry.address);
            haveLocal = haveAny = true;
        } else if (attr->rta_type == IFA_ADDRESS && !haveLocal) {
            std::memcpy(&entry.address, RTA_DATA(attr), sizeof entry.address);
            haveAny = true;
        }
    }
    if (haveAny)
        addresses.push_back(entry);
}


}  // namespace

const char* AdapterTypeName(unsigned short hwType)
{
    switch (hwType) {
    case ARPHRD_ETHER:
        return "Ethernet";
    case ARPHRD_IEEE802:
    case ARPHRD_IEEE802_TR:
        return "Tokenring";
    case ARPHRD_FDDI:
        return "FDDI";
    case ARPHRD_PPP:
        return "PPP";
    case ARPHRD_LOOPBACK:
        return "Loopback";
    case ARPHRD_SLIP:
    case ARPHRD_CSLIP:
    case ARPHRD_SLIP6:
    case ARPHRD_CSLIP6:
        return "Slip";
    case ARPHRD_NONE:  // tun and other links without a link layer
    case ARPHRD_VOID:
        return "Other";
    default:
        return "Unknown";
    }
}

bool AdapterLinkIsUp(const AdapterLink& link)
{
    // NOTE: many virtual links never set an operational state; the kernel
    // then reports "unknown" and asks user space to go by IFF_RUNNING.
    return link.operState == IF_OPER_UP ||
           (link.operState == IF_OPER_UNKNOWN && (link.flags & IFF_UP) && (link.flags & IFF_RUNNING));
}

bool ReadAdapterTables(std::vector<AdapterAddress>& addresses, std::vector<AdapterLink>& links)
{
    addresses.clear();
    links.clear();
    const int fd = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (fd < 0)
        return false;
    bool ok = false;
    // A table that changes while it is read comes back marked; a few fresh
    // reads give a consistent one.
    std::uint32_t seq = 0;
    for (int attempt = 0; attempt < 3 && !ok; ++attempt) {
        addresses.clear();
        links.clear();
        const DumpResult linkResult =
            Dump(fd, RTM_GETLINK, AF_UNSPEC, ++seq, [&](const nlmsghdr* h) { ParseLink(h, links); });
        if (linkResult == DumpResult::Failed)
            break;
        const DumpResult addressResult =
            Dump(fd, RTM_GETADDR, AF_INET, ++seq, [&](const nlmsghdr* h) { ParseAddress(h, addresses); });
        if (addressResult == DumpResult::Failed)
            break;
        ok = linkResult == DumpResult::Complete && addressResult == DumpResult::Complete;
    }
    close(fd);
    if (!ok) {
        addresses.clear();
        links.clear();
    }
    return ok;
}
