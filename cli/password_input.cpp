#include "cli/password_input.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "cli/streams.h"
#include "config/cfg_commands.h"
#include "platform/console.h"

ErrorOr<std::string> ReadPassword(const PasswdOptions& options)
{
    std::string password;
    if (!options.passwordFile.empty()) {
        std::ifstream in(options.passwordFile, std::ios::binary);
        if (!in)
            return UsageError(options.passwordFile, std::strerror(errno));
        std::getline(in, password);
        if (!password.empty() && password.back() == '\r')
            password.pop_back();
    } else if (vindle::platform::IsTerminal(stdin)) {
        std::fputs("New password: ", MessageStream());
        password = vindle::platform::ReadInputLine(vindle::platform::Echo::Hidden, MessageStream());
        std::fputs("Again: ", MessageStream());
        if (vindle::platform::ReadInputLine(vindle::platform::Echo::Hidden, MessageStream()) != password)
            return UsageError("password", "the two entries differ");
    } else {
        password = vindle::platform::ReadInputLine(vindle::platform::Echo::Shown, MessageStream());
    }
    if (password.empty())
        return UsageError("password", "empty");
    // The box reads the password between double quotes and knows no escape.
    if (password.find_first_of("\"\n") != std::string::npos)
        return UsageError("password", "must not contain a double quote");
    if (!BuildPasswordCommand(password))
        return UsageError("password", "too long for the box's command (at most 226 characters)");
    return password;
}
