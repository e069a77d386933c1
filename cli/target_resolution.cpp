#include "cli/target_resolution.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>

#include "config/cfg_clt.h"
#include "discovery/init_cfg_msg.h"

int ParseTargets(const TargetOptions& options, TargetSpec& spec)
{
    for (const std::string& text : options.targets) {
        TargetParse parsed = ParseTarget(text);
        if (!parsed.target) {
            Complain(text, parsed.error);
            return EXIT_USAGE;
        }
        spec.list.push_back(*parsed.target);
    }
    if (!options.fromFile.empty()) {
        std::ifstream in(options.fromFile, std::ios::binary);
        if (!in) {
            Complain(options.fromFile, std::strerror(errno));
            return EXIT_USAGE;
        }
        std::stringstream text;
        text << in.rdbuf();
        TargetListParse parsed = ParseTargetList(text.str());
        if (!parsed.error.empty()) {
            Complain(options.fromFile, parsed.error);
            return EXIT_USAGE;
        }
        spec.list.insert(spec.list.end(), parsed.targets.begin(), parsed.targets.end());
    }
    spec.all = options.all;
    if (spec.list.empty() && !spec.all) {
        Complain("targets", "none given; name addresses, MACs or ranges, --all or --from FILE");
        return EXIT_USAGE;
    }
    return EXIT_ALL_DONE;
}

// The adapter for a command that works on one; the error is a usage error.
int ChooseOne(const CommonOptions& common, CliAdapter& adapter)
{
    const AdapterChoice choice = ChooseAdapters(ListAdapters(), common.adapter, false);
    if (!choice.error.empty()) {
        Complain(common.adapter.empty() ? "--adapter" : "--adapter " + common.adapter, choice.error);
        return EXIT_USAGE;
    }
    adapter = choice.adapters.front();
    return EXIT_ALL_DONE;
}

// Port 4000 is the discovery port on both sides, so only one program per
// adapter can search; the window is the usual other one.
int OpenSearch(const CliAdapter& adapter, std::unique_ptr<FleetSearch>& search)
{
    const int error = ProbeUdpBind(adapter.ip, CFG_DISCOVERY_PORT);
    if (error == EADDRINUSE) {
        Complain("port 4000 on " + adapter.name + " " + FormatIpv4(adapter.ip),
                 "already in use (is the vindle window running on this adapter?); close it or choose another "
                 "adapter");
        return EXIT_SOME_FAILED;
    }
    if (error != 0) {
        Complain("port 4000 on " + adapter.name + " " + FormatIpv4(adapter.ip), std::strerror(error));
        return EXIT_SOME_FAILED;
    }
    search = std::make_unique<FleetSearch>(adapter.ip, adapter.name);
    return EXIT_ALL_DONE;
}

// Turns the targets into boxes, searching when a target is no address.
int ResolveTargets(const TargetSpec& spec, FleetSearch* search, std::chrono::milliseconds wait,
                   std::vector<Box>& boxes)
{
    std::vector<FoundBox> found;
    if (spec.NeedsSearch())
        found = search->Search(wait);
    // A reply no box can have sent would aim the command elsewhere.
    std::erase_if(found, [](const FoundBox& box) {
        if (!box.impossible.empty())
            Complain(FormatIpv4(box.ip) + " (" + box.mac + ")",
                     "left out: impossible reply (" + box.impossible + ")");
        return !box.impossible.empty();
    });
    std::set<std::uint32_t> seen;
    auto add = [&](std::uint32_t ip, const std::string& mac) {
        if (seen.insert(ip).second)
            boxes.push_back({ip, mac});
    };
    auto macOf = [&](std::uint32_t ip) {
        for (const FoundBox& box : found)
            if (box.ip == ip)
                return box.mac;
        return std::string();
    };
    for (const Target& target : spec.list) {
        bool any = false;
        for (const FoundBox& box : found) {
            const bool match = (target.kind == TargetKind::Mac && box.mac == FormatMac(target.mac)) ||
                               (target.kind == TargetKind::Range && RangeContains(target.range, box.ip));
            if (match) {
                add(box.ip, box.mac);
                any = true;
            }
        }
        if (target.kind == TargetKind::Address) {
            add(target.ip, macOf(target.ip));
        } else if (!any) {
            Complain(target.text, "no box answered the search");
            return EXIT_SOME_FAILED;
        }
    }
    if (spec.all) {
        for (const FoundBox& box : found)
            add(box.ip, box.mac);
        if (found.empty()) {
            Complain("--all", "no box answered the search");
            return EXIT_SOME_FAILED;
        }
    }
    return EXIT_ALL_DONE;
}

// Resolves the targets of a command that needs no adapter for addresses.
int Resolve(const CommonOptions& common, const TargetSpec& spec, std::vector<Box>& boxes)
{
    std::unique_ptr<FleetSearch> search;
    // A named adapter is checked even when only addresses need no search:
    // a typo should not pass silently.
    if (spec.NeedsSearch() || !common.adapter.empty()) {
        CliAdapter adapter;
        if (const int status = ChooseOne(common, adapter))
            return status;
        if (spec.NeedsSearch())
            if (const int status = OpenSearch(adapter, search))
                return status;
    }
    return ResolveTargets(spec, search.get(), std::chrono::milliseconds(common.waitMs), boxes);
}

// Both steps for a command whose input is only its targets.
int ParseAndResolve(const CommonOptions& common, const TargetOptions& options, std::vector<Box>& boxes)
{
    TargetSpec spec;
    if (const int status = ParseTargets(options, spec))
        return status;
    return Resolve(common, spec, boxes);
}
