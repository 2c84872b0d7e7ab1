#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

// Writes that are on the disk when the call returns, not only in the
// system's cache: what a backup must be before the value it keeps is replaced.

// Creates `path`, which must not exist, owner-only, with `bytes`, and
// flushes it to disk.
// Throws std::runtime_error naming the file and the system's reason.
void WriteNewFileDurably(const QString& path, const QByteArray& bytes);
// Flushes the folder's entries (new names in it) to disk; a no-op where the
// system cannot open a folder for that.
void SyncFolder(const QString& path);
// Appends to an open file and flushes it to disk.
void AppendDurably(QFile& file, const QByteArray& bytes);
// Flushes an open file to disk.
void SyncFile(QFile& file);
