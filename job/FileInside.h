#pragma once

#include <QByteArray>
#include <QString>

// The bytes of a regular file named by a relative path inside `folder`, read
// neither through a symbolic link nor from outside the folder, whatever the
// path says. Throws std::runtime_error with the reason.
QByteArray ReadRegularFileInside(const QString& folder, const QString& relativePath);
