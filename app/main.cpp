// vindle: the maintenance tool for the boxes on the local network.
#include "app/vindle_app.h"

int main(int argc, char** argv)
{
    CvindleApp app(argc, argv);
    return app.InitInstance();
}
