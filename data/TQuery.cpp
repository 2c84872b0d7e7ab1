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

void TQuery::Open(const QString& statement, const KeyRange& range)
{
    Close();
    result_ = ResultSet::open(connection_.session(), name_, statement, range);
}

std::optional<std::vector<KeyRange>> TQuery::KeyRanges(const QString& statement, int parts)
{
    Close();
    return ResultSet::split(connection_.session(), statement, parts);
}

void TQuery::Close()
{
    discard();
    connection_.CommitPosted();
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

HeldRow TQuery::HoldRow() const
{
    return open().hold();
}

std::optional<QByteArray> TQuery::ReadForUpdate(const HeldRow& row, const TField& field)
{
    checkOwnField(field);
    return open().readForUpdate(row, field.column_);
}

void TQuery::PostToRow(const HeldRow& row, const TField& field, const QByteArray& bytes)
{
    checkOwnField(field);
    open().postTo(row, field.column_, bytes);
}

void TQuery::checkOwnField(const TField& field) const
{
    if (field.source_ != static_cast<const ResultSource*>(this))
        throw EDatabaseError(name_ + QStringLiteral(": the field belongs to another query"));
}
