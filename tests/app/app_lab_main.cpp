// main() of the main window's lab tests: Qt's offscreen platform, one
// QApplication for the whole binary, and a settings folder of its own so
// that the adapter the tests store never reaches the user's.
#include <gtest/gtest.h>

#include "tests/app/app_test_support.h"

int main(int argc, char** argv)
{
    return RunOffscreenApp(argc, argv, "/tmp/vindle-app-test-XXXXXX", [&] {
        ::testing::InitGoogleTest(&argc, argv);
        return RUN_ALL_TESTS();
    });
}
