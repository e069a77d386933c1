// Where the core's console lines go: the standard streams by default, a
// program's target once set, and nowhere old once it is replaced.
#include "net/core_output.h"

#include <string>

#include <gtest/gtest.h>

#include "tests/common/core_output_capture.h"

TEST(CoreOutput, DefaultIsTheStandardStreamsAndATargetTakesOverWholly)
{
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    CoreOutput(CoreStream::Out, "Thread running\n");
    CoreOutputF(CoreStream::Err, "Msg: %d\n", 4);
    {
        CoreOutputCapture capture;
        CoreOutput(CoreStream::Out, "TCP_CONNECT_IND:\n");
        CoreOutput(CoreStream::Err, "DataIn: \n");
        EXPECT_EQ(capture.Stop(), "TCP_CONNECT_IND:\n");
        EXPECT_EQ(capture.Err(), "DataIn: \n");
        // Replaced: the old target sees nothing more.
        CoreOutput(CoreStream::Out, "after\n");
        EXPECT_EQ(capture.Out(), "TCP_CONNECT_IND:\n");
    }
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Thread running\nafter\n");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Msg: 4\n");
}

TEST(CoreOutput, FormattedTextIsCutToItsLineBuffer)
{
    CoreOutputCapture capture;
    CoreOutputF(CoreStream::Out, "%s", std::string(300, 'x').c_str());
    EXPECT_EQ(capture.Stop(), std::string(255, 'x'));
}
