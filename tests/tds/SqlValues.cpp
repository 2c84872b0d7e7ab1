#include "tests/tds/SqlValues.h"

#include "tests/tds/CodePage.h"

#include <QCollator>
#include <QLocale>
#include <QRegularExpression>
#include <QUuid>
#include <QtEndian>

#include <cstring>
#include <map>
#include <stdexcept>

namespace {

const std::pair<SqlType, const char*> names[] = {
    {SqlType::TinyInt, "tinyint"}, {SqlType::SmallInt, "smallint"}, {SqlType::Int, "int"}, {SqlType::BigInt, "bigint"},
    {SqlType::Bit, "bit"}, {SqlType::Numeric, "numeric"}, {SqlType::Decimal, "decimal"},
    {SqlType::UniqueIdentifier, "uniqueidentifier"}, {SqlType::Char, "char"}, {SqlType::VarChar, "varchar"},
    {SqlType::NChar, "nchar"}, {SqlType::NVarChar, "nvarchar"}, {SqlType::Binary, "binary"}, {SqlType::VarBinary, "varbinary"},
    {SqlType::VarBinaryMax, "varbinary"}, {SqlType::Image, "image"}, {SqlType::Text, "text"}, {SqlType::NText, "ntext"}};

SqlFailure failure(int number, const QString& text)
{
    return {number, 16, text};
}

int integerBytes(SqlType type)
{
    return type == SqlType::BigInt ? 8 : type == SqlType::Int ? 4 : type == SqlType::SmallInt ? 2 : 1;
}

bool isMax(const SqlColumn& type)
{
    return type.type == SqlType::VarBinaryMax || type.size < 0;
}

// The type as SQL Server names it in messages: "varbinary(max)", "int".
QString messageName(const SqlColumn& type)
{
    return TypeName(type.type) + (isMax(type) ? QStringLiteral("(max)") : QString());
}

// Exact decimal text in its shortest form ("-12.5", "0"), or nullopt.
std::optional<QString> decimalText(const QString& text)
{
    static const QRegularExpression number(QStringLiteral(R"(^\s*([+-]?)(\d*)(?:\.(\d*))?\s*$)"));
    const QRegularExpressionMatch m = number.match(text);
    if (!m.hasMatch() || (m.captured(2).isEmpty() && m.captured(3).isEmpty()))
        return std::nullopt;
    QString whole = m.captured(2);
    QString fraction = m.captured(3);
    while (whole.startsWith(QLatin1Char('0')))
        whole.remove(0, 1);
    while (fraction.endsWith(QLatin1Char('0')))
        fraction.chop(1);
    if (whole.isEmpty() && fraction.isEmpty())
        return QStringLiteral("0");
    return (m.captured(1) == QLatin1String("-") ? QStringLiteral("-") : QString()) + (whole.isEmpty() ? QStringLiteral("0") : whole) +
           (fraction.isEmpty() ? QString() : QLatin1Char('.') + fraction);
}

// Decimal text with exactly the type's scale, checked against its precision.
QString scaled(const QString& shortest, const SqlColumn& to, const QString& fromName)
{
    const bool negative = shortest.startsWith(QLatin1Char('-'));
    const QString digits = negative ? shortest.mid(1) : shortest;
    const QString whole = digits.section(QLatin1Char('.'), 0, 0);
    const QString fraction = digits.section(QLatin1Char('.'), 1).leftJustified(to.scale, QLatin1Char('0'), true);
    if ((whole == QLatin1String("0") ? 0 : whole.size()) > to.precision - to.scale)
        throw failure(8115, QStringLiteral("Arithmetic overflow error converting %1 to data type numeric.").arg(fromName));
    return (negative && shortest != QLatin1String("0") ? QStringLiteral("-") : QString()) + whole +
           (to.scale > 0 ? QLatin1Char('.') + fraction : QString());
}

QByteArray bigEndian(qlonglong value, int bytes)
{
    char buffer[8];
    qToBigEndian(value, buffer);
    return QByteArray(buffer + 8 - bytes, bytes);
}

QByteArray guidBytes(const QUuid& id)
{
    QByteArray bytes = id.toRfc4122();
    std::reverse(bytes.begin(), bytes.begin() + 4);
    std::reverse(bytes.begin() + 4, bytes.begin() + 6);
    std::reverse(bytes.begin() + 6, bytes.begin() + 8);
    return bytes;
}

QUuid guidFromBytes(QByteArray bytes)
{
    bytes = bytes.leftJustified(16, '\0', true);
    std::reverse(bytes.begin(), bytes.begin() + 4);
    std::reverse(bytes.begin() + 4, bytes.begin() + 6);
    std::reverse(bytes.begin() + 6, bytes.begin() + 8);
    return QUuid::fromRfc4122(bytes);
}

QString textOf(const QVariant& value, const SqlColumn& from)
{
    if (IsCharacter(from.type) || IsExactDecimal(from.type))
        return value.toString();
    if (IsInteger(from.type))
        return QString::number(value.toLongLong());
    if (from.type == SqlType::UniqueIdentifier)
        return value.toUuid().toString(QUuid::WithoutBraces).toUpper();
    throw std::logic_error("no text form");
}

// A character value as a column of the type holds it: cut to its length,
// narrow types through the code page, fixed ones padded.
QString characterValue(QString text, const SqlColumn& to)
{
    if (!IsWide(to.type))
        text = CodePageText(CodePageBytes(text, CodePage(to.collation)), CodePage(to.collation));
    if (to.size > 0)
        text.truncate(to.size);
    if (to.type == SqlType::Char || to.type == SqlType::NChar)
        text = text.leftJustified(to.size, QLatin1Char(' '));
    return text;
}

qlonglong integerOf(const QVariant& value, const SqlColumn& from, const SqlColumn& to)
{
    if (IsInteger(from.type))
        return value.toLongLong();
    if (IsExactDecimal(from.type))
        return value.toString().section(QLatin1Char('.'), 0, 0).toLongLong();
    if (IsBinary(from.type)) {
        qlonglong n = 0;
        for (const char b : value.toByteArray().right(integerBytes(to.type)))
            n = (n << 8) | quint8(b);
        return n;
    }
    bool ok = false;
    const qlonglong n = value.toString().trimmed().toLongLong(&ok);
    if (!ok)
        throw failure(245, QStringLiteral("Conversion failed when converting the %1 value '%2' to data type %3.")
                               .arg(TypeName(from.type), value.toString(), TypeName(to.type)));
    return n;
}

// SQL Server orders uniqueidentifier values by their stored bytes, the last
// six first: 10 to 15, then 8 and 9, 6 and 7, 4 and 5, and 0 to 3.
int guidOrder(const QUuid& left, const QUuid& right)
{
    static const int significance[] = {10, 11, 12, 13, 14, 15, 8, 9, 6, 7, 4, 5, 0, 1, 2, 3};
    const QByteArray a = guidBytes(left);
    const QByteArray b = guidBytes(right);
    for (const int i : significance) {
        if (a[i] != b[i])
            return quint8(a[i]) < quint8(b[i]) ? -1 : 1;
    }
    return 0;
}

// Shortest decimal texts ("-12.5", "0") in numeric order.
int decimalOrder(const QString& left, const QString& right)
{
    const bool leftNegative = left.startsWith(QLatin1Char('-'));
    if (leftNegative != right.startsWith(QLatin1Char('-')))
        return leftNegative ? -1 : 1;
    const QString a = leftNegative ? left.mid(1) : left;
    const QString b = leftNegative ? right.mid(1) : right;
    const QString aWhole = a.section(QLatin1Char('.'), 0, 0);
    const QString bWhole = b.section(QLatin1Char('.'), 0, 0);
    const qsizetype fraction = std::max(a.size() - aWhole.size(), b.size() - bWhole.size());
    int magnitude = aWhole.size() != bWhole.size() ? (aWhole.size() < bWhole.size() ? -1 : 1)
                                                   : aWhole.compare(bWhole);
    if (magnitude == 0)
        magnitude = a.section(QLatin1Char('.'), 1).leftJustified(fraction, QLatin1Char('0'))
                        .compare(b.section(QLatin1Char('.'), 1).leftJustified(fraction, QLatin1Char('0')));
    magnitude = magnitude < 0 ? -1 : magnitude > 0 ? 1 : 0;
    return leftNegative ? -magnitude : magnitude;
}

// Text under a collation: "_CS" ones tell case apart, Chinese_PRC ones order
// Chinese characters by their pinyin, as SQL Server's do.
int textOrder(const QString& left, const QString& right, const QString& collation)
{
    thread_local std::map<QString, QCollator> collators;
    auto known = collators.find(collation);
    if (known == collators.end()) {
        QCollator collator(collation.startsWith(QLatin1String("Chinese_PRC"), Qt::CaseInsensitive) ? QLocale(QLocale::Chinese, QLocale::China)
                                                                                                  : QLocale(QLocale::English, QLocale::UnitedStates));
        collator.setCaseSensitivity(collation.contains(QLatin1String("_CS"), Qt::CaseInsensitive) ? Qt::CaseSensitive : Qt::CaseInsensitive);
        known = collators.emplace(collation, collator).first;
    }
    const int order = known->second.compare(left, right);
    return order < 0 ? -1 : order > 0 ? 1 : 0;
}

} // namespace

