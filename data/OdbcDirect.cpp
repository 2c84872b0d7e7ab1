#include "data/OdbcDirect.h"

#include "data/DataErrors.h"

#include <QSqlField>

#ifdef _WIN32
#include <windows.h>
#endif
#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <deque>

namespace {

class StatementHandle {
public:
    explicit StatementHandle(SQLHDBC connection)
    {
        if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, connection, &handle_)))
            handle_ = SQL_NULL_HSTMT;
    }
    ~StatementHandle()
    {
        if (handle_ != SQL_NULL_HSTMT)
            SQLFreeHandle(SQL_HANDLE_STMT, handle_);
    }
    StatementHandle(const StatementHandle&) = delete;
    StatementHandle& operator=(const StatementHandle&) = delete;
    SQLHSTMT get() const { return handle_; }

private:
    SQLHSTMT handle_ = SQL_NULL_HSTMT;
};

QString fromSqlWChar(const SQLWCHAR* text, qsizetype length)
{
    return QString::fromUtf16(reinterpret_cast<const char16_t*>(text), length);
}

// The diagnostics of a failed call, their texts joined as Qt joins them; a
// lock conflict when any record is SQL Server's error 1205 or 1222.
EDatabaseError failure(SQLSMALLINT handleType, SQLHANDLE handle, const QString& fallback)
{
    QStringList texts;
    bool lockConflict = false;
    for (SQLSMALLINT record = 1;; ++record) {
        std::array<SQLWCHAR, 6> state{};
        SQLINTEGER native = 0;
        std::vector<SQLWCHAR> message(SQL_MAX_MESSAGE_LENGTH + 1);
        SQLSMALLINT length = 0;
        SQLRETURN r = SQLGetDiagRecW(handleType, handle, record, state.data(), &native, message.data(),
                                     SQLSMALLINT(message.size()), &length);
        if (r == SQL_SUCCESS_WITH_INFO && length >= SQLSMALLINT(message.size())) {
            message.resize(length + 1);
            r = SQLGetDiagRecW(handleType, handle, record, state.data(), &native, message.data(), SQLSMALLINT(message.size()),
                               &length);
        }
        if (!SQL_SUCCEEDED(r))
            break;
        const QString text = fromSqlWChar(message.data(), std::min<qsizetype>(length, qsizetype(message.size()) - 1));
        if (texts.isEmpty() || texts.back() != text)
            texts << text;
        lockConflict = lockConflict || native == 1205 || native == 1222;
    }
    return EDatabaseError(texts.isEmpty() ? fallback : texts.join(u' '), lockConflict);
}

// A parameter's value as SQLBindParameter reads it, alive until the statement has run.
struct BoundValue {
    SQLSMALLINT cType = SQL_C_BINARY;
    SQLSMALLINT sqlType = SQL_VARBINARY;
    SQLULEN columnSize = 0;
    std::array<char, 8> number{};
    QByteArray bytes;
    SQLLEN indicator = 0;
};

bool isAscii(const QString& text)
{
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x80; });
}

template <typename T>
void setNumber(BoundValue& bound, const QVariant& value)
{
    const T number = value.value<T>();
    static_assert(sizeof number <= sizeof bound.number);
    std::memcpy(bound.number.data(), &number, sizeof number);
}

// The C and SQL types, sizes and values Qt's ODBC driver binds each type with.
BoundValue bindingOf(const QVariant& value)
{
    BoundValue bound;
    // Qt binds a null string or byte array as NULL, as Qt 5's variants were null.
    const bool isNull = value.isNull() || (value.typeId() == QMetaType::QByteArray && value.toByteArray().isNull()) ||
                        (value.typeId() == QMetaType::QString && value.toString().isNull());
    bound.indicator = isNull ? SQL_NULL_DATA : 0;
    const auto number = [&](SQLSMALLINT cType, SQLSMALLINT sqlType) {
        bound.cType = cType;
        bound.sqlType = sqlType;
    };
    switch (value.typeId()) {
    case QMetaType::Int:
        number(SQL_C_SLONG, SQL_INTEGER);
        setNumber<qint32>(bound, value);
        break;
    case QMetaType::Short:
        number(SQL_C_SSHORT, SQL_SMALLINT);
        setNumber<qint16>(bound, value);
        break;
    case QMetaType::LongLong:
        number(SQL_C_SBIGINT, SQL_BIGINT);
        setNumber<qint64>(bound, value);
        break;
    case QMetaType::QByteArray:
        bound.bytes = value.toByteArray();
        bound.cType = SQL_C_BINARY;
        bound.sqlType = SQL_LONGVARBINARY;
        bound.columnSize = SQLULEN(bound.bytes.size());
        if (!isNull)
            bound.indicator = bound.bytes.size();
        break;
    case QMetaType::QString:
        // As Qt binds text for FreeTDS; Microsoft's drivers get nvarchar from
        // Qt, which reads the same for the ASCII text carried here.
        bound.bytes = value.toString().toUtf8();
        bound.cType = SQL_C_CHAR;
        bound.sqlType = bound.bytes.size() > 254 ? SQL_LONGVARCHAR : SQL_VARCHAR;
        bound.columnSize = SQLULEN(bound.bytes.size());
        if (!isNull)
            bound.indicator = bound.bytes.size();
        break;
    default:
        break;  // not carried: OdbcDirectBinds refuses it
    }
    return bound;
}

