#include "tests/tds/ScriptedTable.h"

#include "tests/tds/SqlValues.h"

#include <QUuid>

#include <stdexcept>

namespace {

// The parts of a name, unquoted, the last one first.
QStringList nameParts(const QString& name)
{
    static const QRegularExpression part(QStringLiteral(R"((\[(?:[^\]]|\]\])*\]|[^.\[]*)(?:\.|$))"));
    QStringList parts;
    for (const QRegularExpressionMatch& m : part.globalMatch(name.trimmed())) {
        if (m.capturedLength() == 0)
            break;
        const QString p = m.captured(1);
        parts.prepend(p.startsWith(QLatin1Char('[')) ? p.mid(1, p.size() - 2).replace(QStringLiteral("]]"), QStringLiteral("]")) : p);
    }
    return parts;
}

// The generated id of row `number`.
QVariant idValue(SqlType type, int number)
{
    const char littleEndian[] = {char(number), char(number >> 8), char(number >> 16), char(number >> 24)};
    return type == SqlType::Int       ? QVariant(qlonglong(number))
           : type == SqlType::Numeric ? QVariant(QString::number(5000000000LL + number))
           : type == SqlType::Binary  ? QVariant(QByteArray(littleEndian, 4))
                                      : QVariant(QUuid::createUuidV5(QUuid(), QByteArray::number(number)));
}

} // namespace

ScriptedTable::ScriptedTable(SqlType pictureType, TableKey tableKey, SqlType nameType)
{
    switch (tableKey) {
    case TableKey::IntId:
    case TableKey::NameAndId: columns.push_back({QStringLiteral("id"), SqlType::Int, 0, 0, 0, false}); break;
    case TableKey::NumericIdentity: columns.push_back({QStringLiteral("id"), SqlType::Numeric, 0, 18, 0, false}); break;
    case TableKey::Guid: columns.push_back({QStringLiteral("id"), SqlType::UniqueIdentifier, 0, 0, 0, false}); break;
    case TableKey::BinaryId: columns.push_back({QStringLiteral("id"), SqlType::Binary, 4, 0, 0, false}); break;
    default: break;
    }
    columns.push_back({QStringLiteral("BCE01"), nameType, 50, 0, 0, tableKey != TableKey::Name && tableKey != TableKey::NameAndId});
    columns.push_back({QStringLiteral("BAC02"), pictureType});
    columns.push_back({QStringLiteral("BAC04"), pictureType});
    if (tableKey == TableKey::NameAndId)
        key << QStringLiteral("BCE01") << QStringLiteral("id");
    else if (tableKey != TableKey::None)
        key << columns.front().name;
}

int ScriptedTable::addRow(const Bac1Row& row)
{
    const int number = int(data.size()) + 1;
    SqlRow values;
    if (columns.front().name == QLatin1String("id"))
        values.push_back(idValue(columns.front().type, number));
    // Stored as an INSERT of N'...' and 0x... literals stores them: padded,
    // through the code page for the narrow types.
    const auto stored = [&](const auto& v, SqlType given) {
        return v ? Converted(QVariant(*v), {QString(), given, -1}, columnType(values.size())) : QVariant();
    };
    values.push_back(stored(row.bce01, SqlType::NVarChar));
    values.push_back(stored(row.bac02, SqlType::VarBinaryMax));
    values.push_back(stored(row.bac04, SqlType::VarBinaryMax));
    data.push_back(values);
    return number;
}

std::vector<Bac1Row> ScriptedTable::rows() const
{
    const size_t first = columns.size() - 3;  // BCE01
    std::vector<Bac1Row> rows;
    for (size_t r = 0; r < rowCount(); ++r) {
        const auto bytes = [](const QVariant& v) { return v.isNull() ? std::nullopt : std::optional(v.toByteArray()); };
        const QVariant name = cell(r, first);
        rows.push_back({name.isNull() ? std::nullopt : std::optional(name.toString()), bytes(cell(r, first + 1)), bytes(cell(r, first + 2))});
    }
    return rows;
}

QVariant ScriptedTable::cell(size_t row, size_t column) const
{
    if (row < data.size())
        return data[row][column];
    const auto written = madeWritten.find({row, column});
    return written != madeWritten.end() ? written->second : madeRow(row - data.size())[column];
}

void ScriptedTable::setCell(size_t row, size_t column, const QVariant& value)
{
    if (row < data.size()) {
        data[row][column] = value;
    } else if (countMadeWrites) {
        ++madeWrites;
        madeBytesWritten += value.toByteArray().size();
    } else {
        madeWritten[{row, column}] = value;
    }
}

SqlColumn& ScriptedTable::column(const QString& columnName)
{
    for (SqlColumn& c : columns) {
        if (c.name.compare(columnName, Qt::CaseInsensitive) == 0)
            return c;
    }
    throw std::invalid_argument("BAC1 has no column " + columnName.toStdString());
}

SqlColumn ScriptedTable::columnType(size_t c) const
{
    SqlColumn type = columns.at(c);
    if (IsCharacter(type.type)) {
        type.collation = collation;
        type.label = CollationLabel::Implicit;
    }
    return type;
}

void ScriptedTable::reachThroughView()
{
    name = QStringLiteral("BAC1_data");
    bac1 = ObjectKind::View;
}

void ScriptedTable::reachThroughSynonym(const QString& target)
{
    const QStringList parts = nameParts(target);
    name = parts.size() <= 2 ? parts.value(0) : QStringLiteral("BAC1_data");
    bac1 = ObjectKind::Synonym;
    synonymTarget = target;
}

ObjectKind ScriptedTable::resolve(const QString& objectName, const QString& sessionDatabase) const
{
    const QStringList parts = nameParts(objectName);
    const auto is = [](const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) == 0; };
    if (parts.isEmpty() || parts.size() > 3 || !is(sessionDatabase, database) || (parts.size() == 3 && !is(parts[2], database)) ||
        (parts.size() >= 2 && !parts[1].isEmpty() && !is(parts[1], QStringLiteral("dbo"))))
        return ObjectKind::None;
    if (is(parts[0], name))
        return ObjectKind::Table;
    return is(parts[0], QStringLiteral("BAC1")) ? bac1 : ObjectKind::None;
}

std::optional<QString> ScriptedTable::insteadOfUpdate() const
{
    for (const UpdateTrigger& trigger : updateTriggers) {
        if (trigger.insteadOf && !trigger.disabled)
            return trigger.name;
    }
    return std::nullopt;
}
