#pragma once
// Reader of the server's INI file. Pure over a std::istream (opening the
// file is the caller's job); runs on the server thread at start-up.
//
// Rules: a section starts at a line whose first characters are "[" name "]"
// in any case (the rest of the line is ignored; the header must start in the
// first column). Its entries are the following lines up to the next line
// that starts with "[" or the end of the input; that ending line is consumed
// without being looked at as a header. Lines are read in pieces of at most
// 254 characters. Trailing white space and control characters are cut and
// blank lines dropped. Every occurrence of the section is read, in order.

#include <cstddef>
#include <istream>
#include <string>
#include <string_view>
#include <vector>

inline constexpr std::size_t INI_LINE_PIECE = 254;

struct IniSection
{
    bool found = false;
    std::vector<std::string> entries;  // trimmed, non-blank, in file order
};

// Scans `in` from its beginning; the stream is rewound first.
IniSection ReadIniSection(std::istream& in, std::string_view name);

// Index of the next entry that starts with an ASCII letter or digit or "/"
// (an absolute path), at or after `pos` (after it when `stepPast`), or
// entries.size() at the end. Entries starting with anything else (";", "#",
// blanks) are comments.
std::size_t NextIniEntry(const std::vector<std::string>& entries, std::size_t pos, bool stepPast);
