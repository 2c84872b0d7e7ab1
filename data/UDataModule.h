#pragma once

#include "data/ConnectionSettings.h"
#include "data/DataErrors.h"
#include "data/OdbcDriverProfile.h"
#include "data/TConnection.h"
#include "data/TField.h"
#include "data/TQuery.h"

#include <QString>

// The data-access module: the connection settings, the one connection and the
// query every statement of the program runs in. The application creates one
// and hands it to its windows.
class TDataModule1 : public ConnectionSettings {
public:
    explicit TDataModule1(OdbcDriverProfile odbc = OdbcDriverProfile::SqlServer());
    ~TDataModule1();  // runs DataModuleDestroy
    TDataModule1(const TDataModule1&) = delete;
    TDataModule1& operator=(const TDataModule1&) = delete;

    // Reopens con1 from the settings; false (and con1 closed) on any failure.
    bool Connect();
    // The same, throwing the reason instead (for callers that must report it).
    void ConnectOrThrow();
    // Runs one SELECT in qry1, replacing its result; failures are thrown.
    void OpenQuery(const QString& statement, const KeyRange& range = {});
    void DataModuleDestroy();

    TConnection con1;
    TQuery qry1;  // the shared result set
    TQuery qry2;  // never opened; closed at exit with the others
    TQuery tbl1;  // table dataset, never opened; closed at exit
};
