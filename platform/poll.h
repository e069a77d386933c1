// A readiness wait over several handles (sockets, and the wake handle of
// platform/wake.h): poll() on POSIX, WSAPoll() on Windows.
#pragma once

#include <cstddef>

#include "platform/native_types.h"

namespace vindle::platform {

enum PollEvents : unsigned short {
    kPollReadable = 1,
    kPollWritable = 2,
    // Reported only, never asked for: the peer hung up or the handle failed.
    kPollHangup = 4,
    kPollError = 8,
};

struct PollItem {
    NativeHandle handle = kNoHandle;
    unsigned short wanted = 0;  // kPollReadable and/or kPollWritable
    unsigned short ready = 0;   // set by PollHandles
};

enum class PollResult {
    kReady,        // at least one item has `ready` set
    kTimeout,
    kInterrupted,  // a signal came in; the caller decides whether to wait again
    kFailed,       // SocketLastError() / errno tells why
};

// Waits up to `timeoutMs` milliseconds (negative: without limit) until one of
// `items` is ready.
PollResult PollHandles(PollItem* items, std::size_t count, int timeoutMs);

}  // namespace vindle::platform
