#pragma once

#include <QByteArray>
#include <QString>

// The codec's WriteFileBytes with the desktop tool's errors: writes `bytes` as
// the whole content of the file, creating it or writing over it and cutting
// what is left; throws EFCreateError or EFWriteError with the system's reason.
void SaveBytesToFile(const QByteArray& bytes, const QString& path);
