#pragma once

#include <QString>

namespace ui {

// The caption of every message box: the executable's file name without its
// folder, cut before the first ".", first character kept, the rest lower case.
QString ApplicationTitle(const QString& executablePath);

}  // namespace ui
