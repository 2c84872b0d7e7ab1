#pragma once

#include "data/CommitGroup.h"
#include "data/ConnectionSettings.h"
#include "data/Dialect.h"
#include "data/OdbcDriverProfile.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QString>
#include <QVariantList>

#include <memory>
#include <vector>

// An open connection: the database handle, its dialect and the group of
// posted rows not yet committed.
class Session {
public:
    // Opens the embedded server or an ODBC connection as the settings say;
    // throws EDatabaseError.
    static std::unique_ptr<Session> open(const ConnectionSettings& settings, const OdbcDriverProfile& odbc);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    const Dialect& dialect() const { return *dialect_; }
    CommitGroup& commits() { return *commits_; }

    // Runs a statement, forward-only; throws EDatabaseError with the server's text.
    QSqlQuery execute(const QString& statement, const QVariantList& parameters = {});

    struct Rows {
        QSqlRecord record;
        std::vector<std::vector<QVariant>> values;
    };
    // Runs a statement and reads all its rows, so that none is left pending
    // when the next statement runs (FreeTDS and Microsoft's drivers refuse
    // a second statement while one has rows to give).
    Rows select(const QString& statement, const QVariantList& parameters = {});

private:
    explicit Session(const QString& connectionName);
    QSqlDatabase database() const;

    QString connectionName_;
    std::unique_ptr<Dialect> dialect_;
    std::unique_ptr<CommitGroup> commits_;
};
