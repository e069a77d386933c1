#pragma once
// From the command line's targets to the boxes a command works on: parsing
// TARGETs and --from, choosing the adapter, searching, matching.

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "cli/core_services.h"
#include "cli/error_or.h"
#include "cli/fleet_commands.h"
#include "cli/network_adapters.h"
#include "cli/targets.h"

struct Box
{
    std::uint32_t ip = 0;
    std::string mac;
};

// The targets as given, parsed; --from is read once, here.
struct TargetSelection
{
    std::vector<Target> list;
    bool all = false;
    bool NeedsSearch() const
    {
        return all || std::any_of(list.begin(), list.end(),
                                  [](const Target& t) { return t.kind != TargetKind::Address; });
    }
};

ErrorOr<TargetSelection> ParseTargets(const TargetOptions& options);
// The adapter for a command that works on one; the error is a usage error.
ErrorOr<CliAdapter> ChooseOne(const CommonOptions& common);
ErrorOr<std::unique_ptr<FleetSearch>> OpenSearch(const CliAdapter& adapter);
// Turns the targets into boxes, searching when a target is no address.
ErrorOr<std::vector<Box>> ResolveTargets(const TargetSelection& selection, FleetSearch* search,
                                         std::chrono::milliseconds wait);
// Resolves the targets of a command that needs no adapter for addresses.
ErrorOr<std::vector<Box>> Resolve(const CommonOptions& common, const TargetSelection& selection);
