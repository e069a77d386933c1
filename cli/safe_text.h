#pragma once
// Text that came from a box, a file or the command line, made safe to show:
// on a terminal no byte of it may move the cursor, erase a line or change
// the colours, and in a spreadsheet no cell of a CSV may become a formula.
// Pure: text in, text out. Ordinary text comes out unchanged.

#include <string>
#include <string_view>
#include <vector>

// Every C0 control character, DEL and every C1 control character in UTF-8
// (C2 80..C2 9F) written as \xHH per byte. Other bytes stay as they are.
std::string EscapeControls(std::string_view text);

// A cell that starts with '=', '+', '-', '@', a tab or a carriage return
// gets a leading apostrophe, the way spreadsheets take a cell as text.
std::string NeutraliseCsvCell(std::string_view text);

// One CSV record of cells, neutralised, escaped and quoted, ended by '\n'.
std::string CsvRecord(const std::vector<std::string>& cells);
