#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <vector>

#include "cli/fleet_commands.h"
#include "cli/fleet_defaults.h"
#include "cli/progress_view.h"
#include "cli/safe_text.h"
#include "cli/sha256.h"
#include "cli/signal_watch.h"
#include "cli/streams.h"
#include "cli/target_resolution.h"
#include "config/cfg_clt.h"
#include "config/cfg_commands.h"
#include "discovery/init_cfg_msg.h"
#include "platform/console.h"
#include "platform/files.h"
#include "platform/socket.h"
#include "tftp/tftp_wire.h"

namespace {

// The most a 16-bit block counter covers with the largest block a client
// may negotiate (RFC 2348); boxes that keep 512-byte blocks reach less.
constexpr std::uint64_t MAX_FILE_SIZE = 65535ull * 65464;
constexpr std::uint64_t PLAIN_BLOCK_LIMIT = 65535ull * 512 - 1;

const char* PortBindAdvice(int error)
{
    if ((error == SOCKET_EACCES || error == SOCKET_EPERM) && LowPortsNeedPrivilege())
        return "permission denied; allow it with `sudo setcap cap_net_bind_service=+ep vindlectl` or "
               "`sudo sysctl net.ipv4.ip_unprivileged_port_start=69` (see the README, \"Fleet\")";
    if (error == SOCKET_EACCES || error == SOCKET_EPERM)
        return "access denied, though Windows needs no privilege for it: another program holds the port "
               "for itself; stop it first (the firewall may also ask whether vindlectl may receive)";
    if (error == SOCKET_EADDRINUSE)
        return "already in use by another TFTP server (the vindle window?); stop it first";
    return nullptr;
}

// The command line's KIND (CLI11 admits only these names).
std::int32_t UpdateKind(const std::string& name)
{
    if (name == "app")
        return UPDATE_APPLICATION;
    return name == "software" ? UPDATE_SOFTWARE : UPDATE_SYSTEM;
}

// What the command line asks for, checked.
struct UpdateJob
{
    std::int32_t kind = UPDATE_SYSTEM;
    UpdateFile file;  // the folder to serve and the name the boxes fetch
    PortRange ports;
    std::optional<OutputFormat> reportFormat;
    TargetSelection selection;
    CliAdapter adapter;
};

ErrorOr<UpdateFile> CheckUpdateFile(const std::string& path, std::int32_t kind)
{
    const vindle::platform::InputFile file = vindle::platform::InspectInputFile(path);
    using State = vindle::platform::InputFile::State;
    if (file.state == State::Missing || file.state == State::Unreadable)
        return UsageError(path, file.error);
    if (file.state == State::NotRegular)
        return UsageError(path, "not a regular file");
    if (file.size > MAX_FILE_SIZE)
        return UsageError(path, "too large for TFTP's 16-bit block counter");
    const auto split = SplitUpdatePath(file.fullPath);
    if (!split || !BuildUpdateCommand(kind, split->name, ""))
        return UsageError(path, "the name or its folder is too long for the box's update command");
    return *split;
}

// Usage first: nothing is sent before all of it holds.
ErrorOr<UpdateJob> CheckUpdateUsage(const CommonOptions& common, const TargetOptions& options,
                                    const UpdateOptions& update)
{
    UpdateJob job;
    job.kind = UpdateKind(update.kind);
    job.file = TRY(CheckUpdateFile(update.file, job.kind));
    if (!update.portRange.empty()) {
        const auto parsed = ParsePortRange(update.portRange);
        if (!parsed)
            return UsageError("--port-range " + update.portRange,
                              "give LO-HI with 1024 <= LO <= HI <= 65534");
        job.ports = *parsed;
    }
    job.reportFormat = ReportFormatForPath(update.report);
    if (!update.report.empty() && !job.reportFormat)
        return UsageError("--report " + update.report, "the file name must end in .json or .csv");
    job.selection = TRY(ParseTargets(options));
    job.adapter = TRY(ChooseOne(common));
    return job;
}

UpdatePlan MakePlan(const UpdateJob& job, const UpdateOptions& update, std::uint64_t fileSize)
{
    UpdatePlan plan;
    plan.kind = job.kind;
    plan.fileName = job.file.name;
    plan.fileSize = fileSize;
    plan.parallel = update.parallel;
    plan.retries = update.retries;
    plan.maxFailures = update.maxFailures;
    plan.retryErrors = update.retryErrors;
    plan.trustBox = update.trustBox;
    plan.connectTimeout = CONNECT_TIMEOUT;
    plan.commandTimeout = std::chrono::seconds(update.timeoutSeconds);
    plan.waitBack = std::chrono::seconds(update.waitBackSeconds);
    return plan;
}

struct FleetOutcome
{
    std::vector<BoxRecord> records;  // of every box
    bool cancelled = false;
    int exitCode = EXIT_ALL_DONE;
};

// Serves the file and updates the boxes.
ErrorOr<FleetOutcome> RunFleet(const UpdateJob& job, const UpdatePlan& plan, FleetSearch* search,
                               const std::vector<Box>& boxes, bool verbose)
{
    std::unique_ptr<UpdateFileServer> server =
        MakeTftpFileServer(verbose ? ServerLines::ToStandardError : ServerLines::Hidden);
    std::vector<BoxRecord> records;
    for (const Box& box : boxes) {
        BoxRecord record;
        record.ip = box.ip;
        record.mac = box.mac;
        records.push_back(record);
    }
    ProgressView view(MessageStream(), vindle::platform::EnableInPlaceRedraw(MessageStream()), records.size());
    SteadyEngineClock clock;
    EngineDeps deps;
    deps.sessions = [] { return MakeCfgBoxSession(); };
    deps.probe = [](const std::vector<std::uint32_t>& ips) {
        return ProbeTcp(ips, CFG_SERVICE_PORT, PROBE_TIMEOUT);
    };
    if (search)
        deps.answersDiscovery = [search](std::uint32_t ip, std::chrono::milliseconds wait) {
            return search->Answers(ip, wait);
        };
    deps.abortTransfers = [&server] { server->AbortTransfers(); };
    deps.observer = [&view](const EngineEvent& event) { view.OnEvent(event); };
    deps.clock = &clock;
    UpdateEngine engine(plan, deps, records);
    server->SetEventHandler([&engine](const FileServeEvent& event) { engine.OnFileEvent(event); });

    SignalWatch signals([&](int count) {
        view.Note(count == 1 ? "vindlectl: stopping: no new box starts; Ctrl-C again ends the running ones"
                             : "vindlectl: ending the running boxes now");
        engine.Cancel();
    });
    const std::string problem =
        server->Start(job.file.folder, job.adapter.ip, TFTP_PORT, job.ports.low, job.ports.high);
    if (!problem.empty())
        return Failure("TFTP server", problem);
    engine.Run();
    server->Stop();
    view.Close();
    return FleetOutcome{engine.Records(), engine.Cancellation() != CancelLevel::None, engine.ExitCode()};
}

// The report on standard output and, when asked for, in its file.
int WriteReports(const UpdateReport& report, const CommonOptions& common, const UpdateOptions& update,
                 const UpdateJob& job)
{
    int status = Print(FormatUpdateReport(report, common.format));
    if (!update.report.empty()) {
        std::ofstream out(update.report, std::ios::binary | std::ios::trunc);
        out << FormatUpdateReport(report, *job.reportFormat);
        out.close();
        if (!out) {
            Complain(update.report, "the report could not be written");
            status = EXIT_SOME_FAILED;
        }
    }
    return status;
}

}  // namespace

