// main() of the main window's lab tests: Qt's offscreen platform, one
// QApplication for the whole binary, and a settings folder of its own so
// that the adapter the tests store never reaches the user's.
#include <cstdlib>
#include <filesystem>
#include <string>

#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    char settingsDir[] = "/tmp/vindle-app-test-XXXXXX";
    if (mkdtemp(settingsDir) == nullptr)
        return 2;
    setenv("XDG_CONFIG_HOME", settingsDir, 1);
    int status = 0;
    {
        QApplication app(argc, argv);
        ::testing::InitGoogleTest(&argc, argv);
        status = RUN_ALL_TESTS();
    }
    std::error_code ignored;
    std::filesystem::remove_all(settingsDir, ignored);
    return status;
}
