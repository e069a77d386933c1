#include "cli/fleet_commands.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iostream>
#include <memory>
#include <set>
#include <sstream>
#include <thread>

#include <pthread.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include "cli/core_services.h"
#include "cli/network_adapters.h"
#include "cli/progress_view.h"
#include "cli/safe_text.h"
#include "cli/sha256.h"
#include "cli/streams.h"
#include "cli/targets.h"
#include "config/cfg_clt.h"
#include "config/cfg_commands.h"
#include "discovery/init_cfg_msg.h"
#include "tftp/tftp_wire.h"

namespace {

using namespace std::chrono_literals;

constexpr auto CONNECT_TIMEOUT = 5000ms;
constexpr auto PROBE_TIMEOUT = 3000ms;
constexpr auto SHORT_COMMAND_TIMEOUT = std::chrono::milliseconds(CMD_REBOOT_TIMEOUT_MS);
// The most a 16-bit block counter covers with the largest block a client
// may negotiate (RFC 2348); boxes that keep 512-byte blocks reach less.
constexpr std::uint64_t MAX_FILE_SIZE = 65535ull * 65464;
constexpr std::uint64_t PLAIN_BLOCK_LIMIT = 65535ull * 512 - 1;

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

// Runs fn(i) for every i below count on up to `parallel` threads.
template <typename Function>
void ForEachParallel(std::size_t count, std::size_t parallel, Function fn)
{
    std::atomic<std::size_t> next{0};
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < std::min(count, parallel); ++t)
        threads.emplace_back([&] {
            for (std::size_t i; (i = next++) < count;)
                fn(i);
        });
    for (std::thread& thread : threads)
        thread.join();
}

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

int Print(const std::string& text)
{
    std::FILE* out = ResultStream();
    std::fwrite(text.data(), 1, text.size(), out);
    std::fflush(out);
    return std::ferror(out) ? EXIT_SOME_FAILED : EXIT_ALL_DONE;
}

