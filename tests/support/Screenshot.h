#pragma once

#include <QString>

class QWidget;

// Saves a picture of the window, frame excluded, as <build>/screenshots/<name>.png
// so anyone can look at what the user sees. Returns the file's path.
QString SaveScreenshot(QWidget& window, const QString& name);
