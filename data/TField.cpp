#include "data/TField.h"

#include "data/DataErrors.h"
#include "data/ResultSet.h"
#include "data/SaveBytes.h"
#include "data/ResultSource.h"

#include <limits>

QString TField::AsString() const
{
    return source_->open().value(column_).toString();
}

int TField::AsInteger() const
{
    const QVariant value = source_->open().value(column_);
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
    return source_->open().isNull(column_);
}

QByteArray TField::AsBytes() const
{
    ResultSet& result = source_->open();
    result.checkLarge(column_);
    return result.value(column_).toByteArray();
}

std::optional<QByteArray> TField::ReadForUpdate() const
{
    return source_->open().readForUpdate(column_);
}

void TField::SaveToFile(const QString& path) const
{
    SaveBytesToFile(AsBytes(), path);
}

void TField::LoadFromStream(const QByteArray& bytes)
{
    source_->open().setBlob(column_, bytes);
}

qint64 TField::BlobSize() const
{
    return source_->open().blobSize(column_);
}

bool TField::BlobStartsWith(const QByteArray& prefix) const
{
    return source_->open().blobStartsWith(column_, prefix);
}

bool TField::BlobHeadKnown() const
{
    return source_->open().blobHeadKnown(column_);
}

void TField::CheckPictureColumn() const
{
    source_->open().checkPictureColumn(column_);
}