// Runs one short command on every box and prints the verdicts.
int RunOnEach(const CommonOptions& common, const std::vector<Box>& boxes,
              const std::function<std::string(BoxSession&)>& act)
{
    std::vector<BoxVerdict> verdicts(boxes.size());
    ForEachParallel(boxes.size(), 8, [&](std::size_t i) {
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

// Reads one line from fd with the terminal's echo off (when it is one).
std::string ReadSecretLine(int fd, bool noEcho)
{
    termios saved{};
    const bool restore = noEcho && tcgetattr(fd, &saved) == 0;
    if (restore) {
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        tcsetattr(fd, TCSAFLUSH, &quiet);
    }
    std::string line;
    char c;
    while (::read(fd, &c, 1) == 1 && c != '\n')
        line += c;
    if (restore) {
        tcsetattr(fd, TCSAFLUSH, &saved);
        std::fputs("\n", MessageStream());
    }
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return line;
}

// Ctrl-C while a password is typed must not leave the echo off.
termios g_savedTerminal{};
std::atomic<bool> g_terminalSaved{false};
void RestoreTerminal(int signal)
{
    if (g_terminalSaved.load())
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &g_savedTerminal);
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

int ReadPassword(const PasswdOptions& options, std::string& password)
{
    if (!options.passwordFile.empty()) {
        std::ifstream in(options.passwordFile, std::ios::binary);
        if (!in) {
            Complain(options.passwordFile, std::strerror(errno));
            return EXIT_USAGE;
        }
        std::getline(in, password);
        if (!password.empty() && password.back() == '\r')
            password.pop_back();
    } else if (isatty(STDIN_FILENO)) {
        if (tcgetattr(STDIN_FILENO, &g_savedTerminal) == 0)
            g_terminalSaved.store(true);
        std::signal(SIGINT, RestoreTerminal);
        std::signal(SIGTERM, RestoreTerminal);
        std::fputs("New password: ", MessageStream());
        password = ReadSecretLine(STDIN_FILENO, true);
        std::fputs("Again: ", MessageStream());
        const std::string again = ReadSecretLine(STDIN_FILENO, true);
        std::signal(SIGINT, SIG_DFL);
        std::signal(SIGTERM, SIG_DFL);
        if (again != password) {
            Complain("password", "the two entries differ");
            return EXIT_USAGE;
        }
    } else {
        password = ReadSecretLine(STDIN_FILENO, false);
    }
    if (password.empty()) {
        Complain("password", "empty");
        return EXIT_USAGE;
    }
    // The box reads the password between double quotes and knows no escape.
    if (password.find_first_of("\"\n") != std::string::npos) {
        Complain("password", "must not contain a double quote");
        return EXIT_USAGE;
    }
    if (!BuildPasswordCommand(password)) {
        Complain("password", "too long for the box's command (at most 226 characters)");
        return EXIT_USAGE;
    }
    return EXIT_ALL_DONE;
}

// SIGINT and SIGTERM are blocked in every thread of an update run, so that
// only SignalWatch's sigtimedwait takes them. Threads inherit the mask, so
// this comes before the first thread starts.
void BlockStopSignals()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

// Takes SIGINT and SIGTERM on a thread of its own while an update runs: the
// first asks the engine to finish, the second to end now. A signal that
// came before the watch started is taken at once.
class SignalWatch final
{
public:
    explicit SignalWatch(std::function<void(int count)> onSignal) : m_onSignal(std::move(onSignal))
    {
        sigemptyset(&m_set);
        sigaddset(&m_set, SIGINT);
        sigaddset(&m_set, SIGTERM);
        m_thread = std::thread([this] { Watch(); });
    }
    ~SignalWatch()
    {
        m_stop.store(true);
        m_thread.join();
    }

private:
    void Watch()
    {
        int count = 0;
        const timespec tick{0, 100'000'000};
        while (!m_stop.load()) {
            if (sigtimedwait(&m_set, nullptr, &tick) > 0)
                m_onSignal(++count);
        }
    }

    std::function<void(int)> m_onSignal;
    sigset_t m_set{};
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

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

void Complain(const std::string& what, const std::string& why)
{
    std::fprintf(MessageStream(), "vindlectl: %s: %s\n", EscapeControls(what).c_str(),
                 EscapeControls(why).c_str());
}

int RunDiscover(const CommonOptions& common)
{
    const AdapterChoice choice =
        ChooseAdapters(ListAdapters(), common.adapter.empty() ? "all" : common.adapter, true);
    if (!choice.error.empty()) {
        Complain("--adapter " + common.adapter, choice.error);
        return EXIT_USAGE;
    }
    std::vector<std::unique_ptr<FleetSearch>> searches;
    for (const CliAdapter& adapter : choice.adapters) {
        searches.emplace_back();
        if (const int status = OpenSearch(adapter, searches.back()))
            return status;
    }
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

int RunSetIp(const CommonOptions& common, const SetIpOptions& options)
{
    const auto mac = ParseMac(options.mac);
    if (!mac) {
        Complain(options.mac, "not a MAC like 02:77:00:00:00:02");
        return EXIT_USAGE;
    }
    const std::pair<const std::string*, const char*> addresses[] = {
        {&options.ip, "ADDRESS"}, {&options.netmask, "NETMASK"}, {&options.gateway, "GATEWAY"}};
    std::uint32_t values[3] = {};
    for (int i = 0; i < 3; ++i) {
        const auto value = ParseIpv4(*addresses[i].first);
        if (!value) {
            Complain(*addresses[i].first, std::string(addresses[i].second) + " is not an IPv4 address");
            return EXIT_USAGE;
        }
        values[i] = *value;
    }
    CliAdapter adapter;
    if (const int status = ChooseOne(common, adapter))
        return status;
    std::unique_ptr<FleetSearch> search;
    if (const int status = OpenSearch(adapter, search))
        return status;
    if (!search->SetIp(*mac, values[0], values[1], values[2], std::chrono::milliseconds(common.waitMs))) {
        Complain(options.mac,
                 "no reply to the set-IP request within " + std::to_string(common.waitMs) + " ms");
        return EXIT_SOME_FAILED;
    }
    return Print(options.mac + " " + options.ip + " ok\n");
}

int RunInfo(const CommonOptions& common, const TargetOptions& options)
{
    std::vector<Box> boxes;
    if (const int status = ParseAndResolve(common, options, boxes))
        return status;
    std::vector<BoxInfo> infos(boxes.size());
    ForEachParallel(boxes.size(), 8, [&](std::size_t i) {
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

int RunReboot(const CommonOptions& common, const TargetOptions& options)
{
    std::vector<Box> boxes;
    if (const int status = ParseAndResolve(common, options, boxes))
        return status;
    return RunOnEach(common, boxes, [](BoxSession& session) {
        return AnswerText(session.Command(CMD_REBOOT, SHORT_COMMAND_TIMEOUT));
    });
}

int RunPasswd(const CommonOptions& common, const TargetOptions& options, const PasswdOptions& passwd)
{
    // Every check of the input comes before the first packet.
    TargetSpec spec;
    if (const int status = ParseTargets(options, spec))
        return status;
    std::string password;
    if (const int status = ReadPassword(passwd, password))
        return status;
    std::vector<Box> boxes;
    if (const int status = Resolve(common, spec, boxes))
        return status;
    const std::string command = *BuildPasswordCommand(password);
    return RunOnEach(common, boxes, [&](BoxSession& session) {
        const BoxAnswer answer = session.Command(command, SHORT_COMMAND_TIMEOUT);
        if (answer.outcome == BoxOutcome::Answered && answer.ok)
            (void)session.Command(CMD_AFTER_PASSWORD,
                                  SHORT_COMMAND_TIMEOUT);  // the box's own reply is not needed
        return AnswerText(answer);
    });
}

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
