// Test helpers for running inside the lab; see lab.h.
#include "tests/common/lab.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

std::string EnvOr(const char* name, const std::string& fallback = {})
{
    const char* value = std::getenv(name);
    return value ? std::string(value) : fallback;
}

int ExitCodeOf(int status)
{
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return -1;
}

int MillisecondsUntil(Clock::time_point deadline)
{
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

}  // namespace

LabEnv::LabEnv()
{
    m_toolIp = EnvOr("LAB_TOOL_IP");
    m_toolIf = EnvOr("LAB_TOOL_IF");
    const std::string boxes = EnvOr("LAB_BOXES");
    if (m_toolIp.empty() || boxes.empty()) {
        m_problem = "not running inside the lab (LAB_TOOL_IP/LAB_BOXES unset): "
                    "this test broadcasts or binds fixed ports and must run as "
                    "`tools/lab/vindle-lab --boxes N -- <test>` (ctest -L lab does that)";
        return;
    }
    char* end = nullptr;
    long count = std::strtol(boxes.c_str(), &end, 10);
    if (*end != '\0' || count < 0 || count > 250) {
        m_problem = "LAB_BOXES is not a box count: '" + boxes + "'";
        return;
    }
    for (long i = 1; i <= count; ++i) {
        const std::string n = std::to_string(i);
        LabBox box;
        box.index = static_cast<int>(i);
        box.ns = EnvOr(("LAB_BOX_NS_" + n).c_str());
        box.ip = EnvOr(("LAB_BOX_IP_" + n).c_str());
        box.mac = EnvOr(("LAB_BOX_MAC_" + n).c_str());
        box.ifname = EnvOr(("LAB_BOX_IF_" + n).c_str(), "eth0");
        if (box.ns.empty() || box.ip.empty() || box.mac.empty()) {
            m_problem = "lab variables for box " + n + " are incomplete (LAB_BOX_NS_" + n + ", LAB_BOX_IP_" +
                        n + ", LAB_BOX_MAC_" + n + ")";
            m_boxes.clear();
            return;
        }
        m_boxes.push_back(std::move(box));
    }
    m_boxIndex = std::atoi(EnvOr("LAB_BOX_INDEX", "0").c_str());
}

const LabBox& LabEnv::Box(int i) const
{
    static const LabBox none;
    if (i < 1 || i > Boxes())
        return none;
    return m_boxes[static_cast<std::size_t>(i - 1)];
}

const LabEnv& Lab()
{
    static const LabEnv env;
    return env;
}

::testing::AssertionResult InsideLab(int minBoxes)
{
    const LabEnv& env = Lab();
    if (!env.Present())
        return ::testing::AssertionFailure() << env.Problem();
    if (env.Boxes() < minBoxes)
        return ::testing::AssertionFailure()
               << "the lab has " << env.Boxes() << " box namespace(s), this test needs " << minBoxes
               << " (vindle_add_lab_tests(... BOXES " << minBoxes << "))";
    return ::testing::AssertionSuccess();
}

void LabTest::SetUp()
{
    ASSERT_TRUE(InsideLab(MinBoxes()));
}

LabProcess::LabProcess(int box, std::vector<std::string> argv, Output output)
{
    if (argv.empty()) {
        m_error = "empty command";
        return;
    }
    if (box != LAB_TOOL_SIDE) {
        const LabBox& target = Lab().Box(box);
        if (target.ns.empty()) {
            m_error = "no lab box " + std::to_string(box) + ": " +
                      (Lab().Present() ? "the lab has " + std::to_string(Lab().Boxes()) + " box(es)"
                                       : Lab().Problem());
            return;
        }
        // `ip netns exec` execs the command itself, so our PID stays the
        // command's PID and signals reach it directly.
        argv.insert(argv.begin(), {"ip", "netns", "exec", target.ns});
    }

    std::vector<char*> args;
    for (auto& a : argv)
        args.push_back(a.data());
    args.push_back(nullptr);

    int pipeFds[2] = {-1, -1};
    if (output != Output::Inherit && pipe2(pipeFds, O_CLOEXEC) != 0) {
        m_error = std::string("pipe: ") + std::strerror(errno);
        return;
    }

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attr);
    // Own process group, so that Stop() also reaches what the child starts.
    posix_spawnattr_setpgroup(&attr, 0);
    // Default signal handling and an empty mask whatever the test set up.
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &all);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    if (output != Output::Inherit) {
        posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
        if (output == Output::CaptureMerged)
            posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDERR_FILENO);
    }

    // Like a --box-cmd, a child in a box learns which box it is.
    std::vector<std::string> envStrings;
    for (char** e = environ; *e; ++e) {
        if (std::strncmp(*e, "LAB_BOX_INDEX=", 14) != 0)
            envStrings.emplace_back(*e);
    }
    if (box != LAB_TOOL_SIDE)
        envStrings.push_back("LAB_BOX_INDEX=" + std::to_string(box));
    std::vector<char*> envp;
    for (auto& e : envStrings)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    pid_t pid = -1;
    int rc = posix_spawnp(&pid, args[0], &actions, &attr, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (output != Output::Inherit) {
        close(pipeFds[1]);
        m_outFd = pipeFds[0];
    }
    if (rc != 0) {
        m_error = "cannot start " + argv[0] + ": " + std::strerror(rc);
        if (m_outFd >= 0) {
            close(m_outFd);
            m_outFd = -1;
        }
        return;
    }
    m_pid = pid;
    if (m_outFd < 0)
        m_eof = true;
}

