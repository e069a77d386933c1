// Windows side of the adapter tables: the IP Helper API. The adapter's
// friendly name ("Ethernet 2", "WLAN") is its alias, and so its description.
#include "platform/adapters.h"

#include <cstring>
#include <memory>

#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>

#include "platform/win32/text.h"

const char* AdapterTypeName(unsigned short hwType)
{
    switch (hwType) {
    case IF_TYPE_ETHERNET_CSMACD:
        return "Ethernet";
    case IF_TYPE_ISO88025_TOKENRING:
        return "Tokenring";
    case IF_TYPE_FDDI:
        return "FDDI";
    case IF_TYPE_PPP:
        return "PPP";
    case IF_TYPE_SOFTWARE_LOOPBACK:
        return "Loopback";
    case IF_TYPE_SLIP:
        return "Slip";
    case IF_TYPE_IEEE80211:
    case IF_TYPE_TUNNEL:
    case IF_TYPE_OTHER:
        return "Other";
    default:
        return "Unknown";
    }
}

bool AdapterLinkIsUp(const AdapterLink& link)
{
    return link.operState == IfOperStatusUp;
}

bool ReadAdapterTables(std::vector<AdapterAddress>& addresses, std::vector<AdapterLink>& links)
{
    addresses.clear();
    links.clear();
    const ULONG flags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
    // The table may grow between the size query and the read; a few tries.
    ULONG size = 16 * 1024;
    std::unique_ptr<unsigned char[]> buffer;
    ULONG result = ERROR_BUFFER_OVERFLOW;
    for (int attempt = 0; attempt < 3 && result == ERROR_BUFFER_OVERFLOW; ++attempt) {
        buffer = std::make_unique<unsigned char[]>(size);
        result = ::GetAdaptersAddresses(AF_INET, flags, nullptr,
                                        reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.get()), &size);
    }
    if (result == ERROR_NO_DATA)
        return true;
    if (result != NO_ERROR)
        return false;

    for (auto* p = reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(buffer.get()); p != nullptr; p = p->Next) {
        AdapterLink link;
        link.index = static_cast<int>(p->IfIndex);
        link.name = p->AdapterName != nullptr ? p->AdapterName : "";
        if (p->FriendlyName != nullptr)
            link.alias = vindle::platform::win32::Utf8(p->FriendlyName);
        link.hwAddress.assign(p->PhysicalAddress, p->PhysicalAddress + p->PhysicalAddressLength);
        link.hwType = static_cast<unsigned short>(p->IfType);
        link.operState = static_cast<unsigned char>(p->OperStatus);
        links.push_back(std::move(link));

        for (const IP_ADAPTER_UNICAST_ADDRESS* u = p->FirstUnicastAddress; u != nullptr; u = u->Next) {
            if (u->Address.lpSockaddr == nullptr || u->Address.lpSockaddr->sa_family != AF_INET)
                continue;
            sockaddr_in address;
            std::memcpy(&address, u->Address.lpSockaddr, sizeof address);
            AdapterAddress entry;
            entry.index = static_cast<int>(p->IfIndex);
            entry.address = address.sin_addr.s_addr;
            ULONG mask = 0;
            ::ConvertLengthToIpv4Mask(u->OnLinkPrefixLength, &mask);
            entry.netmask = mask;
            addresses.push_back(entry);
        }
    }
    return true;
}
