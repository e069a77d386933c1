#include "app/adapter_choice.h"

namespace {

std::optional<std::size_t> FirstWithAddress(std::span<const AdapterView> adapters)
{
    for (std::size_t i = 0; i < adapters.size(); ++i) {
        if (adapters[i].address != 0)
            return i;
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::size_t> ChooseAdapter(std::span<const AdapterView> adapters,
                                         std::string_view savedDescription)
{
    if (savedDescription.empty())
        return FirstWithAddress(adapters);
    for (std::size_t i = 0; i < adapters.size(); ++i) {
        if (adapters[i].description == savedDescription)
            return i;
    }
    return std::nullopt;
}

std::uint32_t AdapterAddressFor(std::span<const AdapterView> adapters, std::string_view savedDescription)
{
    std::optional<std::size_t> chosen = ChooseAdapter(adapters, savedDescription);
    if (!chosen)
        chosen = FirstWithAddress(adapters);
    return chosen ? adapters[*chosen].address : 0;
}
