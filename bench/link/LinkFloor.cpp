#include "bench/link/LinkFloor.h"

#include "bench/job/DatabaseFloor.h"
#include "bench/job/PeakMemory.h"
#include "data/OdbcDriverProfile.h"

#include <QElapsedTimer>

#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <limits>
#include <thread>
#include <vector>

namespace {

constexpr int kPageRows = 1000;

// Any failure ends the floor: a floor that skipped work would be no floor.
void Require(SQLRETURN done, SQLSMALLINT type, SQLHANDLE handle, const char* what)
{
    if (SQL_SUCCEEDED(done) || done == SQL_NO_DATA)
        return;
    SQLCHAR state[6] = {};
    SQLCHAR text[512] = {};
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    SQLGetDiagRec(type, handle, 1, state, &native, text, sizeof text, &length);
    std::fprintf(stderr, "floor: %s: [%s] %s\n", what, state, text);
    std::exit(1);
}

class Statement {
public:
    Statement(SQLHDBC connection, const QString& text)
    {
        Require(SQLAllocHandle(SQL_HANDLE_STMT, connection, &handle_), SQL_HANDLE_DBC, connection, "statement");
        const std::u16string wide = text.toStdU16String();
        Require(SQLPrepareW(handle_, reinterpret_cast<SQLWCHAR*>(const_cast<char16_t*>(wide.c_str())), SQL_NTS), SQL_HANDLE_STMT,
                handle_, "prepare");
    }
    ~Statement() { SQLFreeHandle(SQL_HANDLE_STMT, handle_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    void bindInt(SQLUSMALLINT number, SQLINTEGER& value)
    {
        check(SQLBindParameter(handle_, number, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &value, 0, nullptr), "bind");
    }
    // As Qt binds a byte array, but once: FreeTDS prepares a statement
    // again (sp_unprepare, one more round trip) whenever a parameter is bound
    // anew. `length` says how much of `buffer` each execution sends.
    void bindBytes(SQLUSMALLINT number, QByteArray& buffer, SQLLEN& length)
    {
        check(SQLBindParameter(handle_, number, SQL_PARAM_INPUT, SQL_C_BINARY, SQL_LONGVARBINARY, SQLULEN(buffer.size()), 0,
                               buffer.data(), buffer.size(), &length),
              "bind");
    }
    void execute() { check(SQLExecute(handle_), "execute"); }
    bool fetch()
    {
        const SQLRETURN r = SQLFetch(handle_);
        check(r, "fetch");
        return r != SQL_NO_DATA;
    }
    qint64 integer(SQLUSMALLINT column)
    {
        SQLBIGINT value = 0;
        SQLLEN indicator = 0;
        check(SQLGetData(handle_, column, SQL_C_SBIGINT, &value, 0, &indicator), "read");
        return indicator == SQL_NULL_DATA ? -1 : qint64(value);
    }
    // The whole value into `into`, whose size it must have.
    void bytes(SQLUSMALLINT column, QByteArray& into)
    {
        SQLLEN indicator = 0;
        check(SQLGetData(handle_, column, SQL_C_BINARY, into.data(), into.size(), &indicator), "read");
        if (indicator != into.size()) {
            std::fprintf(stderr, "floor: read %lld bytes of %lld\n", qlonglong(indicator), qlonglong(into.size()));
            std::exit(1);
        }
    }
    // The next result set; false when there is none.
    bool nextResult()
    {
        const SQLRETURN r = SQLMoreResults(handle_);
        check(r, "results");
        return r != SQL_NO_DATA;
    }
    // Reads every result to its end, so that closing sends no cancel.
    void finish()
    {
        while (nextResult()) {
        }
        SQLFreeStmt(handle_, SQL_CLOSE);
    }
    SQLSMALLINT columns()
    {
        SQLSMALLINT count = 0;
        SQLNumResultCols(handle_, &count);
        return count;
    }

private:
    void check(SQLRETURN r, const char* what) { Require(r, SQL_HANDLE_STMT, handle_, what); }
    SQLHSTMT handle_ = nullptr;
};

class Connection {
public:
    explicit Connection(const QString& connectionString)
    {
        SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &environment_);
        SQLSetEnvAttr(environment_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
        SQLAllocHandle(SQL_HANDLE_DBC, environment_, &handle_);
        const std::u16string wide = connectionString.toStdU16String();
        Require(SQLDriverConnectW(handle_, nullptr, reinterpret_cast<SQLWCHAR*>(const_cast<char16_t*>(wide.c_str())), SQL_NTS,
                                  nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT),
                SQL_HANDLE_DBC, handle_, "connect");
        run(QStringLiteral("SET TEXTSIZE 2147483647"));
        run(QStringLiteral("SET LOCK_TIMEOUT 15000"));
        Require(SQLSetConnectAttr(handle_, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), SQL_IS_UINTEGER),
                SQL_HANDLE_DBC, handle_, "autocommit");
    }
    ~Connection()
    {
        SQLDisconnect(handle_);
        SQLFreeHandle(SQL_HANDLE_DBC, handle_);
        SQLFreeHandle(SQL_HANDLE_ENV, environment_);
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    SQLHDBC handle() const { return handle_; }
    // As a batch of its own: SET options made in a prepared call end with it.
    void run(const QString& text)
    {
        SQLHSTMT statement = nullptr;
        SQLAllocHandle(SQL_HANDLE_STMT, handle_, &statement);
        const std::u16string wide = text.toStdU16String();
        Require(SQLExecDirectW(statement, reinterpret_cast<SQLWCHAR*>(const_cast<char16_t*>(wide.c_str())), SQL_NTS),
                SQL_HANDLE_STMT, statement, "set");
        SQLFreeHandle(SQL_HANDLE_STMT, statement);
    }
    void commit() { Require(SQLEndTran(SQL_HANDLE_DBC, handle_, SQL_COMMIT), SQL_HANDLE_DBC, handle_, "commit"); }

private:
    SQLHENV environment_ = nullptr;
    SQLHDBC handle_ = nullptr;
};

struct PageRow {
    SQLINTEGER id;
    bool bitmap;
};

// One session's share: the rows with ids in (from, to].
void WriteRange(const QString& connectionString, const std::vector<QByteArray>& finished, SQLINTEGER from, SQLINTEGER to)
{
    Connection connection(connectionString);
    const size_t bitmapsPerColumn = finished.size() / 2;
    QElapsedTimer group;
    QByteArray value;
    const auto largest = std::max_element(finished.begin(), finished.end(),
                                          [](const QByteArray& a, const QByteArray& b) { return a.size() < b.size(); });
    QByteArray jpegBuffer(largest == finished.end() ? 0 : largest->size(), '\0');
    int columnIndex = 0;
    for (const QString& column : {QStringLiteral("BAC02"), QStringLiteral("BAC04")}) {
        const QString quoted = QStringLiteral("[%1]").arg(column);
        Statement page(connection.handle(),
                       QStringLiteral("select top (%1) [BCE01], DATALENGTH(%2), CAST(SUBSTRING(%2, 1, 2) AS varbinary(2)), [id] "
                                      "from [BAC1] where (%3 is not null) and [id] > ? and [id] <= ? order by [id]")
                           .arg(kPageRows)
                           .arg(quoted, column));
        Statement read(connection.handle(), QStringLiteral("select top (1) DATALENGTH(%1), %1 from [BAC1] WITH (UPDLOCK, ROWLOCK) "
                                                           "where [id] = ?")
                                                .arg(quoted));
        Statement write(connection.handle(),
                        QStringLiteral("SET NOCOUNT ON; SAVE TRANSACTION bmp2jpg_row; DECLARE @written TABLE (n int); "
                                       "UPDATE TOP (1) [BAC1] SET %1 = CAST(? AS varbinary(max)) OUTPUT 1 INTO @written "
                                       "WHERE [id] = ?; SELECT COUNT(*) AS rows_written FROM @written")
                            .arg(quoted));
        SQLINTEGER after = from;
        SQLINTEGER last = to;
        SQLINTEGER id = 0;
        SQLLEN jpegLength = 0;
        page.bindInt(1, after);
        page.bindInt(2, last);
        read.bindInt(1, id);
        write.bindBytes(1, jpegBuffer, jpegLength);
        write.bindInt(2, id);
        while (true) {
            std::vector<PageRow> rows;
            page.execute();
            while (page.fetch()) {
                QByteArray head(2, '\0');
                page.bytes(3, head);
                rows.push_back({SQLINTEGER(page.integer(4)), head == "BM"});
            }
            page.finish();
            for (const PageRow& row : rows) {
                if (!row.bitmap)
                    continue;
                if (!group.isValid())
                    group.start();
                id = row.id;
                read.execute();
                if (!read.fetch()) {
                    std::fprintf(stderr, "floor: row %d is gone\n", int(id));
                    std::exit(1);
                }
                value.resize(read.integer(1));
                read.bytes(2, value);
                read.finish();
                const QByteArray& jpeg = finished.at(columnIndex * bitmapsPerColumn + size_t(id) - 1);
                std::memcpy(jpegBuffer.data(), jpeg.constData(), size_t(jpeg.size()));
                jpegLength = jpeg.size();
                write.execute();
                bool written = false;
                do {
                    written = written || (write.columns() == 1 && write.fetch() && write.integer(1) == 1);
                } while (write.nextResult());
                write.finish();
                if (!written) {
                    std::fprintf(stderr, "floor: row %d was not written\n", int(id));
                    std::exit(1);
                }
                if (group.elapsed() >= 500) {
                    connection.commit();
                    group.invalidate();
                }
            }
            if (int(rows.size()) < kPageRows)
                break;
            after = rows.back().id;
        }
        ++columnIndex;
    }
    if (group.isValid())
        connection.commit();
}

}  // namespace

int RunLinkFloor(const QString& server, const QString& finishedJpegs, int sessions)
{
    QElapsedTimer timer;
    timer.start();
    const std::vector<QByteArray> finished = ReadFinishedJpegs(finishedJpegs);
    const std::optional<QString> connectionString = OdbcDriverProfile::SqlServer().driverConnectionString(
        {server, QStringLiteral("bench"), QString(), QStringLiteral("pictures")});
    if (!connectionString)
        return 1;
    // The photo table's rows with bitmaps come first; the rest hold JPEGs.
    const SQLINTEGER rows = SQLINTEGER(finished.size() / 2);
    std::vector<std::thread> threads;
    for (int s = 0; s < sessions; ++s) {
        const SQLINTEGER from = rows * s / sessions;
        const SQLINTEGER to = s + 1 == sessions ? std::numeric_limits<SQLINTEGER>::max() : rows * (s + 1) / sessions;
        threads.emplace_back(WriteRange, *connectionString, std::cref(finished), from, to);
    }
    for (std::thread& thread : threads)
        thread.join();
    std::printf("%f %f\n", double(timer.nsecsElapsed()) / 1e9, double(PeakResidentBytes()) / (1 << 20));
    return 0;
}