bool IsKnownCollation(const QString& collation)
{
    static const QRegularExpression known(QStringLiteral(R"(^(SQL_Latin1_General_CP1|Latin1_General|Chinese_PRC)_(CI|CS)_(AI|AS)$)"),
                                          QRegularExpression::CaseInsensitiveOption);
    return known.match(collation).hasMatch();
}

int CodePage(const QString& collation)
{
    return collation.startsWith(QLatin1String("Chinese_PRC"), Qt::CaseInsensitive) ? 936 : 1252;
}

QByteArray CollationInfo(const QString& collation)
{
    const bool sql = collation.startsWith(QLatin1String("SQL_"), Qt::CaseInsensitive);
    const quint32 lcid = CodePage(collation) == 936 ? 0x0804 : 0x0409;
    // Flags from bit 20: ignore case, accent, kana type, width; the last two
    // are ignored unless the name has _KS or _WS.
    const bool ignoreCase = collation.contains(QLatin1String("_CI"), Qt::CaseInsensitive);
    const bool ignoreAccent = collation.contains(QLatin1String("_AI"), Qt::CaseInsensitive);
    const quint32 info = lcid | quint32(ignoreCase) << 20 | quint32(ignoreAccent) << 21 | 1u << 22 | 1u << 23;
    // SQL_Latin1_General_CP1_CS_AS is sort id 51, _CI_AS 52 (FreeTDS reads them so too).
    const quint8 sortId = sql ? (ignoreCase ? 52 : 51) : 0;
    QByteArray bytes(5, '\0');
    qToLittleEndian(info, bytes.data());
    bytes[4] = char(sortId);
    return bytes;
}

