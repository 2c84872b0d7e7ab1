#pragma once

#include <QFile>
#include <QString>

// Files and folders that only their owner may read: pictures of people pass
// through them. On POSIX files are made 0600 and folders 0700 (a umask can
// only narrow that); on Windows they inherit the permissions of the folder
// they are made in, under the user's profile the user's own.

// Creates the file, which must not exist, not even as a symbolic link, and
// opens it with `mode`; false, with the file's errorString(), when it cannot.
bool CreatePrivateFile(QFile& file, QIODevice::OpenMode mode);
// Opens an existing file, never through a symbolic link; empty, or the
// system's reason why not.
QString OpenWithoutFollowing(QFile& file, QIODevice::OpenMode mode);
// Makes the folder and its missing parents, each one private.
bool MakePrivateFolders(const QString& path);
// Narrows a folder of ours made before to its owner. A symbolic link, or a
// folder the system does not let us change, is left as it is.
void MakeOwnerOnly(const QString& folder);
