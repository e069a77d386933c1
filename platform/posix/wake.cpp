// POSIX side of the wake handle: an eventfd.
#include "platform/wake.h"

#include <cstdint>

#include <sys/eventfd.h>
#include <unistd.h>

namespace vindle::platform {

WakeHandle::WakeHandle() : m_handle(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

WakeHandle::~WakeHandle()
{
    if (m_handle != kNoHandle)
        ::close(m_handle);
}

void WakeHandle::Wake() const
{
    if (m_handle == kNoHandle)
        return;
    const std::uint64_t one = 1;
    // A full counter already wakes the waiter; nothing to do on failure.
    [[maybe_unused]] const ssize_t written = ::write(m_handle, &one, sizeof one);
}

void WakeHandle::Drain() const
{
    if (m_handle == kNoHandle)
        return;
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t got = ::read(m_handle, &count, sizeof count);
}

}  // namespace vindle::platform
