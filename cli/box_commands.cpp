#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

#include "cli/fleet_commands.h"
#include "cli/fleet_defaults.h"
#include "cli/parallel.h"
#include "cli/password_input.h"
#include "cli/target_resolution.h"
#include "config/cfg_commands.h"

namespace {

std::string AnswerText(const BoxAnswer& answer)
{
    switch (answer.outcome) {
    case BoxOutcome::Answered:
        return answer.ok ? "ok" : answer.text;
    case BoxOutcome::Disconnected:
        return "connection lost";
    case BoxOutcome::TimedOut:
        return "timeout";
    case BoxOutcome::Cancelled:
        return "cancelled";
    case BoxOutcome::NotSent:
        break;
    }
    return "not sent";
}

// Runs one short command on every box and prints the verdicts.
int RunOnEach(const CommonOptions& common, const std::vector<Box>& boxes,
              const std::function<std::string(BoxSession&)>& act)
{
    std::vector<BoxVerdict> verdicts(boxes.size());
    ForEachParallel(boxes.size(), DEFAULT_PARALLEL, [&](std::size_t i) {
        verdicts[i].ip = boxes[i].ip;
        std::unique_ptr<BoxSession> session = MakeCfgBoxSession();
        verdicts[i].result = session->Open(boxes[i].ip, CONNECT_TIMEOUT) ? act(*session) : "unreachable";
    });
    const bool allOk =
        std::all_of(verdicts.begin(), verdicts.end(), [](const BoxVerdict& v) { return v.result == "ok"; });
    if (Print(FormatVerdicts(verdicts, common.format)) != EXIT_ALL_DONE)
        return EXIT_SOME_FAILED;
    return allOk ? EXIT_ALL_DONE : EXIT_SOME_FAILED;
}

}  // namespace

CommandResult RunInfo(const CommonOptions& common, const TargetOptions& options)
{
    const std::vector<Box> boxes = TRY(Resolve(common, TRY(ParseTargets(options))));
    std::vector<BoxInfo> infos(boxes.size());
    ForEachParallel(boxes.size(), DEFAULT_PARALLEL, [&](std::size_t i) {
        infos[i].ip = boxes[i].ip;
        std::unique_ptr<BoxSession> session = MakeCfgBoxSession();
        infos[i].reached = session->Open(boxes[i].ip, CONNECT_TIMEOUT);
        if (infos[i].reached)
            infos[i].fields = session->Info();
    });
    if (Print(FormatBoxInfos(infos, common.format)) != EXIT_ALL_DONE)
        return EXIT_SOME_FAILED;
    return std::all_of(infos.begin(), infos.end(), [](const BoxInfo& b) { return b.reached; })
               ? EXIT_ALL_DONE
               : EXIT_SOME_FAILED;
}

CommandResult RunReboot(const CommonOptions& common, const TargetOptions& options)
{
    const std::vector<Box> boxes = TRY(Resolve(common, TRY(ParseTargets(options))));
    return RunOnEach(common, boxes, [](BoxSession& session) {
        return AnswerText(session.Command(CMD_REBOOT, SHORT_COMMAND_TIMEOUT));
    });
}

CommandResult RunPasswd(const CommonOptions& common, const TargetOptions& options,
                        const PasswdOptions& passwd)
{
    // Every check of the input comes before the first packet.
    const TargetSelection selection = TRY(ParseTargets(options));
    const std::string password = TRY(ReadPassword(passwd));
    const std::vector<Box> boxes = TRY(Resolve(common, selection));
    const std::string command = *BuildPasswordCommand(password);
    return RunOnEach(common, boxes, [&](BoxSession& session) {
        const BoxAnswer answer = session.Command(command, SHORT_COMMAND_TIMEOUT);
        if (answer.outcome == BoxOutcome::Answered && answer.ok)
            (void)session.Command(CMD_AFTER_PASSWORD,
                                  SHORT_COMMAND_TIMEOUT);  // the box's own reply is not needed
        return AnswerText(answer);
    });
}
