#include "data/TField.h"

#include "data/DataErrors.h"
#include "data/ResultSet.h"
#include "data/SaveBytes.h"
#include "data/TQuery.h"

#include <limits>

QString TField::AsString() const
{
    return query_->open().value(column_).toString();
}

int TField::AsInteger() const
{
    const QVariant value = query_->open().value(column_);
    if (value.isNull())
        return 0;
    bool ok = false;
    const qlonglong number = value.toLongLong(&ok);
    if (!ok || number < std::numeric_limits<int>::min() || number > std::numeric_limits<int>::max())
        throw EDatabaseError(QStringLiteral("'%1' is not a valid integer value").arg(value.toString()));
    return int(number);
}

bool TField::IsNull() const
{
    return query_->open().isNull(column_);
}

QByteArray TField::AsBytes() const
{
    ResultSet& result = query_->open();
    result.checkLarge(column_);
    return result.value(column_).toByteArray();
}

std::optional<QByteArray> TField::ReadForUpdate() const
{
    return query_->open().readForUpdate(column_);
}

void TField::SaveToFile(const QString& path) const
{
    SaveBytesToFile(AsBytes(), path);
}

void TField::LoadFromStream(const QByteArray& bytes)
{
    query_->open().setBlob(column_, bytes);
}

qint64 TField::BlobSize() const
{
    return query_->open().blobSize(column_);
}

bool TField::BlobStartsWith(const QByteArray& prefix) const
{
    return query_->open().blobStartsWith(column_, prefix);
}

bool TField::BlobHeadKnown() const
{
    return query_->open().blobHeadKnown(column_);
}

void TField::CheckPictureColumn() const
{
    query_->open().checkPictureColumn(column_);
}
