#include "cli/streams.h"

#include "net/core_output.h"

void SeparateCoreOutput(bool verbose)
{
    if (verbose)
        SetCoreOutput(
            [](CoreStream, std::string_view text) { std::fwrite(text.data(), 1, text.size(), stderr); });
    else
        SetCoreOutput([](CoreStream, std::string_view) {});
}

std::FILE* ResultStream()
{
    return stdout;
}

std::FILE* MessageStream()
{
    return stderr;
}
