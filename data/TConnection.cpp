#include "data/TConnection.h"

#include "data/ConnectionString.h"
#include "data/Session.h"

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
    session_->commits().setListener(commitListener_);
}

void TConnection::Close()
{
    for (ConnectionUser* query : queries_)
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

void TConnection::CommitPosted()
{
    if (session_)
        session_->commits().commit();
}

bool TConnection::CommitDue() const
{
    return session_ && session_->commits().due();
}

bool TConnection::HoldsTransaction()
{
    if (!session_ || !session_->commits().open())
        return false;
    try {
        return session_->dialect().holdsTransaction(*session_);
    } catch (const std::exception&) {
        return false;
    }
}

void TConnection::EndGroupAfterFailure()
{
    if (session_)
        session_->commits().endAfterFailure();
}

void TConnection::OnCommitGroupEnd(std::function<void(int rows, bool stored)> listener)
{
    commitListener_ = std::move(listener);
    if (session_)
        session_->commits().setListener(commitListener_);
}

void TConnection::attach(ConnectionUser& query)
{
    queries_.push_back(&query);
}

void TConnection::detach(ConnectionUser& query)
{
    queries_.erase(std::remove(queries_.begin(), queries_.end(), &query), queries_.end());
}
