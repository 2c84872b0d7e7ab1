#pragma once

#include <QString>

#include <stdexcept>

// Failures of the data-access module (files: FileErrors.h). Texts are UTF-8, ready for the error display.
class EDatabaseError : public std::runtime_error {
public:
    explicit EDatabaseError(const QString& text) : std::runtime_error(text.toStdString()) {}
};
