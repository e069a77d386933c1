// CUiQueue: the one way for worker threads to reach the user interface.
// A worker posts a function carrying plain values (copies, never pointers
// into its own short-lived buffers); the user-interface thread runs the
// functions in the order they were posted. Posting never waits for the
// user-interface thread, so a worker can post while the user-interface
// thread waits for that worker. After Close (or destruction) nothing posted
// runs any more, so a closed window is never touched.
//
// Create, Close and destroy on the user-interface thread; Post from any
// thread, as long as the queue object itself outlives the posting threads
// (a window closes its queue first, then stops its workers).
#pragma once

#include <functional>
#include <memory>

class QSocketNotifier;

class CUiQueue final
{
public:
    CUiQueue();
    ~CUiQueue();
    CUiQueue(const CUiQueue&) = delete;
    CUiQueue& operator=(const CUiQueue&) = delete;

    // Any thread. Returns false, and drops fn, when the queue is closed.
    bool Post(std::function<void()> fn);
    // User-interface thread. Drops everything not yet run.
    void Close();
    bool IsOpen() const;

private:
    // User-interface thread: runs what was posted, in order.
    void Drain();

    struct State;
    std::unique_ptr<State> m_pState;
    int m_WakeFd = -1;
    std::unique_ptr<QSocketNotifier> m_pNotifier;
};
