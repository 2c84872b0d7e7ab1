#include "data/TConnection.h"

#include "data/ConnectionString.h"
#include "data/Session.h"
#include "data/TQuery.h"

#include <algorithm>

TConnection::TConnection(OdbcDriverProfile odbc) : odbc_(std::move(odbc)) {}

TConnection::~TConnection() = default;

bool TConnection::Connected() const
{
    return session_ != nullptr;
}

void TConnection::Open(const QString& connectionString)
{
    Close();
    connectionString_ = connectionString;
    session_ = Session::open(ParseConnectionString(connectionString), odbc_);
}

void TConnection::Close()
{
    for (TQuery* query : queries_)
        query->discard();
    // The session goes even when its last commit fails.
    const std::unique_ptr<Session> closing = std::move(session_);
    if (closing)
        closing->commits().commit();
}

Session& TConnection::session()
{
    // A query opened on a closed connection reconnects it first.
    if (!session_)
        Open(connectionString_);
    return *session_;
}

void TConnection::commitPosted()
{
    if (session_)
        session_->commits().commit();
}

void TConnection::attach(TQuery& query)
{
    queries_.push_back(&query);
}

void TConnection::detach(TQuery& query)
{
    queries_.erase(std::remove(queries_.begin(), queries_.end(), &query), queries_.end());
}
