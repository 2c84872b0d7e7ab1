#pragma once

#include <QString>

// The URI SQLite opens an existing database file by, read-write and never
// created: "file:///home/a.db", "file:///C:/a.db", and for a Windows share
// "file:////server/share/a.db" (SQLite takes no host but localhost).
QString SqliteFileUri(const QString& absoluteFile);
