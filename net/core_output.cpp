// The core's console sink; see core_output.h.
#include "net/core_output.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <mutex>

#include "net/thread.h"

namespace {

std::mutex g_outputLock;
CoreOutputTarget g_target;  // guarded by g_outputLock; empty: the standard streams

void WriteStandard(CoreStream stream, std::string_view text)
{
    std::FILE* file = stream == CoreStream::Out ? stdout : stderr;
    std::fwrite(text.data(), 1, text.size(), file);
    if (stream == CoreStream::Out)
        std::fflush(file);
}

}  // namespace

void SetCoreOutput(CoreOutputTarget target)
{
    std::lock_guard lock(g_outputLock);
    g_target = std::move(target);
}

void CoreOutput(CoreStream stream, std::string_view text)
{
    std::lock_guard lock(g_outputLock);
    if (g_target)
        g_target(stream, text);
    else
        WriteStandard(stream, text);
}

void CoreOutputF(CoreStream stream, const char* pszFormat, ...)
{
    char line[TRACE_LINE_SIZE];
    va_list args;
    va_start(args, pszFormat);
    const int length = std::vsnprintf(line, sizeof line, pszFormat, args);
    va_end(args);
    if (length < 0)
        return;
    CoreOutput(stream, std::string_view(line, std::min(static_cast<std::size_t>(length), sizeof line - 1)));
}
