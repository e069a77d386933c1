#include "cli/update_engine.h"

#include <algorithm>
#include <thread>
#include <utility>

#include "config/cfg_commands.h"
#include "config/cfg_info_fields.h"

namespace {

bool IsFailure(BoxResultKind kind)
{
    return kind != BoxResultKind::Ok;
}

}  // namespace

std::string ResultText(const BoxRecord& record)
{
    switch (record.result) {
    case BoxResultKind::NotStarted:
        return "not started";
    case BoxResultKind::Ok:
        return "ok";
    case BoxResultKind::BoxError:
        return record.errorText;
    case BoxResultKind::Timeout:
        return "timeout";
    case BoxResultKind::ConnectionLost:
        return "connection lost";
    case BoxResultKind::Unreachable:
        return "unreachable";
    case BoxResultKind::NotBack:
        return "not back";
    case BoxResultKind::Cancelled:
        return "cancelled";
    case BoxResultKind::Unverified:
        return "unverified";
    }
    return "unknown";
}

UpdateEngine::UpdateEngine(UpdatePlan plan, EngineDeps deps, std::vector<BoxRecord> boxes)
    : m_plan(std::move(plan))
    , m_deps(std::move(deps))
    , m_boxes(std::move(boxes))
{
}

UpdateEngine::~UpdateEngine() = default;

void UpdateEngine::Run()
{
    if (m_deps.probe) {
        std::vector<std::uint32_t> addresses;
        for (const BoxRecord& box : m_boxes)
            addresses.push_back(box.ip);
        const std::vector<bool> reachable = m_deps.probe(addresses);
        for (std::size_t i = 0; i < m_boxes.size(); ++i) {
            if (i < reachable.size() && !reachable[i]) {
                {
                    std::lock_guard lock(m_lock);
                    m_boxes[i].result = BoxResultKind::Unreachable;
                }
                Emit(EngineEvent::Kind::Finished, i);
            }
        }
    }
    const std::size_t workers = std::min<std::size_t>(std::max(1u, m_plan.parallel), m_boxes.size());
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < workers; ++i)
        threads.emplace_back([this] { Worker(); });
    for (std::thread& thread : threads)
        thread.join();
    std::lock_guard lock(m_lock);
    for (BoxRecord& box : m_boxes)
        if (box.result == BoxResultKind::NotStarted && m_cancelLevel.load() != CancelLevel::None)
            box.result = BoxResultKind::Cancelled;
}

bool UpdateEngine::MayStartBox() const
{
    return m_cancelLevel.load() == CancelLevel::None &&
           (m_plan.maxFailures == 0 || m_failures < m_plan.maxFailures);
}

void UpdateEngine::Worker()
{
    while (true) {
        std::size_t index;
        {
            std::lock_guard lock(m_lock);
            // Boxes that the pre-flight already judged are passed over.
            while (m_next < m_boxes.size() && m_boxes[m_next].result != BoxResultKind::NotStarted)
                ++m_next;
            if (m_next >= m_boxes.size() || !MayStartBox())
                return;
            index = m_next++;
        }
        UpdateBox(index);
    }
}

void UpdateEngine::UpdateBox(std::size_t index)
{
    const auto started = m_deps.clock->Now();
    while (true) {
        std::unique_ptr<BoxSession> session = m_deps.sessions();
        bool final = true;
        if (Register(session.get())) {
            final = Attempt(index, *session);
            Unregister(session.get());
        } else {
            std::lock_guard lock(m_lock);
            m_boxes[index].result = BoxResultKind::Cancelled;
        }
        session.reset();

        std::unique_lock lock(m_lock);
        BoxRecord& box = m_boxes[index];
        const unsigned attempts = box.attempts;
        if (!final && attempts <= m_plan.retries && m_cancelLevel.load() == CancelLevel::None) {
            // Pauses grow so that a box that is busy rebooting or a network
            // that is briefly down is not hammered by the whole fleet.
            auto pause = m_plan.firstPause;
            for (unsigned i = 1; i < attempts && pause < m_plan.maxPause; ++i)
                pause *= 2;
            pause = std::min(pause, m_plan.maxPause);
            lock.unlock();
            Emit(EngineEvent::Kind::Retrying, index, pause);
            lock.lock();
            if (!m_deps.clock->Pause(m_wake, lock, pause,
                                     [this] { return m_cancelLevel.load() != CancelLevel::None; }))
                continue;
        }
        box.running = false;
        box.seconds = std::chrono::duration<double>(m_deps.clock->Now() - started).count();
        if (IsFailure(box.result))
            ++m_failures;
        lock.unlock();
        if (box.result == BoxResultKind::Ok && m_plan.waitBack.count() > 0)
            WaitBack(index);
        Emit(EngineEvent::Kind::Finished, index);
        return;
    }
}

