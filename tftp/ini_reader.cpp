// INI section reader; see ini_reader.h.

#include "tftp/ini_reader.h"

#include "tftp/tftp_request.h"

namespace {

bool StartsWithHeader(std::string_view line, std::string_view name)
{
    if (line.size() < name.size() + 2 || line.front() != '[' || line[name.size() + 1] != ']')
        return false;
    return EqualsNoCase(line.substr(1, name.size()), name);
}

// Letters and digits start an entry; so does "/", which begins every
// absolute path on this platform (where other systems begin with a drive
// letter).
bool StartsEntry(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '/';
}

}  // namespace

IniSection ReadIniSection(std::istream& in, std::string_view name)
{
    IniSection section;
    in.clear();
    in.seekg(0);
    bool inSection = false;
    std::string line;
    while (std::getline(in, line)) {
        // NOTE: getline drops the line break; a line of exactly a multiple of
        // 254 characters would leave an empty piece, which is blank anyway.
        for (std::size_t start = 0; start < line.size() || start == 0; start += INI_LINE_PIECE) {
            std::string_view piece = std::string_view(line).substr(start, INI_LINE_PIECE);
            if (!inSection) {
                if (StartsWithHeader(piece, name)) {
                    inSection = true;
                    section.found = true;
                }
            } else if (!piece.empty() && piece.front() == '[') {
                inSection = false;
            } else {
                while (!piece.empty() && static_cast<unsigned char>(piece.back()) <= 32)
                    piece.remove_suffix(1);
                if (!piece.empty())
                    section.entries.emplace_back(piece);
            }
            if (line.empty())
                break;
        }
    }
    in.clear();
    return section;
}

std::size_t NextIniEntry(const std::vector<std::string>& entries, std::size_t pos, bool stepPast)
{
    if (stepPast && pos < entries.size())
        ++pos;
    while (pos < entries.size() && !StartsEntry(entries[pos].front()))
        ++pos;
    return pos;
}
