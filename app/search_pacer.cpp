#include "app/search_pacer.h"

bool CSearchPacer::OnReply(Clock::time_point now)
{
    if (!m_LastSearch || now - *m_LastSearch >= INTERVAL) {
        // Also when a trailing search is pending but its timer is late: this
        // search serves both.
        m_LastSearch = now;
        m_bPending = false;
        return true;
    }
    m_bPending = true;
    return false;
}

bool CSearchPacer::OnTimer(Clock::time_point now)
{
    if (!m_bPending || now - *m_LastSearch < INTERVAL)
        return false;
    m_LastSearch = now;
    m_bPending = false;
    return true;
}

std::optional<CSearchPacer::Clock::time_point> CSearchPacer::Due() const
{
    if (!m_bPending)
        return std::nullopt;
    return *m_LastSearch + INTERVAL;
}
