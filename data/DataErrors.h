#pragma once

#include <QString>

#include <stdexcept>

// Failures of the data-access module. Texts are UTF-8, ready for the error display.
class EDatabaseError : public std::runtime_error {
public:
    explicit EDatabaseError(const QString& text) : std::runtime_error(text.toStdString()) {}
};

// A file SaveToFile cannot create: "Cannot create file "<path>". <reason>".
class EFCreateError : public std::runtime_error {
public:
    EFCreateError(const QString& path, const QString& reason)
        : std::runtime_error(QStringLiteral("Cannot create file \"%1\". %2").arg(path, reason).toStdString()) {}
};

// A file SaveToFile cannot fill, a full disk say: "Cannot write file "<path>". <reason>".
class EFWriteError : public std::runtime_error {
public:
    EFWriteError(const QString& path, const QString& reason)
        : std::runtime_error(QStringLiteral("Cannot write file \"%1\". %2").arg(path, reason).toStdString()) {}
};
