// The program `vindle` as a user starts it, offscreen in the lab: it binds
// to the lab's adapter, searches once, serves TFTP on port 69 and ends in
// order on SIGTERM.
#include <csignal>
#include <string>

#include <gtest/gtest.h>

#include "tests/app/app_test_support.h"

namespace {

using namespace std::chrono_literals;

class ProgramTest : public LabTest
{
protected:
    int MinBoxes() const override { return 3; }
};

TEST_F(ProgramTest, StartsSearchesServesAndEndsInOrderOnSigterm)
{
    CLabBoxes boxes(3);
    ASSERT_TRUE(boxes.Ready());
    const std::string program = ToolPath("vindle");
    ASSERT_FALSE(program.empty()) << "vindle not found in the build tree";
    // The test's main set QT_QPA_PLATFORM=offscreen and a private settings
    // folder; the program inherits both.
    LabProcess vindle(LAB_TOOL_SIDE, {program}, LabProcess::Output::CaptureMerged);
    ASSERT_TRUE(vindle.Started()) << vindle.Error();
    EXPECT_TRUE(vindle.WaitForText("listening On: " + Lab().ToolIp() + ":69", 5s)) << vindle.Captured();
    for (int box = 1; box <= 3; ++box)
        EXPECT_TRUE(boxes.Box(box).WaitForText("discovery: search from " + Lab().ToolIp(), 5s))
            << "box " << box;
    // Exactly one search at start.
    for (int box = 1; box <= 3; ++box)
        EXPECT_EQ(boxes.CountLines(box, "discovery: search from", 300ms), 1) << "box " << box;

    vindle.Signal(SIGTERM);
    const std::optional<int> status = vindle.Wait(5s);
    ASSERT_TRUE(status.has_value()) << "vindle did not end on SIGTERM";
    EXPECT_EQ(*status, 0) << vindle.Captured();
}

}  // namespace
