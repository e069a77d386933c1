#pragma once
// The machine's IPv4 adapters as vindlectl names them, and the choice that
// --adapter makes among them. ChooseAdapters is pure over the list.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct CliAdapter
{
    std::string name;      // interface name, e.g. "br0"
    std::string alias;     // the interface's alias, when one is set
    std::uint32_t ip = 0;  // network byte order
    std::uint32_t netmask = 0;
};

// Every IPv4 address of the machine except loopback, in the system's order.
std::vector<CliAdapter> ListAdapters();

struct AdapterChoice
{
    std::vector<CliAdapter> adapters;
    std::string error;  // why none could be chosen
};
// `wanted` is a name, an alias, an address or "all" (only when allowAll);
// empty means the machine's single adapter.
AdapterChoice ChooseAdapters(const std::vector<CliAdapter>& adapters, std::string_view wanted, bool allowAll);
