// The default server under the names the window, vindle-tftpd and the tests
// have always used: a thin layer over one TftpServer. The percentage
// hand-off to the window is derived from its Progress events.

#include <condition_variable>
#include <mutex>
#include <sstream>
#include <stop_token>

#include "tftp/ini_location.h"
#include "tftp/tftp_config.h"
#include "tftp/tftp_report.h"
#include "tftp/tftp_server.h"

TftpConfig g_tftpConfig;
std::uint32_t MaxBlockSize = TFTP_MAX_BLKSIZE;
std::uint16_t DefaultInterval = TFTP_DEFAULT_INTERVAL;
std::atomic<TftpProgressFunction> ProgressNotifier{nullptr};
TftpProgressReceiver ProgressReceiver;

namespace {

// Where ConfigureTftp reports, the same sink as the default server's.
TftpReporter& ConfigurationReporter()
{
    static TftpReporter reporter;
    return reporter;
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
    DefaultTftpServer().SetEventHandler(std::move(forward));
}

TftpServer& DefaultTftpServer()
{
    static TftpServer server;
    return server;
}

void TftpServerThread(std::stop_token stop)
{
    const std::string program = TftpProgramPath();
    const std::string iniPath = LocateIniFile(program);
    std::istringstream ini(ReadIniText(iniPath).value_or(std::string()));
    if (DefaultTftpServer().Start(ini, program, iniPath) != TFTP_SERVER_OK)
        return;
    std::mutex mutex;
    std::condition_variable_any stopped;
    {
        std::unique_lock lock(mutex);
        stopped.wait(lock, stop, [] { return false; });
    }
    DefaultTftpServer().Stop();
}

std::uint32_t StartTftpServer(std::istream& ini, std::string_view programPath, std::string_view iniPath)
{
    return DefaultTftpServer().Start(ini, programPath, iniPath);
}

void StopTftpServer()
{
    DefaultTftpServer().Stop();
}

std::uint16_t TftpListenPort(std::size_t index)
{
    return DefaultTftpServer().ListenPort(index);
}

void SetTftpReportSink(TftpReportSink sink, void* context)
{
    TftpLineSink line;
    if (sink != nullptr)
        line = [sink, context](std::string_view text) { sink(context, text); };
    ConfigurationReporter().SetSink(line);
    DefaultTftpServer().SetReportSink(std::move(line));
}

void ConfigureTftp(std::istream& ini, std::string_view programPath)
{
    const TftpSettings settings = ReadTftpSettings(ini, programPath, ConfigurationReporter());
    g_tftpConfig = settings.config;
    MaxBlockSize = settings.maxBlockSize;
    DefaultInterval = settings.defaultInterval;
}

bool TftpClientAllowed(std::uint32_t ip)
{
    return TftpClientAllowed(g_tftpConfig, ip);
}

void SetTftpHomeDirectory(std::string_view directory)
{
    DefaultTftpServer().SetHomeDirectory(directory);
}

std::array<TftpHomeEntry, TFTP_MAX_HOMES> TftpHomeSnapshot()
{
    return DefaultTftpServer().HomeEntries();
}
