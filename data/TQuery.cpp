#include "data/TQuery.h"

#include "data/DataErrors.h"
#include "data/ResultSet.h"
#include "data/Session.h"
#include "data/TConnection.h"

TQuery::TQuery(QString name, TConnection& connection) : name_(std::move(name)), connection_(connection)
{
    connection_.attach(*this);
}

TQuery::~TQuery()
{
    connection_.detach(*this);
}

bool TQuery::Active() const
{
    return result_ != nullptr;
}

ResultSet& TQuery::open() const
{
    if (!result_)
        throw EDatabaseError(name_ + QStringLiteral(": Cannot perform this operation on a closed dataset"));
    return *result_;
}

void TQuery::Open(const QString& statement)
{
    Close();
    result_ = ResultSet::open(connection_.session(), name_, statement);
}

void TQuery::Close()
{
    discard();
    connection_.commitPosted();
}

void TQuery::discard()
{
    result_.reset();
}

void TQuery::First()
{
    open().first();
}

bool TQuery::Eof() const
{
    return open().eof();
}

void TQuery::Next()
{
    open().next();
}

int TQuery::RecordCount() const
{
    return open().rowCount();
}

int TQuery::RecNo() const
{
    return open().current() + 1;
}

void TQuery::SetRecNo(int recNo)
{
    open().moveTo(recNo - 1);
}

int TQuery::RowsKeptBehind()
{
    return ResultSet::pageRows;
}

TField TQuery::FieldByName(const QString& name)
{
    const std::optional<int> field = open().fieldIndex(name);
    if (!field)
        throw EDatabaseError(QStringLiteral("Field '%1' not found").arg(name));
    return TField(*this, *field);
}

QString TQuery::RowKey() const
{
    return open().rowKey();
}

bool TQuery::RowKeyLasts() const
{
    return open().rowKeyLasts();
}

QString TQuery::RowDigest(const QStringList& excluded) const
{
    return open().rowDigest(excluded);
}

void TQuery::Edit()
{
    open().edit();
}

void TQuery::Post()
{
    open().post();
}

void TQuery::CommitPosted()
{
    connection_.commitPosted();
}

bool TQuery::CommitDue()
{
    Session* session = connection_.current();
    return session && session->commits().due();
}

void TQuery::OnCommitGroupEnd(std::function<void(int rows, bool stored)> listener)
{
    if (Session* session = connection_.current())
        session->commits().setListener(std::move(listener));
}
