#include "job/ValueTally.h"

#include "codec/Signatures.h"
#include "data/TField.h"

QString KindName(ValueKind kind)
{
    switch (kind) {
    case ValueKind::Bitmap:
        return QStringLiteral("bitmap to convert");
    case ValueKind::Jpeg:
        return QStringLiteral("already JPEG");
    case ValueKind::Other:
        return QStringLiteral("other");
    case ValueKind::Empty:
        return QStringLiteral("empty");
    case ValueKind::UnreadableBitmap:
        return QStringLiteral("unreadable bitmap");
    case ValueKind::ChangedMeanwhile:
        return QStringLiteral("changed meanwhile");
    }
    return {};
}

namespace {

const QByteArray jpegStart(bmp2jpg::kJpegSignature.data(), qsizetype(bmp2jpg::kJpegSignature.size()));

}  // namespace

ValueKind KindWithoutFetching(const TField& field)
{
    if (field.BlobSize() == 0)
        return ValueKind::Empty;
    return field.BlobStartsWith(jpegStart) ? ValueKind::Jpeg : ValueKind::Other;
}

ValueKind KindOfNonBitmap(const QByteArray& value)
{
    if (value.isEmpty())
        return ValueKind::Empty;
    return value.startsWith(jpegStart) ? ValueKind::Jpeg : ValueKind::Other;
}

void ColumnTally::Add(ValueKind kind, qint64 bytes, qint64 bytesAfter)
{
    Count& count = kinds[int(kind)];
    ++count.values;
    count.bytes += bytes;
    count.bytesAfter += bytesAfter;
}

ColumnTally::Count ColumnTally::Total() const
{
    Count total;
    for (const Count& count : kinds) {
        total.values += count.values;
        total.bytes += count.bytes;
        total.bytesAfter += count.bytesAfter;
    }
    return total;
}
