// The default server under the names the window has always used: a thin
// layer over one TftpServer. The percentage hand-off to the window is
// derived from its Progress events.

#include <condition_variable>
#include <mutex>
#include <sstream>
#include <stop_token>

#include "tftp/ini_location.h"
#include "tftp/tftp_config.h"
#include "tftp/tftp_report.h"
#include "tftp/tftp_server.h"

std::atomic<TftpProgressFunction> ProgressNotifier{nullptr};
TftpProgressReceiver ProgressReceiver;
std::atomic<std::uint32_t> MaxBlockSize{TFTP_MAX_BLKSIZE};

namespace {

TftpServer& DefaultServer()
{
    static TftpServer server;
    return server;
}

std::uint32_t StartDefaultServer(std::istream& ini, std::string_view programPath, std::string_view iniPath)
{
    const std::uint32_t status = DefaultServer().Start(ini, programPath, iniPath);
    if (status == TFTP_SERVER_OK)
        MaxBlockSize.store(DefaultServer().Settings().maxBlockSize);
    return status;
}

}  // namespace

void TftpProgressReceiver::Set(void* receiver)
{
    std::lock_guard lock(m_mutex);
    SetLocked(receiver);
}

void TftpProgressReceiver::Clear(void* receiver)
{
    std::lock_guard lock(m_mutex);
    if (m_receiver == receiver)
        SetLocked(nullptr);
}

void* TftpProgressReceiver::Get() const
{
    std::lock_guard lock(m_mutex);
    return m_receiver;
}

void TftpProgressReceiver::SetLocked(void* receiver)
{
    m_receiver = receiver;
    TftpEventFunction forward;
    if (receiver != nullptr) {
        forward = [receiver](const TftpTransferEvent& event) {
            // Progress events come only when a transfer's percentage changes.
            const TftpProgressFunction notifier = ProgressNotifier.load(std::memory_order_acquire);
            if (event.kind == TftpTransferEvent::Kind::Progress && notifier != nullptr)
                notifier(receiver, TftpPercentSent(event));
        };
    }
    // The hub waits for a call of the old handler in flight.
    DefaultServer().SetEventHandler(std::move(forward));
}

void TftpServerThread(std::stop_token stop)
{
    const std::string program = TftpProgramPath();
    const std::string iniPath = LocateIniFile(program);
    std::istringstream ini(ReadIniText(iniPath).value_or(std::string()));
    if (StartDefaultServer(ini, program, iniPath) != TFTP_SERVER_OK)
        return;
    std::mutex mutex;
    std::condition_variable_any stopped;
    {
        std::unique_lock lock(mutex);
        stopped.wait(lock, stop, [] { return false; });
    }
    DefaultServer().Stop();
}

std::uint32_t StartTftpServer(std::istream& ini, std::string_view programPath, std::string_view iniPath)
{
    return StartDefaultServer(ini, programPath, iniPath);
}

void StopTftpServer()
{
    DefaultServer().Stop();
}

void SetTftpHomeDirectory(std::string_view directory)
{
    DefaultServer().SetHomeDirectory(directory);
}
