#include "cli/network_adapters.h"

#include "platform/socket.h"

#include "cli/targets.h"
#include "discovery/adapter_list.h"

std::vector<CliAdapter> ListAdapters()
{
    std::vector<AdapterAddress> addresses;
    std::vector<AdapterLink> links;
    std::vector<CliAdapter> adapters;
    if (!ReadAdapterTables(addresses, links))
        return adapters;
    for (const AdapterAddress& address : addresses) {
        if ((ntohl(address.address) >> 24) == 127)
            continue;
        CliAdapter adapter;
        adapter.ip = address.address;
        adapter.netmask = address.netmask;
        for (const AdapterLink& link : links)
            if (link.index == address.index) {
                adapter.name = link.name;
                adapter.alias = link.alias;
            }
        adapters.push_back(adapter);
    }
    return adapters;
}

AdapterChoice ChooseAdapters(const std::vector<CliAdapter>& adapters, std::string_view wanted, bool allowAll)
{
    if (adapters.empty())
        return {{}, "no network adapter has an IPv4 address"};
    if (wanted.empty()) {
        if (adapters.size() == 1)
            return {adapters, {}};
        std::string names;
        for (const CliAdapter& adapter : adapters)
            names += (names.empty() ? "" : ", ") + adapter.name + " " + FormatIpv4(adapter.ip);
        return {{}, "several adapters (" + names + "); choose one with --adapter"};
    }
    if (wanted == "all") {
        if (!allowAll)
            return {{}, "this command works on one adapter; name it"};
        return {adapters, {}};
    }
    const auto ip = ParseIpv4(wanted);
    std::vector<CliAdapter> chosen;
    for (const CliAdapter& adapter : adapters)
        if ((ip && adapter.ip == *ip) ||
            (!ip && (adapter.name == wanted || (!adapter.alias.empty() && adapter.alias == wanted))))
            chosen.push_back(adapter);
    if (chosen.empty())
        return {{}, "no adapter with this name or address"};
    // An interface with several addresses: the first one serves.
    chosen.resize(1);
    return {chosen, {}};
}
