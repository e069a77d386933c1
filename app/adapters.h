#pragma once
// The adapter list of one run: enumerated once at start-up with the two-call
// protocol of GetAdapterList, kept alive for the whole run and shown in the
// main window's adapter box. Used on the user-interface thread only.

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "app/adapter_choice.h"
#include "discovery/adapter_list.h"

// The signature of GetAdapterList, so that tests can stand in for the system.
using AdapterEnumerator = std::uint32_t (*)(std::uint32_t* pSize, AdapterList* pList);

class CAdapters final
{
public:
    // Enumerates with `enumerate`: a first call with room for one record and
    // a size of 0 learns the size needed, a second call with a buffer of
    // exactly that size fills it. Should the list grow between the calls, the
    // pair is repeated a few times. A list that cannot be read is empty.
    explicit CAdapters(AdapterEnumerator enumerate = &GetAdapterList);

    CAdapters(const CAdapters&) = delete;
    CAdapters& operator=(const CAdapters&) = delete;

    // The list in the layout the main window takes; never null, count 0 when
    // the enumeration failed.
    const AdapterList* List() const { return reinterpret_cast<const AdapterList*>(m_Buffer.get()); }
    std::uint32_t Count() const { return List()->count; }
    const AdapterInfo& At(std::uint32_t i) const { return List()->adapters[i]; }

    // Description and address of every record, in list order.
    std::vector<AdapterView> Views() const;

    // The address to bind to for the saved description (AdapterAddressFor).
    std::uint32_t AddressFor(std::string_view savedDescription) const;

private:
    // 32-bit words keep the records' alignment.
    std::unique_ptr<std::uint32_t[]> m_Buffer;
};
