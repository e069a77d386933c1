#pragma once
// What the update engine needs from the server that hands the update file
// to the boxes. core_services.cpp adapts the core's TFTP server to it.

#include <cstdint>
#include <functional>
#include <string>

// A transfer event of the file server, by client address.
struct FileServeEvent
{
    enum class Kind
    {
        Progress,
        Finished,
        Failed,
    };
    Kind kind = Kind::Progress;
    // Network byte order. 0, an unnamed client, is taken for the one box
    // whose transfer runs.
    std::uint32_t client = 0;
    std::uint64_t bytesSent = 0;
    std::uint64_t fileSize = 0;
    // 0..100: the share sent, from which the bytes are worked out with the
    // file's size; -1: bytesSent counts.
    int percent = -1;
    std::string message;  // Failed: the report text
};

// Serves one file to the boxes while an update runs.
class UpdateFileServer
{
public:
    virtual ~UpdateFileServer() = default;
    // Serves the files of `folder` on (address, port 69) with transfer ports
    // from the range (both 0: any). Returns an empty string or the reason it
    // cannot serve.
    [[nodiscard]] virtual std::string Start(const std::string& folder, std::uint32_t address,
                                            std::uint16_t port, std::uint16_t portLow,
                                            std::uint16_t portHigh) = 0;
    // Called on transfer threads; set before Start.
    virtual void SetEventHandler(std::function<void(const FileServeEvent&)> handler) = 0;
    // Ends every running transfer: the boxes get a TFTP error.
    virtual void AbortTransfers() = 0;
    virtual void Stop() = 0;
};
