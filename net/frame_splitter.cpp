// Frame reassembly; see frame_splitter.h.

#include "net/frame_splitter.h"

TcpFrameSplitter::TcpFrameSplitter(std::span<std::uint8_t> payloadBuffer) : m_Payload(payloadBuffer)
{
}

std::span<std::uint8_t> TcpFrameSplitter::Space()
{
    if (m_InHeader)
        return std::span<std::uint8_t>(m_Header).subspan(m_Filled);
    return m_Payload.subspan(m_Filled, m_Length - m_Filled);
}

FrameStatus TcpFrameSplitter::Add(std::size_t count)
{
    m_Filled += count;
    if (m_InHeader) {
        if (m_Filled < sizeof m_Header)
            return FrameStatus::NeedMore;
        m_Filled = 0;
        m_Length = m_Header[0] | static_cast<std::size_t>(m_Header[1]) << 8;
        if (m_Length == 0)
            return FrameStatus::Empty;
        if (m_Length > m_Payload.size())
            return FrameStatus::TooLong;
        m_InHeader = false;
        return FrameStatus::NeedMore;
    }
    if (m_Filled < m_Length)
        return FrameStatus::NeedMore;
    m_Filled = 0;
    m_InHeader = true;
    return FrameStatus::Complete;
}