void bind(SQLHSTMT statement, std::deque<BoundValue>& bound, const QVariantList& parameters)
{
    for (int i = 0; i < parameters.size(); ++i) {
        BoundValue& value = bound.emplace_back(bindingOf(parameters[i]));
        const bool variableLength = value.cType == SQL_C_BINARY || value.cType == SQL_C_CHAR;
        SQLPOINTER data = variableLength ? SQLPOINTER(value.bytes.data()) : SQLPOINTER(value.number.data());
        const SQLLEN bufferLength = variableLength ? SQLLEN(value.bytes.size()) : 0;
        const SQLRETURN r = SQLBindParameter(statement, SQLUSMALLINT(i + 1), SQL_PARAM_INPUT, value.cType, value.sqlType,
                                             value.columnSize, 0, data, bufferLength, &value.indicator);
        if (!SQL_SUCCEEDED(r))
            throw failure(SQL_HANDLE_STMT, statement, QStringLiteral("Unable to bind variable"));
    }
}

// A large value read in pieces: SQLGetData says how much remains where it
// knows, so most values take one allocation.
QVariant readVariable(SQLHSTMT statement, SQLUSMALLINT column, SQLSMALLINT cType, QMetaType type)
{
    const qsizetype terminator = cType == SQL_C_WCHAR ? 2 : 0;
    QByteArray bytes(64 * 1024, Qt::Uninitialized);
    qsizetype filled = 0;
    for (;;) {
        SQLLEN indicator = 0;
        const qsizetype room = bytes.size() - filled;
        const SQLRETURN r = SQLGetData(statement, column, cType, bytes.data() + filled, SQLLEN(room), &indicator);
        if (r == SQL_NO_DATA)
            break;
        if (!SQL_SUCCEEDED(r))
            throw failure(SQL_HANDLE_STMT, statement, QStringLiteral("Unable to fetch row"));
        if (indicator == SQL_NULL_DATA)
            return QVariant(type);
        // A warning other than truncation also comes with SQL_SUCCESS_WITH_INFO.
        const qsizetype fits = room - terminator;
        if (indicator != SQL_NO_TOTAL && qsizetype(indicator) <= fits) {
            filled += qsizetype(indicator);
            break;
        }
        // Truncated: the buffer is full but for the terminator of text.
        filled += fits;
        const qsizetype rest = indicator == SQL_NO_TOTAL ? bytes.size() : qsizetype(indicator) - fits;
        bytes.resize(filled + rest + terminator);
    }
    bytes.truncate(filled);
    if (cType == SQL_C_BINARY)
        return bytes;
    return fromSqlWChar(reinterpret_cast<const SQLWCHAR*>(bytes.constData()), filled / 2);
}

QVariant readInteger(SQLHSTMT statement, SQLUSMALLINT column, QMetaType type)
{
    qint64 number = 0;
    SQLLEN indicator = 0;
    if (!SQL_SUCCEEDED(SQLGetData(statement, column, SQL_C_SBIGINT, &number, sizeof number, &indicator)))
        throw failure(SQL_HANDLE_STMT, statement, QStringLiteral("Unable to fetch row"));
    if (indicator == SQL_NULL_DATA)
        return QVariant(type);
    QVariant value(number);
    value.convert(type);
    return value;
}

// The type Qt's ODBC driver gives a column of integers or bytes; text for the rest.
QMetaType typeOf(SQLSMALLINT sqlType, bool isUnsigned)
{
    switch (sqlType) {
    case SQL_SMALLINT:
        return isUnsigned ? QMetaType::fromType<quint16>() : QMetaType::fromType<qint16>();
    case SQL_INTEGER:
    case SQL_BIT:
        return isUnsigned ? QMetaType::fromType<quint32>() : QMetaType::fromType<qint32>();
    case SQL_TINYINT:
        return QMetaType::fromType<quint32>();
    case SQL_BIGINT:
        return isUnsigned ? QMetaType::fromType<quint64>() : QMetaType::fromType<qint64>();
    case SQL_BINARY:
    case SQL_VARBINARY:
    case SQL_LONGVARBINARY:
        return QMetaType::fromType<QByteArray>();
    default:
        return QMetaType::fromType<QString>();
    }
}

