// The batch command end to end against a server that answers as SQL Server
// does, through the real FreeTDS driver.
#include "job/BackupManifest.h"
#include "batch/BatchMain.h"
#include "job/CsvLine.h"
#include "job/PassRunner.h"
#include "tests/job/ExpectedValues.h"
#include "tests/job/ChildProcess.h"
#include "tests/tds/CodePage.h"
#include "tests/tds/ScriptedTdsServer.h"
#include "tests/tds/TdsStatementLog.h"
#include "tests/tds/TdsTestSupport.h"
#include "testdata/StoredPictures.h"
#include "data/UDataModule.h"

#include <QDir>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>
#include <set>

#ifndef _WIN32
#include <signal.h>
#endif

#ifdef _WIN32
#include <windows.h>
#endif
#include <sql.h>

namespace {

std::vector<ImageRow> imageRows(const std::vector<Bac1Row>& rows)
{
    std::vector<ImageRow> image;
    for (const Bac1Row& row : rows)
        image.push_back({row.bce01, row.bac02, row.bac04});
    return image;
}

// A table of `rows` bitmaps in each picture column, rows named "row <id>".
ScriptedTable bitmapTable(SqlType type, int rows)
{
    ScriptedTable table{type};
    for (int i = 1; i <= rows; ++i)
        table.addRow({QStringLiteral("row %1").arg(i), stored::Bmp24(48, 32, i), stored::Bmp8(40, 30, 100 + i)});
    return table;
}

// The batch command as its own process, as a scheduler starts it.
ChildOutcome runBatchProcess(quint16 port, const QStringList& extra)
{
    return RunChild(QStringList{QStringLiteral(BMP2JPG_BATCH), QStringLiteral("--server"), QStringLiteral("127.0.0.1,%1").arg(port),
                                QStringLiteral("--user"), QStringLiteral("sa"), QStringLiteral("--database"),
                                QStringLiteral("pictures")} +
                        extra,
                    QStringLiteral("x"));
}

const QRegularExpression setTextSize = WholeStatement(QStringLiteral(R"(SET TEXTSIZE 2147483647)"));
const QRegularExpression beginTransaction = WholeStatement(QStringLiteral(R"(BEGIN TRAN(?:SACTION)?)"));
const QRegularExpression endTransaction = WholeStatement(QStringLiteral(R"((?:IF @@TRANCOUNT\s*>\s*0\s+)?(?:COMMIT|ROLLBACK)(?: TRAN(?:SACTION)?)?)"));
const QRegularExpression anyWrite(QStringLiteral(R"(\b(UPDATE|INSERT|DELETE|MERGE)\b)"), QRegularExpression::CaseInsensitiveOption);

struct SessionCheck {
    QStringList violations;
    int writes = 0;   // row writes seen
    int commits = 0;  // commits and rollbacks seen
};

// Per connection, from the server's log: the program's first statement is
// SET TEXTSIZE 2147483647, and every row write is preceded, in the same
// transaction, by the fetch for update of that row's column, with no commit
// or rollback in between.
SessionCheck checkSessions(const std::vector<LoggedStatement>& log)
{
    SessionCheck check;
    std::map<const LoggedStatement*, RowAccess> accesses;
    for (const RowAccess& a : RowAccesses(log))
        accesses.emplace(a.statement, a);
    std::set<int> connections;
    for (const LoggedStatement& s : log)
        connections.insert(s.connection);
    for (const int connection : connections) {
        bool started = false;
        bool inTransaction = false;
        std::set<std::pair<QString, QStringList>> fetched;  // (column, row key) read for update in the open transaction
        for (const LoggedStatement& s : log) {
            if (s.connection != connection || s.kind == QLatin1String("attention") || s.kind == QLatin1String("sp_unprepare"))
                continue;
            const QString where = QStringLiteral("connection %1, %2: %3").arg(connection).arg(s.kind, s.text.left(120));
            if (!started) {
                if (IsDriverProbe(s))
                    continue;
                started = true;
                if (!setTextSize.match(s.text).hasMatch())
                    check.violations << QStringLiteral("%1: the session's first statement is not SET TEXTSIZE 2147483647").arg(where);
                continue;
            }
            const auto access = accesses.find(&s);
            if (s.error == 1205) {
                // The deadlock's victim: the server has rolled its transaction back.
                inTransaction = false;
                fetched.clear();
            } else if (beginTransaction.match(s.text).hasMatch()) {
                inTransaction = true;
                fetched.clear();
            } else if (endTransaction.match(s.text).hasMatch()) {
                ++check.commits;
                inTransaction = false;
                fetched.clear();
            } else if (access != accesses.end() && !access->second.write) {
                if (!inTransaction)
                    check.violations << QStringLiteral("%1: read for update outside a transaction").arg(where);
                fetched.insert({access->second.column.toUpper(), access->second.key});
            } else if (access != accesses.end()) {
                ++check.writes;
                if (!s.inTransaction || !inTransaction || !fetched.count({access->second.column.toUpper(), access->second.key}))
                    check.violations << QStringLiteral("%1 (key %2): not read for update since the transaction began")
                                            .arg(where, access->second.key.join(u','));
            } else if (anyWrite.match(s.text).hasMatch()) {
                check.violations << QStringLiteral("%1: a write this check does not know").arg(where);
            }
        }
    }
    return check;
}

// The log with a commit and a new transaction put just before the first row
// write: the fault the check is there to catch.
std::vector<LoggedStatement> withCommitBeforeFirstWrite(std::vector<LoggedStatement> log)
{
    const std::vector<RowAccess> accesses = RowAccesses(log);
    const auto firstWrite = std::find_if(accesses.begin(), accesses.end(), [](const RowAccess& a) { return a.write; });
    if (firstWrite == accesses.end())
        return log;
    const auto write = log.begin() + (firstWrite->statement - log.data());
    const int connection = write->connection;
    const auto at = log.insert(write, {connection, QStringLiteral("batch"), QStringLiteral("COMMIT TRANSACTION"), {}, {}});
    log.insert(at + 1, {connection, QStringLiteral("batch"), QStringLiteral("BEGIN TRANSACTION"), {}, {}});
    return log;
}

// Whether a rollback ended a transaction holding row writes (the driver
// rolls back the empty transaction that follows each commit).
bool rollsBackWrites(const std::vector<LoggedStatement>& log)
{
    std::map<int, int> writes;  // per connection, since the last commit
    for (const LoggedStatement& s : log) {
        if (anyWrite.match(s.text).hasMatch())
            ++writes[s.connection];
        else if (endTransaction.match(s.text).hasMatch() && s.text.contains(QLatin1String("commit"), Qt::CaseInsensitive))
            writes[s.connection] = 0;
        else if (endTransaction.match(s.text).hasMatch() && writes[s.connection] > 0)
            return true;
    }
    return false;
}

qlonglong convertedInSummary(const QString& summary)
{
    const QRegularExpressionMatch m = QRegularExpression(QStringLiteral(R"(Converted (\d+) values)")).match(summary);
    return m.hasMatch() ? m.captured(1).toLongLong() : -1;
}

// Values stored as JPEG where the original held a bitmap.
int jpegValues(const std::vector<ImageRow>& original, const std::vector<ImageRow>& finished, const std::vector<ImageRow>& now)
{
    int count = 0;
    for (size_t i = 0; i < now.size() && i < original.size(); ++i) {
        count += finished[i].bac02 != original[i].bac02 && now[i].bac02 == finished[i].bac02;
        count += finished[i].bac04 != original[i].bac04 && now[i].bac04 == finished[i].bac04;
    }
    return count;
}

// Bitmaps, a JPEG and values that are no picture, every row named in
// Chinese; a keyless table also holds a row equal to the first in every
// column.
ScriptedTable mixedTable(SqlType type, TableKey key)
{
    ScriptedTable table(type, key);
    table.serverVersion = SqlServer2019;
    table.addRow({QStringLiteral("照片一"), stored::Bmp24(24, 16, 1), stored::Bmp8(20, 12, 2)});
    table.addRow({QStringLiteral("照片二"), stored::Jpeg(16, 16, 3), QByteArray("text")});
    table.addRow({QStringLiteral("照片三"), QByteArray("BM but no bitmap"), stored::Bmp24(8, 8, 4)});
    if (key == TableKey::None)
        table.addRow(table.rows().front());
    return table;
}

// A batch run against the table and what it left.
struct BatchRun {
    ChildOutcome outcome;
    std::vector<LoggedStatement> log;
    std::vector<ImageRow> original;
    std::vector<ImageRow> now;
    QString context;  // for failure messages
};

BatchRun runOn(const ScriptedTable& table, const QStringList& extra = {})
{
    ScriptedTdsServer server(table);
    BatchRun run{runBatchProcess(server.port(), extra), server.log(), imageRows(table.rows()), imageRows(server.table().rows()), {}};
    run.context = QStringLiteral("exit code %1\nstdout:\n%2\nstderr:\n%3\n%4")
                      .arg(run.outcome.exitCode)
                      .arg(run.outcome.out, run.outcome.err, DumpLog(run.log));
    return run;
}

// Values the finished run must have written.
int changedValues(const std::vector<ImageRow>& original)
{
    const std::vector<ImageRow> finished = FinishedTable(original);
    int count = 0;
    for (size_t i = 0; i < original.size(); ++i)
        count += (original[i].bac02 != finished[i].bac02) + (original[i].bac04 != finished[i].bac04);
    return count;
}

// Errors the server answered, but for the driver's own probe.
QStringList serverErrors(const std::vector<LoggedStatement>& log)
{
    QStringList errors;
    for (const LoggedStatement& s : log) {
        if (s.error && !IsDriverProbe(s))
            errors << QStringLiteral("Msg %1: %2").arg(s.error).arg(s.text.left(200));
    }
    return errors;
}

QByteArray FileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool readsOrWritesPictures(const std::vector<LoggedStatement>& log)
{
    return std::any_of(log.begin(), log.end(), [](const LoggedStatement& s) {
        return s.text.contains(QLatin1String("UPDLOCK"), Qt::CaseInsensitive) || s.text.contains(QLatin1String("select top (1)"), Qt::CaseInsensitive) ||
               anyWrite.match(s.text).hasMatch();
    });
}

constexpr int bitmapRows = 12;

// Keys a table of many rows is read by a page at a time, each with a
// collation that orders it otherwise than byte by byte.
const std::tuple<TableKey, const char*, const char*> pagedKeys[] = {
    {TableKey::IntId, "SQL_Latin1_General_CP1_CI_AS", "id int"},
    {TableKey::Guid, "SQL_Latin1_General_CP1_CI_AS", "id uniqueidentifier"},
    {TableKey::Name, "Chinese_PRC_CI_AS", "BCE01 nvarchar, Chinese"},
    {TableKey::NameAndId, "SQL_Latin1_General_CP1_CS_AS", "BCE01 nvarchar and id int"}};
// Every read for update answered this late makes a pass of 12 rows outlast
// the 0.5 s commit interval, so groups are committed between rows.
constexpr std::chrono::milliseconds slowRead{80};
const QString readForUpdatePattern = QStringLiteral("WITH \\(UPDLOCK");

} // namespace

class SqlServerBatchTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (const char* why = ScriptedTdsServer::unreachableByTheProgram())
            QSKIP(why);
    }

    void everyBitmapConvertedAndNothingElseWritten_data()
    {
        AddPictureColumnTypes();
    }
    void everyBitmapConvertedAndNothingElseWritten()
    {
        QFETCH(int, type);
        const QByteArray bmp24 = stored::Bmp24(200, 150, 1);
        QVERIFY(bmp24.size() > 4096);  // more than SQL Server's default TEXTSIZE
        const QByteArray bmp8 = stored::Bmp8(40, 30, 3);
        const QByteArray jpeg = stored::Jpeg(20, 20, 5);
        const QByteArray text("text");
        ScriptedTable table{SqlType(type)};
        table.addRow({QStringLiteral("24-bit"), bmp24, bmp8});
        table.addRow({QStringLiteral("8-bit"), bmp8, jpeg});
        table.addRow({QStringLiteral("jpeg"), jpeg, text});
        table.addRow({QStringLiteral("text"), text, bmp24});
        table.addRow({QStringLiteral("nulls"), std::nullopt, std::nullopt});
        ScriptedTdsServer server(table);
        const std::vector<ImageRow> original = imageRows(table.rows());

        qputenv("BMP2JPG_PASSWORD", "x");
        const int exitCode = RunBatch({QStringLiteral("--server"), QStringLiteral("127.0.0.1,%1").arg(server.port()),
                                       QStringLiteral("--user"), QStringLiteral("sa"), QStringLiteral("--database"),
                                       QStringLiteral("pictures"), QStringLiteral("--jobs"), QStringLiteral("2")},
                                      OdbcDriverProfile::SqlServer());
        const QString log = server.statements().join(u'\n');
        QVERIFY2(exitCode == 0, qPrintable(QStringLiteral("exit code %1\n%2").arg(exitCode).arg(log)));
        QVERIFY2(imageRows(server.table().rows()) == FinishedTable(original), qPrintable(log));
        // Only the four bitmaps are written back.
        QCOMPARE(log.count(QLatin1String("UPDATE TOP (1)")), 4);
    }

    // A statement closed before its end was read is cancelled: one more
    // round trip to the server for every picture written.
    void writesAreReadToTheirEndAndNothingIsCancelled()
    {
        ScriptedTable table;
        for (int i = 0; i < 3; ++i)
            table.addRow({QStringLiteral("r%1").arg(i), stored::Bmp24(40, 30, quint32(i)), stored::Bmp8(40, 30, quint32(i))});
        const BatchRun run = runOn(table);
        QVERIFY2(run.outcome.exitCode == 0, qPrintable(run.context));
        const auto count = [&](const auto& is) { return std::count_if(run.log.begin(), run.log.end(), is); };
        QCOMPARE(count([](const LoggedStatement& s) { return s.text.contains(QLatin1String("UPDATE TOP (1)")); }), 6);
        QVERIFY2(count([](const LoggedStatement& s) { return s.kind == QLatin1String("attention"); }) == 0, qPrintable(run.context));
    }

    void noCommitBetweenARowsReadAndItsWrite_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("jobs");
        for (const int jobs : {1, 2}) {
            QTest::addRow("varbinary(max), %d jobs", jobs) << int(SqlType::VarBinaryMax) << jobs;
            QTest::addRow("image, %d jobs", jobs) << int(SqlType::Image) << jobs;
        }
    }
    void noCommitBetweenARowsReadAndItsWrite()
    {
        QFETCH(int, type);
        QFETCH(int, jobs);
        const ScriptedTable table = bitmapTable(SqlType(type), bitmapRows);
        ScriptedTdsServer server(table);
        server.delayAnswers(readForUpdatePattern, slowRead);
        const ChildOutcome run = runBatchProcess(server.port(), {QStringLiteral("--jobs"), QString::number(jobs)});
        const std::vector<LoggedStatement> log = server.log();
        QVERIFY2(run.exitCode == 0, qPrintable(QStringLiteral("exit code %1\n%2\n%3").arg(run.exitCode).arg(run.err, DumpLog(log))));
        QVERIFY2(imageRows(server.table().rows()) == FinishedTable(imageRows(table.rows())), qPrintable(DumpLog(log)));

        const SessionCheck check = checkSessions(log);
        QVERIFY2(check.violations.isEmpty(), qPrintable(check.violations.join(u'\n') + u'\n' + DumpLog(log)));
        QCOMPARE(check.writes, 2 * bitmapRows);
        // A group was committed between rows in each pass, or the check proved little.
        QVERIFY2(check.commits >= 4, qPrintable(DumpLog(log)));
        // Transactions are the driver's, never statements sent in autocommit mode.
        for (const LoggedStatement& s : log) {
            const bool transactionControl = beginTransaction.match(s.text).hasMatch() || endTransaction.match(s.text).hasMatch();
            QVERIFY2(!transactionControl || s.kind == QLatin1String("transaction manager"), qPrintable(DumpLog(log)));
        }

        // The check sees the fault it is for.
        QVERIFY(!checkSessions(withCommitBeforeFirstWrite(log)).violations.isEmpty());
        std::vector<LoggedStatement> withoutTextSize = log;
        std::erase_if(withoutTextSize, [](const LoggedStatement& s) { return setTextSize.match(s.text).hasMatch(); });
        QVERIFY(!checkSessions(withoutTextSize).violations.isEmpty());
    }

    // Another client's locks meet the third row's read for update, after
    // pictures were read and converted ahead: SQL Server picks the run as a
    // deadlock's victim (its transaction rolled back) or fails its lock wait
    // (the transaction going on). The group is read again after a pause, or
    // the run stops naming the row; either way nothing is written outside
    // the transaction that read it, and the summary is what is stored.
    void lockConflictsReadTheGroupAgain_data()
    {
        QTest::addColumn<int>("jobs");
        QTest::addColumn<bool>("deadlock");
        QTest::addColumn<int>("times");
        QTest::addColumn<bool>("otherClientWrites");  // the other client changes the row when it lets go
        QTest::addColumn<bool>("atWrite");            // the conflict meets the row's UPDATE instead
        for (const int jobs : {1, 2}) {
            QTest::addRow("deadlock at the write, %d jobs", jobs) << jobs << true << 1 << false << true;
            QTest::addRow("lock timeout at the write, %d jobs", jobs) << jobs << false << 1 << false << true;
            QTest::addRow("deadlock once, %d jobs", jobs) << jobs << true << 1 << false << false;
            QTest::addRow("deadlock every time, %d jobs", jobs) << jobs << true << 100 << false << false;
            QTest::addRow("lock timeout twice, then the other client's write, %d jobs", jobs) << jobs << false << 2 << true << false;
            QTest::addRow("lock held past every timeout, %d jobs", jobs) << jobs << false << 100 << false << false;
        }
    }
    void lockConflictsReadTheGroupAgain()
    {
        QFETCH(int, jobs);
        QFETCH(bool, deadlock);
        QFETCH(int, times);
        QFETCH(bool, otherClientWrites);
        QFETCH(bool, atWrite);
        constexpr int conflictRow = 3;
        ScriptedTable table = bitmapTable(SqlType::VarBinaryMax, bitmapRows);
        std::vector<ImageRow> original = imageRows(table.rows());
        const QByteArray othersBitmap = stored::Bmp24(30, 20, 99);
        table.otherSessionLocks.push_back({conflictRow, times, deadlock, {}, atWrite});
        if (otherClientWrites) {
            const size_t bac02 = size_t(&table.column(QStringLiteral("BAC02")) - table.columns.data());
            table.otherSessionLocks.back().release = [=](ScriptedTable& t) { t.data[conflictRow - 1][bac02] = othersBitmap; };
            original[conflictRow - 1].bac02 = othersBitmap;
        }
        const BatchRun run = runOn(table, {QStringLiteral("--jobs"), QString::number(jobs)});
        const bool givesUp = times >= PassRunner::lockConflictTries;

        QVERIFY2(run.outcome.exitCode == (givesUp ? 1 : 0), qPrintable(run.context));
        const SessionCheck check = checkSessions(run.log);
        QVERIFY2(check.violations.isEmpty(), qPrintable(check.violations.join(u'\n') + u'\n' + run.context));
        const std::vector<ImageRow> finished = FinishedTable(original);
        QVERIFY2(EachValueOriginalOrFinished(original, finished, run.now), qPrintable(run.context));
        const int stored = jpegValues(original, finished, run.now);
        QVERIFY2(convertedInSummary(run.outcome.out) == stored, qPrintable(run.context));
        if (givesUp) {
            QVERIFY2(run.outcome.err.contains(QStringLiteral("row BCE01 \"row %1\", column BAC02").arg(conflictRow)) &&
                         run.outcome.err.contains(deadlock ? QLatin1String("deadlock victim") : QLatin1String("Lock request time out")) &&
                         run.outcome.err.contains(QStringLiteral("given up after %1 tries").arg(PassRunner::lockConflictTries)),
                     qPrintable(run.context));
            QCOMPARE(run.now[conflictRow - 1].bac02, original[conflictRow - 1].bac02);
        } else {
            // A value the other client wrote meanwhile is left as it wrote it;
            // every other one is converted.
            std::vector<ImageRow> expected = finished;
            if (otherClientWrites)
                expected[conflictRow - 1].bac02 = original[conflictRow - 1].bac02;
            QVERIFY2(run.now == expected, qPrintable(run.context));
            QVERIFY2(run.outcome.out.contains(QStringLiteral("Went back after a deadlock or a lock timeout: %1 times.").arg(times)),
                     qPrintable(run.context));
        }
    }

    // Conflicts where the run goes back: while it reads a lost group again,
    // and at the pass's last write, after which the next pass starts afresh.
    void conflictsWhileGoingBack_data()
    {
        QTest::addColumn<int>("row");
        QTest::addColumn<bool>("atWrite");
        QTest::addColumn<int>("after");
        QTest::addColumn<int>("retries");
        QTest::newRow("the row in hand meets a deadlock when read again") << 2 << false << 1 << 2;
        QTest::newRow("the pass's last write meets a deadlock") << bitmapRows << true << 0 << 1;
    }
    void conflictsWhileGoingBack()
    {
        QFETCH(int, row);
        QFETCH(bool, atWrite);
        QFETCH(int, after);
        QFETCH(int, retries);
        ScriptedTable table = bitmapTable(SqlType::VarBinaryMax, bitmapRows);
        table.otherSessionLocks.push_back({3, 1, true});
        table.otherSessionLocks.push_back({row, 1, true, {}, atWrite, after});
        if (atWrite)
            table.otherSessionLocks.erase(table.otherSessionLocks.begin());
        const BatchRun run = runOn(table, {QStringLiteral("--jobs"), QStringLiteral("2")});
        QVERIFY2(run.outcome.exitCode == 0, qPrintable(run.context));
        QVERIFY2(run.now == FinishedTable(run.original), qPrintable(run.context));
        QVERIFY2(run.outcome.out.contains(QStringLiteral("Went back after a deadlock or a lock timeout: %1 times.").arg(retries)),
                 qPrintable(run.context));
        const SessionCheck check = checkSessions(run.log);
        QVERIFY2(check.violations.isEmpty(), qPrintable(check.violations.join(u'\n') + u'\n' + run.context));
    }

    // A table without a key is scanned for each row read for writing: rows
    // the application holds locked are passed, and waited for only when the
    // row read is among them.
    void keylessReadWaitsOnlyForItsOwnRow_data()
    {
        QTest::addColumn<int>("lockedRow");
        QTest::addColumn<int>("times");
        QTest::newRow("a row without bitmaps, held throughout") << 2 << 1000;
        QTest::newRow("the row read, held past two timeouts") << 1 << 2;
    }
    void keylessReadWaitsOnlyForItsOwnRow()
    {
        QFETCH(int, lockedRow);
        QFETCH(int, times);
        ScriptedTable table = mixedTable(SqlType::VarBinaryMax, TableKey::None);
        table.otherSessionLocks.push_back({lockedRow, times, false});
        const BatchRun run = runOn(table);
        QVERIFY2(run.outcome.exitCode == 0, qPrintable(run.context));
        QVERIFY2(run.now == FinishedTable(run.original), qPrintable(run.context));
        const SessionCheck check = checkSessions(run.log);
        QVERIFY2(check.violations.isEmpty(), qPrintable(check.violations.join(u'\n') + u'\n' + run.context));
    }

    void dryRunTakesNoTransactionAndNoLock_data()
    {
        AddPictureColumnTypes();
    }
    void dryRunTakesNoTransactionAndNoLock()
    {
        QFETCH(int, type);
        const ScriptedTable table = bitmapTable(SqlType(type), bitmapRows);
        ScriptedTdsServer server(table);
        const ChildOutcome run = runBatchProcess(server.port(), {QStringLiteral("--dry-run"), QStringLiteral("--jobs"), QStringLiteral("2")});
        const std::vector<LoggedStatement> log = server.log();
        QVERIFY2(run.exitCode == 0, qPrintable(QStringLiteral("exit code %1\n%2\n%3").arg(run.exitCode).arg(run.err, DumpLog(log))));
        QVERIFY2(run.out.contains(QStringLiteral("Would convert %1 values").arg(2 * bitmapRows)), qPrintable(run.out));
        QVERIFY(imageRows(server.table().rows()) == imageRows(table.rows()));
        for (const LoggedStatement& s : log) {
            QVERIFY2(!beginTransaction.match(s.text).hasMatch() && !s.text.contains(QLatin1String("UPDLOCK"), Qt::CaseInsensitive) &&
                         !anyWrite.match(s.text).hasMatch(),
                     qPrintable(DumpLog(log)));
        }
        const SessionCheck check = checkSessions(log);
        QVERIFY2(check.violations.isEmpty(), qPrintable(check.violations.join(u'\n') + u'\n' + DumpLog(log)));
    }

    // A trigger that runs ROLLBACK on one row's write takes the open group
    // with it: what the summary counts is exactly what the server kept.
    void triggerRollbackStopsTheRunAndTheCountIsWhatIsStored_data()
    {
        AddPictureColumnTypes();
    }
    void triggerRollbackStopsTheRunAndTheCountIsWhatIsStored()
    {
        QFETCH(int, type);
        ScriptedTable table = bitmapTable(SqlType(type), bitmapRows);
        // The last row: by then a group has been committed (reads are slow),
        // and the rows written since are rolled back with the failing one.
        const qlonglong failing = bitmapRows;
        table.rollbackTriggerRows.insert(failing);
        ScriptedTdsServer server(table);
        server.delayAnswers(readForUpdatePattern, slowRead);
        const std::vector<ImageRow> original = imageRows(table.rows());
        const std::vector<ImageRow> finished = FinishedTable(original);

        const ChildOutcome run = runBatchProcess(server.port(), {QStringLiteral("--jobs"), QStringLiteral("2")});
        const std::vector<LoggedStatement> log = server.log();
        const QString context = QStringLiteral("exit code %1\nstdout:\n%2\nstderr:\n%3\n%4").arg(run.exitCode).arg(run.out, run.err, DumpLog(log));
        QVERIFY2(run.exitCode == 1, qPrintable(context));
        QVERIFY2(run.err.contains(QStringLiteral("row BCE01 \"row %1\"").arg(failing)), qPrintable(context));
        QVERIFY2(run.err.contains(QLatin1String("BAC02")), qPrintable(context));
        QVERIFY2(run.err.contains(QLatin1String("The transaction ended in the trigger. The batch has been aborted.")), qPrintable(context));
        QVERIFY2(std::any_of(log.begin(), log.end(), [](const LoggedStatement& s) { return s.error == 3609; }), qPrintable(context));

        const std::vector<ImageRow> now = imageRows(server.table().rows());
        QVERIFY2(EachValueOriginalOrFinished(original, finished, now), qPrintable(context));
        const int stored = jpegValues(original, finished, now);
        QVERIFY2(convertedInSummary(run.out) == stored,
                 qPrintable(QStringLiteral("%1 values are JPEG in the table\n%2").arg(stored).arg(context)));
        // Some were committed before the failure and the failing row was not.
        QVERIFY2(stored > 0 && stored < bitmapRows, qPrintable(context));
        QCOMPARE(now[failing - 1].bac02, original[failing - 1].bac02);
    }
    // An AFTER trigger that raises an error without rolling back leaves its
    // row written in the open transaction: the row goes back to what it held,
    // the rows before it stay, and the message names the trigger.
    // With a second session the rows of its range go on being converted
    // until the failure stops it; the summary still counts what is stored.
    void triggerErrorLeavesItsRowAsItWasAndIsNamed_data()
    {
        QTest::addColumn<QString>("sessions");
        QTest::newRow("one session") << QStringLiteral("1");
        QTest::newRow("two sessions") << QStringLiteral("2");
    }
    void triggerErrorLeavesItsRowAsItWasAndIsNamed()
    {
        QFETCH(QString, sessions);
        ScriptedTable table = bitmapTable(SqlType::VarBinaryMax, bitmapRows);
        constexpr int failing = 5;
        table.updateTriggers.push_back({QStringLiteral("trg_BAC1_guard"), false, false, {failing}});
        const BatchRun run = runOn(table, {QStringLiteral("--jobs"), QStringLiteral("2"), QStringLiteral("--sessions"), sessions});
        QVERIFY2(run.outcome.exitCode == 1, qPrintable(run.context));
        QVERIFY2(run.outcome.err.contains(QStringLiteral("row BCE01 \"row %1\", column BAC02").arg(failing)) &&
                     run.outcome.err.contains(QLatin1String("Pictures of this person may not be changed.")) &&
                     run.outcome.err.contains(QLatin1String("\"trg_BAC1_guard\"")),
                 qPrintable(run.context));
        const std::vector<ImageRow> finished = FinishedTable(run.original);
        QVERIFY2(EachValueOriginalOrFinished(run.original, finished, run.now), qPrintable(run.context));
        QCOMPARE(run.now[failing - 1].bac02, run.original[failing - 1].bac02);
        const int stored = jpegValues(run.original, finished, run.now);
        QVERIFY2(convertedInSummary(run.outcome.out) == stored, qPrintable(run.context));
        if (sessions == QLatin1String("1"))
            QVERIFY2(stored == failing - 1, qPrintable(run.context));
    }

    // A value cut short for a reason SET TEXTSIZE does not govern (a driver's
    // or a server's own limit): the run stops at that row, naming it, and
    // the value stays as it was.
    void valueReadCutShortStopsTheRunAtItsRow_data()
    {
        AddPictureColumnTypes();
    }
    void valueReadCutShortStopsTheRunAtItsRow()
    {
        QFETCH(int, type);
        constexpr qint64 limit = 8000;
        ScriptedTable table{SqlType(type)};
        table.addRow({QStringLiteral("small"), stored::Bmp8(20, 10, 1), std::nullopt});
        table.addRow({QStringLiteral("large"), stored::Bmp24(200, 150, 2), std::nullopt});
        table.addRow({QStringLiteral("after"), stored::Bmp8(20, 10, 3), std::nullopt});
        const qint64 large = table.rows()[1].bac02->size();
        QVERIFY(table.rows()[0].bac02->size() < limit && large > limit);
        ScriptedTdsServer server(table);
        server.cutLargeValues(limit);
        const ChildOutcome run = runBatchProcess(server.port(), {});
        const std::vector<LoggedStatement> log = server.log();
        const QString context = QStringLiteral("exit code %1\nstdout:\n%2\nstderr:\n%3\n%4").arg(run.exitCode).arg(run.out, run.err, DumpLog(log));
        QVERIFY2(run.exitCode == 1, qPrintable(context));
        QVERIFY2(run.err.contains(QLatin1String("row BCE01 \"large\"")) && run.err.contains(QLatin1String("BAC02")) &&
                     run.err.contains(QStringLiteral("Read %1 of the %2 bytes stored").arg(limit).arg(large)),
                 qPrintable(context));
        const std::vector<ImageRow> original = imageRows(table.rows());
        const std::vector<ImageRow> now = imageRows(server.table().rows());
        QVERIFY2(EachValueOriginalOrFinished(original, FinishedTable(original), now), qPrintable(context));
        QVERIFY2(now[1].bac02 == original[1].bac02 && now[2].bac02 == original[2].bac02, qPrintable(context));
    }

    // The report holds a group's lines before the run goes on after its
    // commit: a kill at the run's next request leaves them in the file.
    void reportHoldsEachCommittedGroupsLines()
    {
        const ScriptedTable table = bitmapTable(SqlType::VarBinaryMax, bitmapRows);
        ScriptedTdsServer server(table);
        server.delayAnswers(readForUpdatePattern, slowRead);
        const QTemporaryDir scratch;
        const QString report = scratch.filePath(QStringLiteral("report.csv"));
        struct AfterCommit {
            int connection;     // the session that had committed
            size_t logged;      // requests the server had had
            QByteArray report;  // the file as the run had left it
        };
        std::mutex mutex;
        std::vector<AfterCommit> afterCommits;
        std::set<int> committed;  // connections whose last request was a commit
        server.onRequest([&](const LoggedStatement& s) {
            std::lock_guard lock(mutex);
            // Qt's commit ends with the driver's own transaction requests.
            if (s.kind != QLatin1String("transaction manager") && committed.erase(s.connection))
                afterCommits.push_back({s.connection, server.log().size(), FileBytes(report)});
            if (endTransaction.match(s.text).hasMatch())
                committed.insert(s.connection);
        });
        const ChildOutcome run = runBatchProcess(server.port(), {QStringLiteral("--report"), report});
        server.onRequest({});
        const std::vector<LoggedStatement> log = server.log();
        const QString context = QStringLiteral("exit code %1\nstderr:\n%2\n%3").arg(run.exitCode).arg(run.err, DumpLog(log));
        QVERIFY2(run.exitCode == 0, qPrintable(context));

        int groupsChecked = 0;
        for (const AfterCommit& at : afterCommits) {
            // (column, key) written and committed before, by any session and by the one that committed
            using Value = std::pair<QString, QString>;
            std::set<Value> committedByAll;
            std::set<Value> committedByIt;
            std::map<int, std::set<Value>> pending;
            const std::vector<LoggedStatement> before(log.begin(), log.begin() + at.logged);
            std::map<const LoggedStatement*, Value> writes;
            for (const RowAccess& a : RowAccesses(before)) {
                if (a.write)
                    writes[a.statement] = {a.column.toUpper(), QStringLiteral("id=") + a.key.join(u',')};
            }
            for (const LoggedStatement& s : before) {
                if (const auto w = writes.find(&s); w != writes.end())
                    pending[s.connection].insert(w->second);
                if (!endTransaction.match(s.text).hasMatch())
                    continue;
                if (s.text.contains(QLatin1String("COMMIT"), Qt::CaseInsensitive)) {
                    committedByAll.insert(pending[s.connection].begin(), pending[s.connection].end());
                    if (s.connection == at.connection)
                        committedByIt.insert(pending[s.connection].begin(), pending[s.connection].end());
                }
                pending[s.connection].clear();
            }
            std::set<Value> reported;
            for (const QStringList& line : ParseCsv(QString::fromUtf8(at.report))) {
                if (line.size() > 3 && line[3] == QLatin1String("converted"))
                    reported.insert({line[0], line[1]});
            }
            const QString where = QStringLiteral("after request %1:\n%2\n%3").arg(at.logged).arg(QString::fromUtf8(at.report), context);
            // Nothing reported before its commit; all of a committed group once its session goes on.
            QVERIFY2(std::includes(committedByAll.begin(), committedByAll.end(), reported.begin(), reported.end()), qPrintable(where));
            QVERIFY2(std::includes(reported.begin(), reported.end(), committedByIt.begin(), committedByIt.end()), qPrintable(where));
            groupsChecked += !committedByIt.empty();
        }
        // Groups were committed between rows, or the check proved little.
        QVERIFY2(groupsChecked >= 2, qPrintable(context));
    }

    // Each backup file is flushed to disk before the write that replaces its
    // value reaches the server.
    void backupFileOnDiskBeforeItsRowsWrite()
    {
#ifndef SYNC_LOG_LIBRARY
        QSKIP("the flushes are logged by a library preloaded into the batch command: Linux only");
#else
        const ScriptedTable table = bitmapTable(SqlType::VarBinaryMax, 4);
        ScriptedTdsServer server(table);
        const QTemporaryDir scratch;
        const QString backup = scratch.filePath(QStringLiteral("backup"));
        const QString syncs = scratch.filePath(QStringLiteral("syncs.log"));
        struct AtWrite {
            QString column;
            QString key;
            QByteArray syncs;  // the flushes done by then
        };
        std::mutex mutex;
        std::vector<AtWrite> atWrites;
        server.onRequest([&](const LoggedStatement& s) {
            for (const RowAccess& a : RowAccesses({s})) {
                std::lock_guard lock(mutex);
                if (a.write)
                    atWrites.push_back({a.column.toUpper(), QStringLiteral("id=") + a.key.join(u','), FileBytes(syncs)});
            }
        });
        qputenv("LD_PRELOAD", SYNC_LOG_LIBRARY);
        qputenv("SYNC_LOG", syncs.toLocal8Bit());
        const ChildOutcome run = runBatchProcess(server.port(), {QStringLiteral("--backup"), backup});
        qunsetenv("LD_PRELOAD");
        qunsetenv("SYNC_LOG");
        server.onRequest({});
        const QString context = QStringLiteral("exit code %1\nstderr:\n%2\nflushes:\n%3")
                                    .arg(run.exitCode)
                                    .arg(run.err, QString::fromLocal8Bit(FileBytes(syncs)));
        QVERIFY2(run.exitCode == 0, qPrintable(context));
        QCOMPARE(int(atWrites.size()), 8);
        const std::vector<BackupEntry> entries = ReadManifest(backup);
        for (const AtWrite& write : atWrites) {
            const auto entry = std::find_if(entries.begin(), entries.end(), [&](const BackupEntry& e) {
                return e.column == write.column && e.key == write.key;
            });
            QVERIFY2(entry != entries.end(), qPrintable(write.key));
            const QString file = QFileInfo(QDir(backup).filePath(entry->file)).canonicalFilePath();
            const QStringList flushed = QString::fromLocal8Bit(write.syncs).split(u'\n');
            QVERIFY2(flushed.contains(QStringLiteral("fsync ") + file) || flushed.contains(QStringLiteral("fdatasync ") + file),
                     qPrintable(QStringLiteral("%1 not flushed before the write of %2 %3\n%4").arg(file, write.column, write.key, context)));
        }
#endif
    }

    // Every key SQL Server tables commonly have, with the parameters
    // declared as FreeTDS and as Microsoft's drivers declare them.
    void everyBitmapConvertedWhateverTheKey_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("key");
        QTest::addColumn<bool>("microsoft");
        const std::pair<SqlType, const char*> types[] = {{SqlType::VarBinaryMax, "varbinary(max)"}, {SqlType::Image, "image"}};
        const std::pair<TableKey, const char*> keys[] = {{TableKey::IntId, "id int"},
                                                         {TableKey::NumericIdentity, "id numeric(18,0) identity"},
                                                         {TableKey::Guid, "id uniqueidentifier"},
                                                         {TableKey::Name, "BCE01 nvarchar"},
                                                         {TableKey::None, "no key"}};
        for (const auto& [type, typeName] : types) {
            for (const auto& [key, keyName] : keys) {
                for (const bool microsoft : {false, true})
                    QTest::addRow("%s, %s, %s", typeName, keyName, microsoft ? "Microsoft driver" : "FreeTDS")
                        << int(type) << int(key) << microsoft;
            }
        }
    }
    void everyBitmapConvertedWhateverTheKey()
    {
        QFETCH(int, type);
        QFETCH(int, key);
        QFETCH(bool, microsoft);
        ScriptedTable table = mixedTable(SqlType(type), TableKey(key));
        table.microsoftParameterTypes = microsoft;
        const BatchRun run = runOn(table);
        QVERIFY2(run.outcome.exitCode == 0, qPrintable(run.context));
        QVERIFY2(run.now == FinishedTable(run.original), qPrintable(run.context));
        QVERIFY2(serverErrors(run.log).isEmpty(), qPrintable(serverErrors(run.log).join(u'\n') + u'\n' + run.context));

        const std::vector<RowAccess> accesses = RowAccesses(run.log);
        const QRegularExpression condition = WholeStatement(ExpectedRowCondition(TableKey(key)));
        int writes = 0;
        for (const RowAccess& a : accesses) {
            QVERIFY2(condition.match(a.condition).hasMatch(), qPrintable(a.condition + u'\n' + run.context));
            QCOMPARE(a.table, QStringLiteral("[BAC1]"));
            // One request each: a statement prepared would cost two.
            QCOMPARE(a.statement->kind, QStringLiteral("sp_executesql"));
            if (!a.write)
                continue;
            ++writes;
            // The new value as the driver declared it: image from Microsoft's drivers.
            const QString declared = microsoft ? QStringLiteral("@P1 image") : QStringLiteral("@P1 varbinary(max)");
            QVERIFY2(a.statement->declaration.startsWith(declared, Qt::CaseInsensitive), qPrintable(a.statement->declaration));
        }
        QCOMPARE(writes, changedValues(run.original));
        const SessionCheck check = checkSessions(run.log);
        QVERIFY2(check.violations.isEmpty(), qPrintable(check.violations.join(u'\n') + u'\n' + run.context));
    }

    // A table of several pages: every row is read once in the server's order
    // of the key, so each bitmap is converted and each other value counted
    // once, with one job and with two.
    void tableOfManyPagesConvertedRowByRow_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("collation");
        QTest::addColumn<QString>("jobs");
        QTest::addColumn<int>("heldRow");  // another client writes it from the count on, past two lock timeouts; 0 for none
        QTest::newRow("id int, a row of the second page held, --jobs 2") << int(TableKey::IntId)
                                                                          << QStringLiteral("SQL_Latin1_General_CP1_CI_AS")
                                                                          << QStringLiteral("2") << 1500;
        for (const auto& [key, collation, name] : pagedKeys) {
            for (const char* jobs : {"1", "2"})
                QTest::addRow("%s, --jobs %s", name, jobs) << int(key) << QString::fromLatin1(collation) << QString::fromLatin1(jobs) << 0;
        }
    }
    void tableOfManyPagesConvertedRowByRow()
    {
        QFETCH(int, key);
        QFETCH(QString, collation);
        QFETCH(QString, jobs);
        QFETCH(int, heldRow);
        ScriptedTable table(SqlType::VarBinaryMax, TableKey(key));
        table.collation = collation;
        if (heldRow)
            table.otherSessionLocks.push_back({heldRow, 2, false, {}, false, 1, true});
        const QStringList first{QStringLiteral("张"), QStringLiteral("阿"), QStringLiteral("b"), QStringLiteral("A"),
                                QStringLiteral("中"), QStringLiteral("a")};
        const int rows = 2345, everyBitmap = 97;
        for (int i = 0; i < rows; ++i) {
            const QString name = first[i % first.size()] + (TableKey(key) == TableKey::NameAndId ? QString() : QString::number(i));
            table.addRow({name, i % everyBitmap ? stored::Jpeg(8, 8, i) : stored::Bmp24(16, 8, i), std::nullopt});
        }
        const BatchRun run = runOn(table, {QStringLiteral("--jobs"), jobs});
        QVERIFY2(run.outcome.exitCode == 0, qPrintable(run.context.left(20000)));
        QVERIFY2(run.now == FinishedTable(run.original), qPrintable(run.context.left(20000)));
        const int bitmaps = (rows + everyBitmap - 1) / everyBitmap;
        QCOMPARE(convertedInSummary(run.outcome.out), qlonglong(bitmaps));
        const QRegularExpressionMatch jpeg = QRegularExpression(QStringLiteral(R"(BAC02\s+already JPEG\s+(\d+))")).match(run.outcome.out);
        QVERIFY2(jpeg.hasMatch() && jpeg.captured(1).toInt() == rows - bitmaps, qPrintable(run.outcome.out));
        QVERIFY2(std::count_if(run.log.begin(), run.log.end(), [](const LoggedStatement& s) { return s.text.startsWith(QLatin1String("select top (1000)")); }) > 2,
                 qPrintable(run.context.left(20000)));
        if (heldRow)
            QVERIFY2(run.outcome.out.contains(QLatin1String("Went back after a deadlock or a lock timeout: 2 times.")), qPrintable(run.outcome.out));
    }

    // Sessions each take a range of the key: every row is read and written
    // by one of them only, each in transactions of its own, and the summary
    // counts what is stored, whatever the key. A table without a key to
    // take ranges of is one session's.
    void sessionsTakeDisjointRangesOfTheKey_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("collation");
        QTest::addColumn<int>("sessions");
        QTest::addColumn<int>("expected");  // connections that write
        for (const auto& [key, collation, name] : pagedKeys) {
            for (const int sessions : {2, 3})
                QTest::addRow("%s, %d sessions", name, sessions) << int(key) << QString::fromLatin1(collation) << sessions << sessions;
        }
        QTest::newRow("no key, 2 sessions") << int(TableKey::None) << QStringLiteral("SQL_Latin1_General_CP1_CI_AS") << 2 << 1;
    }
    void sessionsTakeDisjointRangesOfTheKey()
    {
        QFETCH(int, key);
        QFETCH(QString, collation);
        QFETCH(int, sessions);
        QFETCH(int, expected);
        ScriptedTable table(SqlType::VarBinaryMax, TableKey(key));
        table.collation = collation;
        table.serverVersion = SqlServer2019;
        const QStringList first{QStringLiteral("张"), QStringLiteral("阿"), QStringLiteral("b"), QStringLiteral("A"),
                                QStringLiteral("中"), QStringLiteral("a")};
        const int rows = 1500, everyBitmap = 29;
        for (int i = 0; i < rows; ++i) {
            const QString name = first[i % first.size()] + (TableKey(key) == TableKey::NameAndId ? QString() : QString::number(i));
            table.addRow({name, i % everyBitmap ? stored::Jpeg(8, 8, i) : stored::Bmp24(16, 8, i),
                          i % everyBitmap == 3 ? std::optional(stored::Bmp8(8, 8, i)) : std::nullopt});
        }
        const BatchRun run = runOn(table, {QStringLiteral("--jobs"), QStringLiteral("3"), QStringLiteral("--sessions"),
                                           QString::number(sessions)});
        QVERIFY2(run.outcome.exitCode == 0, qPrintable(run.context.left(20000)));
        QVERIFY2(run.now == FinishedTable(run.original), qPrintable(run.context.left(20000)));
        QCOMPARE(convertedInSummary(run.outcome.out), qlonglong(changedValues(run.original)));
        // Each row visited once: a row at a range's bound counted twice would show here.
        const QRegularExpressionMatch jpeg = QRegularExpression(QStringLiteral(R"(BAC02\s+already JPEG\s+(\d+))")).match(run.outcome.out);
        QVERIFY2(jpeg.hasMatch() && jpeg.captured(1).toInt() == rows - (rows + everyBitmap - 1) / everyBitmap, qPrintable(run.outcome.out));

        std::map<std::pair<QString, QStringList>, std::set<int>> readBy;  // (column, key): connections that read it whole
        std::map<std::pair<QString, QStringList>, int> writes;
        std::set<int> writers;
        for (const RowAccess& a : RowAccesses(run.log)) {
            const auto value = std::pair(a.column.toUpper(), a.key);
            if (a.write) {
                ++writes[value];
                writers.insert(a.statement->connection);
            } else {
                readBy[value].insert(a.statement->connection);
            }
        }
        for (const auto& [value, connections] : readBy)
            QVERIFY2(connections.size() == 1, qPrintable(value.first + u' ' + value.second.join(u',') + u'\n' + run.context.left(20000)));
        for (const auto& [value, times] : writes)
            QVERIFY2(times == 1, qPrintable(value.first + u' ' + value.second.join(u',')));
        QCOMPARE(int(writes.size()), changedValues(run.original));
        QCOMPARE(int(writers.size()), expected);
        const SessionCheck check = checkSessions(run.log);
        QVERIFY2(check.violations.isEmpty(), qPrintable(check.violations.join(u'\n')));
    }

    // A stop request reaches every session: each writes the rows in hand and
    // stops, and the summary counts what is stored.
    void stopRequestEndsEverySession()
    {
#ifdef Q_OS_WIN
        QSKIP("Ctrl-C is sent as a POSIX signal here");
#else
        ScriptedTable table(SqlType::VarBinaryMax, TableKey::IntId);
        table.serverVersion = SqlServer2019;
        for (int i = 0; i < 400; ++i)
            table.addRow({QStringLiteral("r%1").arg(i), stored::Bmp24(16, 8, i), std::nullopt});
        ScriptedTdsServer server(table);
        QProcess batch;
        std::mutex mutex;
        int writes = 0;
        bool sent = false;
        std::set<int> writing;  // connections that have written
        std::atomic<qint64> pid{0};
        // Once both sessions are writing, however slowly one of them started.
        server.onRequest([&](const LoggedStatement& s) {
            const std::lock_guard lock(mutex);
            if (!s.text.contains(QLatin1String("UPDATE TOP (1)")))
                return;
            writing.insert(s.connection);
            if (++writes >= 20 && writing.size() == 2 && !sent) {
                sent = true;
                ::kill(pid_t(pid.load()), SIGINT);
            }
        });
        StartChild(batch,
                   QStringList{QStringLiteral(BMP2JPG_BATCH), QStringLiteral("--server"), QStringLiteral("127.0.0.1,%1").arg(server.port()),
                               QStringLiteral("--user"), QStringLiteral("sa"), QStringLiteral("--database"), QStringLiteral("pictures"),
                               QStringLiteral("--jobs"), QStringLiteral("2"), QStringLiteral("--sessions"), QStringLiteral("2")},
                   QStringLiteral("x"));
        pid = batch.processId();
        const ChildOutcome outcome = FinishChild(batch);
        const std::vector<LoggedStatement> log = server.log();
        const QString context = outcome.out + outcome.err + DumpLog(log).left(20000);
        QVERIFY2(outcome.exitCode == 130 && outcome.out.contains(QLatin1String("Stopped by the user")), qPrintable(context));
        const std::vector<ImageRow> original = imageRows(table.rows());
        const std::vector<ImageRow> now = imageRows(server.table().rows());
        const std::vector<ImageRow> finished = FinishedTable(original);
        QVERIFY2(EachValueOriginalOrFinished(original, finished, now), qPrintable(context));
        const int stored = jpegValues(original, finished, now);
        QVERIFY2(convertedInSummary(outcome.out) == stored && stored < 400, qPrintable(context));
        std::set<int> writers;
        for (const RowAccess& a : RowAccesses(log)) {
            if (a.write)
                writers.insert(a.statement->connection);
        }
        QCOMPARE(writers.size(), size_t(2));
#endif
    }

    // Before SQL Server 2016 a keyless table's rows cannot be told apart by
    // digests of their pictures.
    void keylessTableRefusedBeforeSql2016_data()
    {
        QTest::addColumn<QString>("version");
        QTest::newRow("2014") << SqlServer2014;
        QTest::newRow("2008 R2") << SqlServer2008R2;
    }
    void keylessTableRefusedBeforeSql2016()
    {
        QFETCH(QString, version);
        ScriptedTable table = mixedTable(SqlType::VarBinaryMax, TableKey::None);
        table.serverVersion = version;
        const BatchRun run = runOn(table);
        QVERIFY2(run.outcome.exitCode == 1, qPrintable(run.context));
        QVERIFY2(run.outcome.err.contains(QLatin1String("primary key")), qPrintable(run.context));
        QVERIFY2(!readsOrWritesPictures(run.log), qPrintable(run.context));
        QVERIFY(run.now == run.original);
    }

    // SQL Server 2008 R2 answers the login with TDS 7.3 whatever the client
    // offered: FreeTDS takes 7.3, reads every value whole and the run
    // converts every bitmap.
    void sqlServer2008R2ConvertsOverTds73_data()
    {
        AddPictureColumnTypes();
    }
    void sqlServer2008R2ConvertsOverTds73()
    {
        QFETCH(int, type);
        ScriptedTable table{SqlType(type), TableKey::IntId};
        table.serverVersion = SqlServer2008R2;
        const QByteArray large = stored::Bmp24(200, 150, 1);
        const QByteArray small = stored::Bmp24(40, 40, 2);
        const QByteArray other = RandomBytes(70 * 1024, TestSeed());
        QVERIFY(large.size() > 64 * 1024 && small.size() > 4096 && small.size() < 64 * 1024);
        table.addRow({QStringLiteral("large"), large, small});
        table.addRow({QStringLiteral("other"), other, large});
        {
            ScriptedTdsServer server(table);
            TDataModule1 module;
            const QStringList before = QSqlDatabase::connectionNames();
            module.DataSource = QStringLiteral("127.0.0.1,%1").arg(server.port());
            module.UserID = QStringLiteral("sa");
            module.Password = QStringLiteral("x");
            module.InitialCatalog = QStringLiteral("pictures");
            module.ConnectOrThrow();
            QStringList added = QSqlDatabase::connectionNames();
            added.removeIf([&](const QString& name) { return before.contains(name); });
            QCOMPARE(added.size(), 1);
            // FreeTDS's SQL_INFO_FREETDS_TDS_VERSION: major << 16 | minor.
            const QVariant handle = QSqlDatabase::database(added[0], false).driver()->handle();
            SQLUINTEGER version = 0;
            QVERIFY(SQL_SUCCEEDED(SQLGetInfo(*static_cast<const SQLHDBC*>(handle.data()), 1300, &version, sizeof version, nullptr)));
            QCOMPARE(version, SQLUINTEGER(7 << 16 | 3));
            module.OpenQuery(QStringLiteral("select BCE01,BAC02,BAC04 from BAC1"));
            std::vector<Bac1Row> read;
            for (; !module.qry1.Eof(); module.qry1.Next())
                read.push_back({module.qry1.FieldByName(QStringLiteral("BCE01")).AsString(),
                                module.qry1.FieldByName(QStringLiteral("BAC02")).AsBytes(),
                                module.qry1.FieldByName(QStringLiteral("BAC04")).AsBytes()});
            QVERIFY(read == table.rows());
        }
        const BatchRun run = runOn(table);
        QVERIFY2(run.outcome.exitCode == 0, qPrintable(run.context));
        QVERIFY2(run.now == FinishedTable(run.original), qPrintable(run.context));
        QCOMPARE(changedValues(run.original), 3);
    }

    // Rows of a keyless table are found by what an index can find; pictures
    // are digested only on the rows found.
    void keylessRowsNarrowedBeforeDigesting()
    {
        const BatchRun run = runOn(mixedTable(SqlType::Image, TableKey::None));
        QVERIFY2(run.outcome.exitCode == 0, qPrintable(run.context));
        QVERIFY2(run.now == FinishedTable(run.original), qPrintable(run.context));
        const std::vector<RowAccess> accesses = RowAccesses(run.log);
        QVERIFY2(!accesses.empty(), qPrintable(run.context));
        const QString inner = QStringLiteral(" then case when ");
        for (const RowAccess& a : accesses) {
            const qsizetype caseAt = a.condition.indexOf(QLatin1String(" and case when "), 0, Qt::CaseInsensitive);
            QVERIFY2(caseAt > 0, qPrintable(a.condition));
            const QString narrow = a.condition.left(caseAt);
            QVERIFY2(!narrow.contains(QLatin1String("HASHBYTES"), Qt::CaseInsensitive) && narrow.contains(QLatin1String("[BCE01]")),
                     qPrintable(a.condition));
            QVERIFY2(a.condition.indexOf(QLatin1String("HASHBYTES"), 0, Qt::CaseInsensitive) >
                         a.condition.indexOf(inner, 0, Qt::CaseInsensitive),
                     qPrintable(a.condition));
            // The narrowing terms are repeated inside the CASE with the same values.
            const qsizetype narrowValues = narrow.count(QLatin1Char('@'));
            QCOMPARE(a.key.mid(0, narrowValues), a.key.mid(narrowValues, narrowValues));
        }
    }

    void triggerReturningRowsDoesNotStopTheRun_data()
    {
        AddPictureColumnTypes();
    }
    void triggerReturningRowsDoesNotStopTheRun()
    {
        QFETCH(int, type);
        ScriptedTable table = mixedTable(SqlType(type), TableKey::IntId);
        table.auditTrigger = true;
        const BatchRun run = runOn(table);
        QVERIFY2(run.outcome.exitCode == 0, qPrintable(run.context));
        QVERIFY2(run.now == FinishedTable(run.original), qPrintable(run.context));
        QVERIFY2(serverErrors(run.log).isEmpty(), qPrintable(run.context));
        QVERIFY2(!rollsBackWrites(run.log), qPrintable(run.context));
    }

    // OUTPUT counts a row an INSTEAD OF UPDATE trigger may have left as it was.
    void insteadOfUpdateTriggerRefusedBeforeAnyRead_data()
    {
        QTest::addColumn<bool>("insteadOf");
        QTest::addColumn<bool>("disabled");
        QTest::addColumn<bool>("refused");
        QTest::newRow("instead of") << true << false << true;
        QTest::newRow("instead of, disabled") << true << true << false;
        QTest::newRow("after") << false << false << false;
    }
    void insteadOfUpdateTriggerRefusedBeforeAnyRead()
    {
        QFETCH(bool, insteadOf);
        QFETCH(bool, disabled);
        QFETCH(bool, refused);
        ScriptedTable table = mixedTable(SqlType::VarBinaryMax, TableKey::IntId);
        table.updateTriggers.push_back({QStringLiteral("trg_keep_bac1"), insteadOf, disabled});
        const BatchRun run = runOn(table);
        if (!refused) {
            QVERIFY2(run.outcome.exitCode == 0, qPrintable(run.context));
            QVERIFY2(run.now == FinishedTable(run.original), qPrintable(run.context));
            return;
        }
        QVERIFY2(run.outcome.exitCode == 1, qPrintable(run.context));
        QVERIFY2(run.outcome.err.contains(QLatin1String("\"trg_keep_bac1\"")), qPrintable(run.context));
        QVERIFY2(run.outcome.out.contains(QLatin1String("Converted 0 values")), qPrintable(run.context.right(1000)));
        QVERIFY2(!readsOrWritesPictures(run.log), qPrintable(run.context));
        QVERIFY(run.now == run.original);
    }

    // BAC1 as a view or a synonym: pictures are written to a table of this
    // database only, named as it is.
    void bac1ReachedThroughOtherObjects_data()
    {
        QTest::addColumn<QString>("view");      // empty: BAC1 is a synonym
        QTest::addColumn<QString>("synonymOf");
        QTest::addColumn<QString>("refusal");   // empty: converted
        QTest::addColumn<QString>("databaseCollation");
        QTest::addColumn<bool>("microsoft");
        const QString latin = QStringLiteral("SQL_Latin1_General_CP1_CI_AS");
        const QString chinese = QStringLiteral("Chinese_PRC_CI_AS");
        const QString photos = QStringLiteral("[dbo].[照片]");
        QTest::newRow("view") << QStringLiteral("view") << QString() << QStringLiteral("view") << latin << false;
        QTest::newRow("synonym") << QString() << QStringLiteral("[dbo].[BAC1_data]") << QString() << latin << false;
        QTest::newRow("synonym into another database") << QString() << QStringLiteral("[archive].[dbo].[BAC1]")
                                                       << QStringLiteral("another database") << latin << false;
        // A Chinese name also where the database's code page cannot hold it.
        QTest::newRow("synonym of a Chinese name") << QString() << photos << QString() << chinese << false;
        QTest::newRow("synonym of a Chinese name, Latin database") << QString() << photos << QString() << latin << false;
        QTest::newRow("synonym of a Chinese name, Latin database, Microsoft driver") << QString() << photos << QString() << latin << true;
    }
    void bac1ReachedThroughOtherObjects()
    {
        QFETCH(QString, view);
        QFETCH(QString, synonymOf);
        QFETCH(QString, refusal);
        QFETCH(QString, databaseCollation);
        QFETCH(bool, microsoft);
        ScriptedTable table = mixedTable(SqlType::VarBinaryMax, TableKey::IntId);
        table.databaseCollation = databaseCollation;
        table.microsoftParameterTypes = microsoft;
        table.databases << QStringLiteral("archive");
        if (view.isEmpty())
            table.reachThroughSynonym(synonymOf);
        else
            table.reachThroughView();
        const BatchRun run = runOn(table);
        if (!refusal.isEmpty()) {
            QVERIFY2(run.outcome.exitCode == 1, qPrintable(run.context));
            QVERIFY2(run.outcome.err.contains(refusal, Qt::CaseInsensitive) && run.outcome.err.contains(QLatin1String("BAC1")),
                     qPrintable(run.context));
            QVERIFY2(!readsOrWritesPictures(run.log), qPrintable(run.context));
            QVERIFY(run.now == run.original);
            return;
        }
        QVERIFY2(run.outcome.exitCode == 0, qPrintable(run.context));
        QVERIFY2(run.now == FinishedTable(run.original), qPrintable(run.context));
        const std::vector<RowAccess> accesses = RowAccesses(run.log);
        QVERIFY2(!accesses.empty(), qPrintable(run.context));
        for (const RowAccess& a : accesses)
            QCOMPARE(a.table, synonymOf);
    }

    // Only image and varbinary(max) hold any picture whole.
    void pictureColumnOfAnotherTypeRefused_data()
    {
        QTest::addColumn<SqlColumn>("column");
        QTest::addColumn<QString>("declared");
        QTest::newRow("binary(50)") << SqlColumn{QStringLiteral("BAC02"), SqlType::Binary, 50} << QStringLiteral("binary(50)");
        QTest::newRow("varbinary(100)") << SqlColumn{QStringLiteral("BAC02"), SqlType::VarBinary, 100} << QStringLiteral("varbinary(100)");
        QTest::newRow("text") << SqlColumn{QStringLiteral("BAC02"), SqlType::Text} << QStringLiteral("text");
    }
    void pictureColumnOfAnotherTypeRefused()
    {
        QFETCH(SqlColumn, column);
        QFETCH(QString, declared);
        ScriptedTable table(SqlType::Image);
        table.column(QStringLiteral("BAC02")) = column;
        table.addRow({QStringLiteral("small"), stored::Bmp24(2, 2, 1).left(40), stored::Bmp24(8, 8, 2)});
        table.addRow({QStringLiteral("medium"), stored::Bmp24(4, 2, 3).left(40), stored::Bmp24(8, 8, 4)});
        const BatchRun run = runOn(table);
        QVERIFY2(run.outcome.exitCode == 1, qPrintable(run.context));
        QVERIFY2(run.outcome.err.contains(QLatin1String("BAC02")) && run.outcome.err.contains(declared), qPrintable(run.context));
        QVERIFY2(std::none_of(run.log.begin(), run.log.end(), [](const LoggedStatement& s) { return anyWrite.match(s.text).hasMatch(); }),
                 qPrintable(run.context));
        QVERIFY(run.now == run.original);
    }

    // Text keys find their row whatever their collation and the database's:
    // narrow ones in their column's code page (936 or 1252, the database's
    // or another), wide ones holding what code page 936 cannot. A narrow key
    // of the database's code page travels as its bytes there, as reports and
    // backups of earlier versions name its row; other keys as UTF-16.
    void textKeysConvertedEachInItsRow_data()
    {
        QTest::addColumn<int>("nameType");
        QTest::addColumn<QString>("collation");
        QTest::addColumn<QString>("databaseCollation");
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<bool>("microsoft");
        QTest::addColumn<int>("keyCodePage");  // 0: UTF-16
        const QString chinese = QStringLiteral("Chinese_PRC_CI_AS");
        const QString latin = QStringLiteral("SQL_Latin1_General_CP1_CI_AS");
        const QStringList latinNames{QStringLiteral("café"), QStringLiteral("Ærø"), QStringLiteral("naïve")};
        // Full-width Ａ is in code page 936 too.
        const QStringList people{QStringLiteral("张伟"), QStringLiteral("王芳"), QStringLiteral("李娜"), QStringLiteral("刘洋Ａ")};
        const struct {
            const char* name;
            SqlType type;
            QString collation;
            QString database;
            QStringList names;
            int keyCodePage;
        } cases[] = {
            {"varchar, Chinese database", SqlType::VarChar, chinese, chinese, people, 936},
            {"varchar Latin1 in a Chinese database", SqlType::VarChar, QStringLiteral("Latin1_General_CI_AS"), chinese, latinNames, 0},
            {"varchar Chinese in a Latin database", SqlType::VarChar, chinese, latin, people, 0},
            {"varchar case-sensitive in a case-insensitive database", SqlType::VarChar, QStringLiteral("Chinese_PRC_CS_AS"), chinese,
             {QStringLiteral("张伟a"), QStringLiteral("张伟A"), QStringLiteral("王芳")}, 936},
            {"varchar Latin1 in a SQL_Latin1 database", SqlType::VarChar, QStringLiteral("Latin1_General_CS_AS"), latin, latinNames, 1252},
            {"nvarchar beyond code page 936", SqlType::NVarChar, chinese, chinese,
             {QStringLiteral("한국"), QStringLiteral("😀"), QStringLiteral("𠮷"), QStringLiteral("张伟")}, 0}};
        for (const auto& c : cases) {
            for (const bool microsoft : {false, true})
                QTest::addRow("%s, %s", c.name, microsoft ? "Microsoft driver" : "FreeTDS")
                    << int(c.type) << c.collation << c.database << c.names << microsoft << c.keyCodePage;
        }
    }
    void textKeysConvertedEachInItsRow()
    {
        QFETCH(int, nameType);
        QFETCH(QString, collation);
        QFETCH(QString, databaseCollation);
        QFETCH(QStringList, names);
        QFETCH(bool, microsoft);
        QFETCH(int, keyCodePage);
        ScriptedTable table(SqlType::VarBinaryMax, TableKey::Name, SqlType(nameType));
        table.collation = collation;
        table.databaseCollation = databaseCollation;
        table.microsoftParameterTypes = microsoft;
        for (int i = 0; i < names.size(); ++i) {
            table.addRow({names[i], stored::Bmp24(24, 16, 2 * i + 1), stored::Bmp8(20, 12, 2 * i + 2)});
            QCOMPARE(table.rows().back().bce01, std::optional(names[i]));  // the column's code page holds it
        }
        const BatchRun run = runOn(table);
        QVERIFY2(run.outcome.exitCode == 0, qPrintable(run.context));
        QVERIFY2(run.now == FinishedTable(run.original), qPrintable(run.context));
        QVERIFY2(serverErrors(run.log).isEmpty(), qPrintable(serverErrors(run.log).join(u'\n') + u'\n' + run.context));
        std::set<QStringList> written, expected;
        for (const RowAccess& a : RowAccesses(run.log)) {
            if (a.write)
                written.insert(a.key);
        }
        for (const QString& name : names) {
            const QByteArray utf16(reinterpret_cast<const char*>(name.utf16()), name.size() * 2);
            expected.insert({QString::fromLatin1((keyCodePage ? CodePageBytes(name, keyCodePage) : utf16).toHex())});
        }
        QCOMPARE(written, expected);
    }

    // Keys equal but for case are different rows under a case-sensitive collation.
    void keysDifferingInCaseConvertedEachInItsRow()
    {
        ScriptedTable table(SqlType::VarBinaryMax, TableKey::Name);
        table.collation = QStringLiteral("SQL_Latin1_General_CP1_CS_AS");
        table.addRow({QStringLiteral("a"), stored::Bmp24(24, 16, 1), stored::Bmp8(20, 12, 2)});
        table.addRow({QStringLiteral("A"), stored::Bmp24(24, 16, 3), stored::Bmp8(20, 12, 4)});
        const BatchRun run = runOn(table);
        QVERIFY2(run.outcome.exitCode == 0, qPrintable(run.context));
        QVERIFY2(run.now == FinishedTable(run.original), qPrintable(run.context));
        std::set<QStringList> written;
        for (const RowAccess& a : RowAccesses(run.log)) {
            if (a.write)
                written.insert(a.key);
        }
        QCOMPARE(written.size(), size_t(2));
    }

};

QTEST_GUILESS_MAIN(SqlServerBatchTest)
#include "tst_sql_server_batch.moc"
