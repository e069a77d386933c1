// vindle: the maintenance tool for the boxes on the local network.

#include <cstdio>
#include <cstring>

#include "app/vindle_app.h"
#include "vindle_version.h"

namespace {

// The man page's OPTIONS list the same options; a test compares them.
constexpr char HELP_TEXT[] = "Usage: vindle\n"
                             "       vindle --help | --version\n"
                             "\n"
                             "Finds the boxes on the local network and sets their IP configuration,\n"
                             "reboots them, sets their password and updates them, in a window.\n"
                             "\n"
                             "Options:\n"
                             "  --help     print this help and exit\n"
                             "  --version  print the version and exit\n"
                             "\n"
                             "The built-in TFTP server reads vindle.ini beside the program file, else\n"
                             "/etc/vindle/vindle.ini, and needs cap_net_bind_service for port 69.\n";

}  // namespace

int main(int argc, char** argv)
{
    // Answered before any window exists, so that they work without a
    // display; every other argument goes to Qt as before.
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
        std::fputs(HELP_TEXT, stdout);
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("vindle %s\n", VINDLE_VERSION);
        return 0;
    }
    CvindleApp app(argc, argv);
    return app.InitInstance();
}
