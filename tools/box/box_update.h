#pragma once
// The update step of the simulated box's configuration service. On an update
// command ("appcfg cmd c=3|6|7 FILE INFO") the service calls RunUpdate on the
// connection's thread and answers with its verdict.
//
// The default RunUpdate (in box_config_service.cpp) is a weak definition that
// only returns the answer configured on the command line. A strong
// definition of RunUpdate in another file of vindle-box replaces it without
// further changes, e.g. one that downloads FILE by TFTP from the tool at
// UpdateRequesterIp() and judges the result.

#include <cstdint>
#include <string>

enum class BoxUpdateVerdict
{
    Ok,     // answer "ok"
    Error,  // answer "error <reason>"
    Drop,   // close the connection without an answer
};

struct BoxUpdateResult
{
    BoxUpdateVerdict verdict = BoxUpdateVerdict::Ok;
    std::string reason;  // for Error
};

// Runs the update of FILE (the bare name the tool sent) with INFO (the ninth
// "info" field the tool echoes). May block; the service waits for it.
BoxUpdateResult RunUpdate(const std::string& file, const std::string& info);

// For RunUpdate: the address (network byte order) of the tool whose command
// is being served on the calling thread, 0 outside such a call.
std::uint32_t UpdateRequesterIp();
// For RunUpdate: the answer the command line configured (--update-answer,
// --update-error).
BoxUpdateResult ConfiguredUpdateResult();
