#include "data/ResultSet.h"

#include "data/ExactText.h"
#include "data/Session.h"

#include <QCryptographicHash>
#include <QSqlField>

#include <algorithm>

namespace {

const QVariant nullBytes{QMetaType::fromType<QByteArray>()};
const QVariant noValue;

QVariant storedBytes(const QByteArray& bytes)
{
    return bytes.isEmpty() ? nullBytes : QVariant(bytes);
}

QString rowLost()
{
    return QStringLiteral("Row cannot be located for updating. Some values may have been changed since it was last read.");
}

// Rows can be read after the last one read only where a key tells each
// apart and the server orders it as it compares the value read.
bool pagedInKeyOrder(const TableSchema& table)
{
    return table.unique && !table.key.empty() &&
           std::all_of(table.key.begin(), table.key.end(), [](const KeyPart& p) { return p.ordered; });
}

} // namespace

std::unique_ptr<ResultSet> ResultSet::open(Session& session, const QString& owner, const QString& statement,
                                           const KeyRange& range)
{
    std::unique_ptr<ResultSet> result(new ResultSet(session, owner));
    const bool limited = !range.from.empty() || !range.until.empty();
    if (const std::optional<SimpleSelect> select = ParseSimpleSelect(statement)) {
        const std::optional<TableSchema> table = session.dialect().describeTable(session, select->table);
        if (table && !table->key.empty() && result->layOut(*select, *table)) {
            if (pagedInKeyOrder(*table)) {
                result->paging_ = Paging{select->where, range, {}, false};
                result->readPage();
                result->eof_ = result->rows_.empty();
                return result;
            }
            if (limited)
                throw result->failure(QStringLiteral("The rows of table %1 cannot be taken in ranges of its key")
                                          .arg(table->name.join(u'.')));
            // Rows that only all their columns tell apart, or whose key the
            // server may order otherwise than it compares the value read,
            // cannot be read after the last one read: all are held.
            QString rewritten = QStringLiteral("select %1 from %2").arg(result->selected_.join(QStringLiteral(", ")),
                                                                        QuoteIdentifier(table->name));
            if (!select->where.isEmpty())
                rewritten += QStringLiteral(" where ") + select->where;
            result->fill(rewritten);
            return result;
        }
    }
    if (limited)
        throw result->failure(QStringLiteral("The rows of \"%1\" cannot be taken in ranges of a key").arg(statement));
    result->fill(statement);
    return result;
}

std::optional<std::vector<KeyRange>> ResultSet::split(Session& session, const QString& statement, int parts)
{
    const std::optional<SimpleSelect> select = ParseSimpleSelect(statement);
    if (!select)
        return std::nullopt;
    const std::optional<TableSchema> table = session.dialect().describeTable(session, select->table);
    if (!table || !pagedInKeyOrder(*table))
        return std::nullopt;
    QStringList keyParts;
    QStringList order;
    for (const KeyPart& part : table->key) {
        keyParts << part.selected;
        order << part.compared;
    }
    std::optional<std::vector<std::vector<QVariant>>> bounds =
        session.dialect().keyBounds(session, *table, keyParts, order.join(QStringLiteral(", ")), parts);
    if (!bounds)
        return std::nullopt;
    std::vector<KeyRange> ranges(1);
    for (std::vector<QVariant>& key : *bounds) {
        ranges.back().until = key;
        ranges.push_back({std::move(key), {}});
    }
    return ranges;
}

bool ResultSet::layOut(const SimpleSelect& select, const TableSchema& table)
{
    const Dialect& dialect = session_.dialect();
    std::vector<Field> fields;
    QStringList selected;
    for (const QString& name : select.columns) {
        const auto column = std::find_if(table.columns.begin(), table.columns.end(), [&](const TableColumn& c) {
            return c.name.compare(name, Qt::CaseInsensitive) == 0;
        });
        if (column == table.columns.end())
            return false;
        const QString quoted = QuoteIdentifier(column->name);
        const int slot = int(selected.size());
        if (column->large) {
            fields.push_back({name, Kind::BlobOnDemand, slot, slot + 1, int(column - table.columns.begin())});
            selected << dialect.blobSizeExpression(quoted) << dialect.blobHeadExpression(quoted, blobHeadSize);
        } else {
            const QString textBytes = dialect.textBytesExpression(quoted);
            fields.push_back({name, Kind::Value, slot, -1, int(column - table.columns.begin()),
                              textBytes.isEmpty() ? -1 : slot + 1});
            selected << quoted;
            if (!textBytes.isEmpty())
                selected << textBytes;
        }
    }
    keySlot_ = int(selected.size());
    for (const KeyPart& part : table.key)
        selected << part.selected;
    fields_ = std::move(fields);
    selected_ = std::move(selected);
    table_ = table;
    return true;
}

