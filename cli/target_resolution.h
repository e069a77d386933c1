#pragma once
// From the command line's targets to the boxes a command works on: parsing
// TARGETs and --from, choosing the adapter, searching, matching. Every
// function returns an exit status and has said why when it is not 0.

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "cli/core_services.h"
#include "cli/fleet_commands.h"
#include "cli/network_adapters.h"
#include "cli/targets.h"

struct Box
{
    std::uint32_t ip = 0;
    std::string mac;
};

struct TargetSpec
{
    std::vector<Target> list;
    bool all = false;
    bool NeedsSearch() const
    {
        return all || std::any_of(list.begin(), list.end(),
                                  [](const Target& t) { return t.kind != TargetKind::Address; });
    }
};

int ParseTargets(const TargetOptions& options, TargetSpec& spec);
// The adapter for a command that works on one; the error is a usage error.
int ChooseOne(const CommonOptions& common, CliAdapter& adapter);
int OpenSearch(const CliAdapter& adapter, std::unique_ptr<FleetSearch>& search);
// Turns the targets into boxes, searching when a target is no address.
int ResolveTargets(const TargetSpec& spec, FleetSearch* search, std::chrono::milliseconds wait,
                   std::vector<Box>& boxes);
// Resolves the targets of a command that needs no adapter for addresses.
int Resolve(const CommonOptions& common, const TargetSpec& spec, std::vector<Box>& boxes);
// Both steps for a command whose input is only its targets.
int ParseAndResolve(const CommonOptions& common, const TargetOptions& options, std::vector<Box>& boxes);
