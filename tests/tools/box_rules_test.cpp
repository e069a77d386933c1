// The simulated box's pure rules: how a peer's text is escaped in its log.
#include <string>

#include <gtest/gtest.h>

#include "box_rules.h"

TEST(BoxRules, LogTextEscapesControlCharactersOnly)
{
    const std::pair<std::string, std::string> rows[] = {
        {"appcfg cmd c=3 fw.bin hw-1", "appcfg cmd c=3 fw.bin hw-1"},
        {"a\nconfig: password set to 'x'", "a\\x0aconfig: password set to 'x'"},
        {std::string("\r\t\x1b[2J\x7f\x01", 8), "\\x0d\\x09\\x1b[2J\\x7f\\x01"},
        {"\\x0a stays as typed", "\\x0a stays as typed"},
        {"Gerät \xc3\xa4 ~", "Gerät \xc3\xa4 ~"},
        {"", ""},
    };
    for (const auto& [in, out] : rows)
        EXPECT_EQ(EscapeLogText(in), out);
}
