// Windows side of the file facts: the names go to the API as UTF-16.
#include "platform/files.h"

#include <filesystem>
#include <system_error>

#include <windows.h>

#include "platform/win32/text.h"

namespace vindle::platform {

InputFile InspectInputFile(const std::string& path)
{
    InputFile file;
    const std::filesystem::path name(win32::Utf16(path));
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(name, error);
    if (error || !std::filesystem::exists(status)) {
        file.error = error ? error.message() : "No such file or directory";
        return file;
    }
    if (!std::filesystem::is_regular_file(status)) {
        file.state = InputFile::State::NotRegular;
        return file;
    }
    // Readable means it opens for reading while others may read and write.
    const HANDLE handle = ::CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        file.state = InputFile::State::Unreadable;
        file.error = std::system_category().message(static_cast<int>(::GetLastError()));
        return file;
    }
    LARGE_INTEGER size{};
    ::GetFileSizeEx(handle, &size);
    ::CloseHandle(handle);
    file.state = InputFile::State::Readable;
    file.size = static_cast<std::uint64_t>(size.QuadPart);
    const std::filesystem::path full = std::filesystem::canonical(name, error);
    file.fullPath = error ? path : win32::Utf8(full.wstring());
    return file;
}

}  // namespace vindle::platform
