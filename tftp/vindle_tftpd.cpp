// vindle-tftpd: the built-in TFTP server on its own. Reads the INI file
// named as its only argument, or else the program's own (beside the program
// file, then /etc/vindle), reports on standard output and serves until
// SIGINT or SIGTERM.

#include <cstdio>
#include <cstring>
#include <optional>
#include <sstream>
#include <string>

#include "platform/file.h"
#include "platform/stop_signals.h"
#include "tftp/ini_location.h"
#include "tftp/tftp_config.h"
#include "tftp/tftp_report.h"
#include "tftp/tftp_server.h"
#include "vindle_version.h"

namespace {

// The man page's OPTIONS list the same options; a test compares them.
constexpr char HELP_TEXT[] = "Usage: vindle-tftpd [INI-FILE]\n"
                             "       vindle-tftpd --help | --version\n"
                             "\n"
                             "Vindle's TFTP server on its own: serves the boxes' update files until\n"
                             "SIGINT or SIGTERM and prints its report lines on standard output.\n"
                             "\n"
                             "Without INI-FILE it reads vindle-tftpd.ini beside the program file, else\n"
                             "/etc/vindle/vindle-tftpd.ini, else it runs on its defaults (every\n"
                             "address, port 69, the program's folder for reading only).\n"
                             "\n"
                             "Options:\n"
                             "  --help     print this help and exit\n"
                             "  --version  print the version and exit\n"
                             "\n"
                             "Exit status: 0 stopped by a signal; 1 no address to listen on or no\n"
                             "thread; 2 usage error or INI-FILE cannot be read.\n";

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
        std::fputs(HELP_TEXT, stdout);
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("vindle-tftpd %s\n", VINDLE_VERSION);
        return 0;
    }
    if (argc > 2) {
        std::fprintf(stderr, "usage: %s [ini-file]\n", argv[0]);
        return 2;
    }
    // Every thread inherits the blocked signals, so only the wait sees them.
    vindle::platform::BlockStopRequests();
    vindle::platform::IgnoreBrokenPipes();

    const std::string program = TftpProgramPath();
    const std::string iniPath = argc == 2 ? argv[1] : LocateIniFile(program);
    const std::optional<std::string> text = ReadIniText(iniPath);
    if (!text && argc == 2) {
        std::fprintf(stderr, "vindle-tftpd: cannot read %s\n", iniPath.c_str());
        return 2;
    }
    // Found by itself, the INI file may be the installed one that serves
    // /srv/tftp for writing: say which one this copy runs on.
    const TftpReporter reporter;
    if (!text)
        ReportLine(reporter, "ini file: none");
    else
        ReportLine(reporter, "ini file: %s", EscapeReportText(iniPath).c_str());
    std::istringstream ini(text.value_or(std::string()));
    TftpServer server;
    if (server.Start(ini, program, iniPath) != TFTP_SERVER_OK)
        return 1;
    vindle::platform::WaitForStopRequest();
    server.Stop();
    return 0;
}
