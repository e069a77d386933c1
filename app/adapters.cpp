#include "app/adapters.h"

#include <cstring>

namespace {

std::unique_ptr<std::uint32_t[]> AllocateList(std::uint32_t bytes)
{
    const std::size_t words = (bytes + sizeof(std::uint32_t) - 1) / sizeof(std::uint32_t);
    return std::make_unique<std::uint32_t[]>(words);  // zeroed: count 0
}

// How often the size-then-fill pair is tried when an address appears
// between the two calls.
constexpr int ENUMERATION_TRIES = 3;

}  // namespace

CAdapters::CAdapters(AdapterEnumerator enumerate)
{
    for (int attempt = 0; attempt < ENUMERATION_TRIES; ++attempt) {
        // First call: room for one record, but a size of 0, so that the
        // enumerator only reports what it needs.
        std::uint32_t size = 0;
        auto buffer = AllocateList(AdapterListSize(1));
        const std::uint32_t first = enumerate(&size, reinterpret_cast<AdapterList*>(buffer.get()));
        if (first == ADAPTER_ERROR_INSUFFICIENT_BUFFER && size >= AdapterListSize(0))
            buffer = AllocateList(size);
        else
            size = 0;  // nothing sensible was reported; the second call decides
        const std::uint32_t second = enumerate(&size, reinterpret_cast<AdapterList*>(buffer.get()));
        if (second == 0) {
            m_Buffer = std::move(buffer);
            return;
        }
        if (second != ADAPTER_ERROR_INSUFFICIENT_BUFFER)
            break;
    }
    m_Buffer = AllocateList(AdapterListSize(0));
}

std::vector<AdapterView> CAdapters::Views() const
{
    std::vector<AdapterView> views;
    views.reserve(Count());
    for (std::uint32_t i = 0; i < Count(); ++i) {
        const AdapterInfo& info = At(i);
        views.push_back(
            {std::string_view(info.description, strnlen(info.description, sizeof info.description)),
             info.address});
    }
    return views;
}

std::uint32_t CAdapters::AddressFor(std::string_view savedDescription) const
{
    const std::vector<AdapterView> views = Views();
    return AdapterAddressFor(views, savedDescription);
}