void ResultSet::fill(const QString& statement)
{
    Session::Rows result = session_.select(statement);
    if (!table_) {
        for (int i = 0; i < result.record.count(); ++i) {
            const bool bytes = result.record.field(i).metaType() == QMetaType::fromType<QByteArray>();
            fields_.push_back({result.record.fieldName(i), bytes ? Kind::Blob : Kind::Value, i, -1, -1});
        }
    }
    rows_.assign(std::make_move_iterator(result.values.begin()), std::make_move_iterator(result.values.end()));
    eof_ = rows_.empty();
}

bool ResultSet::readPage()
{
    if (!paging_ || paging_->complete)
        return false;
    QVariantList parameters;
    QStringList conditions = this->conditions(parameters);
    if (!paging_->after.empty())
        conditions << keyCondition(paging_->after, Bound::After, parameters);
    else if (!paging_->range.from.empty())
        conditions << keyCondition(paging_->range.from, Bound::From, parameters);
    QStringList order;
    for (const KeyPart& part : table_->key)
        order << part.compared;
    Session::Rows page = session_.select(
        session_.dialect().pageStatement(*table_, selected_.join(QStringLiteral(", ")), conditions.join(QStringLiteral(" and ")),
                                         order.join(QStringLiteral(", ")), pageRows),
        parameters);
    paging_->complete = int(page.values.size()) < pageRows;
    if (page.values.empty())
        return false;
    const std::vector<QVariant>& last = page.values.back();
    paging_->after.assign(last.begin() + keySlot_, last.end());
    // Rows passed are written through their HeldRow, not held.
    first_ += int(rows_.size());
    rows_.clear();
    for (std::vector<QVariant>& row : page.values)
        rows_.push_back(std::move(row));
    return true;
}

// The statement's own condition and the end of the range.
QStringList ResultSet::conditions(QVariantList& parameters) const
{
    QStringList conditions;
    if (!paging_->where.isEmpty())
        conditions << QStringLiteral("(%1)").arg(paging_->where);
    if (!paging_->range.until.empty())
        conditions << keyCondition(paging_->range.until, Bound::Before, parameters);
    return conditions;
}

// The rows after `key` (or from it, or before it) in key order, in a form an
// index on the key can seek: a >= x and (a > x or b >= y and (b > y or c > z)).
QString ResultSet::keyCondition(const std::vector<QVariant>& key, Bound bound, QVariantList& parameters) const
{
    const QString beyond = bound == Bound::Before ? QStringLiteral("<") : QStringLiteral(">");
    const int parts = int(table_->key.size());
    QString condition;
    for (int i = parts - 1; i >= 0; --i) {
        const KeyPart& part = table_->key[i];
        const QString strictly = QStringLiteral("%1 %2 %3").arg(part.compared, beyond, part.placeholder);
        const QString orEqual = QStringLiteral("%1 %2= %3").arg(part.compared, beyond, part.placeholder);
        if (i < parts - 1)
            condition = QStringLiteral("%1 and (%2 or %3)").arg(orEqual, strictly, condition);
        else
            condition = bound == Bound::From ? orEqual : strictly;
    }
    for (int i = 0; i < parts; ++i) {
        parameters << key[i];
        if (i + 1 < parts)
            parameters << key[i];
    }
    return condition;
}

int ResultSet::rowCount()
{
    if (!paging_ || paging_->complete)
        return heldEnd();
    if (!counted_) {
        QVariantList parameters;
        QStringList conditions = this->conditions(parameters);
        if (!paging_->range.from.empty())
            conditions << keyCondition(paging_->range.from, Bound::From, parameters);
        const QString where = conditions.isEmpty() ? QString() : QStringLiteral(" where ") + conditions.join(QStringLiteral(" and "));
        counted_ = session_.select(QStringLiteral("select count(*) from %1%2").arg(QuoteIdentifier(table_->name), where), parameters)
                       .values.front()[0]
                       .toInt();
    }
    return *counted_;
}

void ResultSet::first()
{
    if (editing_)
        post();
    if (first_ > 0) {
        // The first rows are no longer held: read them again.
        rows_.clear();
        first_ = 0;
        paging_->after.clear();
        paging_->complete = false;
        readPage();
    }
    current_ = 0;
    eof_ = rows_.empty();
}