CommandResult RunUpdate(const CommonOptions& common, const TargetOptions& options,
                        const UpdateOptions& update)
{
    const UpdateJob job = TRY(CheckUpdateUsage(common, options, update));

    // Pre-flight.
    const FileDigest digest = DigestFile(update.file);
    if (!digest.ok)
        return UsageError(update.file, "cannot be read");
    if (digest.size > PLAIN_BLOCK_LIMIT)
        Complain(update.file,
                 "larger than 512-byte blocks can count; boxes that do not ask for larger blocks will fail");
    if (const int error = ProbeUdpBind(job.adapter.ip, TFTP_PORT)) {
        const char* advice = PortBindAdvice(error);
        return Failure("port 69 on " + FormatIpv4(job.adapter.ip), advice ? advice : SocketErrorText(error));
    }
    // From here on threads start; a Ctrl-C before the engine runs cancels
    // every box (the watch takes the pending signal).
    BlockStopSignals();
    std::unique_ptr<FleetSearch> search;
    if (job.selection.NeedsSearch() || update.waitBackSeconds > 0)
        search = TRY(OpenSearch(job.adapter));
    const std::vector<Box> boxes =
        TRY(ResolveTargets(job.selection, search.get(), std::chrono::milliseconds(common.waitMs)));

    FleetOutcome outcome =
        TRY(RunFleet(job, MakePlan(job, update, digest.size), search.get(), boxes, common.verbose));
    UpdateReport report;
    report.kind = update.kind;
    report.file = update.file;
    report.fileSize = digest.size;
    report.sha256 = digest.sha256;
    report.cancelled = outcome.cancelled;
    report.boxes = std::move(outcome.records);
    const int written = WriteReports(report, common, update, job);
    return written != EXIT_ALL_DONE ? written : outcome.exitCode;
}
