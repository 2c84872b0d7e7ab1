#pragma once

#include "data/OdbcDriverProfile.h"

#include <QString>

#include <functional>
#include <memory>
#include <vector>

class Session;
class TQuery;

// A query on the connection: its result goes when the connection closes.
class ConnectionUser {
public:
    virtual void discard() = 0;

protected:
    ~ConnectionUser() = default;
};

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

    // Rows posted by any query share the connection's commit groups.
    void CommitPosted();  // makes every posted row durable now
    // Whether the posted rows have waited long enough to be committed together.
    bool CommitDue() const;
    // After a failed statement: whether the open group's transaction is still
    // held intact, so that values read in it may still be written in it.
    bool HoldsTransaction();
    // After a failed statement: commits the rows posted before it if the
    // engine still holds them, else ends their group as lost (the listener
    // hears which). Never throws.
    void EndGroupAfterFailure();
    // Told of every group of posted rows that ends, on this session and any
    // later one: how many rows it held and whether they are stored (false:
    // rolled back, lost). An empty function stops the telling.
    void OnCommitGroupEnd(std::function<void(int rows, bool stored)> listener);

private:
    friend class TQuery;
    Session& session();
    void attach(ConnectionUser& query);
    void detach(ConnectionUser& query);

    OdbcDriverProfile odbc_;
    std::function<void(int rows, bool stored)> commitListener_;
    QString connectionString_;  // kept to reconnect a query opened while closed
    std::unique_ptr<Session> session_;
    std::vector<ConnectionUser*> queries_;
};
