#pragma once
// Which network adapter the program binds its discovery endpoint to. Pure
// functions over a view of the adapter list, so that the start-up rules can
// be checked without a network or a window.
//
// The rules: with a saved description, the first adapter whose description
// equals it byte for byte (case-sensitive); without one, the first adapter
// with a non-zero address. When neither finds an adapter the program still
// needs an address; AdapterAddressFor() then falls back to the first adapter
// with a non-zero address and, failing that, to 0.0.0.0.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

struct AdapterView
{
    std::string_view description;
    std::uint32_t address = 0;  // network byte order
};

// The adapter chosen by the saved description (see the file head), or
// nullopt when the rule finds none.
std::optional<std::size_t> ChooseAdapter(std::span<const AdapterView> adapters,
                                         std::string_view savedDescription);

// The address the discovery endpoint binds to. A saved adapter that is no
// longer present falls back to the first adapter with an address: on Linux a
// socket bound to 0.0.0.0 sends the limited broadcast only out of the
// default route's interface (and fails on a host without a default route),
// so a real address finds the boxes far more often. Only when no adapter has
// an address is the result 0.0.0.0 (any interface).
std::uint32_t AdapterAddressFor(std::span<const AdapterView> adapters, std::string_view savedDescription);
