#include "box_log.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>

#include "box_rules.h"

void BoxLog(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    va_list measure;
    va_copy(measure, args);
    const int length = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    std::string line(length > 0 ? static_cast<std::size_t>(length) : 0, '\0');
    if (length > 0)
        std::vsnprintf(line.data(), line.size() + 1, format, args);
    va_end(args);
    // Lines carry what peers sent (commands, file names, server texts); the
    // box's own texts hold no control characters, so escaping the whole
    // line changes only what a peer could use to forge a line.
    const std::string safe = EscapeLogText(line);

    static std::mutex mutex;
    std::lock_guard lock(mutex);
    std::fwrite(safe.data(), 1, safe.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}
