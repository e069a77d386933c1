// Windows side of the readiness wait: WSAPoll over sockets.
#include "platform/poll.h"

#include <array>
#include <vector>

namespace vindle::platform {
namespace {

PollResult Wait(WSAPOLLFD* fds, PollItem* items, std::size_t count, int timeoutMs)
{
    for (std::size_t i = 0; i < count; ++i) {
        fds[i].fd = items[i].handle;
        // WSAPoll refuses POLLPRI and friends; only the normal-data bits.
        fds[i].events = static_cast<short>(((items[i].wanted & kPollReadable) != 0 ? POLLRDNORM : 0) |
                                           ((items[i].wanted & kPollWritable) != 0 ? POLLWRNORM : 0));
        fds[i].revents = 0;
        items[i].ready = 0;
    }
    const int result = ::WSAPoll(fds, static_cast<ULONG>(count), timeoutMs);
    if (result < 0)
        return ::WSAGetLastError() == WSAEINTR ? PollResult::kInterrupted : PollResult::kFailed;
    if (result == 0)
        return PollResult::kTimeout;
    for (std::size_t i = 0; i < count; ++i) {
        const short got = fds[i].revents;
        items[i].ready = static_cast<unsigned short>(((got & POLLRDNORM) != 0 ? kPollReadable : 0) |
                                                     ((got & POLLWRNORM) != 0 ? kPollWritable : 0) |
                                                     ((got & POLLHUP) != 0 ? kPollHangup : 0) |
                                                     ((got & (POLLERR | POLLNVAL)) != 0 ? kPollError : 0));
    }
    return PollResult::kReady;
}

}  // namespace

PollResult PollHandles(PollItem* items, std::size_t count, int timeoutMs)
{
    std::array<WSAPOLLFD, 8> few;
    if (count <= few.size())
        return Wait(few.data(), items, count, timeoutMs);
    std::vector<WSAPOLLFD> many(count);
    return Wait(many.data(), items, count, timeoutMs);
}

}  // namespace vindle::platform
