#pragma once

#include <QString>

#include <stdexcept>

// A command line (or password source) the batch command cannot work with:
// exit code 2, with the text and a pointer to --help.
class UsageError : public std::runtime_error {
public:
    explicit UsageError(const QString& text) : std::runtime_error(text.toStdString()) {}
};
