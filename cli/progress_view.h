#pragma once
// Progress of an update run on standard error. On a terminal: one line per
// running box (address, percent, rate) and a total line (boxes done and
// failed, an estimate of the time left), redrawn in place. Elsewhere: one
// plain line per event, so a log reads top to bottom.
//
// Threads: OnEvent is called on the engine's workers and the file server's
// threads; one lock keeps the lines whole. Close erases the redrawn block,
// so the final report starts on a clean line.

#include <chrono>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>

#include "cli/update_engine.h"

class ProgressView final
{
public:
    ProgressView(std::FILE* out, bool terminal, std::size_t boxes);
    void OnEvent(const EngineEvent& event);
    void Note(const std::string& line);  // a message of its own, kept above the block
    void Close();

private:
    struct Running
    {
        std::uint32_t ip = 0;
        std::uint64_t base = 0;   // bytes served before this attempt
        std::uint64_t bytes = 0;  // in this attempt
        std::uint64_t size = 0;
        std::chrono::steady_clock::time_point since;
        std::string state;
        std::string rate;  // frozen once the file is served
    };
    void Redraw(bool force);  // m_lock held
    void Erase();             // m_lock held

    std::FILE* const m_out;
    const bool m_terminal;
    const std::size_t m_total;
    const std::chrono::steady_clock::time_point m_start = std::chrono::steady_clock::now();
    std::mutex m_lock;
    std::map<std::size_t, Running> m_running;
    std::map<std::size_t, int> m_lastStep;  // plain mode: last quarter printed
    std::size_t m_done = 0;
    std::size_t m_failed = 0;
    int m_drawn = 0;  // lines of the block on screen
    std::chrono::steady_clock::time_point m_lastDraw{};
};

// "3.2 MB/s", "850 kB/s"; "1:05" for 65 seconds.
std::string FormatRate(double bytesPerSecond);
std::string FormatDuration(double seconds);
