#pragma once

#include "data/OdbcDriverProfile.h"

#include <QString>
#include <QStringList>

#include <optional>

// Whether the server name opens the embedded server: only an absolute path
// of a folder, so ".", "(local)" and ".\\SQLEXPRESS" name SQL Servers,
// whatever folders the working directory happens to hold.
bool NamesEmbeddedServer(const QString& dataSource, const OdbcDriverProfile& odbc);

// The embedded server: a folder in which every "<name>.db" file is the SQLite
// database <name>.
class DatabaseFolder {
public:
    explicit DatabaseFolder(QString path) : path_(std::move(path)) {}

    QStringList databaseNames() const;  // in name order
    // The file of the named database, when there is one.
    std::optional<QString> databaseFile(const QString& name) const;

private:
    QString path_;
};
