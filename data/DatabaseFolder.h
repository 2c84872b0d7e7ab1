#pragma once

#include <QString>
#include <QStringList>

#include <optional>

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
