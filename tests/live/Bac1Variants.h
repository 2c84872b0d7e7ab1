#pragma once

#include "testdata/ImageTableReader.h"

#include <QString>

#include <vector>

class LiveDatabase;

// The shapes of BAC1 the suite runs on: how rows are keyed, and the type of
// the picture columns.
struct Bac1Variant {
    enum class Key { Int, NumericIdentity, UniqueIdentifier, ChineseText, ChineseVarchar, None };
    Key key;
    QString pictureType;  // "image" or "varbinary(max)"
};

// The data column "variant" (an index into Bac1Variants()) with a row for
// every key kind and picture column type.
void AddBac1VariantRows();
const std::vector<Bac1Variant>& Bac1Variants();
QString Bac1VariantName(const Bac1Variant& variant);  // "int primary key, image"

// (Re)creates BAC1 in the database in the shape of the variant and inserts
// the rows: BCE01 must be set and unique (it is the key of one variant), a
// value NULL, empty or bytes.
void CreateBac1(const LiveDatabase& database, const Bac1Variant& variant, const std::vector<ImageRow>& rows);

// A mix of what BAC1 holds in practice: 24-bit and 8-bit bitmaps, one of
// them over 8000 bytes and one over 4096, run-length encoded, a JPEG, other
// bytes, empty values and NULL; BCE01 Chinese in one row.
std::vector<ImageRow> MixedPictureRows(quint32 seed);
