// vindlectl keeps the core's console lines out of its results: dropped, or
// with --verbose on standard error, whichever stream the core meant.
#include "cli/streams.h"

#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "net/core_output.h"

TEST(Streams, CoreLinesAreDroppedOrGoToStandardErrorWhenVerbose)
{
    const struct
    {
        const char* name;
        bool verbose;
        std::string stderrText;
    } rows[] = {
        {"quiet", false, ""},
        {"verbose", true, "TCP_CONNECT_IND:\nDataIn: info|a\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        SeparateCoreOutput(row.verbose);
        CoreOutput(CoreStream::Out, "TCP_CONNECT_IND:\n");
        CoreOutput(CoreStream::Err, "DataIn: info|a\n");
        std::fputs("result\n", ResultStream());
        std::fflush(ResultStream());
        SetCoreOutput({});
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "result\n");
        EXPECT_EQ(testing::internal::GetCapturedStderr(), row.stderrText);
    }
}
