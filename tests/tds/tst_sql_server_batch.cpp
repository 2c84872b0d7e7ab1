// The batch command end to end against a server that answers as SQL Server
// does, through the real FreeTDS driver.
#include "batch/BatchMain.h"
#include "tests/main/ExpectedValues.h"
#include "tests/main/ChildProcess.h"
#include "tests/tds/ScriptedTdsServer.h"
#include "tests/tds/TdsTestSupport.h"
#include "tools/demo/StoredPictures.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include <set>

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

QString dump(const std::vector<LoggedStatement>& log)
{
    QString text;
    for (const LoggedStatement& s : log) {
        QStringList values;
        for (const RpcParameter& p : s.parameters)
            values << (p.value.typeId() == QMetaType::QByteArray ? QStringLiteral("<%1 bytes>").arg(p.value.toByteArray().size())
                                                                  : p.value.toString());
        text += QStringLiteral("%1 %2%3: %4 [%5]\n")
                    .arg(s.connection)
                    .arg(s.kind, s.error ? QStringLiteral(" (Msg %1)").arg(s.error) : QString(), s.text.left(160),
                         values.join(QStringLiteral(", ")));
    }
    return text;
}

QRegularExpression pattern(const QString& text)
{
    return QRegularExpression(QStringLiteral("^\\s*(?:%1)\\s*;?\\s*$").arg(text), QRegularExpression::CaseInsensitiveOption);
}

const QRegularExpression setTextSize = pattern(QStringLiteral(R"(SET TEXTSIZE 2147483647)"));
const QRegularExpression beginTransaction = pattern(QStringLiteral(R"(BEGIN TRAN(?:SACTION)?)"));
const QRegularExpression endTransaction = pattern(QStringLiteral(R"((?:IF @@TRANCOUNT\s*>\s*0\s+)?(?:COMMIT|ROLLBACK)(?: TRAN(?:SACTION)?)?)"));
const QRegularExpression fetchForUpdate = pattern(QStringLiteral(
    R"(select top \(1\) DATALENGTH\(\[(BAC\d+)\]\), \[\1\] from \[BAC1\] WITH \(UPDLOCK, ROWLOCK\) where \[id\] = (@P\d+|\?))"));
const QRegularExpression rowWrite = pattern(QStringLiteral(
    R"(SET NOCOUNT ON; DECLARE @(\w+) TABLE \(n int\); UPDATE TOP \(1\) \[BAC1\] SET \[(BAC\d+)\] = (?:@P\d+|\?) )"
    R"(OUTPUT 1 INTO @\1 WHERE \[id\] = (@P\d+|\?); SELECT COUNT\(\*\) FROM @\1)"));
const QRegularExpression anyWrite(QStringLiteral(R"(\b(UPDATE|INSERT|DELETE|MERGE)\b)"), QRegularExpression::CaseInsensitiveOption);

// The value a placeholder of a logged call stands for: by name, else by position.
QVariant placeholderValue(const LoggedStatement& s, const QString& token)
{
    for (const RpcParameter& p : s.parameters) {
        if (p.name.compare(token, Qt::CaseInsensitive) == 0)
            return p.value;
    }
    const qsizetype n = token.startsWith(QLatin1String("@P")) ? token.mid(2).toLongLong() : 0;
    return n > 0 && n <= qsizetype(s.parameters.size()) ? s.parameters[n - 1].value : QVariant();
}

