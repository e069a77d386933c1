// The transfer socket and file; see tftp_transport.h.

#include "tftp/tftp_transport.h"

#include "platform/datagrams.h"

bool TftpTransport::SendEach(std::span<const iovec> parts, std::size_t perDatagram)
{
    return vindle::platform::SendDatagrams(socket.Get(), parts, perDatagram);
}

bool TftpTransport::SendRun(std::span<const iovec> parts, std::size_t perDatagram, std::size_t segment)
{
    return vindle::platform::SendSegmented(socket.Get(), parts, perDatagram, segment, noSegmentation);
}
