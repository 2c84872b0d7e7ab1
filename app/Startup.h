#pragma once

namespace ui {
class TApplication;
}

// The program from the application object on: the data module, the hidden
// main window, the login gate, then the message loop. Returns the exit code.
int RunApplication(ui::TApplication& application);
