#pragma once

#include "data/OdbcDriverProfile.h"

#include <QString>

#include <memory>
#include <vector>

class Session;
class TQuery;

// The program's one database connection (embedded server or ODBC).
class TConnection {
public:
    explicit TConnection(OdbcDriverProfile odbc);
    ~TConnection();
    TConnection(const TConnection&) = delete;
    TConnection& operator=(const TConnection&) = delete;

    bool Connected() const;

    // Opens on the given connection string; throws EDatabaseError on failure
    // and stays closed.
    void Open(const QString& connectionString);
    void Close();  // closes every query on it first

private:
    friend class TQuery;
    Session& session();
    Session* current() const { return session_.get(); }  // nullptr while closed; never reconnects
    void commitPosted();
    void attach(TQuery& query);
    void detach(TQuery& query);

    OdbcDriverProfile odbc_;
    QString connectionString_;  // kept to reconnect a query opened while closed
    std::unique_ptr<Session> session_;
    std::vector<TQuery*> queries_;
};