void ResultSet::next()
{
    if (editing_)
        post();
    if (current_ + 1 < heldEnd() || readPage())
        ++current_;
    else
        eof_ = true;
}

std::optional<int> ResultSet::fieldIndex(const QString& name) const
{
    for (int i = 0; i < int(fields_.size()); ++i) {
        if (fields_[i].name.compare(name, Qt::CaseInsensitive) == 0)
            return i;
    }
    return std::nullopt;
}

const QVariant& ResultSet::slot(int index) const
{
    // An empty result reads as NULL everywhere.
    return rows_.empty() ? noValue : rows_[current_ - first_][index];
}

QVariant ResultSet::value(int field)
{
    if (const auto change = changes_.find(field); change != changes_.end())
        return storedBytes(change->second);
    const Field& f = fields_[field];
    const QVariant& held = slot(f.slot);
    if (f.textSlot >= 0 && slot(f.textSlot).metaType() == QMetaType::fromType<QByteArray>() && !slot(f.textSlot).isNull())
        return ExactText(slot(f.textSlot).toByteArray());
    if (f.kind != Kind::BlobOnDemand || held.isNull())
        return held;
    const std::optional<QByteArray> bytes = fetch(currentKey(), f, false);
    if (!bytes)
        throw EDatabaseError(rowLost());
    return *bytes;
}

bool ResultSet::isNull(int field) const
{
    if (const auto change = changes_.find(field); change != changes_.end())
        return change->second.isEmpty();
    return slot(fields_[field].slot).isNull();
}

qint64 ResultSet::blobSize(int field) const
{
    checkLarge(field);
    if (const auto change = changes_.find(field); change != changes_.end())
        return change->second.size();
    const Field& f = fields_[field];
    return f.kind == Kind::BlobOnDemand ? slot(f.slot).toLongLong() : slot(f.slot).toByteArray().size();
}

bool ResultSet::blobStartsWith(int field, const QByteArray& prefix)
{
    checkLarge(field);
    const Field& f = fields_[field];
    if (f.kind == Kind::BlobOnDemand && !changes_.count(field) && prefix.size() <= blobHeadSize && blobHeadKnown(field))
        return slot(f.headSlot).toByteArray().startsWith(prefix);
    return value(field).toByteArray().startsWith(prefix);
}

bool ResultSet::blobHeadKnown(int field) const
{
    checkLarge(field);
    const Field& f = fields_[field];
    return f.kind != Kind::BlobOnDemand || changes_.count(field) || slot(f.headSlot).toByteArray().size() <= blobHeadSize;
}

void ResultSet::checkLarge(int field) const
{
    if (fields_[field].kind == Kind::Value)
        throw EDatabaseError(QStringLiteral("Field '%1' is not a large-object (BLOB) field").arg(fields_[field].name));
}

void ResultSet::checkPictureColumn(int field) const
{
    const Field& f = fields_[field];
    if (f.kind == Kind::Value && table_ && f.column >= 0)
        throw EDatabaseError(QStringLiteral("Column %1 is %2: pictures are converted only in large-object columns "
                                            "(image, varbinary(max))")
                                 .arg(table_->columns[f.column].name, table_->columns[f.column].type));
    checkLarge(field);
}

std::vector<QVariant> ResultSet::currentKey() const
{
    std::vector<QVariant> key;
    for (int i = 0; i < int(table_->key.size()); ++i)
        key.push_back(slot(keySlot_ + i));
    return key;
}

QString ResultSet::rowCondition(const std::vector<QVariant>& key, QVariantList& parameters) const
{
    QStringList found;
    QVariantList foundParameters;
    QStringList digests;
    QVariantList digestParameters;
    for (int i = 0; i < int(table_->key.size()); ++i) {
        const KeyPart& part = table_->key[i];
        const QVariant& value = key[i];
        const bool digest = part.of == KeyPart::Of::Digest;
        if (value.isNull()) {
            (digest ? digests : found) << part.compared + QStringLiteral(" is null");
        } else {
            (digest ? digests : found) << part.compared + QStringLiteral(" = ") + part.placeholder;
            (digest ? digestParameters : foundParameters) << value;
        }
    }
    const QString and_ = QStringLiteral(" and ");
    parameters << foundParameters;
    if (digests.isEmpty() || found.isEmpty()) {
        parameters << digestParameters;
        return (found + digests).join(and_);
    }
    // CASE is evaluated in order: only rows the other parts found are digested.
    parameters << foundParameters << digestParameters;
    return QStringLiteral("%1 and case when %1 then case when %2 then 1 end end = 1").arg(found.join(and_), digests.join(and_));
}

