#pragma once

#include "data/CommitGroup.h"
#include "data/ConnectionSettings.h"
#include "data/Dialect.h"
#include "data/OdbcDriverProfile.h"
#include "data/Statements.h"

#include <QSqlDatabase>
#include <QString>

#include <memory>

// An open connection: the database handle, its dialect and the group of
// posted rows not yet committed.
class Session final : public Statements {
public:
    // Opens the embedded server or an ODBC connection as the settings say;
    // throws EDatabaseError.
    static std::unique_ptr<Session> open(const ConnectionSettings& settings, const OdbcDriverProfile& odbc);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    const Dialect& dialect() const { return *dialect_; }
    CommitGroup& commits() { return *commits_; }

    QSqlQuery execute(const QString& statement, const QVariantList& parameters = {}) override;
    Rows select(const QString& statement, const QVariantList& parameters = {}) override;
    std::vector<Rows> run(const QString& statement, const QVariantList& parameters) override;
    void beginTransaction() override;
    void commitTransaction() override;
    void rollbackTransaction() override;

private:
    explicit Session(const QString& connectionName);
    QSqlDatabase database() const;

    QString connectionName_;
    // The ODBC connection handle of a SQL Server session, for statements run
    // straight on it; null otherwise.
    void* directOdbc_ = nullptr;
    std::unique_ptr<Dialect> dialect_;
    std::unique_ptr<CommitGroup> commits_;
};
