#pragma once

#include "data/CommitGroup.h"
#include "data/ConnectionSettings.h"
#include "data/Dialect.h"
#include "data/OdbcDriverProfile.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QVariantList>

#include <memory>

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

private:
    explicit Session(const QString& connectionName);
    QSqlDatabase database() const;

    QString connectionName_;
    std::unique_ptr<Dialect> dialect_;
    std::unique_ptr<CommitGroup> commits_;
};