Statements::Rows readResult(SQLHSTMT statement, SQLSMALLINT columns)
{
    Statements::Rows rows;
    for (SQLUSMALLINT c = 1; c <= SQLUSMALLINT(columns); ++c) {
        std::array<SQLWCHAR, 256> name{};
        SQLSMALLINT nameLength = 0;
        SQLSMALLINT sqlType = 0;
        SQLULEN size = 0;
        SQLSMALLINT digits = 0;
        SQLSMALLINT nullable = 0;
        if (!SQL_SUCCEEDED(SQLDescribeColW(statement, c, name.data(), SQLSMALLINT(name.size()), &nameLength, &sqlType, &size,
                                           &digits, &nullable)))
            throw failure(SQL_HANDLE_STMT, statement, QStringLiteral("Unable to describe column"));
        SQLLEN isUnsigned = SQL_FALSE;
        SQLColAttributeW(statement, c, SQL_DESC_UNSIGNED, nullptr, 0, nullptr, &isUnsigned);
        const qsizetype length = std::min<qsizetype>(nameLength, qsizetype(name.size()) - 1);
        rows.record.append(QSqlField(fromSqlWChar(name.data(), length), typeOf(sqlType, isUnsigned == SQL_TRUE)));
    }
    for (;;) {
        const SQLRETURN r = SQLFetch(statement);
        if (r == SQL_NO_DATA)
            break;
        if (!SQL_SUCCEEDED(r))
            throw failure(SQL_HANDLE_STMT, statement, QStringLiteral("Unable to fetch row"));
        std::vector<QVariant>& row = rows.values.emplace_back();
        row.reserve(columns);
        for (SQLUSMALLINT c = 1; c <= SQLUSMALLINT(columns); ++c) {
            const QMetaType type = rows.record.field(c - 1).metaType();
            if (type == QMetaType::fromType<QByteArray>())
                row.push_back(readVariable(statement, c, SQL_C_BINARY, type));
            else if (type == QMetaType::fromType<QString>())
                row.push_back(readVariable(statement, c, SQL_C_WCHAR, type));
            else
                row.push_back(readInteger(statement, c, type));
        }
    }
    return rows;
}

} // namespace

bool OdbcDirectBinds(const QVariantList& parameters)
{
    // What SQL Server's keys are read as; a tinyint's UInt Qt would bind as numeric.
    static const std::array carried{QMetaType::Int, QMetaType::Short, QMetaType::LongLong, QMetaType::QByteArray,
                                    QMetaType::QString};
    return std::all_of(parameters.begin(), parameters.end(), [](const QVariant& value) {
        if (std::find(carried.begin(), carried.end(), value.typeId()) == carried.end())
            return false;
        return value.typeId() != QMetaType::QString || isAscii(value.toString());
    });
}

std::vector<Statements::Rows> RunOdbcDirect(void* connection, const QString& statement,
                                            const QVariantList& parameters)
{
    const StatementHandle handle(static_cast<SQLHDBC>(connection));
    if (handle.get() == SQL_NULL_HSTMT)
        throw failure(SQL_HANDLE_DBC, connection, QStringLiteral("Unable to allocate statement handle"));
    std::deque<BoundValue> bound;  // addresses stay put as it grows
    bind(handle.get(), bound, parameters);
    std::u16string text = statement.toStdU16String();
    SQLRETURN r = SQLExecDirectW(handle.get(), reinterpret_cast<SQLWCHAR*>(text.data()), SQLINTEGER(text.size()));
    // No data: the first statement gave neither rows nor a count; others may.
    if (r == SQL_NO_DATA)
        r = SQLMoreResults(handle.get());
    std::vector<Statements::Rows> results;
    while (r != SQL_NO_DATA) {
        if (!SQL_SUCCEEDED(r))
            throw failure(SQL_HANDLE_STMT, handle.get(), QStringLiteral("Unable to execute statement"));
        SQLSMALLINT columns = 0;
        if (!SQL_SUCCEEDED(SQLNumResultCols(handle.get(), &columns)))
            throw failure(SQL_HANDLE_STMT, handle.get(), QStringLiteral("Unable to execute statement"));
        if (columns > 0)
            results.push_back(readResult(handle.get(), columns));
        r = SQLMoreResults(handle.get());
    }
    return results;
}
