#include "box_log.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>

void BoxLog(const char* format, ...)
{
    static std::mutex mutex;
    std::lock_guard lock(mutex);
    va_list args;
    va_start(args, format);
    std::vfprintf(stdout, format, args);
    va_end(args);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}
