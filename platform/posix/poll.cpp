// POSIX side of the readiness wait.
#include "platform/poll.h"

#include <array>
#include <cerrno>
#include <vector>

#include <poll.h>

namespace vindle::platform {
namespace {

PollResult Wait(pollfd* fds, PollItem* items, std::size_t count, int timeoutMs)
{
    for (std::size_t i = 0; i < count; ++i) {
        fds[i].fd = items[i].handle;
        fds[i].events = static_cast<short>(((items[i].wanted & kPollReadable) != 0 ? POLLIN : 0) |
                                           ((items[i].wanted & kPollWritable) != 0 ? POLLOUT : 0));
        fds[i].revents = 0;
        items[i].ready = 0;
    }
    const int result = ::poll(fds, static_cast<nfds_t>(count), timeoutMs);
    if (result < 0)
        return errno == EINTR ? PollResult::kInterrupted : PollResult::kFailed;
    if (result == 0)
        return PollResult::kTimeout;
    for (std::size_t i = 0; i < count; ++i) {
        const short got = fds[i].revents;
        items[i].ready = static_cast<unsigned short>(((got & POLLIN) != 0 ? kPollReadable : 0) |
                                                     ((got & POLLOUT) != 0 ? kPollWritable : 0) |
                                                     ((got & POLLHUP) != 0 ? kPollHangup : 0) |
                                                     ((got & (POLLERR | POLLNVAL)) != 0 ? kPollError : 0));
    }
    return PollResult::kReady;
}

}  // namespace

PollResult PollHandles(PollItem* items, std::size_t count, int timeoutMs)
{
    std::array<pollfd, 8> few;
    if (count <= few.size())
        return Wait(few.data(), items, count, timeoutMs);
    std::vector<pollfd> many(count);
    return Wait(many.data(), items, count, timeoutMs);
}

}  // namespace vindle::platform