int CodePageOfInfo(const QByteArray& info)
{
    return qFromLittleEndian<quint16>(info.constData()) == 0x0804 ? 936 : 1252;
}

QString ComparisonCollation(const SqlColumn& left, const SqlColumn& right)
{
    if (!IsCharacter(left.type) || !IsCharacter(right.type))
        return IsCharacter(left.type) ? left.collation : right.collation;
    for (const CollationLabel label : {CollationLabel::Explicit, CollationLabel::Implicit}) {
        const bool leftHas = left.label == label;
        const bool rightHas = right.label == label;
        if (leftHas && rightHas && left.collation.compare(right.collation, Qt::CaseInsensitive) != 0)
            throw failure(468, QStringLiteral("Cannot resolve the collation conflict between \"%1\" and \"%2\" in the equal to operation.")
                                   .arg(left.collation, right.collation));
        if (leftHas || rightHas)
            return leftHas ? left.collation : right.collation;
    }
    return left.collation;  // both the database's
}

bool IsInteger(SqlType type)
{
    return type == SqlType::TinyInt || type == SqlType::SmallInt || type == SqlType::Int || type == SqlType::BigInt ||
           type == SqlType::Bit;
}

bool IsExactDecimal(SqlType type)
{
    return type == SqlType::Numeric || type == SqlType::Decimal;
}

bool IsCharacter(SqlType type)
{
    return type == SqlType::Char || type == SqlType::VarChar || type == SqlType::NChar || type == SqlType::NVarChar ||
           type == SqlType::Text || type == SqlType::NText;
}

bool IsWide(SqlType type)
{
    return type == SqlType::NChar || type == SqlType::NVarChar || type == SqlType::NText;
}

bool IsBinary(SqlType type)
{
    return type == SqlType::Binary || type == SqlType::VarBinary || type == SqlType::VarBinaryMax || type == SqlType::Image;
}

bool IsLargeObject(SqlType type)
{
    return type == SqlType::Image || type == SqlType::Text || type == SqlType::NText;
}

QString TypeName(SqlType type)
{
    for (const auto& [t, name] : names) {
        if (t == type)
            return QString::fromLatin1(name);
    }
    return {};
}

QString DeclaredType(const SqlColumn& type)
{
    if (IsExactDecimal(type.type))
        return QStringLiteral("%1(%2,%3)").arg(TypeName(type.type)).arg(type.precision).arg(type.scale);
    if (isMax(type))
        return messageName(type);
    const bool sized = (IsCharacter(type.type) || IsBinary(type.type)) && !IsLargeObject(type.type);
    return TypeName(type.type) + (sized ? QStringLiteral("(%1)").arg(type.size) : QString());
}

