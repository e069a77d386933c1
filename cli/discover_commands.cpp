#include <cstring>
#include <memory>
#include <vector>

#include "cli/fleet_commands.h"
#include "cli/parallel.h"
#include "cli/target_resolution.h"

CommandResult RunDiscover(const CommonOptions& common)
{
    const AdapterChoice choice =
        ChooseAdapters(ListAdapters(), common.adapter.empty() ? "all" : common.adapter, true);
    if (!choice.error.empty())
        return UsageError("--adapter " + common.adapter, choice.error);
    std::vector<std::unique_ptr<FleetSearch>> searches;
    for (const CliAdapter& adapter : choice.adapters)
        searches.push_back(TRY(OpenSearch(adapter)));
    std::vector<std::vector<FoundBox>> found(searches.size());
    ForEachParallel(searches.size(), searches.size(), [&](std::size_t i) {
        found[i] = searches[i]->Search(std::chrono::milliseconds(common.waitMs));
    });
    std::vector<FoundBox> boxes;
    for (const auto& list : found)
        boxes.insert(boxes.end(), list.begin(), list.end());
    FlagDuplicates(boxes);
    for (const FoundBox& box : boxes) {
        if (box.ipConflict)
            Complain(FormatIpv4(box.ip), "claimed by more than one MAC (" + box.mac + " is one)");
    }
    if (Print(FormatFoundBoxes(boxes, common.format)) != EXIT_ALL_DONE)
        return EXIT_SOME_FAILED;
    return boxes.empty() ? EXIT_SOME_FAILED : EXIT_ALL_DONE;
}

CommandResult RunSetIp(const CommonOptions& common, const SetIpOptions& options)
{
    const auto mac = ParseMac(options.mac);
    if (!mac)
        return UsageError(options.mac, "not a MAC like 02:77:00:00:00:02");
    const std::pair<const std::string*, const char*> addresses[] = {
        {&options.ip, "ADDRESS"}, {&options.netmask, "NETMASK"}, {&options.gateway, "GATEWAY"}};
    std::uint32_t values[3] = {};
    for (int i = 0; i < 3; ++i) {
        const auto value = ParseIpv4(*addresses[i].first);
        if (!value)
            return UsageError(*addresses[i].first,
                              std::string(addresses[i].second) + " is not an IPv4 address");
        values[i] = *value;
    }
    const CliAdapter adapter = TRY(ChooseOne(common));
    const std::unique_ptr<FleetSearch> search = TRY(OpenSearch(adapter));
    if (!search->SetIp(*mac, values[0], values[1], values[2], std::chrono::milliseconds(common.waitMs)))
        return Failure(options.mac,
                       "no reply to the set-IP request within " + std::to_string(common.waitMs) + " ms");
    return Print(options.mac + " " + options.ip + " ok\n");
}
