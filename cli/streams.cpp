#include "cli/streams.h"

#include <fcntl.h>
#include <unistd.h>

namespace {

std::FILE* g_results = nullptr;
std::FILE* g_messages = nullptr;

}  // namespace

void SeparateCoreOutput(bool verbose)
{
    std::fflush(stdout);
    std::fflush(stderr);
    const int results = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    const int messages = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
    if (results < 0 || messages < 0)
        return;
    g_results = ::fdopen(results, "w");
    g_messages = ::fdopen(messages, "w");
    if (g_messages)
        std::setvbuf(g_messages, nullptr, _IOLBF, 0);
    const int sink = verbose ? ::dup(messages) : ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (sink >= 0) {
        ::dup2(sink, STDOUT_FILENO);
        ::dup2(sink, STDERR_FILENO);
        ::close(sink);
    }
}

std::FILE* ResultStream()
{
    return g_results ? g_results : stdout;
}

std::FILE* MessageStream()
{
    return g_messages ? g_messages : stderr;
}