bool UpdateEngine::Attempt(std::size_t index, BoxSession& session)
{
    std::uint32_t ip;
    {
        std::lock_guard lock(m_lock);
        BoxRecord& box = m_boxes[index];
        ++box.attempts;
        box.running = true;
        box.served = ServeSeen::Nothing;
        ip = box.ip;
    }
    Emit(EngineEvent::Kind::Started, index);
    auto settle = [&](BoxResultKind kind, std::string text, bool final) {
        std::lock_guard lock(m_lock);
        m_boxes[index].result = m_cancelLevel.load() == CancelLevel::Now ? BoxResultKind::Cancelled : kind;
        m_boxes[index].errorText = std::move(text);
        return final || m_cancelLevel.load() == CancelLevel::Now;
    };
    if (!session.Open(ip, m_plan.connectTimeout))
        return settle(BoxResultKind::ConnectionLost, {}, false);
    const std::vector<std::string> info = session.Info();
    {
        std::lock_guard lock(m_lock);
        if (m_boxes[index].infoBefore.empty())
            m_boxes[index].infoBefore = info;
        if (m_boxes[index].mac.empty() && info.size() > INFO_FIELD_MAC)
            m_boxes[index].mac = info[INFO_FIELD_MAC];
    }
    const std::string echo = info.size() > INFO_FIELD_ECHO ? info[INFO_FIELD_ECHO] : std::string();
    const auto command = BuildUpdateCommand(m_plan.kind, m_plan.fileName, echo);
    if (!command)
        return settle(BoxResultKind::BoxError, "update command too long for the box", true);
    const BoxAnswer answer = session.Command(*command, m_plan.commandTimeout);
    switch (answer.outcome) {
    case BoxOutcome::Answered:
        if (answer.ok)
            return settle(ServedWhole(index) ? BoxResultKind::Ok : BoxResultKind::Unverified, {}, true);
        return settle(BoxResultKind::BoxError, answer.text, !m_plan.retryErrors);
    case BoxOutcome::TimedOut:
        return settle(BoxResultKind::Timeout, {}, false);
    case BoxOutcome::Cancelled:
        return settle(BoxResultKind::Cancelled, {}, true);
    case BoxOutcome::Disconnected:
    case BoxOutcome::NotSent:
        break;
    }
    return settle(BoxResultKind::ConnectionLost, {}, false);
}

bool UpdateEngine::ServedWhole(std::size_t index)
{
    if (m_plan.trustBox)
        return true;
    std::unique_lock lock(m_lock);
    const BoxRecord& box = m_boxes[index];
    // The box's answer may overtake the server's last event of the transfer.
    m_deps.clock->Pause(m_wake, lock, m_plan.serveGrace, [&] {
        return box.served == ServeSeen::Whole || box.served == ServeSeen::Broken ||
               m_cancelLevel.load() == CancelLevel::Now;
    });
    return box.served == ServeSeen::Whole;
}

void UpdateEngine::WaitBack(std::size_t index)
{
    Emit(EngineEvent::Kind::WaitingBack, index);
    const std::uint32_t ip = m_boxes[index].ip;  // never written while Run runs
    const auto deadline = m_deps.clock->Now() + m_plan.waitBack;
    while (m_cancelLevel.load() != CancelLevel::Now) {
        const bool seen = !m_deps.answersDiscovery || m_deps.answersDiscovery(ip, m_plan.waitBackPoll);
        if (seen) {
            std::unique_ptr<BoxSession> session = m_deps.sessions();
            if (Register(session.get())) {
                const bool open = session->Open(ip, m_plan.connectTimeout);
                Unregister(session.get());
                if (open) {
                    std::lock_guard lock(m_lock);
                    m_boxes[index].infoAfter = session->Info();
                    return;
                }
            }
        }
        if (m_deps.clock->Now() >= deadline)
            break;
        std::unique_lock lock(m_lock);
        m_deps.clock->Pause(m_wake, lock, m_plan.waitBackPoll,
                            [this] { return m_cancelLevel.load() == CancelLevel::Now; });
    }
    std::lock_guard lock(m_lock);
    m_boxes[index].result =
        m_cancelLevel.load() == CancelLevel::Now ? BoxResultKind::Cancelled : BoxResultKind::NotBack;
    ++m_failures;
}

