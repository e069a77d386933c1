#include "cli/password_input.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>

#include <poll.h>
#include <pthread.h>
#include <sys/signalfd.h>
#include <termios.h>
#include <unistd.h>

#include "cli/streams.h"
#include "config/cfg_commands.h"
#include "net/stop_signals.h"

namespace {

// Holds SIGINT and SIGTERM back while it lives and hands them over as a
// descriptor, so that a reader can put things right before the signal
// takes effect.
class HeldStopSignals final
{
public:
    HeldStopSignals()
    {
        const sigset_t set = StopSignals();
        pthread_sigmask(SIG_BLOCK, &set, &m_before);
        m_fd = ::signalfd(-1, &set, SFD_CLOEXEC);
    }
    ~HeldStopSignals()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        pthread_sigmask(SIG_SETMASK, &m_before, nullptr);
    }
    HeldStopSignals(const HeldStopSignals&) = delete;
    HeldStopSignals& operator=(const HeldStopSignals&) = delete;

    int Fd() const { return m_fd; }

private:
    sigset_t m_before{};
    int m_fd = -1;
};

// The terminal's echo off while it lives, as it was afterwards.
class EchoOff final
{
public:
    explicit EchoOff(int fd) : m_fd(fd), m_restore(tcgetattr(fd, &m_saved) == 0)
    {
        if (!m_restore)
            return;
        termios quiet = m_saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        tcsetattr(fd, TCSAFLUSH, &quiet);
    }
    ~EchoOff()
    {
        if (!m_restore)
            return;
        tcsetattr(m_fd, TCSAFLUSH, &m_saved);
        // The typed Enter was not echoed either.
        std::fputs("\n", MessageStream());
    }
    EchoOff(const EchoOff&) = delete;
    EchoOff& operator=(const EchoOff&) = delete;

private:
    int m_fd;
    termios m_saved{};
    bool m_restore;
};

// Reads up to the end of the line into `line`; returns the stop signal that
// came first, or 0. signalFd < 0: no signal is watched.
int ReadLine(int fd, int signalFd, std::string& line)
{
    while (true) {
        pollfd fds[2] = {{fd, POLLIN, 0}, {signalFd, POLLIN, 0}};
        if (::poll(fds, signalFd >= 0 ? 2 : 1, -1) < 0) {
            if (errno == EINTR)
                continue;
            return 0;
        }
        signalfd_siginfo info{};
        if ((fds[1].revents & POLLIN) && ::read(signalFd, &info, sizeof info) == sizeof info)
            return static_cast<int>(info.ssi_signo);
        if (fds[0].revents == 0)
            continue;
        char c;
        if (::read(fd, &c, 1) != 1 || c == '\n')
            return 0;
        line += c;
    }
}

enum class Echo
{
    Shown,
    Hidden,  // a terminal's echo is off while the line is typed
};

std::string ReadSecretLine(int fd, Echo echo)
{
    std::string line;
    if (echo == Echo::Shown) {
        (void)ReadLine(fd, -1, line);
    } else {
        int stopSignal;
        {
            const HeldStopSignals held;  // ends after the echo is back
            const EchoOff echoOff(fd);
            stopSignal = ReadLine(fd, held.Fd(), line);
        }
        // Ctrl-C while the password is typed ends the program as usual, but
        // with the echo on again.
        if (stopSignal != 0) {
            std::signal(stopSignal, SIG_DFL);
            std::raise(stopSignal);
        }
    }
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return line;
}

}  // namespace

ErrorOr<std::string> ReadPassword(const PasswdOptions& options)
{
    std::string password;
    if (!options.passwordFile.empty()) {
        std::ifstream in(options.passwordFile, std::ios::binary);
        if (!in)
            return UsageError(options.passwordFile, std::strerror(errno));
        std::getline(in, password);
        if (!password.empty() && password.back() == '\r')
            password.pop_back();
    } else if (isatty(STDIN_FILENO)) {
        std::fputs("New password: ", MessageStream());
        password = ReadSecretLine(STDIN_FILENO, Echo::Hidden);
        std::fputs("Again: ", MessageStream());
        if (ReadSecretLine(STDIN_FILENO, Echo::Hidden) != password)
            return UsageError("password", "the two entries differ");
    } else {
        password = ReadSecretLine(STDIN_FILENO, Echo::Shown);
    }
    if (password.empty())
        return UsageError("password", "empty");
    // The box reads the password between double quotes and knows no escape.
    if (password.find_first_of("\"\n") != std::string::npos)
        return UsageError("password", "must not contain a double quote");
    if (!BuildPasswordCommand(password))
        return UsageError("password", "too long for the box's command (at most 226 characters)");
    return password;
}
