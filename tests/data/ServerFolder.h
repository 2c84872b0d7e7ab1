#pragma once

#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariant>

// A scratch embedded-server folder whose databases the tests fill and read
// through their own SQLite connections, independent of the module.
class ServerFolder {
public:
    QString path() const { return folder_.path(); }
    QString file(const QString& database) const { return folder_.filePath(database + QStringLiteral(".db")); }

    // Runs a statement on the database, creating its file if needed.
    void run(const QString& database, const QString& statement, const QVariantList& parameters = {}) const;
    // The first column of every row of a statement.
    QVariantList column(const QString& database, const QString& statement) const;

private:
    QTemporaryDir folder_;
};
