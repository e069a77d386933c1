#pragma once
// The subcommands of vindlectl, each run from its options record and
// returning the exit status: 0 all done, 1 something failed, 2 usage error
// (then nothing was sent). Errors go to standard error as one line,
// "vindlectl: <what>: <why>"; results to standard output.

#include <string>
#include <vector>

#include "cli/report.h"

inline constexpr int EXIT_ALL_DONE = 0;
inline constexpr int EXIT_SOME_FAILED = 1;
inline constexpr int EXIT_USAGE = 2;

struct CommonOptions
{
    std::string adapter;
    OutputFormat format = OutputFormat::Table;
    unsigned waitMs = 2000;  // how long a search listens
    bool verbose = false;    // the TFTP server's own lines to standard error
};

struct TargetOptions
{
    std::vector<std::string> targets;
    std::string fromFile;
    bool all = false;
};

int RunDiscover(const CommonOptions& common);

struct SetIpOptions
{
    std::string mac, ip, netmask, gateway;
};
int RunSetIp(const CommonOptions& common, const SetIpOptions& options);

int RunInfo(const CommonOptions& common, const TargetOptions& targets);
int RunReboot(const CommonOptions& common, const TargetOptions& targets);

struct PasswdOptions
{
    std::string passwordFile;
};
int RunPasswd(const CommonOptions& common, const TargetOptions& targets, const PasswdOptions& options);

struct UpdateOptions
{
    std::string kind;  // system, app, software
    std::string file;
    unsigned parallel = 8;
    unsigned retries = 0;
    unsigned maxFailures = 0;
    bool retryErrors = false;
    bool trustBox = false;  // "ok" counts without the file served
    unsigned timeoutSeconds = 3600;
    unsigned waitBackSeconds = 0;
    std::string report;
    std::string portRange;
};
int RunUpdate(const CommonOptions& common, const TargetOptions& targets, const UpdateOptions& options);

// Prints "vindlectl: <what>: <why>" to standard error.
void Complain(const std::string& what, const std::string& why);
// Writes a command's results to standard output: EXIT_SOME_FAILED when
// they could not be written.
int Print(const std::string& text);
