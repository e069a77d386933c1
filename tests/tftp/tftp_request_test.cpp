// The request parser, over hand-made packets.

#include <gtest/gtest.h>

#include "tftp/tftp_request.h"
#include "tftp_test_support.h"

namespace {

Bytes Raw(std::string_view text)
{
    return Bytes(text.begin(), text.end());
}

TEST(TftpRequest, ParsesNamesModeAndOptionsBoundedByThePacket)
{
    struct Case
    {
        const char* name;
        Bytes packet;
        bool ok;
        const char* error;  // expected text when !ok
        const char* fileName;
        const char* mode;
        std::size_t options;
        bool hasOptions;
    };
    using namespace std::string_view_literals;
    const Case cases[] = {
        {"plain read", Raw("\0\1file.bin\0octet\0"sv), true, "", "file.bin", "octet", 0, false},
        {"options", Raw("\0\1f\0octet\0blksize\0001024\0tsize\0000\0"sv), true, "", "f", "octet", 2, true},
        {"empty name and mode", Raw("\0\2\0\0"sv), true, "", "", "", 0, false},
        // A name without a value still counts as an option (OACK mode) but
        // grants nothing.
        {"dangling option name", Raw("\0\1f\0octet\0blksize\0"sv), true, "", "f", "octet", 0, true},
        {"empty datagram", Bytes{}, false, "Request not null-terminated", "", "", 0, false},
        {"opcode only", Raw("\0\1"sv), false, "Request not null-terminated", "", "", 0, false},
        {"three bytes", Raw("\0\1f"sv), false, "Request not null-terminated", "", "", 0, false},
        {"name not terminated", Raw("\0\1file"sv), false, "Request not null-terminated", "", "", 0, false},
        {"missing mode", Raw("\0\1file\0"sv), false, "Missing mode", "", "", 0, false},
        {"mode not terminated", Raw("\0\1file\0oct"sv), false, "Request not null-terminated", "", "", 0,
         false},
        {"value not terminated", Raw("\0\1f\0octet\0blksize\0001024"sv), false, "Request not null-terminated",
         "", "", 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const TftpRequestParse parse = ParseTftpRequest(c.packet);
        ASSERT_EQ(parse.ok, c.ok);
        if (!c.ok) {
            EXPECT_STREQ(parse.error.text, c.error);
            continue;
        }
        EXPECT_EQ(parse.request.fileName, c.fileName);
        EXPECT_EQ(parse.request.mode, c.mode);
        EXPECT_EQ(parse.request.options.size(), c.options);
        EXPECT_EQ(parse.request.hasOptions, c.hasOptions);
    }
}

TEST(TftpRequest, TextModeIsNetasciiOrAsciiInAnyCase)
{
    EXPECT_TRUE(IsTextMode("netascii"));
    EXPECT_TRUE(IsTextMode("NetAscii"));
    EXPECT_TRUE(IsTextMode("ASCII"));
    EXPECT_FALSE(IsTextMode("octet"));
    EXPECT_FALSE(IsTextMode("binary"));
    EXPECT_FALSE(IsTextMode(""));
}

}  // namespace
