#pragma once
// One read or write transfer, served on its own thread. The listener
// allocates a TftpRequest per datagram; TransferThread takes ownership and
// frees it (ReleaseTransfer) on every path. Everything a transfer touches
// (socket, file, buffers, packets) lives in its record; the configuration of
// tftp_config.h is only read.

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include <netinet/in.h>

#include "tftp/netascii.h"
#include "tftp/tftp_wire.h"

// Closes a file descriptor on destruction.
class CUniqueFd final
{
public:
    CUniqueFd() = default;
    explicit CUniqueFd(int fd) : m_fd(fd) {}
    ~CUniqueFd() { Reset(); }
    CUniqueFd(const CUniqueFd&) = delete;
    CUniqueFd& operator=(const CUniqueFd&) = delete;

    int Get() const { return m_fd; }
    bool Valid() const { return m_fd >= 0; }
    // Hands the descriptor over to the caller, who closes it.
    int Release() { return std::exchange(m_fd, -1); }
    void Reset(int fd = -1);
    // Closes now and returns close()'s result (0, or -1 with errno set).
    int Close();

private:
    int m_fd = -1;
};

struct TftpRequest
{
    CUniqueFd transferSocket;
    std::uint8_t endpointIndex = 0;
    std::uint8_t retries = 0;          // waits without progress
    std::string localPath;             // empty until resolved
    CUniqueFd file;
    bool textMode = false;
    std::uint64_t transferSize = 0;    // the file size sent with "tsize"
    std::uint32_t blockSize = TFTP_DEFAULT_BLKSIZE;
    std::uint32_t timeoutSeconds = 2;
    std::uint32_t blockCount = 0;      // ACKs matched (read) or blocks received (write)
    std::uint64_t bytesRead = 0;       // from the file, for the progress
    std::int32_t lastPercent = -1;
    // Read: the read-ahead ring of blocks. Write: the packet received.
    std::unique_ptr<std::uint8_t[]> buffer;
    // Read in text mode: raw file bytes before translation (textLength of
    // them, consumed up to textPosition). Write: file bytes collected before
    // they are written (pendingLength of textCapacity).
    std::unique_ptr<std::uint8_t[]> textBuffer;
    std::size_t textLength = 0;
    std::size_t textPosition = 0;
    std::size_t textCapacity = 0;
    std::size_t pendingLength = 0;
    TextReadState textRead;
    TextWriteState textWrite;
    sockaddr_in client{};
    std::array<std::uint8_t, TFTP_OACK_MAX> control{};   // the outgoing ACK or OACK
    std::size_t controlLength = 0;
    std::array<std::uint8_t, TFTP_ERROR_MAX> errorPacket{};
    std::size_t errorLength = 0;       // 0: no error to send
    std::string message;               // what ReportTransfer prints at the end
    std::array<std::uint8_t, TFTP_REQUEST_MAX> packet{};  // the request, then a read's replies
    std::size_t packetLength = 0;
    int listenSocket = -1;             // not owned
    bool connected = false;            // errors go out on the transfer socket
};

// Serves the request to its end and frees it. Thread entry; never throws.
void TransferThread(std::unique_ptr<TftpRequest> request);

// Closes the file and the transfer socket and frees the buffers and record.
void ReleaseTransfer(std::unique_ptr<TftpRequest> request);

// Fills the record's error packet (opcode 5, code, text) and its message.
void SetTransferError(TftpRequest& request, const TftpError& error);
void SetTransferError(TftpRequest& request, std::uint16_t code, std::string_view text);

// Ends every running transfer (they answer "Server shutting down") and every
// transfer started until ResetTransferStop. Any thread.
void StopTransfers();
void ResetTransferStop();

// Test only: the number that the first DATA block of a read carries (1 on
// the wire), so that block-number wrap-around can be tested with small files.
// Set while no transfer runs.
extern std::uint16_t g_tftpFirstDataBlock;
