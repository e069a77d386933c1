// The transfer event hub; see tftp_event.h.

#include "tftp/tftp_event.h"

#include <mutex>

int TftpPercentSent(const TftpTransferEvent& event)
{
    if (event.fileSize == 0 || event.bytesSent >= event.fileSize)
        return 100;
    return static_cast<int>(event.bytesSent * 100 / event.fileSize);
}

void TftpEventHub::SetHandler(TftpEventFunction handler)
{
    // The exclusive lock waits for the calls in flight, which hold it shared.
    std::unique_lock lock(m_mutex);
    m_handler = std::move(handler);
}

void TftpEventHub::Publish(const TftpTransferEvent& event) const
{
    std::shared_lock lock(m_mutex);
    if (m_handler)
        m_handler(event);
}

bool TftpEventHub::HasHandler() const
{
    std::shared_lock lock(m_mutex);
    return static_cast<bool>(m_handler);
}
