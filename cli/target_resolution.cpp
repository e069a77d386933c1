#include "cli/target_resolution.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>

#include "config/cfg_clt.h"
#include "discovery/init_cfg_msg.h"
#include "platform/socket.h"

ErrorOr<TargetSelection> ParseTargets(const TargetOptions& options)
{
    TargetSelection selection;
    for (const std::string& text : options.targets) {
        TargetParse parsed = ParseTarget(text);
        if (!parsed.target)
            return UsageError(text, parsed.error);
        selection.list.push_back(*parsed.target);
    }
    if (!options.fromFile.empty()) {
        std::ifstream in(options.fromFile, std::ios::binary);
        if (!in)
            return UsageError(options.fromFile, std::strerror(errno));
        std::stringstream text;
        text << in.rdbuf();
        TargetListParse parsed = ParseTargetList(text.str());
        if (!parsed.error.empty())
            return UsageError(options.fromFile, parsed.error);
        selection.list.insert(selection.list.end(), parsed.targets.begin(), parsed.targets.end());
    }
    selection.all = options.all;
    if (selection.list.empty() && !selection.all)
        return UsageError("targets", "none given; name addresses, MACs or ranges, --all or --from FILE");
    return selection;
}

ErrorOr<CliAdapter> ChooseOne(const CommonOptions& common)
{
    const AdapterChoice choice = ChooseAdapters(ListAdapters(), common.adapter, false);
    if (!choice.error.empty())
        return UsageError(common.adapter.empty() ? "--adapter" : "--adapter " + common.adapter, choice.error);
    return choice.adapters.front();
}

// Port 4000 is the discovery port on both sides, so only one program per
// adapter can search; the window is the usual other one.
ErrorOr<std::unique_ptr<FleetSearch>> OpenSearch(const CliAdapter& adapter)
{
    const int error = ProbeUdpBind(adapter.ip, CFG_DISCOVERY_PORT);
    const std::string port = "port 4000 on " + adapter.name + " " + FormatIpv4(adapter.ip);
    if (error == SOCKET_EADDRINUSE)
        return Failure(port, "already in use (is the vindle window running on this adapter?); close it or "
                             "choose another adapter");
    if (error != 0)
        return Failure(port, SocketErrorText(error));
    return std::make_unique<FleetSearch>(adapter.ip, adapter.name);
}

// Turns the targets into boxes, searching when a target is no address.
ErrorOr<std::vector<Box>> ResolveTargets(const TargetSelection& selection, FleetSearch* search,
                                         std::chrono::milliseconds wait)
{
    std::vector<Box> boxes;
    std::vector<FoundBox> found;
    if (selection.NeedsSearch())
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
    for (const Target& target : selection.list) {
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
            return Failure(target.text, "no box answered the search");
        }
    }
    if (selection.all) {
        for (const FoundBox& box : found)
            add(box.ip, box.mac);
        if (found.empty())
            return Failure("--all", "no box answered the search");
    }
    return boxes;
}

ErrorOr<std::vector<Box>> Resolve(const CommonOptions& common, const TargetSelection& selection)
{
    std::unique_ptr<FleetSearch> search;
    // A named adapter is checked even when only addresses need no search:
    // a typo should not pass silently.
    if (selection.NeedsSearch() || !common.adapter.empty()) {
        const CliAdapter adapter = TRY(ChooseOne(common));
        if (selection.NeedsSearch())
            search = TRY(OpenSearch(adapter));
    }
    return ResolveTargets(selection, search.get(), std::chrono::milliseconds(common.waitMs));
}