// Qt's ODBC driver runs SET QUOTED_IDENTIFIER ON as it opens a connection to
// SQL Server, before the program can run anything; FreeTDS sends it through a
// server cursor, which the scripted server refuses and Qt ignores. It changes
// nothing the program relies on; any other request before SET TEXTSIZE is the
// program's own.
bool isDriverProbe(const LoggedStatement& s)
{
    return s.kind == QLatin1String("login") ||
           (s.kind == QLatin1String("sp_cursoropen") && pattern(QStringLiteral("SET QUOTED_IDENTIFIER ON")).match(s.text).hasMatch());
}

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
    std::set<int> connections;
    for (const LoggedStatement& s : log)
        connections.insert(s.connection);
    for (const int connection : connections) {
        bool started = false;
        bool inTransaction = false;
        std::set<std::pair<QString, qlonglong>> fetched;  // (column, id) read for update in the open transaction
        for (const LoggedStatement& s : log) {
            if (s.connection != connection || s.kind == QLatin1String("attention") || s.kind == QLatin1String("sp_unprepare"))
                continue;
            const QString where = QStringLiteral("connection %1, %2: %3").arg(connection).arg(s.kind, s.text.left(120));
            if (!started) {
                if (isDriverProbe(s))
                    continue;
                started = true;
                if (!setTextSize.match(s.text).hasMatch())
                    check.violations << QStringLiteral("%1: the session's first statement is not SET TEXTSIZE 2147483647").arg(where);
                continue;
            }
            QRegularExpressionMatch m;
            if (beginTransaction.match(s.text).hasMatch()) {
                inTransaction = true;
                fetched.clear();
            } else if (endTransaction.match(s.text).hasMatch()) {
                ++check.commits;
                inTransaction = false;
                fetched.clear();
            } else if ((m = fetchForUpdate.match(s.text)).hasMatch()) {
                if (!inTransaction)
                    check.violations << QStringLiteral("%1: read for update outside a transaction").arg(where);
                fetched.insert({m.captured(1).toUpper(), placeholderValue(s, m.captured(2)).toLongLong()});
            } else if ((m = rowWrite.match(s.text)).hasMatch()) {
                ++check.writes;
                const qlonglong id = placeholderValue(s, m.captured(3)).toLongLong();
                if (!inTransaction || !fetched.count({m.captured(2).toUpper(), id}))
                    check.violations << QStringLiteral("%1 (id %2): not read for update since the transaction began").arg(where).arg(id);
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
    const auto write = std::find_if(log.begin(), log.end(), [](const LoggedStatement& s) { return rowWrite.match(s.text).hasMatch(); });
    if (write == log.end())
        return log;
    const int connection = write->connection;
    const auto at = log.insert(write, {connection, QStringLiteral("batch"), QStringLiteral("COMMIT TRANSACTION"), {}, {}});
    log.insert(at + 1, {connection, QStringLiteral("batch"), QStringLiteral("BEGIN TRANSACTION"), {}, {}});
    return log;
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

constexpr int bitmapRows = 12;
// Every read for update answered this late makes a pass of 12 rows outlast
// the 0.5 s commit interval, so groups are committed between rows.
constexpr std::chrono::milliseconds slowRead{80};
const QString readForUpdatePattern = QStringLiteral("WITH \\(UPDLOCK");

} // namespace

class SqlServerBatchTest : public QObject {
    Q_OBJECT

private slots:
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
        QVERIFY2(run.exitCode == 0, qPrintable(QStringLiteral("exit code %1\n%2\n%3").arg(run.exitCode).arg(run.err, dump(log))));
        QVERIFY2(imageRows(server.table().rows()) == FinishedTable(imageRows(table.rows())), qPrintable(dump(log)));

        const SessionCheck check = checkSessions(log);
        QVERIFY2(check.violations.isEmpty(), qPrintable(check.violations.join(u'\n') + u'\n' + dump(log)));
        QCOMPARE(check.writes, 2 * bitmapRows);
        // A group was committed between rows in each pass, or the check proved little.
        QVERIFY2(check.commits >= 4, qPrintable(dump(log)));

        // The check sees the fault it is for.
        QVERIFY(!checkSessions(withCommitBeforeFirstWrite(log)).violations.isEmpty());
        std::vector<LoggedStatement> withoutTextSize = log;
        std::erase_if(withoutTextSize, [](const LoggedStatement& s) { return setTextSize.match(s.text).hasMatch(); });
        QVERIFY(!checkSessions(withoutTextSize).violations.isEmpty());
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
        QVERIFY2(run.exitCode == 0, qPrintable(QStringLiteral("exit code %1\n%2\n%3").arg(run.exitCode).arg(run.err, dump(log))));
        QVERIFY2(run.out.contains(QStringLiteral("Would convert %1 values").arg(2 * bitmapRows)), qPrintable(run.out));
        QVERIFY(imageRows(server.table().rows()) == imageRows(table.rows()));
        for (const LoggedStatement& s : log) {
            QVERIFY2(!beginTransaction.match(s.text).hasMatch() && !s.text.contains(QLatin1String("UPDLOCK"), Qt::CaseInsensitive) &&
                         !anyWrite.match(s.text).hasMatch(),
                     qPrintable(dump(log)));
        }
        const SessionCheck check = checkSessions(log);
        QVERIFY2(check.violations.isEmpty(), qPrintable(check.violations.join(u'\n') + u'\n' + dump(log)));
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
        const QString context = QStringLiteral("exit code %1\nstdout:\n%2\nstderr:\n%3\n%4").arg(run.exitCode).arg(run.out, run.err, dump(log));
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
};

QTEST_GUILESS_MAIN(SqlServerBatchTest)
#include "tst_sql_server_batch.moc"
