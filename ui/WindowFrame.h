#pragma once

#include <Qt>

class QWidget;

namespace ui {

// A fixed-size dialog frame: caption and close box, no minimise or maximise.
inline constexpr Qt::WindowFlags kFixedDialogFrame = Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint |
                                                     Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                                                     Qt::WindowCloseButtonHint;

void CentreOnScreen(QWidget& window);

}  // namespace ui
