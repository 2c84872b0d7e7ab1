#include "app/Startup.h"
#include "ui/Application.h"

int main(int argc, char** argv)
{
    ui::TApplication application(argc, argv);
    return RunApplication(application);
}
