// vindle-tftpd: the built-in TFTP server on its own. Reads the INI file
// named as its only argument, or else the program's own (beside the program
// file, then /etc/vindle), reports on standard output and serves until
// SIGINT or SIGTERM.

#include <csignal>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include <pthread.h>

#include "tftp/ini_location.h"
#include "tftp/tftp_config.h"
#include "tftp/tftp_server.h"

int main(int argc, char** argv)
{
    if (argc > 2) {
        std::fprintf(stderr, "usage: %s [ini-file]\n", argv[0]);
        return 2;
    }
    // Every thread inherits the blocked signals, so only sigwait sees them.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    const std::string program = TftpProgramPath();
    const std::string iniPath = argc == 2 ? argv[1] : LocateIniFile(program);
    std::stringstream ini;
    if (std::ifstream file(iniPath, std::ios::binary); file)
        ini << file.rdbuf();
    else if (argc == 2) {
        std::fprintf(stderr, "vindle-tftpd: cannot read %s\n", iniPath.c_str());
        return 2;
    }
    if (StartTftpServer(ini, program, iniPath) != TFTP_SERVER_OK)
        return 1;
    int signal = 0;
    sigwait(&signals, &signal);
    StopTftpServer();
    return 0;
}
