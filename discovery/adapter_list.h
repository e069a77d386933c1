#pragma once
// The PC's IPv4 addresses, one record per address, with the data of the
// interface that carries it. The operator picks an adapter by its
// description, which is also what the settings store, so the description must
// be the same on every run.
//
// On Linux the data comes from the kernel's routing netlink (links and IPv4
// addresses of the caller's network namespace):
//   description  the interface's alias (`ip link set X alias ...`) when one is
//                set, else the interface name; at most 255 bytes, cut on a
//                UTF-8 character boundary.
//   id           "IFID_" and the interface name, each "-" turned into "_".
//                Linux has no adapter GUID; the name is unique in the
//                namespace and kept stable across boots by the system's
//                device naming.
//   mac          the first 6 bytes of the link-layer address (zeros when the
//                link has none, e.g. a tun device).
//   type name    from the link type (ARPHRD_*), see AdapterTypeName.
//   operational  1 when the kernel reports the link up, or when it reports
//                no state at all ("unknown", common with virtual links)
//                while the link is administratively up and running, as the
//                kernel's operstate documentation asks user space to treat it.
// Callable from any thread; it keeps no state.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/adapters.h"

// The buffer the caller passed is too small; the size variable now holds the
// number of bytes needed. The value is the one callers know from the system's
// own adapter queries.
inline constexpr std::uint32_t ADAPTER_ERROR_INSUFFICIENT_BUFFER = 122;

struct AdapterInfo
{
    std::uint32_t address;  // IPv4 address, network byte order
    std::uint32_t netmask;  // network byte order
    std::uint8_t mac[6];
    char id[256];              // "IFID_..." NUL-terminated
    char description[256];     // shown in the adapter box and stored as the setting
    char typeName[64];         // "Ethernet", "Loopback", ...
    std::int32_t operational;  // 1 operational, else 0
};

// A caller-supplied buffer: count, then count records back to back.
struct AdapterList
{
    std::uint32_t count;
    AdapterInfo adapters[1];  // really `count` records
};
static_assert(offsetof(AdapterList, adapters) == 4);

// Bytes needed for a list of `records` records.
constexpr std::uint32_t AdapterListSize(std::uint32_t records)
{
    return static_cast<std::uint32_t>(offsetof(AdapterList, adapters) + records * sizeof(AdapterInfo));
}

// Fills pList with the current adapters. *pSize is the number of bytes the
// caller has at pList. Returns
//   0                                  the list is filled (the count may be 0,
//                                      also when the system could not be read);
//   ADAPTER_ERROR_INSUFFICIENT_BUFFER  *pSize now holds the bytes needed and
//                                      the buffer is untouched; allocate that
//                                      much and call again.
// The needed size counts every IPv4 address, also 127.0.0.1, which is then
// left out of the list.
[[nodiscard]] std::uint32_t GetAdapterList(std::uint32_t* pSize, AdapterList* pList);

// The building blocks of GetAdapterList, public so that the rules can be
// checked without depending on the machine's interfaces.

// GetAdapterList over already-read tables: addresses in the system's order,
// links in any order. A link that is missing for an address gives the record
// zero values: empty description and id, zero MAC, "Unknown", not operational.
[[nodiscard]] std::uint32_t BuildAdapterList(const std::vector<AdapterAddress>& addresses,
                                             const std::vector<AdapterLink>& links, std::uint32_t* pSize,
                                             AdapterList* pList);

