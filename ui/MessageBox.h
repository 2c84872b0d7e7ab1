#pragma once

#include <QString>

namespace ui {

// The system's one way to tell the user something: a modal box with the text,
// no icon, a single OK button, captioned with the application title and
// centred on the screen. Returns when the user has closed it.
void ShowMessage(const QString& text);

}  // namespace ui
