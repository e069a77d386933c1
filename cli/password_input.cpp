#include "cli/password_input.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>

#include <termios.h>
#include <unistd.h>

#include "cli/streams.h"
#include "config/cfg_commands.h"

namespace {

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

}  // namespace

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