LabProcess::~LabProcess()
{
    Stop();
    if (m_outFd >= 0)
        close(m_outFd);
}

bool LabProcess::FillBuffer(Clock::time_point deadline)
{
    if (m_eof || m_outFd < 0)
        return false;
    for (;;) {
        pollfd pfd{m_outFd, POLLIN, 0};
        int ready = poll(&pfd, 1, MillisecondsUntil(deadline));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return false;
        char chunk[4096];
        ssize_t got = read(m_outFd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            m_eof = true;
            return false;
        }
        m_pending.append(chunk, static_cast<std::size_t>(got));
        m_all.append(chunk, static_cast<std::size_t>(got));
        return true;
    }
}

std::optional<std::string> LabProcess::ReadLineFor(std::chrono::milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        auto newline = m_pending.find('\n');
        if (newline != std::string::npos) {
            std::string line = m_pending.substr(0, newline);
            m_pending.erase(0, newline + 1);
            return line;
        }
        if (!FillBuffer(deadline)) {
            if (m_eof && !m_pending.empty()) {
                std::string line;
                line.swap(m_pending);
                return line;
            }
            return std::nullopt;
        }
    }
}

bool LabProcess::WaitForText(std::string_view text, std::chrono::milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    // Searches the whole capture so that text read earlier by ReadLineFor
    // still counts; what it consumed stays consumed.
    while (m_all.find(text) == std::string::npos) {
        if (!FillBuffer(deadline))
            return m_all.find(text) != std::string::npos;
    }
    return true;
}

void LabProcess::Drain(std::chrono::milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    while (FillBuffer(deadline)) {
    }
}

std::optional<int> LabProcess::Wait(std::chrono::milliseconds timeout)
{
    if (m_exitCode)
        return m_exitCode;
    if (m_pid <= 0)
        return std::nullopt;
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        int status = 0;
        pid_t done = waitpid(m_pid, &status, WNOHANG);
        if (done == m_pid) {
            m_exitCode = ExitCodeOf(status);
            return m_exitCode;
        }
        if (done < 0 && errno != EINTR) {
            m_error = std::string("waitpid: ") + std::strerror(errno);
            m_exitCode = -1;
            return m_exitCode;
        }
        if (Clock::now() >= deadline)
            return std::nullopt;
        // No child-exit descriptor to block on without taking SIGCHLD from
        // the test; a short poll interval keeps the wait responsive.
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

bool LabProcess::Running()
{
    return m_pid > 0 && !Wait(std::chrono::milliseconds(0));
}

void LabProcess::Signal(int sig)
{
    // Only while the child is unreaped: until then its PID, and with it the
    // process group ID, cannot belong to anybody else.
    if (m_pid > 0 && !m_exitCode)
        kill(-m_pid, sig);
}

bool LabProcess::ExitedUnreaped(std::chrono::milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        siginfo_t info{};
        if (waitid(P_PID, static_cast<id_t>(m_pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
            info.si_pid == m_pid)
            return true;
        if (Clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

int LabProcess::Stop(std::chrono::milliseconds grace)
{
    if (m_pid <= 0)
        return -1;
    if (!m_exitCode) {
        Signal(SIGTERM);
        ExitedUnreaped(grace);
        // The leader is gone or stubborn; either way nothing of its group
        // may outlive the test. Still unreaped, so the group ID is ours.
        Signal(SIGKILL);
        Wait(std::chrono::milliseconds(5000));
    }
    return m_exitCode.value_or(-1);
}

LabRunResult RunInBox(int box, const std::string& command, std::chrono::milliseconds timeout)
{
    LabRunResult result;
    LabProcess process(box, {"sh", "-c", command}, LabProcess::Output::CaptureMerged);
    if (!process.Started()) {
        result.output = process.Error();
        return result;
    }
    const auto deadline = Clock::now() + timeout;
    process.Drain(timeout);
    auto code = process.Wait(std::chrono::duration_cast<std::chrono::milliseconds>(
        std::max(deadline - Clock::now(), Clock::duration::zero())));
    if (code) {
        result.exitCode = *code;
    } else {
        result.timedOut = true;
        process.Stop();
    }
    result.output = process.Captured();
    return result;
}

std::string ToolPath(const std::string& name)
{
    namespace fs = std::filesystem;
    const std::string buildDir = EnvOr("VINDLE_BUILD_DIR");
    if (buildDir.empty() || name.empty())
        return {};
    std::error_code ec;
    auto isProgram = [&ec](const fs::path& p) {
        return fs::is_regular_file(p, ec) && access(p.c_str(), X_OK) == 0;
    };
    const fs::path root(buildDir);
    if (isProgram(root / name))
        return (root / name).string();
    for (const char* group : {"tools", "tests", ""}) {
        const fs::path base = *group ? root / group : root;
        if (!fs::is_directory(base, ec))
            continue;
        for (const auto& entry : fs::directory_iterator(base, ec)) {
            if (entry.is_directory(ec) && isProgram(entry.path() / name))
                return (entry.path() / name).string();
        }
    }
    return {};
}

bool WaitFor(const std::function<bool()>& predicate, std::chrono::milliseconds timeout,
             std::chrono::milliseconds interval)
{
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        if (predicate())
            return true;
        if (Clock::now() >= deadline)
            return predicate();
        std::this_thread::sleep_for(interval);
    }
}
