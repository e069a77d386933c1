// Box records and their defaults from the interface.

#include "box_state.h"

#include <cstring>

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netpacket/packet.h>

namespace {

struct InterfaceFacts
{
    std::string name;
    std::optional<MacAddress> mac;
    std::optional<std::uint32_t> ip;
    std::optional<std::uint32_t> netmask;
};

// The named interface, or the first that is up, not loopback and has IPv4.
InterfaceFacts FindInterface(const std::string& wanted)
{
    InterfaceFacts facts;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return facts;
    if (wanted.empty()) {
        for (ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
            if (entry->ifa_addr != nullptr && entry->ifa_addr->sa_family == AF_INET &&
                (entry->ifa_flags & IFF_UP) && !(entry->ifa_flags & IFF_LOOPBACK)) {
                facts.name = entry->ifa_name;
                break;
            }
        }
    } else {
        facts.name = wanted;
    }
    for (ifaddrs* entry = list; entry != nullptr && !facts.name.empty(); entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || facts.name != entry->ifa_name)
            continue;
        if (entry->ifa_addr->sa_family == AF_INET && !facts.ip) {
            facts.ip = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr.s_addr;
            if (entry->ifa_netmask != nullptr)
                facts.netmask = reinterpret_cast<const sockaddr_in*>(entry->ifa_netmask)->sin_addr.s_addr;
        } else if (entry->ifa_addr->sa_family == AF_PACKET) {
            const auto* link = reinterpret_cast<const sockaddr_ll*>(entry->ifa_addr);
            if (link->sll_halen >= 6) {
                MacAddress mac;
                std::memcpy(mac.data(), link->sll_addr, 6);
                facts.mac = mac;
            }
        }
    }
    freeifaddrs(list);
    return facts;
}

MacAddress AddToMac(MacAddress mac, unsigned k)
{
    std::uint64_t value = 0;
    for (std::uint8_t b : mac)
        value = (value << 8) | b;
    value += k;
    for (int i = 5; i >= 0; --i) {
        mac[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value & 0xFF);
        value >>= 8;
    }
    return mac;
}

std::uint32_t AddToIp(std::uint32_t ip, unsigned k)
{
    return htonl(ntohl(ip) + k);
}

}  // namespace

BoxState::BoxState(std::string interfaceName, std::vector<BoxIdentity> boxes, const std::string& firmware)
    : m_interfaceName(std::move(interfaceName))
    , m_count(boxes.size())
    , m_boxes(std::move(boxes))
    , m_firmware(m_count, firmware)
{
}

std::string BoxState::Firmware(std::size_t index) const
{
    std::lock_guard lock(m_mutex);
    return m_firmware.at(index);
}

void BoxState::SetFirmware(std::size_t index, const std::string& firmware)
{
    std::lock_guard lock(m_mutex);
    m_firmware.at(index) = firmware;
}

BoxIdentity BoxState::Get(std::size_t index) const
{
    std::lock_guard lock(m_mutex);
    return m_boxes.at(index);
}

std::optional<std::size_t> BoxState::FindByMac(const MacAddress& mac) const
{
    std::lock_guard lock(m_mutex);
    for (std::size_t i = 0; i < m_boxes.size(); ++i) {
        if (m_boxes[i].mac == mac)
            return i;
    }
    return std::nullopt;
}

void BoxState::SetAddresses(std::size_t index, std::uint32_t ip, std::uint32_t netmask, std::uint32_t gateway)
{
    std::lock_guard lock(m_mutex);
    BoxIdentity& box = m_boxes.at(index);
    box.ip = ip;
    box.netmask = netmask;
    box.gateway = gateway;
}

std::unique_ptr<BoxState> MakeBoxState(const BoxOptions& options, std::string& error)
{
    const InterfaceFacts facts = FindInterface(options.interfaceName);
    if (!options.interfaceName.empty() && if_nametoindex(options.interfaceName.c_str()) == 0) {
        error = "no such interface: " + options.interfaceName;
        return nullptr;
    }
    BoxIdentity first;
    if (options.mac)
        first.mac = *options.mac;
    else if (facts.mac)
        first.mac = *facts.mac;
    else {
        error = "no --mac given and no interface MAC to take";
        return nullptr;
    }
    if (options.ip)
        first.ip = *options.ip;
    else if (facts.ip)
        first.ip = *facts.ip;
    else {
        error = "no --ip given and no interface address to take";
        return nullptr;
    }
    // The interface's netmask belongs to the interface's address only.
    if (options.netmask)
        first.netmask = *options.netmask;
    else if (!options.ip && facts.netmask)
        first.netmask = *facts.netmask;
    else
        first.netmask = htonl(0xFFFFFF00u);
    first.gateway = options.gateway.value_or(0);

    std::vector<BoxIdentity> boxes(options.count, first);
    for (unsigned k = 0; k < options.count; ++k) {
        boxes[k].mac = AddToMac(first.mac, k);
        boxes[k].ip = AddToIp(first.ip, k);
    }
    return std::make_unique<BoxState>(facts.name, std::move(boxes), options.firmware);
}
