// POSIX side of the terminal: termios for the echo, signalfd to put the echo
// right before a Ctrl-C takes effect.
#include "platform/console.h"

#include <cerrno>
#include <csignal>

#include <poll.h>
#include <pthread.h>
#include <sys/signalfd.h>
#include <termios.h>
#include <unistd.h>

namespace vindle::platform {
namespace {

sigset_t StopSignals()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

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
    EchoOff(int fd, std::FILE* echoTo) : m_fd(fd), m_echoTo(echoTo), m_restore(tcgetattr(fd, &m_saved) == 0)
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
        std::fputs("\n", m_echoTo);
    }
    EchoOff(const EchoOff&) = delete;
    EchoOff& operator=(const EchoOff&) = delete;

private:
    int m_fd;
    std::FILE* m_echoTo;
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

}  // namespace

bool IsTerminal(std::FILE* stream)
{
    return isatty(fileno(stream)) != 0;
}

void WriteStandardError(std::string_view text)
{
    (void)!::write(STDERR_FILENO, text.data(), text.size());
}

bool EnableInPlaceRedraw(std::FILE* stream)
{
    return IsTerminal(stream);
}

std::string ReadInputLine(Echo echo, std::FILE* echoTo)
{
    const int fd = STDIN_FILENO;
    std::string line;
    if (echo == Echo::Shown) {
        (void)ReadLine(fd, -1, line);
    } else {
        int stopSignal;
        {
            const HeldStopSignals held;  // ends after the echo is back
            const EchoOff echoOff(fd, echoTo);
            stopSignal = ReadLine(fd, held.Fd(), line);
        }
        if (stopSignal != 0) {
            std::signal(stopSignal, SIG_DFL);
            std::raise(stopSignal);
        }
    }
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return line;
}

}  // namespace vindle::platform
