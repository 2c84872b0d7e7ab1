#pragma once

#include <QString>

#include <stdexcept>

// Files the desktop tool writes that fail, worded as it shows them.

// "Cannot create file "<path>". <reason>".
class EFCreateError : public std::runtime_error {
public:
    EFCreateError(const QString& path, const QString& reason)
        : std::runtime_error(QStringLiteral("Cannot create file \"%1\". %2").arg(path, reason).toStdString()) {}
};

// A file that cannot be filled, a full disk say: "Cannot write file "<path>". <reason>".
class EFWriteError : public std::runtime_error {
public:
    EFWriteError(const QString& path, const QString& reason)
        : std::runtime_error(QStringLiteral("Cannot write file \"%1\". %2").arg(path, reason).toStdString()) {}
};