SqlColumn ParseDeclaredType(const QString& text)
{
    static const QRegularExpression declared(QStringLiteral(R"(^\s*(\w+)\s*(?:\(\s*(max|\d+)\s*(?:,\s*(\d+)\s*)?\))?\s*$)"),
                                             QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = declared.match(text);
    const QString name = m.captured(1).toLower();
    const bool max = m.captured(2).compare(QLatin1String("max"), Qt::CaseInsensitive) == 0;
    for (const auto& [type, typeName] : names) {
        if (!m.hasMatch() || name != QLatin1String(typeName) || (type == SqlType::VarBinaryMax) != (max && name == QLatin1String("varbinary")))
            continue;
        SqlColumn column{QString(), type};
        if (IsExactDecimal(type)) {
            column.precision = m.captured(2).isEmpty() ? 18 : m.captured(2).toInt();
            column.scale = m.captured(3).toInt();
        } else if ((IsCharacter(type) || IsBinary(type)) && !IsLargeObject(type)) {
            // Without a length CAST and CONVERT take 30.
            column.size = max ? -1 : m.captured(2).isEmpty() ? 30 : m.captured(2).toInt();
        }
        return column;
    }
    throw failure(243, QStringLiteral("Type %1 is not a defined system type.").arg(text.trimmed()));
}

int MaxLength(const SqlColumn& type)
{
    if (isMax(type))
        return -1;
    if (IsLargeObject(type.type))
        return 16;
    if (IsInteger(type.type))
        return integerBytes(type.type);
    if (IsExactDecimal(type.type))
        return type.precision <= 9 ? 5 : type.precision <= 19 ? 9 : type.precision <= 28 ? 13 : 17;
    if (type.type == SqlType::UniqueIdentifier)
        return 16;
    return IsWide(type.type) ? 2 * type.size : type.size;
}

int Precision(const SqlColumn& type)
{
    switch (type.type) {
    case SqlType::TinyInt: return 3;
    case SqlType::SmallInt: return 5;
    case SqlType::Int: return 10;
    case SqlType::BigInt: return 19;
    case SqlType::Bit: return 1;
    case SqlType::Numeric:
    case SqlType::Decimal: return type.precision;
    default: return 0;
    }
}

QByteArray StoredBytes(const QVariant& value, const SqlColumn& type)
{
    if (value.isNull())
        return {};
    if (IsInteger(type.type))
        return bigEndian(value.toLongLong(), integerBytes(type.type));
    if (type.type == SqlType::UniqueIdentifier)
        return guidBytes(value.toUuid());
    if (IsWide(type.type)) {
        const QString text = value.toString();
        return QByteArray(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
    }
    if (IsCharacter(type.type))
        return CodePageBytes(value.toString(), CodePage(type.collation));
    if (IsBinary(type.type))
        return value.toByteArray();
    throw std::runtime_error("the scripted server does not play the bytes of a " + DeclaredType(type).toStdString() + " value");
}

qint64 DataLength(const QVariant& value, const SqlColumn& type)
{
    return IsExactDecimal(type.type) ? MaxLength(type) : StoredBytes(value, type).size();
}

QVariant Converted(const QVariant& value, const SqlColumn& from, const SqlColumn& to)
{
    if (from.type == SqlType::Image && !IsBinary(to.type))
        throw failure(529, QStringLiteral("Explicit conversion from data type image to %1 is not allowed.").arg(TypeName(to.type)));
    if (value.isNull())
        return value;
    if (IsBinary(to.type)) {
        QByteArray bytes = StoredBytes(value, from);
        if (to.size > 0)
            bytes.truncate(to.size);
        return to.type == SqlType::Binary ? bytes.leftJustified(to.size, '\0') : bytes;
    }
    if (IsCharacter(to.type)) {
        if (IsBinary(from.type)) {
            const QByteArray bytes = value.toByteArray();
            return characterValue(IsWide(to.type) ? QString::fromUtf16(reinterpret_cast<const char16_t*>(bytes.constData()), bytes.size() / 2)
                                                  : CodePageText(bytes, CodePage(to.collation)),
                                  to);
        }
        return characterValue(textOf(value, from), to);
    }
    if (IsInteger(to.type)) {
        const qlonglong n = integerOf(value, from, to);
        return to.type == SqlType::Bit ? qlonglong(n != 0) : n;
    }
    if (IsExactDecimal(to.type)) {
        const std::optional<QString> text = IsBinary(from.type) ? std::nullopt : decimalText(textOf(value, from));
        if (!text)
            throw failure(8114, QStringLiteral("Error converting data type %1 to numeric.").arg(TypeName(from.type)));
        return scaled(*text, to, TypeName(from.type));
    }
    // uniqueidentifier
    if (IsBinary(from.type))
        return guidFromBytes(value.toByteArray());
    if (from.type == SqlType::UniqueIdentifier)
        return value;
    const QUuid id = IsCharacter(from.type) ? QUuid::fromString(value.toString().trimmed().left(38)) : QUuid();
    if (id.isNull())
        throw failure(8169, QStringLiteral("Conversion failed when converting from a character string to uniqueidentifier."));
    return id;
}

std::optional<SqlFailure> ComparisonError(const SqlColumn& left, const SqlColumn& right)
{
    if (IsLargeObject(left.type) || IsLargeObject(right.type))
        return failure(402, QStringLiteral("The data types %1 and %2 are incompatible in the equal to operator.")
                                .arg(messageName(left), messageName(right)));
    const bool leftGuid = left.type == SqlType::UniqueIdentifier;
    const bool rightGuid = right.type == SqlType::UniqueIdentifier;
    if (leftGuid != rightGuid && ((leftGuid ? IsInteger(right.type) || IsExactDecimal(right.type)
                                            : IsInteger(left.type) || IsExactDecimal(left.type))))
        return failure(206, QStringLiteral("Operand type clash: %1 is incompatible with %2").arg(TypeName(left.type), TypeName(right.type)));
    return std::nullopt;
}

std::optional<int> Compared(const QVariant& left, const SqlColumn& leftType, const QVariant& right, const SqlColumn& rightType)
{
    if (left.isNull() || right.isNull())
        return std::nullopt;
    const auto either = [&](auto test) { return test(leftType.type) || test(rightType.type); };
    // The operand of lower precedence is converted to the other's type.
    if (either([](SqlType t) { return t == SqlType::UniqueIdentifier; })) {
        const SqlColumn guid{QString(), SqlType::UniqueIdentifier};
        return guidOrder(Converted(left, leftType, guid).toUuid(), Converted(right, rightType, guid).toUuid());
    }
    if (either(IsExactDecimal) || (IsInteger(leftType.type) && IsInteger(rightType.type))) {
        const SqlColumn number{QString(), SqlType::Numeric, 0, 38, 10};
        return decimalOrder(*decimalText(Converted(left, leftType, number).toString()),
                            *decimalText(Converted(right, rightType, number).toString()));
    }
    if (either(IsInteger)) {
        const SqlColumn number{QString(), SqlType::BigInt};
        const qlonglong a = Converted(left, leftType, number).toLongLong();
        const qlonglong b = Converted(right, rightType, number).toLongLong();
        return a < b ? -1 : a > b ? 1 : 0;
    }
    if (either(IsCharacter)) {
        // Compared as the character type, narrow text in the code page of the
        // collation compared under; trailing spaces do not count.
        const QString collation = ComparisonCollation(leftType, rightType);
        const SqlColumn text{QString(), either(IsWide) ? SqlType::NVarChar : SqlType::VarChar, -1, 0, 0, true, collation};
        static const QRegularExpression trailing(QStringLiteral(" +$"));
        return textOrder(Converted(left, leftType, text).toString().remove(trailing),
                         Converted(right, rightType, text).toString().remove(trailing), collation);
    }
    // Binary values compare as if the shorter were padded with zero bytes.
    QByteArray a = left.toByteArray();
    QByteArray b = right.toByteArray();
    const qsizetype length = std::max(a.size(), b.size());
    return std::memcmp(a.leftJustified(length, '\0').constData(), b.leftJustified(length, '\0').constData(), size_t(length));
}

std::optional<SqlFailure> AssignmentError(const SqlColumn& value, const SqlColumn& column)
{
    if (IsBinary(column.type) && IsCharacter(value.type)) {
        if (column.type == SqlType::Image)
            return failure(206, QStringLiteral("Operand type clash: %1 is incompatible with image").arg(DeclaredType(value)));
        return failure(257, QStringLiteral("Implicit conversion from data type %1 to %2 is not allowed. "
                                           "Use the CONVERT function to run this query.")
                                .arg(TypeName(value.type), messageName(column)));
    }
    if ((column.type == SqlType::Text || column.type == SqlType::NText) && IsBinary(value.type))
        return failure(206, QStringLiteral("Operand type clash: %1 is incompatible with %2").arg(DeclaredType(value), TypeName(column.type)));
    return std::nullopt;
}
