#pragma once

#include <QString>
#include <QtGlobal>

#include <array>

class TField;

// What a stored picture value is, as far as the conversion is concerned.
enum class ValueKind { Bitmap, Jpeg, Other, Empty, UnreadableBitmap, ChangedMeanwhile };
inline constexpr int kValueKinds = 6;

QString KindName(ValueKind kind);  // "bitmap to convert", ...

// The kind of a value that is not a bitmap, from its size and first bytes
// alone.
ValueKind KindWithoutFetching(const TField& field);
// The same for a value read whole that turned out not to be a bitmap.
ValueKind KindOfNonBitmap(const QByteArray& value);

// The values of one column by kind, with their bytes before and after.
struct ColumnTally {
    QString column;
    struct Count {
        qint64 values = 0;
        qint64 bytes = 0;       // as stored before the run
        qint64 bytesAfter = 0;  // as stored after (or, dry, as they would be)
    };
    std::array<Count, kValueKinds> kinds{};

    void Add(ValueKind kind, qint64 bytes, qint64 bytesAfter);
    const Count& operator[](ValueKind kind) const { return kinds[int(kind)]; }
    Count Total() const;
};
