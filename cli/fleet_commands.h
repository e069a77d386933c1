#pragma once
// The subcommands of vindlectl, each run from its options record and
// returning the exit status: 0 all done, 1 something failed, 2 usage error
// (then nothing was sent). Errors go to standard error as one line,
// "vindlectl: <what>: <why>"; results to standard output.

#include <string>
#include <vector>

#include "cli/error_or.h"
#include "cli/fleet_defaults.h"
#include "cli/report.h"

// A command's exit status, or why it gave up.
using CommandResult = ErrorOr<int>;

struct CommonOptions
{
    std::string adapter;
    OutputFormat format = OutputFormat::Table;
    unsigned waitMs = DEFAULT_SEARCH_WAIT_MS;  // how long a search listens
    bool verbose = false;    // the TFTP server's own lines to standard error
};

struct TargetOptions
{
    std::vector<std::string> targets;
    std::string fromFile;
    bool all = false;
};

CommandResult RunDiscover(const CommonOptions& common);

struct SetIpOptions
{
    std::string mac, ip, netmask, gateway;
};
CommandResult RunSetIp(const CommonOptions& common, const SetIpOptions& options);

CommandResult RunInfo(const CommonOptions& common, const TargetOptions& targets);
CommandResult RunReboot(const CommonOptions& common, const TargetOptions& targets);

struct PasswdOptions
{
    std::string passwordFile;
};
CommandResult RunPasswd(const CommonOptions& common, const TargetOptions& targets,
                        const PasswdOptions& options);

struct UpdateOptions
{
    std::string kind;  // system, app, software
    std::string file;
    unsigned parallel = DEFAULT_PARALLEL;
    unsigned retries = 0;
    unsigned maxFailures = 0;
    bool retryErrors = false;
    bool trustBox = false;  // "ok" counts without the file served
    unsigned timeoutSeconds = DEFAULT_ANSWER_TIMEOUT_S;
    unsigned waitBackSeconds = 0;
    std::string report;
    std::string portRange;
};
CommandResult RunUpdate(const CommonOptions& common, const TargetOptions& targets,
                        const UpdateOptions& options);

// Prints "vindlectl: <what>: <why>" to standard error.
void Complain(const std::string& what, const std::string& why);
// The one way out of a command: its exit status, or the reason it gave up
// printed and that reason's status.
int ExitStatus(CommandResult result);
// Writes a command's results to standard output: EXIT_SOME_FAILED when
// they could not be written.
int Print(const std::string& text);
