#include "app/Startup.h"
#include "codec/MemoryReuse.h"
#include "ui/Application.h"

#include <cstdio>
#include <cstring>

int main(int argc, char** argv)
{
    // Answered before the window system is opened: works without a display.
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0)
        return std::puts("bmp2jpg " BMP2JPG_VERSION) < 0 ? 1 : 0;
    KeepFreedMemoryForReuse();
    ui::TApplication application(argc, argv);
    return RunApplication(application);
}