std::optional<QByteArray> ResultSet::fetch(const std::vector<QVariant>& key, const Field& field, bool forUpdate)
{
    QVariantList parameters;
    const QString condition = rowCondition(key, parameters);
    const auto select = [&](Dialect::RowLock lock) {
        std::vector<Session::Rows> results = session_.run(
            session_.dialect().fetchStatement(*table_, QuoteIdentifier(table_->columns[field.column].name), condition, lock),
            parameters);
        return results.empty() ? Session::Rows{} : std::move(results.front());
    };
    // Without a key the server scans for the row: rows other clients hold
    // locked are passed first, and waited for only when ours is among them.
    Session::Rows found = !forUpdate         ? select(Dialect::RowLock::None)
                          : table_->unique ? select(Dialect::RowLock::Wait)
                                           : select(Dialect::RowLock::SkipLocked);
    if (found.values.empty() && forUpdate && !table_->unique)
        found = select(Dialect::RowLock::Wait);
    if (found.values.empty())
        return std::nullopt;
    const QVariant& stored = found.values.front()[0];
    const QByteArray bytes = found.values.front()[1].toByteArray();
    // A driver or server that cuts a value short (a TEXTSIZE limit, a partial
    // read) must never let the rest of it pass for the picture.
    if (!stored.isNull() && stored.toLongLong() != bytes.size())
        throw EDatabaseError(QStringLiteral("Read %1 of the %2 bytes stored; the value was not used")
                                 .arg(bytes.size())
                                 .arg(stored.toLongLong()));
    return bytes;
}

std::optional<QByteArray> ResultSet::readForUpdate(int field)
{
    checkLarge(field);
    const Field& f = fields_[field];
    if (!table_ || f.kind != Kind::BlobOnDemand)
        throw failure(QStringLiteral("Cannot modify a read-only dataset"));
    session_.commits().begin();
    const std::optional<QByteArray> bytes = fetch(currentKey(), f, true);
    // Another client changed or removed it since the rows were read: its
    // value is the one to keep.
    const QVariant& size = slot(f.slot);
    if (!bytes || size.isNull() || bytes->size() != size.toLongLong() ||
        (blobHeadKnown(field) && !bytes->startsWith(slot(f.headSlot).toByteArray())))
        return std::nullopt;
    return bytes;
}

std::optional<QByteArray> ResultSet::readForUpdate(const HeldRow& row, int field)
{
    checkLarge(field);
    const Field& f = fields_[field];
    if (!table_ || f.kind != Kind::BlobOnDemand || row.key_.size() != table_->key.size())
        throw failure(QStringLiteral("Cannot modify a read-only dataset"));
    session_.commits().begin();
    return fetch(row.key_, f, true);
}

namespace {

// A key value as an SQL literal, so that values of different types never
// give the same text.
QString keyLiteral(const QVariant& value)
{
    if (value.isNull())
        return QStringLiteral("NULL");
    switch (value.metaType().id()) {
    case QMetaType::QByteArray:
        return QStringLiteral("0x") + QString::fromLatin1(value.toByteArray().toHex());
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Double:
        return value.toString();
    default:
        return u'\'' + value.toString().replace(u'\'', QStringLiteral("''")) + u'\'';
    }
}

}  // namespace

QString ResultSet::rowKey() const
{
    // A table without a key is told by sizes and digests of whole rows,
    // which do not name one row.
    const bool named = table_ && std::all_of(table_->key.begin(), table_->key.end(),
                                             [](const KeyPart& part) { return part.of == KeyPart::Of::Value; });
    if (!named)
        throw failure(QStringLiteral("Table has no primary key or unique key to name each row by"));
    QStringList parts;
    for (int i = 0; i < int(table_->key.size()); ++i) {
        const KeyPart& part = table_->key[i];
        const QString name = part.column < 0 ? part.selected : table_->columns[part.column].name;
        parts << name + u'=' + keyLiteral(slot(keySlot_ + i));
    }
    return parts.join(QStringLiteral(", "));
}

