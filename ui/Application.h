#pragma once

#include <QApplication>

namespace ui {

// The application object: named after the executable (the caption of every
// box), Tahoma 8 point. It does not quit by itself when a window closes: the
// main window decides when the program ends.
class TApplication : public QApplication {
    Q_OBJECT
public:
    TApplication(int& argc, char** argv);
};

}  // namespace ui
