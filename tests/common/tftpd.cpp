#include "tests/common/tftpd.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <system_error>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// The server takes its port from the INI file and cannot report one the
// system chose, so the test asks the system for a free one first.
std::uint16_t FreeLoopbackUdpPort()
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return 0;
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof local;
    std::uint16_t port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) == 0)
        port = ntohs(local.sin_port);
    ::close(fd);
    return port;
}

}  // namespace

TftpdProcess::TftpdProcess(const std::string& program)
{
    char pattern[] = "/tmp/vindle-tftpd.XXXXXX";
    if (::mkdtemp(pattern) == nullptr)
        return;
    m_folder = pattern;
    std::error_code ec;
    fs::copy_file(program, m_folder / "vindle-tftpd", ec);
}

TftpdProcess::~TftpdProcess()
{
    Stop();
    if (!m_folder.empty()) {
        std::error_code ignored;
        fs::remove_all(m_folder, ignored);
    }
}

::testing::AssertionResult TftpdProcess::Start(const std::string& ini)
{
    Stop();
    const fs::path program = m_folder / "vindle-tftpd";
    if (m_folder.empty() || !fs::exists(program))
        return ::testing::AssertionFailure() << "no copy of vindle-tftpd in a temporary folder";
    std::ofstream(m_folder / "vindle-tftpd.ini") << ini;
    m_process = std::make_unique<LabProcess>(LAB_TOOL_SIDE, std::vector<std::string>{program.string()},
                                             LabProcess::Output::CaptureMerged);
    if (!m_process->Started())
        return ::testing::AssertionFailure() << "vindle-tftpd did not start: " << m_process->Error();
    if (!m_process->WaitForText("Accepting requests"))
        return ::testing::AssertionFailure() << "vindle-tftpd does not accept requests:\n"
                                             << m_process->Captured();
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult TftpdProcess::StartOnLoopback(const std::string& extraIni)
{
    ::testing::AssertionResult result = ::testing::AssertionFailure() << "no free port";
    for (int attempt = 0; attempt < 3; ++attempt) {
        m_port = FreeLoopbackUdpPort();
        if (m_port == 0)
            continue;
        result = Start("[LISTEN-ON]\n127.0.0.1:" + std::to_string(m_port) + "\n" + extraIni);
        if (result)
            return result;
    }
    return result;
}

void TftpdProcess::Stop()
{
    if (m_process) {
        m_process->Stop();
        m_process.reset();
    }
}

std::vector<std::uint8_t> ReadFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
