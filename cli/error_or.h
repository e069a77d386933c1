#pragma once
// How a vindlectl command gives up: a value or the reason, carried back to
// the command's one exit path, which prints "vindlectl: <what>: <why>" and
// returns the exit code. TRY(expr) unwraps a value or returns the reason.

#include <string>
#include <utility>
#include <variant>

#include "cli/exit_codes.h"

struct CommandError
{
    std::string what;
    std::string why;
    int exitCode = EXIT_USAGE;
};

// The input is wrong; nothing was sent.
inline CommandError UsageError(std::string what, std::string why)
{
    return {std::move(what), std::move(why), EXIT_USAGE};
}
// The input was fine, the work failed.
inline CommandError Failure(std::string what, std::string why)
{
    return {std::move(what), std::move(why), EXIT_SOME_FAILED};
}

template <typename T>
class [[nodiscard]] ErrorOr final
{
public:
    ErrorOr(T value) : m_value(std::move(value)) {}
    ErrorOr(CommandError error) : m_value(std::move(error)) {}

    bool IsError() const { return std::holds_alternative<CommandError>(m_value); }
    T ReleaseValue() { return std::move(std::get<T>(m_value)); }
    CommandError ReleaseError() { return std::move(std::get<CommandError>(m_value)); }

private:
    std::variant<T, CommandError> m_value;
};

struct Done
{};
using ErrorOrDone = ErrorOr<Done>;

// GNU statement expression, as g++ and clang both take it.
#define TRY(expression)                                                                                      \
    ({                                                                                                       \
        auto tryResult_ = (expression);                                                                      \
        if (tryResult_.IsError())                                                                            \
            return tryResult_.ReleaseError();                                                                \
        tryResult_.ReleaseValue();                                                                           \
    })
