// Adapter enumeration: reads links and IPv4 addresses over routing netlink
// and lays them out as AdapterList records. Runs on the caller's thread.

#include "discovery/adapter_list.h"

#include <algorithm>
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

constexpr std::uint32_t LOOPBACK_ADDRESS = 0x0100007F;  // 127.0.0.1 in network order

// Copies text into a fixed field, leaving room for the NUL and never cutting
// a UTF-8 sequence in half (aliases may hold any text).
template <std::size_t N>
void CopyText(char (&field)[N], const std::string& text)
{
    std::size_t length = std::min(text.size(), N - 1);
    if (length < text.size()) {
        while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80)
            --length;
    }
    std::memcpy(field, text.data(), length);
    field[length] = '\0';
}

void FillRecord(AdapterInfo& record, const AdapterAddress& address, const AdapterLink* pLink)
{
    std::memset(&record, 0, sizeof record);
    record.address = address.address;
    record.netmask = address.netmask;
    if (pLink == nullptr) {
        CopyText(record.typeName, "Unknown");
        return;
    }
    // A link without a link-layer address (tun, ppp) keeps the zero MAC.
    if (!pLink->hwAddress.empty())
        std::memcpy(record.mac, pLink->hwAddress.data(),
                    std::min<std::size_t>(pLink->hwAddress.size(), sizeof record.mac));
    std::string id = "IFID_" + pLink->name;
    std::replace(id.begin(), id.end(), '-', '_');
    CopyText(record.id, id);
    CopyText(record.description, pLink->alias.empty() ? pLink->name : pLink->alias);
    CopyText(record.typeName, AdapterTypeName(pLink->hwType));
    // NOTE: many virtual links never set an operational state; the kernel
    // then reports "unknown" and asks user space to go by IFF_RUNNING.
    const bool up =
        pLink->operState == IF_OPER_UP ||
        (pLink->operState == IF_OPER_UNKNOWN && (pLink->flags & IFF_UP) && (pLink->flags & IFF_RUNNING));
    record.operational = up ? 1 : 0;
}

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

std::uint32_t BuildAdapterList(const std::vector<AdapterAddress>& addresses,
                               const std::vector<AdapterLink>& links, std::uint32_t* pSize,
                               AdapterList* pList)
{
    const std::uint32_t needed = AdapterListSize(static_cast<std::uint32_t>(addresses.size()));
    if (pList == nullptr || *pSize < needed) {
        *pSize = needed;
        return ADAPTER_ERROR_INSUFFICIENT_BUFFER;
    }
    pList->count = 0;
    for (const AdapterAddress& address : addresses) {
        if (address.address == LOOPBACK_ADDRESS)
            continue;
        const auto link = std::find_if(links.begin(), links.end(),
                                       [&](const AdapterLink& l) { return l.index == address.index; });
        FillRecord(pList->adapters[pList->count], address, link == links.end() ? nullptr : &*link);
        ++pList->count;
    }
    return 0;
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

std::uint32_t GetAdapterList(std::uint32_t* pSize, AdapterList* pList)
{
    std::vector<AdapterAddress> addresses;
    std::vector<AdapterLink> links;
    if (!ReadAdapterTables(addresses, links)) {
        // An unreadable table is an empty list, not a failure.
        if (pList == nullptr || *pSize < AdapterListSize(0)) {
            *pSize = AdapterListSize(0);
            return ADAPTER_ERROR_INSUFFICIENT_BUFFER;
        }
        pList->count = 0;
        return 0;
    }
    return BuildAdapterList(addresses, links, pSize, pList);
}
