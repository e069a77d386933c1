#include "app/update_wait.h"

void CUpdateWait::Arm()
{
    std::lock_guard lock(m_Lock);
    m_bArmed = true;
    m_bDone = m_bCancelled;
    m_Result = Result{m_bCancelled ? Outcome::Cancelled : Outcome::TimedOut, 0xFFFFFFFFu, {}};
}

void CUpdateWait::Answer(std::uint32_t status, std::string_view text)
{
    {
        std::lock_guard lock(m_Lock);
        if (!m_bArmed || m_bDone)
            return;
        m_bDone = true;
        m_Result = Result{Outcome::Answered, status, std::string(text)};
    }
    m_Changed.notify_all();
}

void CUpdateWait::ConnectionEnded()
{
    {
        std::lock_guard lock(m_Lock);
        if (!m_bArmed || m_bDone)
            return;
        m_bDone = true;
        m_Result = Result{Outcome::Disconnected, 0xFFFFFFFFu, {}};
    }
    m_Changed.notify_all();
}

void CUpdateWait::Cancel()
{
    {
        std::lock_guard lock(m_Lock);
        m_bCancelled = true;
        if (!m_bArmed || m_bDone)
            return;  // nothing waits, or an answer is already there and stands
        m_bDone = true;
        m_Result = Result{Outcome::Cancelled, 0xFFFFFFFFu, {}};
    }
    m_Changed.notify_all();
}

bool CUpdateWait::Waiting() const
{
    std::lock_guard lock(m_Lock);
    return m_bArmed && !m_bDone;
}

CUpdateWait::Result CUpdateWait::Wait(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(m_Lock);
    if (!m_Changed.wait_for(lock, timeout, [this] { return m_bDone; }))
        m_Result = Result{Outcome::TimedOut, 0xFFFFFFFFu, {}};
    m_bArmed = false;
    return m_Result;
}
