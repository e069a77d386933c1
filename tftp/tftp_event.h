#pragma once
// What a server tells its owner about each transfer, and the hub that hands
// these events to the owner's handler. Events are raised on transfer threads
// (and on the listener thread for refused requests), so handlers run there.

#include <cstdint>
#include <functional>
#include <memory>
#include <shared_mutex>
#include <string>

#include "platform/native_types.h"

struct TftpTransferEvent
{
    // Started: the file is open and the options are settled. Progress: a
    // read's share sent changed by at least one percent. Finished: the last
    // block was acknowledged (read) or stored (write). Failed: the request
    // was refused or the transfer ended early; Started may not have come.
    enum class Kind
    {
        Started,
        Progress,
        Finished,
        Failed
    };
    Kind kind = Kind::Started;
    sockaddr_in client{};  // the client's address and port
    std::string file;      // the requested name as the client sent it
    // Reads: file bytes sent so far; once the last block has left, the whole
    // file (a text-mode read sends fewer bytes than the file holds). Writes:
    // data bytes received so far.
    std::uint64_t bytesSent = 0;
    std::uint64_t fileSize = 0;  // the file's size (reads; 0 for writes)
    bool write = false;          // a write request (upload)
    std::string message;         // Failed: the report text ("Timeout", ...)
};

using TftpEventFunction = std::function<void(const TftpTransferEvent&)>;

// The share of a read's file sent, 0..100; an empty file is complete.
int TftpPercentSent(const TftpTransferEvent& event);

// Holds the handler. Handlers of concurrent transfers run at the same time;
// replacing the handler waits until every call to the old one has returned.
// A handler must not replace the handler itself.
class TftpEventHub final
{
public:
    // Any thread. After it returns, no call to the old handler runs.
    void SetHandler(TftpEventFunction handler);
    // Calls the handler, if any. Any thread.
    void Publish(const TftpTransferEvent& event) const;
    bool HasHandler() const;

private:
    mutable std::shared_mutex m_mutex;
    TftpEventFunction m_handler;
};
