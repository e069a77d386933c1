// The posted functions wait in a deque under our own mutex; an eventfd,
// watched by a socket notifier of the user-interface thread, only says that
// there is something to run. Nothing a worker wrote travels through the
// toolkit's own event queue, whose locking the thread sanitizer cannot see,
// so every hand-off is ordered by a lock that it can.
#include "ui/uiqueue.h"

#include <cstdint>
#include <deque>
#include <mutex>
#include <utility>

#include <sys/eventfd.h>
#include <unistd.h>

#include <QSocketNotifier>

struct CUiQueue::State
{
    std::mutex mutex;
    bool bOpen = true;
    std::deque<std::function<void()>> pending;
};

CUiQueue::CUiQueue() : m_pState(std::make_unique<State>()), m_WakeFd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC))
{
    if (m_WakeFd >= 0) {
        m_pNotifier = std::make_unique<QSocketNotifier>(m_WakeFd, QSocketNotifier::Read);
        QObject::connect(m_pNotifier.get(), &QSocketNotifier::activated, m_pNotifier.get(),
                         [this] { Drain(); });
    }
}

CUiQueue::~CUiQueue()
{
    Close();
    m_pNotifier.reset();
    if (m_WakeFd >= 0)
        ::close(m_WakeFd);
}

bool CUiQueue::Post(std::function<void()> fn)
{
    {
        const std::lock_guard<std::mutex> lock(m_pState->mutex);
        if (!m_pState->bOpen || m_WakeFd < 0)
            return false;
        m_pState->pending.push_back(std::move(fn));
    }
    const std::uint64_t one = 1;
    // The counter only saturates after 2^64 - 2 wake-ups, so this cannot
    // fail in a way that loses a call: one pending wake-up drains them all.
    [[maybe_unused]] const ssize_t written = ::write(m_WakeFd, &one, sizeof one);
    return true;
}

void CUiQueue::Drain()
{
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t got = ::read(m_WakeFd, &count, sizeof count);
    // One at a time, so that a function may post again or close the queue,
    // and a closed queue runs nothing more.
    for (;;) {
        std::function<void()> fn;
        {
            const std::lock_guard<std::mutex> lock(m_pState->mutex);
            if (!m_pState->bOpen || m_pState->pending.empty())
                return;
            fn = std::move(m_pState->pending.front());
            m_pState->pending.pop_front();
        }
        fn();
    }
}

void CUiQueue::Close()
{
    std::deque<std::function<void()>> dropped;
    {
        const std::lock_guard<std::mutex> lock(m_pState->mutex);
        m_pState->bOpen = false;
        dropped.swap(m_pState->pending);
    }
    // The dropped functions' captures are destroyed here, outside the lock.
}

bool CUiQueue::IsOpen() const
{
    const std::lock_guard<std::mutex> lock(m_pState->mutex);
    return m_pState->bOpen;
}
