// Adapter enumeration: lays the system's links and IPv4 addresses
// (platform/adapters.h) out as AdapterList records. Runs on the caller's thread.

#include "discovery/adapter_list.h"

#include <algorithm>
#include <cstring>

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
    record.operational = AdapterLinkIsUp(*pLink) ? 1 : 0;
}

}  // namespace



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