QString ResultSet::rowDigest(const QStringList& excluded)
{
    if (!table_)
        throw failure(QStringLiteral("Cannot modify a read-only dataset"));
    QStringList selected;
    for (const TableColumn& column : table_->columns) {
        if (!excluded.contains(column.name, Qt::CaseInsensitive))
            selected << QuoteIdentifier(column.name);
    }
    if (selected.isEmpty())
        selected << QStringLiteral("1");
    QVariantList parameters;
    const QString condition = rowCondition(currentKey(), parameters);
    const Session::Rows found = session_.select(
        QStringLiteral("select %1 from %2 where %3").arg(selected.join(QStringLiteral(", ")), QuoteIdentifier(table_->name), condition),
        parameters);
    if (found.values.empty())
        throw failure(rowLost());
    // Each value as an SQL literal: values of different types never give the same text.
    QCryptographicHash digest(QCryptographicHash::Sha256);
    for (const QVariant& value : found.values.front()) {
        digest.addData(keyLiteral(value).toUtf8());
        digest.addData(QByteArrayView("\n"));
    }
    return QString::fromLatin1(digest.result().toHex());
}

EDatabaseError ResultSet::failure(const QString& text) const
{
    return EDatabaseError(owner_ + QStringLiteral(": ") + text);
}

void ResultSet::edit()
{
    if (!table_)
        throw failure(QStringLiteral("Cannot modify a read-only dataset"));
    if (rows_.empty())
        throw failure(QStringLiteral("Cannot perform this operation on an empty dataset"));
    editing_ = true;
}

void ResultSet::setBlob(int field, const QByteArray& bytes)
{
    if (!editing_)
        throw failure(QStringLiteral("Dataset not in edit or insert mode"));
    checkLarge(field);
    changes_[field] = bytes;
}

void ResultSet::post()
{
    if (!editing_)
        throw failure(QStringLiteral("Dataset not in edit or insert mode"));
    if (!changes_.empty()) {
        QStringList assignments;
        QVariantList parameters;
        for (const auto& [field, bytes] : changes_) {
            assignments << QuoteIdentifier(table_->columns[fields_[field].column].name) + QStringLiteral(" = ") +
                               session_.dialect().blobPlaceholder();
            parameters << storedBytes(bytes);
        }
        update(assignments, currentKey(), parameters);
        recordPosted();
    }
    editing_ = false;
}

HeldRow ResultSet::hold() const
{
    if (!table_)
        throw failure(QStringLiteral("Cannot modify a read-only dataset"));
    if (rows_.empty())
        throw failure(QStringLiteral("Cannot perform this operation on an empty dataset"));
    return HeldRow(currentKey());
}

void ResultSet::postTo(const HeldRow& row, int field, const QByteArray& bytes)
{
    checkLarge(field);
    if (!table_ || row.key_.size() != table_->key.size())
        throw failure(QStringLiteral("Cannot modify a read-only dataset"));
    update({QuoteIdentifier(table_->columns[fields_[field].column].name) + QStringLiteral(" = ") +
            session_.dialect().blobPlaceholder()},
           row.key_, {storedBytes(bytes)});
}

// One row's write, in the open commit group.
void ResultSet::update(const QStringList& assignments, const std::vector<QVariant>& key, QVariantList parameters)
{
    const QString condition = rowCondition(key, parameters);
    session_.commits().post([&] {
        if (session_.dialect().updateRow(session_, *table_, assignments.join(QStringLiteral(", ")), condition, parameters) == 0)
            throw EDatabaseError(rowLost());
    });
}

// The held row now shows what was written, so the row can be found and
// written again.
void ResultSet::recordPosted()
{
    std::vector<QVariant>& row = rows_[current_ - first_];
    for (const auto& [changed, bytes] : changes_) {
        const int column = fields_[changed].column;
        const QVariant size = bytes.isEmpty() ? QVariant() : QVariant(qint64(bytes.size()));
        for (const Field& f : fields_) {
            if (f.column == column && f.kind == Kind::BlobOnDemand) {
                row[f.slot] = size;
                row[f.headSlot] = storedBytes(bytes.left(blobHeadSize));
            }
        }
        for (int i = 0; i < int(table_->key.size()); ++i) {
            const KeyPart& part = table_->key[i];
            if (part.column != column)
                continue;
            switch (part.of) {
            case KeyPart::Of::Value: row[keySlot_ + i] = storedBytes(bytes); break;
            case KeyPart::Of::Size: row[keySlot_ + i] = size; break;
            case KeyPart::Of::Digest:
                row[keySlot_ + i] = bytes.isEmpty() ? nullBytes : QVariant(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256));
                break;
            }
        }
    }
    changes_.clear();
}
