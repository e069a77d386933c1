#pragma once
// Test-side view of the lab (tools/lab/vindle-lab): the addresses and
// namespaces it exported, child processes started in a box namespace or on
// the tool side, and small deadline helpers. Everything here is meant for the
// test's main thread; LabProcess objects may be used from one thread at a time.
//
// A test that needs the lab asserts it first, so that a run outside the lab
// fails with the reason instead of passing by accident:
//
//     TEST(Discovery, BoxesAnswerBroadcast) {
//         ASSERT_TRUE(InsideLab(2));
//         const LabEnv& lab = Lab();
//         LabProcess box(1, {ToolPath("vindle-box"), "--ip", lab.Box(1).ip});
//         ...
//     }
//
// or derives its fixture from LabTest, whose SetUp does the same.

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <sys/types.h>

#include <gtest/gtest.h>

#include "tests/common/wait.h"

// Box index that stands for the tool-side namespace (where the test runs).
inline constexpr int LAB_TOOL_SIDE = 0;

struct LabBox
{
    int index = 0;       // 1-based
    std::string ns;      // for `ip netns exec`
    std::string ip;      // dotted, e.g. "10.77.0.2"
    std::string mac;     // "02:77:00:00:00:02"
    std::string ifname;  // "eth0"
};

// The LAB_* variables of the current process. Present() is false outside a
// lab; Problem() then names what is missing.
class LabEnv final
{
public:
    LabEnv();  // reads the environment

    bool Present() const { return m_problem.empty(); }
    const std::string& Problem() const { return m_problem; }

    const std::string& ToolIp() const { return m_toolIp; }  // "10.77.0.1"
    const std::string& ToolIf() const { return m_toolIf; }  // "br0"
    int Boxes() const { return static_cast<int>(m_boxes.size()); }
    // i is 1-based. Out of range (a test bug) yields an empty record, whose
    // empty namespace name makes any later use fail loudly.
    const LabBox& Box(int i) const;
    // Set only inside a --box-cmd: which box this process is (1-based), else 0.
    int BoxIndex() const { return m_boxIndex; }

private:
    std::string m_problem;
    std::string m_toolIp;
    std::string m_toolIf;
    std::vector<LabBox> m_boxes;
    int m_boxIndex = 0;
};

// The process-wide LabEnv, read once.
const LabEnv& Lab();

// Success when this process runs inside a lab with at least minBoxes boxes;
// otherwise a failure whose message says what is missing and how to run the
// test. Use as ASSERT_TRUE(InsideLab(2)).
::testing::AssertionResult InsideLab(int minBoxes = 0);

// Fixture for tests that need the lab; the body does not run outside it.
class LabTest : public ::testing::Test
{
protected:
    void SetUp() override;
    virtual int MinBoxes() const { return 0; }
    const LabEnv& lab() const { return Lab(); }
};

// A child process, started in box namespace `box` (1-based, via
// `ip netns exec`) or on the tool side (LAB_TOOL_SIDE). It runs in its own
// process group; the destructor ends that group (SIGTERM, then SIGKILL after
// a short grace period) and reaps the child, so no test leaves one behind.
class LabProcess final
{
public:
    enum class Output
    {
        Inherit,        // stdout/stderr go where the test's go
        Capture,        // stdout is captured, stderr inherited
        CaptureMerged,  // stdout and stderr are captured together
    };

    // argv[0] is looked up in PATH when it has no '/'. A child in a box gets
    // LAB_BOX_INDEX set to its box, as a --box-cmd does.
    LabProcess(int box, std::vector<std::string> argv, Output output = Output::Inherit);
    ~LabProcess();

    LabProcess(const LabProcess&) = delete;
    LabProcess& operator=(const LabProcess&) = delete;

    // False when the spawn itself failed; Error() says why.
    bool Started() const { return m_pid > 0; }
    const std::string& Error() const { return m_error; }
    pid_t Pid() const { return m_pid; }

    // Next captured line (without '\n'), or nullopt when none completed
    // within the timeout or the output ended. A last line without '\n' is
    // returned once the child closed its output.
    std::optional<std::string> ReadLineFor(std::chrono::milliseconds timeout);
    // Reads captured output until `text` appears in it; true if it did
    // within the timeout.
    bool WaitForText(std::string_view text, std::chrono::milliseconds timeout = WAIT);
    // Everything captured so far (also the lines ReadLineFor returned).
    const std::string& Captured() const { return m_all; }
    // Reads whatever output arrives within the timeout or until EOF.
    void Drain(std::chrono::milliseconds timeout);

    // Exit code once the child ended within the timeout (128+N for death by
    // signal N), nullopt while it still runs.
    std::optional<int> Wait(std::chrono::milliseconds timeout = WAIT);
    bool Running();
    // Sends sig to the child's process group.
    void Signal(int sig);
    // Ends the child's process group and reaps the child; returns its exit
    // code. After Wait() has reaped a child that ended by itself, its group
    // is no longer signalled (the ID may be reused), so a child that leaves
    // background processes behind must be stopped before it ends.
    int Stop(std::chrono::milliseconds grace = std::chrono::milliseconds(1000));

private:
    bool FillBuffer(std::chrono::steady_clock::time_point deadline);
    bool ExitedUnreaped(std::chrono::milliseconds timeout);

    pid_t m_pid = -1;
    int m_outFd = -1;
    bool m_eof = false;
    std::optional<int> m_exitCode;
    std::string m_error;
    std::string m_pending;  // captured but not yet returned by ReadLineFor
    std::string m_all;
};

struct LabRunResult
{
    int exitCode = -1;  // -1 when it could not start or did not end in time
    bool timedOut = false;
    std::string output;  // stdout and stderr together
};

// Runs `sh -c command` in box namespace `box` (or LAB_TOOL_SIDE) and waits
// for it, bounded by the timeout (the command is killed when it runs over).
LabRunResult RunInBox(int box, const std::string& command,
                      std::chrono::milliseconds timeout = std::chrono::milliseconds(5000));

// Path of a built program: `name` searched in VINDLE_BUILD_DIR's tools/*/,
// tests/*/ and top-level folders. Empty when not found.
std::string ToolPath(const std::string& name);

// Polls the predicate until it holds or the timeout passes; returns its last
// value. For conditions that offer nothing to block on (a file appearing,
// another process's state).
bool WaitFor(const std::function<bool()>& predicate, std::chrono::milliseconds timeout = WAIT,
             std::chrono::milliseconds interval = std::chrono::milliseconds(10));
