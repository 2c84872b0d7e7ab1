#include "tests/live/Bac1Variants.h"

#include "tests/live/LiveServer.h"
#include "tests/tds/TdsTestSupport.h"
#include "testdata/StoredPictures.h"

#include <QTest>

#include <algorithm>
#include <array>
#include <stdexcept>

namespace {

struct KeyShape {
    Bac1Variant::Key key;
    const char* name;
    const char* columns;  // before the pictures; a key other than BCE01 first
};

const std::array<KeyShape, 6> keyShapes{{
    {Bac1Variant::Key::Int, "int primary key", "id int NOT NULL PRIMARY KEY, BCE01 nvarchar(50) NULL"},
    {Bac1Variant::Key::NumericIdentity, "numeric(18,0) identity key",
     "id numeric(18,0) IDENTITY(1,1) NOT NULL PRIMARY KEY, BCE01 nvarchar(50) NULL"},
    {Bac1Variant::Key::UniqueIdentifier, "uniqueidentifier key",
     "id uniqueidentifier DEFAULT NEWID() NOT NULL PRIMARY KEY, BCE01 nvarchar(50) NULL"},
    {Bac1Variant::Key::ChineseText, "nvarchar BCE01 key", "BCE01 nvarchar(50) NOT NULL PRIMARY KEY"},
    // In code page 936: the database's on a Chinese server, another elsewhere.
    {Bac1Variant::Key::ChineseVarchar, "varchar Chinese_PRC BCE01 key", "BCE01 varchar(50) COLLATE Chinese_PRC_CI_AS NOT NULL PRIMARY KEY"},
    {Bac1Variant::Key::None, "keyless", "BCE01 nvarchar(50) NULL"},
}};

const KeyShape& shapeOf(Bac1Variant::Key key)
{
    return *std::find_if(keyShapes.begin(), keyShapes.end(), [key](const KeyShape& shape) { return shape.key == key; });
}

// NULL and the empty value as literals (0x is the empty binary constant);
// bytes as a parameter, cast so the driver's binding type does not matter.
QString valueExpression(const std::optional<QByteArray>& value, QVariantList& parameters)
{
    if (!value)
        return QStringLiteral("NULL");
    if (value->isEmpty())
        return QStringLiteral("0x");
    parameters << *value;
    return QStringLiteral("CAST(? AS varbinary(max))");
}

} // namespace

const std::vector<Bac1Variant>& Bac1Variants()
{
    static const std::vector<Bac1Variant> variants = [] {
        std::vector<Bac1Variant> all;
        for (const KeyShape& shape : keyShapes) {
            for (const char* type : {"image", "varbinary(max)"})
                all.push_back({shape.key, QString::fromLatin1(type)});
        }
        return all;
    }();
    return variants;
}

QString Bac1VariantName(const Bac1Variant& variant)
{
    return QString::fromLatin1(shapeOf(variant.key).name) + QStringLiteral(", ") + variant.pictureType;
}

void AddBac1VariantRows()
{
    QTest::addColumn<int>("variant");
    for (size_t i = 0; i < Bac1Variants().size(); ++i)
        QTest::addRow("%s", qPrintable(Bac1VariantName(Bac1Variants()[i]))) << int(i);
}

void CreateBac1(const LiveDatabase& database, const Bac1Variant& variant, const std::vector<ImageRow>& rows)
{
    database.execute(QStringLiteral("IF OBJECT_ID(N'dbo.BAC1', N'U') IS NOT NULL DROP TABLE dbo.BAC1"));
    database.execute(QStringLiteral("CREATE TABLE dbo.BAC1 (%1, BAC02 %2 NULL, BAC04 %2 NULL)")
                         .arg(QLatin1String(shapeOf(variant.key).columns), variant.pictureType));
    const bool idGiven = variant.key == Bac1Variant::Key::Int;
    int id = 0;
    for (const ImageRow& row : rows) {
        QVariantList parameters;
        if (idGiven)
            parameters << ++id;
        // As UTF-16 bytes: FreeTDS sends text in the database's code page, which may not hold it.
        const QString bce01 = row.bce01.value_or(QString());
        parameters << QByteArray(reinterpret_cast<const char*>(bce01.utf16()), bce01.size() * 2);
        const QString bac02 = valueExpression(row.bac02, parameters);
        const QString bac04 = valueExpression(row.bac04, parameters);
        database.execute(QStringLiteral("INSERT INTO dbo.BAC1 (%1BCE01, BAC02, BAC04) "
                                        "VALUES (%2CAST(CAST(? AS varbinary(100)) AS nvarchar(50)), %3, %4)")
                             .arg(idGiven ? QStringLiteral("id, ") : QString(), idGiven ? QStringLiteral("?, ") : QString(),
                                  bac02, bac04),
                         parameters);
    }
}

std::vector<ImageRow> MixedPictureRows(quint32 seed)
{
    const QByteArray over8000 = stored::Bmp24(200, 150, seed);
    const QByteArray over4096 = stored::Bmp24(40, 40, seed + 1);
    if (over8000.size() <= 8000 || over4096.size() <= 4096 || over4096.size() > 8000)
        throw std::logic_error("the picture sizes no longer straddle 4096 and 8000 bytes");
    return {
        {QStringLiteral("24-bit"), over8000, stored::Bmp8(40, 30, seed + 2)},
        {QStringLiteral("8-bit"), stored::Bmp8(64, 48, seed + 3), stored::Jpeg(20, 20, seed + 4)},
        {QStringLiteral("jpeg"), stored::Jpeg(48, 32, seed + 5), QByteArray("text, not a picture")},
        {QStringLiteral("over 4096"), over4096, std::nullopt},
        {QStringLiteral("照片一"), RandomBytes(9000, seed + 6), stored::Bmp24(64, 48, seed + 7)},
        {QStringLiteral("rle"), stored::Rle8(30, 20, seed + 8), QByteArray()},
        {QStringLiteral("nulls"), std::nullopt, std::nullopt},
    };
}
