// Every posted function becomes a queued call on one receiver object of the
// user-interface thread, so Qt's event queue keeps the order. The mutex only
// covers the moment of posting: Close takes it to make sure no worker is
// inside Post while the receiver goes away.
#include "ui/uiqueue.h"

#include <QObject>
#include <QMetaObject>

#include <atomic>
#include <mutex>

struct CUiQueue::State {
    std::mutex mutex;
    std::atomic<bool> bOpen{true};
    QObject* pReceiver = nullptr;
};

CUiQueue::CUiQueue()
    : m_pState(std::make_shared<State>())
    , m_pReceiver(std::make_unique<QObject>())
{
    m_pState->pReceiver = m_pReceiver.get();
}

CUiQueue::~CUiQueue()
{
    Close();
    // Deleting the receiver removes its pending calls from the event queue.
    m_pReceiver.reset();
}

bool CUiQueue::Post(std::function<void()> fn)
{
    const std::lock_guard<std::mutex> lock(m_pState->mutex);
    if (!m_pState->bOpen.load())
        return false;
    // The state travels with the call: a call that was queued before Close
    // but runs after it sees the flag and does nothing.
    QMetaObject::invokeMethod(
        m_pState->pReceiver,
        [pState = m_pState, fn = std::move(fn)] {
            if (pState->bOpen.load())
                fn();
        },
        Qt::QueuedConnection);
    return true;
}

void CUiQueue::Close()
{
    const std::lock_guard<std::mutex> lock(m_pState->mutex);
    m_pState->bOpen.store(false);
}

bool CUiQueue::IsOpen() const
{
    return m_pState->bOpen.load();
}
