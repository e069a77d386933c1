#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

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
#include "tftp/tftp_wire.h"

namespace {

// The most a 16-bit block counter covers with the largest block a client
// may negotiate (RFC 2348); boxes that keep 512-byte blocks reach less.
constexpr std::uint64_t MAX_FILE_SIZE = 65535ull * 65464;
constexpr std::uint64_t PLAIN_BLOCK_LIMIT = 65535ull * 512 - 1;

const char* PortBindAdvice(int error)
{
    if (error == EACCES || error == EPERM)
        return "permission denied; allow it with `sudo setcap cap_net_bind_service=+ep vindlectl` or "
               "`sudo sysctl net.ipv4.ip_unprivileged_port_start=69` (see the README, \"Fleet\")";
    if (error == EADDRINUSE)
        return "already in use by another TFTP server (the vindle window?); stop it first";
    return nullptr;
}

}  // namespace

int RunUpdate(const CommonOptions& common, const TargetOptions& options, const UpdateOptions& update)
{
    // Usage first: nothing is sent before all of it holds.
    static const std::pair<const char*, std::int32_t> kinds[] = {
        {"system", UPDATE_SYSTEM}, {"app", UPDATE_APPLICATION}, {"software", UPDATE_SOFTWARE}};
    std::int32_t kind = -1;
    for (const auto& [name, value] : kinds)
        if (update.kind == name)
            kind = value;
    if (kind < 0) {
        Complain(update.kind, "the update kind is system, app or software");
        return EXIT_USAGE;
    }
    struct stat fileStat = {};
    if (::stat(update.file.c_str(), &fileStat) != 0) {
        Complain(update.file, std::strerror(errno));
        return EXIT_USAGE;
    }
    if (!S_ISREG(fileStat.st_mode)) {
        Complain(update.file, "not a regular file");
        return EXIT_USAGE;
    }
    if (::access(update.file.c_str(), R_OK) != 0) {
        Complain(update.file, std::strerror(errno));
        return EXIT_USAGE;
    }
    if (static_cast<std::uint64_t>(fileStat.st_size) > MAX_FILE_SIZE) {
        Complain(update.file, "too large for TFTP's 16-bit block counter");
        return EXIT_USAGE;
    }
    char* real = ::realpath(update.file.c_str(), nullptr);
    const std::string fullPath = real ? real : update.file;
    std::free(real);
    const auto split = SplitUpdatePath(fullPath);
    if (!split || !BuildUpdateCommand(kind, split->name, "")) {
        Complain(update.file, "the name or its folder is too long for the box's update command");
        return EXIT_USAGE;
    }
    PortRange ports;
    if (!update.portRange.empty()) {
        const auto parsed = ParsePortRange(update.portRange);
        if (!parsed) {
            Complain("--port-range " + update.portRange, "give LO-HI with 1024 <= LO <= HI <= 65534");
            return EXIT_USAGE;
        }
        ports = *parsed;
    }
    const std::optional<OutputFormat> reportFormat = ReportFormatForPath(update.report);
    if (!update.report.empty() && !reportFormat) {
        Complain("--report " + update.report, "the file name must end in .json or .csv");
        return EXIT_USAGE;
    }
    TargetSpec spec;
    if (const int status = ParseTargets(options, spec))
        return status;
    CliAdapter adapter;
    if (const int status = ChooseOne(common, adapter))
        return status;

    // Pre-flight.
    const FileDigest digest = DigestFile(update.file);
    if (!digest.ok) {
        Complain(update.file, "cannot be read");
        return EXIT_USAGE;
    }
    if (digest.size > PLAIN_BLOCK_LIMIT)
        std::fprintf(MessageStream(),
                     "vindlectl: %s: larger than 512-byte blocks can count; boxes that do not ask for "
                     "larger blocks will fail\n",
                     EscapeControls(update.file).c_str());
    if (const int error = ProbeUdpBind(adapter.ip, TFTP_PORT)) {
        const char* advice = PortBindAdvice(error);
        Complain("port 69 on " + FormatIpv4(adapter.ip), advice ? advice : std::strerror(error));
        return EXIT_SOME_FAILED;
    }
    // From here on threads start; a Ctrl-C before the engine runs cancels
    // every box (the watch takes the pending signal).
    BlockStopSignals();
    std::unique_ptr<FleetSearch> search;
    if (spec.NeedsSearch() || update.waitBackSeconds > 0)
        if (const int status = OpenSearch(adapter, search))
            return status;
    std::vector<Box> boxes;
    if (const int status =
            ResolveTargets(spec, search.get(), std::chrono::milliseconds(common.waitMs), boxes))
        return status;

    std::unique_ptr<UpdateFileServer> server = MakeTftpFileServer(common.verbose);
    std::vector<BoxRecord> records;
    for (const Box& box : boxes) {
        BoxRecord record;
        record.ip = box.ip;
        record.mac = box.mac;
        records.push_back(record);
    }
    UpdatePlan plan;
    plan.kind = kind;
    plan.fileName = split->name;
    plan.fileSize = digest.size;
    plan.parallel = update.parallel;
    plan.retries = update.retries;
    plan.maxFailures = update.maxFailures;
    plan.retryErrors = update.retryErrors;
    plan.trustBox = update.trustBox;
    plan.connectTimeout = CONNECT_TIMEOUT;
    plan.commandTimeout = std::chrono::seconds(update.timeoutSeconds);
    plan.waitBack = std::chrono::seconds(update.waitBackSeconds);

    ProgressView view(MessageStream(), isatty(fileno(MessageStream())) != 0, records.size());
    SteadyEngineClock clock;
    EngineDeps deps;
    deps.sessions = [] { return MakeCfgBoxSession(); };
    deps.probe = [](const std::vector<std::uint32_t>& ips) {
        return ProbeTcp(ips, CFG_SERVICE_PORT, PROBE_TIMEOUT);
    };
    if (search) {
        FleetSearch* discovery = search.get();
        deps.answersDiscovery = [discovery](std::uint32_t ip, std::chrono::milliseconds wait) {
            return discovery->Answers(ip, wait);
        };
    }
    deps.abortTransfers = [&server] { server->AbortTransfers(); };
    deps.observer = [&view](const EngineEvent& event) { view.OnEvent(event); };
    deps.clock = &clock;
    UpdateEngine engine(plan, deps, records);
    server->SetEventHandler([&engine](const FileServeEvent& event) { engine.OnFileEvent(event); });

    int exitCode;
    {
        SignalWatch signals([&](int count) {
            view.Note(count == 1
                          ? "vindlectl: stopping: no new box starts; Ctrl-C again ends the running ones"
                          : "vindlectl: ending the running boxes now");
            engine.Cancel();
        });
        const std::string problem =
            server->Start(split->folder, adapter.ip, TFTP_PORT, ports.low, ports.high);
        if (!problem.empty()) {
            Complain("TFTP server", problem);
            return EXIT_SOME_FAILED;
        }
        engine.Run();
        server->Stop();
        view.Close();
        exitCode = engine.ExitCode();
    }

    UpdateReport report;
    report.kind = update.kind;
    report.file = update.file;
    report.fileSize = digest.size;
    report.sha256 = digest.sha256;
    report.cancelled = engine.CancelLevel() > 0;
    report.boxes = engine.Records();
    if (Print(FormatUpdateReport(report, common.format)) != EXIT_ALL_DONE)
        exitCode = EXIT_SOME_FAILED;
    if (!update.report.empty()) {
        std::ofstream out(update.report, std::ios::binary | std::ios::trunc);
        out << FormatUpdateReport(report, *reportFormat);
        out.close();
        if (!out) {
            Complain(update.report, "the report could not be written");
            return EXIT_SOME_FAILED;
        }
    }
    return exitCode;
}
