#pragma once
// A configuration client that records every callback as text, for tests
// that drive CCfgClt against a scripted or a simulated box. Link
// vindle_config to use it.
//
// Events: "connected", "disconnected <reason>" (with " (current lives on)"
// when an older attempt ended while a newer connection is up), "status <a>
// <b>" and "info <field 8>".

#include <cstdint>
#include <string>

#include "config/cfg_clt.h"
#include "tests/common/wait.h"

class RecordingCfgClt final : public CCfgClt
{
public:
    void OnConnected() override { log.Add("connected"); }
    void OnDisconnected(std::int32_t nReason) override
    {
        // Whether a current connection lives on tells a late end of an
        // older attempt from the end of the current connection.
        const bool bLate = nReason == CFG_DISCONNECTED && IsConnected();
        log.Add("disconnected " + std::to_string(nReason) + (bLate ? " (current lives on)" : ""));
    }
    void OnStatus(std::int32_t a, std::int32_t b) override
    {
        log.Add("status " + std::to_string(a) + " " + std::to_string(b));
    }
    // The fields are those of the info message only during the call.
    void OnInfo() override { log.Add("info " + GetField(8)); }

    [[nodiscard]] bool WaitFor(const std::string& event, std::size_t count = 1,
                               std::chrono::milliseconds timeout = WAIT)
    {
        return log.WaitFor(event, count, timeout);
    }
    // The info field of the latest info message, empty before the first.
    std::string InfoField()
    {
        std::string field;
        for (const std::string& e : log.Events()) {
            if (e.rfind("info ", 0) == 0)
                field = e.substr(5);
        }
        return field;
    }

    EventLog log;

private:
    // Last: the connection thread stops before the log goes.
    CWorkerGuard m_StopGuard{*this};
};
