// Wakes a thread that waits in PollHandles: the handle becomes readable on
// Wake() and stays so until Drain(). An eventfd on Linux; on Windows a
// loopback datagram socket connected to itself, since WSAPoll waits on
// sockets only.
#pragma once

#include "platform/native_types.h"

namespace vindle::platform {

class WakeHandle {
public:
    WakeHandle();
    ~WakeHandle();
    WakeHandle(const WakeHandle&) = delete;
    WakeHandle& operator=(const WakeHandle&) = delete;

    // False when the system refused the handle; Wake and Drain then do nothing.
    bool Valid() const { return m_handle != kNoHandle; }
    // What to put into a PollItem with kPollReadable.
    NativeHandle PollHandle() const { return m_handle; }

    // Safe from any thread; on POSIX also from a signal handler.
    void Wake() const;
    // Makes the handle unreadable again.
    void Drain() const;

private:
    NativeHandle m_handle = kNoHandle;
};

}  // namespace vindle::platform
