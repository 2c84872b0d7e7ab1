#pragma once

#include <QSqlQuery>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariant>

// A connection of the test's own to a database, independent of the module:
// another client of the database, open until destroyed.
class DatabaseClient {
public:
    // To one embedded-server (SQLite) file; waits up to `busyTimeoutMs` for
    // other clients' locks.
    explicit DatabaseClient(const QString& file, int busyTimeoutMs = 5000);
    // Through Qt's ODBC driver, on a driver connection string.
    struct Odbc {
        QString connectionString;
    };
    explicit DatabaseClient(const Odbc& odbc);
    ~DatabaseClient();
    DatabaseClient(const DatabaseClient&) = delete;
    DatabaseClient& operator=(const DatabaseClient&) = delete;

    // Runs a statement, forward-only; throws the statement with the engine's
    // error when it fails.
    QSqlQuery execute(const QString& statement, const QVariantList& parameters = {}) const;

private:
    void open(const QString& driver, const QString& databaseName, const QString& options);

    QString name_;
};

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
