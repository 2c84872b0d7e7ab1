#include "data/UDataModule.h"

#include "data/ConnectionString.h"

#include <QSqlDatabase>

TDataModule1::TDataModule1(OdbcDriverProfile odbc)
    : con1(std::move(odbc)), qry1(QStringLiteral("qry1"), con1), qry2(QStringLiteral("qry2"), con1), tbl1(QStringLiteral("tbl1"), con1)
{
    // Without its database clients the program can do nothing; better to say
    // so at start-up than to let every login fail.
    for (const QString& driver : {QStringLiteral("QODBC"), QStringLiteral("QSQLITE")}) {
        if (!QSqlDatabase::isDriverAvailable(driver))
            throw EDatabaseError(QStringLiteral("The database client cannot be loaded: Qt SQL driver %1 is missing").arg(driver));
    }
}

TDataModule1::~TDataModule1()
{
    try {
        DataModuleDestroy();
    } catch (const std::exception&) {
        // Nothing is left to report to at exit; callers commit before (CommitPosted).
    }
}

bool TDataModule1::Connect()
{
    try {
        ConnectOrThrow();
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

void TDataModule1::ConnectOrThrow()
{
    const QString connectionString = BuildConnectionString(*this);
    con1.Close();
    con1.Open(connectionString);
}

void TDataModule1::OpenQuery(const QString& statement, const KeyRange& range)
{
    qry1.Close();
    qry1.Open(statement, range);
}

void TDataModule1::DataModuleDestroy()
{
    tbl1.Close();
    qry1.Close();
    qry2.Close();
    con1.Close();
}
