#include "cli/progress_view.h"

#include <algorithm>
#include <cmath>

#include "cli/safe_text.h"
#include "cli/targets.h"

std::string FormatRate(double bytesPerSecond)
{
    char text[32];
    if (bytesPerSecond >= 1e6)
        std::snprintf(text, sizeof text, "%.1f MB/s", bytesPerSecond / 1e6);
    else
        std::snprintf(text, sizeof text, "%.0f kB/s", bytesPerSecond / 1e3);
    return text;
}

std::string FormatDuration(double seconds)
{
    const long total = std::lround(std::max(0.0, seconds));
    char text[32];
    if (total >= 3600)
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", total / 3600, total / 60 % 60, total % 60);
    else
        std::snprintf(text, sizeof text, "%ld:%02ld", total / 60, total % 60);
    return text;
}

ProgressView::ProgressView(std::FILE* out, bool terminal, std::size_t boxes)
    : m_out(out)
    , m_terminal(terminal)
    , m_total(boxes)
{
}

void ProgressView::OnEvent(const EngineEvent& event)
{
    std::lock_guard lock(m_lock);
    const BoxRecord& box = event.record;
    const std::string ip = FormatIpv4(box.ip);
    std::string line;
    switch (event.kind) {
    case EngineEvent::Kind::Started:
        m_running[event.box] = {box.ip,
                                box.bytesServed,
                                0,
                                box.fileSize,
                                std::chrono::steady_clock::now(),
                                "attempt " + std::to_string(box.attempts),
                                {}};
        m_lastStep[event.box] = 0;
        line = ip + ": attempt " + std::to_string(box.attempts) + " started";
        break;
    case EngineEvent::Kind::Retrying:
        m_running[event.box].state = "retry in " + FormatDuration(event.pause.count() / 1000.0);
        line = ip + ": " + ResultText(box) + ", retry in " + FormatDuration(event.pause.count() / 1000.0);
        break;
    case EngineEvent::Kind::Progress: {
        const auto found = m_running.find(event.box);
        if (found == m_running.end())
            return;  // the late end of a finished box's transfer
        Running& running = found->second;
        running.ip = box.ip;
        running.bytes = box.bytesServed - std::min(running.base, box.bytesServed);
        running.size = box.fileSize;
        const int step = box.fileSize ? static_cast<int>(running.bytes * 4 / box.fileSize) : 4;
        if (!m_terminal && step != m_lastStep[event.box]) {
            m_lastStep[event.box] = step;
            line = ip + ": " + std::to_string(step * 25) + "% served";
        }
        break;
    }
    case EngineEvent::Kind::WaitingBack:
        m_running[event.box].state = "waiting for the box to come back";
        line = ip + ": ok, waiting for the box to come back";
        break;
    case EngineEvent::Kind::Finished:
        m_running.erase(event.box);
        ++m_done;
        if (box.result != BoxResultKind::Ok)
            ++m_failed;
        line = ip + ": " + ResultText(box) + " (" + std::to_string(box.attempts) + " attempt" +
               (box.attempts == 1 ? "" : "s") + ")";
        break;
    }
    // A box's own text is part of the line.
    line = EscapeControls(line);
    if (!m_terminal) {
        if (!line.empty())
            std::fprintf(m_out, "%s\n", line.c_str());
        std::fflush(m_out);
        return;
    }
    if (event.kind == EngineEvent::Kind::Finished || event.kind == EngineEvent::Kind::Retrying) {
        Erase();
        std::fprintf(m_out, "%s\n", line.c_str());
    }
    Redraw(event.kind != EngineEvent::Kind::Progress);
}

void ProgressView::Note(const std::string& line)
{
    std::lock_guard lock(m_lock);
    if (m_terminal)
        Erase();
    std::fprintf(m_out, "%s\n", EscapeControls(line).c_str());
    if (m_terminal)
        Redraw(true);
    std::fflush(m_out);
}

void ProgressView::Close()
{
    std::lock_guard lock(m_lock);
    if (m_terminal)
        Erase();
    std::fflush(m_out);
}

void ProgressView::Erase()
{
    // Up to the block's first line, then clear to the end of the screen.
    if (m_drawn > 0)
        std::fprintf(m_out, "\r\x1b[%dA\x1b[J", m_drawn);
    m_drawn = 0;
}

void ProgressView::Redraw(bool force)
{
    const auto now = std::chrono::steady_clock::now();
    // Progress arrives per block read; a terminal need not see each one.
    if (!force && now - m_lastDraw < std::chrono::milliseconds(100))
        return;
    m_lastDraw = now;
    Erase();
    for (auto& [index, running] : m_running) {
        const double seconds = std::chrono::duration<double>(now - running.since).count();
        std::string line = "  " + FormatIpv4(running.ip) + "  ";
        if (running.size != 0 && running.bytes != 0) {
            line += std::to_string(running.bytes * 100 / running.size) + "%  ";
            // Once the file is served the box works on it; the rate of the
            // transfer stays as it was.
            if (seconds > 0 && (running.rate.empty() || running.bytes < running.size))
                running.rate = FormatRate(running.bytes / seconds);
            line += running.rate;
            if (running.bytes >= running.size)
                line += "  waiting for the box's answer";
        } else {
            line += running.state;
        }
        std::fprintf(m_out, "%s\x1b[K\n", line.c_str());
        ++m_drawn;
    }
    const double elapsed = std::chrono::duration<double>(now - m_start).count();
    std::string total = "  " + std::to_string(m_done) + "/" + std::to_string(m_total) + " done, " +
                        std::to_string(m_failed) + " failed, " + FormatDuration(elapsed) + " elapsed";
    if (m_done > 0 && m_done < m_total)
        total += ", about " + FormatDuration(elapsed / m_done * (m_total - m_done)) + " left";
    std::fprintf(m_out, "%s\x1b[K\n", total.c_str());
    ++m_drawn;
    std::fflush(m_out);
}
