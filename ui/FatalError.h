#pragma once

#include <exception>

namespace ui {

// The box for a failure while the program is still being built (before the
// error display can take it): captioned "Application Error". The caller ends
// the program with exit code 1 afterwards.
void ShowStartupFailure(const std::exception& error);

}  // namespace ui
