// The requests to end a program: Ctrl-C and SIGTERM on POSIX; Ctrl-C,
// Ctrl-Break and closing the console window on Windows. They are taken by
// one waiting thread instead of a handler, so that the reaction may lock
// and call into the program.
#pragma once

#include <thread>

namespace vindle::platform {

// From now on a stop request only counts for WaitForStopRequest, in every
// thread started afterwards too. Comes before the program's first thread.
void BlockStopRequests();

// Waits until a stop request came (one that came before is taken at once).
void WaitForStopRequest();

// Makes `waiter`, which waits in WaitForStopRequest, return; the caller tells
// it by a flag of its own that this was no request.
void InterruptStopWait(std::thread& waiter);

}  // namespace vindle::platform