bool UpdateEngine::Register(BoxSession* session)
{
    std::lock_guard lock(m_lock);
    if (m_cancelLevel.load() == CancelLevel::Now)
        return false;
    m_sessions.push_back(session);
    return true;
}

void UpdateEngine::Unregister(BoxSession* session)
{
    std::lock_guard lock(m_lock);
    m_sessions.erase(std::remove(m_sessions.begin(), m_sessions.end(), session), m_sessions.end());
}

void UpdateEngine::Cancel()
{
    bool hard = false;
    {
        std::lock_guard lock(m_lock);
        const CancelLevel level = m_cancelLevel.load();
        if (level == CancelLevel::Now)
            return;
        hard = level == CancelLevel::Finish;
        m_cancelLevel.store(hard ? CancelLevel::Now : CancelLevel::Finish);
        m_wake.notify_all();
        // A session stays registered until its worker is done with it, and
        // Unregister needs this lock, so none goes away under the call.
        if (hard)
            for (BoxSession* session : m_sessions)
                session->Cancel();
    }
    if (hard && m_deps.abortTransfers)
        m_deps.abortTransfers();
}

void UpdateEngine::OnFileEvent(const FileServeEvent& event)
{
    std::size_t index = m_boxes.size();
    {
        std::lock_guard lock(m_lock);
        std::size_t matches = 0;
        // A box may answer "ok" before the server's event of its
        // transfer's end arrives, so an addressed event counts for a box
        // that is done.
        for (std::size_t i = 0; i < m_boxes.size(); ++i) {
            const BoxRecord& box = m_boxes[i];
            if (event.client == 0 ? box.running : box.ip == event.client && box.attempts > 0) {
                index = i;
                ++matches;
            }
        }
        // An event without a client address can only be one box's.
        if (matches != 1)
            return;
        BoxRecord& box = m_boxes[index];
        box.fileSize = event.fileSize != 0 ? event.fileSize : m_plan.fileSize;
        const std::uint64_t sent = event.percent >= 0
                                       ? box.fileSize * static_cast<std::uint64_t>(event.percent) / 100
                                       : event.bytesSent;
        // A failed transfer counts with the bytes of its last progress.
        if (event.kind != FileServeEvent::Kind::Failed)
            box.bytesServed = box.transferBase + sent;
        if (event.kind != FileServeEvent::Kind::Progress)
            box.transferBase = box.bytesServed;
        if (event.kind == FileServeEvent::Kind::Finished && sent >= box.fileSize)
            box.served = ServeSeen::Whole;
        else if (box.served != ServeSeen::Whole)
            box.served =
                event.kind == FileServeEvent::Kind::Progress ? ServeSeen::Running : ServeSeen::Broken;
    }
    m_wake.notify_all();
    Emit(EngineEvent::Kind::Progress, index);
}

std::vector<BoxRecord> UpdateEngine::Records() const
{
    std::lock_guard lock(m_lock);
    return m_boxes;
}

int UpdateEngine::ExitCode() const
{
    std::lock_guard lock(m_lock);
    for (const BoxRecord& box : m_boxes)
        if (IsFailure(box.result))
            return EXIT_SOME_FAILED;
    return EXIT_ALL_DONE;
}

void UpdateEngine::Emit(EngineEvent::Kind kind, std::size_t index, std::chrono::milliseconds pause)
{
    if (!m_deps.observer)
        return;
    EngineEvent event;
    event.kind = kind;
    event.box = index;
    event.pause = pause;
    {
        std::lock_guard lock(m_lock);
        event.record = m_boxes[index];
    }
    m_deps.observer(event);
}
