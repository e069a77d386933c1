#pragma once
// The signals that ask a POSIX program to end: SIGINT (Ctrl-C) and SIGTERM.
// Programs block them in every thread and take them with sigwait. Inline,
// so that programs that need nothing else of platform/ need not link it.

#include <csignal>

inline sigset_t StopSignals()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}
