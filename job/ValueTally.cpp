#include "job/ValueTally.h"

#include "codec/Signatures.h"
#include "data/TField.h"

// Marked for the batch command's translation of its summary; the report keeps them English.
QString KindName(ValueKind kind)
{
    switch (kind) {
    case ValueKind::Bitmap:
        return QStringLiteral(QT_TRANSLATE_NOOP("ValueKind", "bitmap to convert"));
    case ValueKind::Jpeg:
        return QStringLiteral(QT_TRANSLATE_NOOP("ValueKind", "already JPEG"));
    case ValueKind::Other:
        return QStringLiteral(QT_TRANSLATE_NOOP("ValueKind", "other"));
    case ValueKind::Empty:
        return QStringLiteral(QT_TRANSLATE_NOOP("ValueKind", "empty"));
    case ValueKind::UnreadableBitmap:
        return QStringLiteral(QT_TRANSLATE_NOOP("ValueKind", "unreadable bitmap"));
    case ValueKind::ChangedMeanwhile:
        return QStringLiteral(QT_TRANSLATE_NOOP("ValueKind", "changed meanwhile"));
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
