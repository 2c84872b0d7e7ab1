#pragma once

#include <QByteArray>
#include <QString>

// Writes `bytes` as the whole content of the file, creating it or writing over
// it and cutting what is left;
// throws "Cannot create file ..." or "Cannot write file ..." with the
// system's reason.
void SaveBytesToFile(const QByteArray& bytes, const QString& path);
