#include "cli/fleet_commands.h"

#include <cstdio>

#include "cli/safe_text.h"
#include "cli/streams.h"

void Complain(const std::string& what, const std::string& why)
{
    std::fprintf(MessageStream(), "vindlectl: %s: %s\n", EscapeControls(what).c_str(),
                 EscapeControls(why).c_str());
}

int ExitStatus(CommandResult result)
{
    if (!result.IsError())
        return result.ReleaseValue();
    const CommandError error = result.ReleaseError();
    Complain(error.what, error.why);
    return error.exitCode;
}

int Print(const std::string& text)
{
    std::FILE* out = ResultStream();
    std::fwrite(text.data(), 1, text.size(), out);
    std::fflush(out);
    return std::ferror(out) ? EXIT_SOME_FAILED : EXIT_ALL_DONE;
}
