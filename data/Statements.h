#pragma once

#include <QSqlQuery>
#include <QSqlRecord>
#include <QString>
#include <QVariant>
#include <QVariantList>

#include <vector>

// Runs statements on an open connection: what a dialect and a commit group
// need of a session, and no more.
class Statements {
public:
    // Runs a statement, forward-only; throws EDatabaseError with the server's text.
    virtual QSqlQuery execute(const QString& statement, const QVariantList& parameters = {}) = 0;

    struct Rows {
        QSqlRecord record;
        std::vector<std::vector<QVariant>> values;
    };
    // Runs a statement and reads all its rows, so that none is left pending
    // when the next statement runs (FreeTDS and Microsoft's drivers refuse
    // a second statement while one has rows to give).
    virtual Rows select(const QString& statement, const QVariantList& parameters = {}) = 0;
    // Runs a statement run once per value (a value's read, its write) and
    // reads every result it gives to its end. To SQL Server it goes as one
    // request (see OdbcDirect.h), its integers and bytes as select gives
    // them and any other column as text.
    virtual std::vector<Rows> run(const QString& statement, const QVariantList& parameters) = 0;

    // A transaction through the driver (autocommit off, then SQLEndTran),
    // as ODBC asks of applications; each throws EDatabaseError. After a
    // failed rollback the driver is back in autocommit all the same.
    virtual void beginTransaction() = 0;
    virtual void commitTransaction() = 0;
    virtual void rollbackTransaction() = 0;

protected:
    ~Statements() = default;
};
