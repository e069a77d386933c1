// vindlectl: the fleet's command line. Parses the subcommands and their
// options with CLI11 and hands each to its Run function.

#include <functional>
#include <string>

#include <CLI/CLI.hpp>

#include "cli/fleet_commands.h"
#include "cli/streams.h"
#include "vindle_version.h"

namespace {

constexpr const char* EXIT_TEXT =
    "Exit status: 0 all done, 1 something failed (the output says what), 2 usage error (nothing was sent).";

void AddTargetOptions(CLI::App* command, TargetOptions& targets)
{
    command->add_option("TARGET", targets.targets,
                        "a box's address, its MAC (found by a search), or a range such as 10.77.0.0/24 "
                        "(the boxes found in it)");
    command->add_flag("--all", targets.all, "every box that answers a search");
    command->add_option("--from", targets.fromFile,
                        "a file of targets: the CSV of `discover --format csv`, or one target per line");
}

void AddCommonOptions(CLI::App* command, CommonOptions& common, bool withFormat = true)
{
    command->add_option(
        "--adapter", common.adapter,
        "the adapter to search on: its name, alias or address (needed when there are several)");
    command->add_option("--wait", common.waitMs, "how long a search listens for replies, in ms")
        ->check(CLI::Range(1u, 600000u));
    if (withFormat)
        command->add_option("--format", common.format, "table, csv or json")
            ->transform(CLI::CheckedTransformer(std::map<std::string, OutputFormat>{
                {"table", OutputFormat::Table}, {"csv", OutputFormat::Csv}, {"json", OutputFormat::Json}}))
            ->option_text("table|csv|json");
    command->footer(EXIT_TEXT);
}

}  // namespace

int main(int argc, char** argv)
{
    CLI::App app{"vindlectl: finds, inspects, reboots and updates boxes from the command line."};
    app.require_subcommand(1);
    app.set_version_flag("--version", std::string("vindlectl ") + VINDLE_VERSION,
                         "print the version and exit");
    app.footer(
        std::string("A box's text is shown with control characters as \\xHH, and a CSV cell starting "
                    "with =, +, -, @, tab or CR gets a leading ' so that spreadsheets take it as text.\n") +
        EXIT_TEXT);
    CommonOptions common;
    TargetOptions targets;
    std::function<CommandResult()> run;

    CLI::App* discover =
        app.add_subcommand("discover", "search every adapter (or one) and list the boxes that answer");
    AddCommonOptions(discover, common);
    discover->get_option("--adapter")->description("NAME, ADDRESS or all (the default)");
    discover->footer(
        std::string("Lists IP, MAC, netmask, gateway and adapter; flags an address claimed by two MACs "
                    "and a MAC seen twice, and notes an impossible reply (0.0.0.0, broadcast, multicast or "
                    "this computer's address, MAC ff:ff:ff:ff:ff:ff), which is never a target. Exit 0 when "
                    "boxes answered, 1 when none did.\n") +
        EXIT_TEXT);
    discover->callback([&] { run = [&] { return RunDiscover(common); }; });

    SetIpOptions setIp;
    CLI::App* setIpCommand =
        app.add_subcommand("set-ip", "give the box with MAC a new address, netmask and gateway");
    setIpCommand->add_option("MAC", setIp.mac)->required();
    setIpCommand->add_option("ADDRESS", setIp.ip)->required();
    setIpCommand->add_option("NETMASK", setIp.netmask)->required();
    setIpCommand->add_option("GATEWAY", setIp.gateway)->required();
    AddCommonOptions(setIpCommand, common, false);
    setIpCommand->callback([&] { run = [&] { return RunSetIp(common, setIp); }; });

    CLI::App* info =
        app.add_subcommand("info", "print the info fields each box's configuration service sends");
    AddTargetOptions(info, targets);
    AddCommonOptions(info, common);
    info->callback([&] { run = [&] { return RunInfo(common, targets); }; });

    CLI::App* reboot = app.add_subcommand("reboot", "reboot the boxes");
    AddTargetOptions(reboot, targets);
    AddCommonOptions(reboot, common);
    reboot->callback([&] { run = [&] { return RunReboot(common, targets); }; });

    PasswdOptions passwd;
    CLI::App* passwdCommand = app.add_subcommand(
        "passwd",
        "set the boxes' password: typed twice without echo, or read from --password-file or standard input");
    AddTargetOptions(passwdCommand, targets);
    AddCommonOptions(passwdCommand, common);
    passwdCommand->add_option("--password-file", passwd.passwordFile,
                              "read the password from the first line of FILE");
    passwdCommand->callback([&] { run = [&] { return RunPasswd(common, targets, passwd); }; });

    UpdateOptions update;
    CLI::App* updateCommand =
        app.add_subcommand("update", "serve FILE by TFTP and have the boxes update from it");
    updateCommand->add_option("KIND", update.kind, "system, app or software")
        ->required()
        ->check(CLI::IsMember({"system", "app", "software"}));
    updateCommand->add_option("FILE", update.file, "the update file")->required();
    AddTargetOptions(updateCommand, targets);
    AddCommonOptions(updateCommand, common);
    updateCommand->add_option("--parallel", update.parallel, "boxes updated at once")
        ->default_val(DEFAULT_PARALLEL)
        ->check(CLI::Range(1u, 256u));
    updateCommand
        ->add_option("--retries", update.retries,
                     "further attempts after a failed one (lost connection, no answer)")
        ->default_val(0)
        ->check(CLI::Range(0u, 100u));
    updateCommand->add_flag("--retry-errors", update.retryErrors, "also retry a box that answered \"error\"");
    updateCommand->add_flag("--trust-box", update.trustBox,
                            "count a box's \"ok\" as done even when it did not fetch the whole file from "
                            "vindlectl (otherwise: \"unverified\", a failure)");
    updateCommand
        ->add_option("--max-failures", update.maxFailures,
                     "start no new box after this many failed (0: no limit)")
        ->default_val(0);
    updateCommand->add_option("--timeout", update.timeoutSeconds, "seconds to wait for a box's answer")
        ->default_val(DEFAULT_ANSWER_TIMEOUT_S)
        ->check(CLI::Range(1u, 86400u));
    updateCommand
        ->add_option("--wait-back", update.waitBackSeconds,
                     "after \"ok\", seconds to wait for the box to answer again (0: do not wait)")
        ->default_val(0)
        ->check(CLI::Range(0u, 86400u));
    updateCommand->add_option("--report", update.report, "also write the report to FILE.json or FILE.csv");
    updateCommand->add_option("--port-range", update.portRange, "TFTP transfer ports LO-HI, for firewalls");
    updateCommand->add_flag("-v,--verbose", common.verbose,
                            "show the TFTP server's own lines on standard error");
    updateCommand->callback([&] { run = [&] { return RunUpdate(common, targets, update); }; });

    try {
        app.parse(argc, argv);
    } catch (const CLI::Success& e) {
        return app.exit(e);  // --help or --version
    } catch (const CLI::ParseError& e) {
        Complain("command line", std::string(e.what()) + " (see vindlectl --help)");
        return EXIT_USAGE;
    }
    SeparateCoreOutput(common.verbose);
    return run ? ExitStatus(run()) : EXIT_USAGE;
}
