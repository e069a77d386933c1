// Facts about a file the user names on the command line.
#pragma once

#include <cstdint>
#include <string>

namespace vindle::platform {

struct InputFile {
    enum class State {
        Readable,
        Missing,     // cannot be looked at; `error` says why
        NotRegular,  // a folder, device, ...
        Unreadable,  // `error` says why
    };
    State state = State::Missing;
    std::string error;
    std::uint64_t size = 0;
    // With every link resolved; the name as given when that fails.
    std::string fullPath;
};

InputFile InspectInputFile(const std::string& path);

}  // namespace vindle::platform
