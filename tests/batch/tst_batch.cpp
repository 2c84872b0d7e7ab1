// The batch command end to end: its process on the embedded server, and its
// logic in-process through the ODBC code path.
#include "batch/BatchMain.h"
#include "batch/Progress.h"
#include "data/ResultSet.h"
#include "tests/data/ServerFolder.h"
#include "tests/data/SqliteOdbcProfile.h"
#include "tests/job/ChildProcess.h"
#include "tests/job/ExpectedValues.h"
#include "tests/job/LockedRowTable.h"
#include "testdata/ImageTableReader.h"
#include "testdata/ImageTableWriter.h"
#include "testdata/StoredPictures.h"

#include <QCryptographicHash>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#ifdef Q_OS_UNIX
#include <csignal>
#endif

namespace {

const QString pictures = QStringLiteral("pictures");

QByteArray FileDigest(const QString& path)
{
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256);
}

qint64 Bytes(std::initializer_list<QByteArray> values)
{
    qint64 total = 0;
    for (const QByteArray& value : values)
        total += value.size();
    return total;
}

}  // namespace

class BatchTest : public QObject {
    Q_OBJECT

private slots:
    void init() { folder = std::make_unique<ServerFolder>(); }

    void mixedTableConvertedAndOnlyConvertedValuesWritten()
    {
        WriteMixedTable();
        const auto original = ReadImageTable(DatabaseFile());
        const ChildOutcome outcome = Run({QStringLiteral("--jobs"), QStringLiteral("3")});
        QCOMPARE(outcome.exitCode, 0);
        QVERIFY(ReadImageTable(DatabaseFile()) == FinishedTable(original));
        // A value that stays as it is is not rewritten either.
        QCOMPARE(folder->column(pictures, QStringLiteral("select count(*) from writes")).front().toInt(), 6);
        QVERIFY2(outcome.out.contains(QStringLiteral("Converted 6 values, left 5 unchanged.")), qPrintable(outcome.out));
    }

    void jobsGiveByteIdenticalTables()
    {
        WriteMixedTable(30);
        const auto original = ReadImageTable(DatabaseFile());
        QVERIFY(QFile::copy(DatabaseFile(), folder->file(QStringLiteral("copy"))));

        QCOMPARE(Run({QStringLiteral("--jobs"), QStringLiteral("1")}).exitCode, 0);
        QCOMPARE(Run({QStringLiteral("--jobs"), QStringLiteral("2")}, QStringLiteral("copy")).exitCode, 0);
        const auto one = ReadImageTable(DatabaseFile());
        QVERIFY(one == ReadImageTable(folder->file(QStringLiteral("copy"))));
        QVERIFY(one == FinishedTable(original));
    }

    // A table of several pages with few bitmaps, some far apart and some at
    // the page ends: each picture in hand is written to its own row, however
    // many jobs wait for more pictures and however many pages were read since.
    void sparsePicturesOverSeveralPagesAllConverted_data()
    {
        const int page = ResultSet::pageRows;
        QTest::addColumn<QString>("jobs");
        QTest::addColumn<QList<int>>("bitmaps");  // rows of BAC02; BAC04 has one, in row page + 1
        QTest::newRow("2 jobs, a page and more apart") << QStringLiteral("2") << QList<int>{0, 3, 2 * page + 500};
        QTest::newRow("8 jobs, at the page ends")
            << QStringLiteral("8") << QList<int>{0, 3, page - 2, page - 1, page, page + 1, 2 * page - 1, 2 * page, 2 * page + 500};
    }
    void sparsePicturesOverSeveralPagesAllConverted()
    {
        QFETCH(QString, jobs);
        QFETCH(QList<int>, bitmaps);
        const int page = ResultSet::pageRows;
        {
            ImageTableWriter table(DatabaseFile());
            for (int row = 0; row < 2 * page + 600; ++row)
                table.AddRow(QStringLiteral("r%1").arg(row), bitmaps.contains(row) ? tiny : jpeg,
                             row == page + 1 ? std::optional(smallBmp) : std::nullopt);
        }
        const auto original = ReadImageTable(DatabaseFile());
        const ChildOutcome outcome = Run({QStringLiteral("--jobs"), jobs});
        QCOMPARE(outcome.exitCode, 0);
        QVERIFY(ReadImageTable(DatabaseFile()) == FinishedTable(original));
        QVERIFY2(outcome.out.contains(QStringLiteral("Converted %1 values").arg(bitmaps.size() + 1)), qPrintable(outcome.out));
    }

    // Values too large for their first bytes to come with the rows are read
    // whole to tell what they are: only bitmaps are written, the rest counted
    // by kind, in a run and in a dry run.
    void largeValuesCountedByWhatTheyHold_data()
    {
        QTest::addColumn<bool>("dryRun");
        QTest::newRow("run") << false;
        QTest::newRow("dry run") << true;
    }
    void largeValuesCountedByWhatTheyHold()
    {
        QFETCH(bool, dryRun);
        const QByteArray largeJpeg = stored::Jpeg(400, 300, 7);
        const QByteArray largeOther = QByteArray(9000, 'x');
        const QByteArray largeBmp = stored::Bmp24(100, 80, 8);
        QVERIFY(largeJpeg.size() > 8192 && largeBmp.size() > 8192);
        {
            ImageTableWriter table(DatabaseFile());
            table.AddRow(QStringLiteral("jpeg"), largeJpeg, std::nullopt);
            table.AddRow(QStringLiteral("other"), largeOther, std::nullopt);
            table.AddRow(QStringLiteral("bitmap"), largeBmp, std::nullopt);
        }
        const auto original = ReadImageTable(DatabaseFile());
        const ChildOutcome outcome = Run(dryRun ? QStringList{QStringLiteral("--dry-run")} : QStringList{});
        QCOMPARE(outcome.exitCode, 0);
        QVERIFY(ReadImageTable(DatabaseFile()) == (dryRun ? original : FinishedTable(original)));
        for (const auto& [line, bytes] : {std::pair{"BAC02   already JPEG", largeJpeg.size()}, std::pair{"BAC02   other", largeOther.size()},
                                          std::pair{"BAC02   bitmap to convert", largeBmp.size()}}) {
            const QString expected = QStringLiteral("%1 +1 +%2 ").arg(QLatin1String(line)).arg(bytes);
            QVERIFY2(outcome.out.contains(QRegularExpression(expected)), qPrintable(expected + u'\n' + outcome.out));
        }
    }

    void dryRunWritesNothingAndCountsByKind()
    {
        WriteMixedTable();
        const QByteArray before = FileDigest(DatabaseFile());
        const ChildOutcome outcome = Run({QStringLiteral("--dry-run")});
        QCOMPARE(outcome.exitCode, 0);
        QCOMPARE(FileDigest(DatabaseFile()), before);

        const qint64 jpegBytes = Bytes({Finished(bmp24), Finished(bmp8)});
        const struct {
            const char* line;
            qint64 values;
            qint64 bytes;
            qint64 after;
        } expected[] = {
            {"BAC02   bitmap to convert", 2, Bytes({bmp24, bmp8}), jpegBytes},
            {"BAC02   already JPEG", 1, jpeg.size(), jpeg.size()},
            {"BAC02   other", 0, 0, 0},
            {"BAC02   empty", 1, 0, 0},
            {"BAC02   unreadable bitmap", 2, Bytes({truncated, bareHeader}), Bytes({truncated, bareHeader})},
            {"BAC04   bitmap to convert", 4, Bytes({smallBmp, rle, tiny, square}),
             Bytes({Finished(smallBmp), Finished(rle), Finished(tiny), Finished(square)})},
            {"BAC04   other", 1, 4, 4},
        };
        for (const auto& row : expected) {
            const QString line =
                QStringLiteral("%1 +%2 +%3 +%4").arg(row.line).arg(row.values).arg(row.bytes).arg(row.after) + kChildLineEnd;
            QVERIFY2(outcome.out.contains(QRegularExpression(line)), qPrintable(line + outcome.out));
        }
        QVERIFY(outcome.out.contains(QStringLiteral("Would convert 6 values and leave 5 unchanged.")));
    }

    void stopWritesTheRowsInHandThenExits130_data()
    {
        QTest::addColumn<int>("signal");
        QTest::addColumn<int>("times");
#ifdef Q_OS_UNIX
        QTest::newRow("SIGINT") << int(SIGINT) << 1;
        QTest::newRow("SIGTERM") << int(SIGTERM) << 1;
        QTest::newRow("SIGINT twice quits at once") << int(SIGINT) << 2;
#endif
    }
    void stopWritesTheRowsInHandThenExits130()
    {
#ifdef Q_OS_UNIX
        QFETCH(int, signal);
        QFETCH(int, times);
        {
            ImageTableWriter table(DatabaseFile());
            // Pictures large enough that the rows in hand take a while to finish.
            const QByteArray large[] = {stored::Bmp24(2592, 1944, 1), stored::Bmp24(2592, 1944, 2)};
            for (int i = 0; i < 16; ++i)
                table.AddRow(QStringLiteral("r%1").arg(i), large[i % 2], large[(i + 1) % 2]);
        }
        const auto original = ReadImageTable(DatabaseFile());
        const auto finished = FinishedTable(original);

        QProcess batch;
        Start(batch, {QStringLiteral("--jobs"), QStringLiteral("2")});
        // The first progress line comes once the run is under way.
        batch.setReadChannel(QProcess::StandardError);
        QVERIFY(batch.waitForReadyRead(60000));
        QTest::qWait(1000);
        ::kill(pid_t(batch.processId()), signal);
        if (times == 2) {
            // Once the first is taken, the second comes while the rows in hand are still being written.
            QByteArray said;
            while (!said.contains("stopping once") && batch.waitForReadyRead(60000))
                said += batch.readAllStandardError();
            ::kill(pid_t(batch.processId()), signal);
        }
        if (batch.state() != QProcess::NotRunning)
            QVERIFY(batch.waitForFinished(60000));
        QCOMPARE(batch.exitStatus(), QProcess::NormalExit);
        QCOMPARE(batch.exitCode(), 130);

        const auto now = ReadImageTable(DatabaseFile());
        QVERIFY(EachValueOriginalOrFinished(original, finished, now));
        QVERIFY2(now != finished, "the run was not stopped");
        // Stopping writes the rows in hand; quitting at once leaves no time for that nor the summary.
        if (times == 1)
            QVERIFY2(now != original, "the rows in hand were not written");
        QCOMPARE(QString::fromUtf8(batch.readAllStandardOutput()).contains(QStringLiteral("Stopped by the user")), times == 1);
#else
        QSKIP("Ctrl-C is a console event on Windows, which a test without a console cannot send");
#endif
    }

    void failuresGiveAMessageAndExitCode_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("password");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message");
        const QStringList server{QStringLiteral("--server"), QStringLiteral("<folder>"), QStringLiteral("--user"),
                                 QStringLiteral("sa")};
        const QStringList database{QStringLiteral("--database"), pictures};
        QTest::newRow("no password source") << server + database << false << 2 << QStringLiteral("no password: set BMP2JPG_PASSWORD");
        QTest::newRow("password on the command line")
            << server + database + QStringList{QStringLiteral("--password=x")} << true << 2
            << QStringLiteral("never taken from the command line");
        QTest::newRow("no database") << server << true << 2 << QStringLiteral("--database is required");
        QTest::newRow("jobs not a number") << server + database + QStringList{QStringLiteral("--jobs"), QStringLiteral("two")}
                                           << true << 2 << QStringLiteral("--jobs wants a whole number");
        QTest::newRow("unknown option") << server + database + QStringList{QStringLiteral("--fast")} << true << 2
                                        << QStringLiteral("Unknown option 'fast'");
        QTest::newRow("CA file without checking") << server + database + QStringList{QStringLiteral("--ca-file"), QStringLiteral("<folder>/pictures.db")}
                                                  << true << 2 << QStringLiteral("--ca-file is only used with --verify-certificate");
        QTest::newRow("CA file missing")
            << server + database + QStringList{QStringLiteral("--verify-certificate"), QStringLiteral("--ca-file"), QStringLiteral("<folder>/none.pem")}
            << true << 2 << QStringLiteral("none.pem\" is not a readable file");
        QTest::newRow("missing database") << server + QStringList{QStringLiteral("--database"), QStringLiteral("gone")}
                                          << true << 1 << QStringLiteral("there is no file \"gone.db\"");
        QTest::newRow("missing table BAC1") << server + QStringList{QStringLiteral("--database"), QStringLiteral("other")}
                                            << true << 1 << QStringLiteral("database \"other\" has no table BAC1");
    }
    void failuresGiveAMessageAndExitCode()
    {
        QFETCH(QStringList, arguments);
        QFETCH(bool, password);
        QFETCH(int, exitCode);
        QFETCH(QString, message);
        WriteMixedTable();
        folder->run(QStringLiteral("other"), QStringLiteral("create table BAC2 (BCE01 text)"));
        arguments.replaceInStrings(QStringLiteral("<folder>"), folder->path());
        const QByteArray before = FileDigest(DatabaseFile());

        const ChildOutcome outcome = RunWith(arguments, password);
        QCOMPARE(outcome.exitCode, exitCode);
        QVERIFY2(outcome.err.contains(message), qPrintable(outcome.err));
        QCOMPARE(FileDigest(DatabaseFile()), before);
    }

    void failingWriteNamesRowAndColumnAndKeepsEarlierRows()
    {
        WriteLockedRowTable(DatabaseFile());
        const auto original = ReadImageTable(DatabaseFile());

        const ChildOutcome outcome = Run({QStringLiteral("--jobs"), QStringLiteral("4")});
        QCOMPARE(outcome.exitCode, 1);
        QVERIFY2(outcome.err.contains(QStringLiteral("row BCE01 \"locked\", column BAC02: row locked is read-only")),
                 qPrintable(outcome.err));
        QVERIFY(StoppedAtLockedRow(original, ReadImageTable(DatabaseFile())));
    }

    void helpDocumentsEveryOptionAndExitCode()
    {
        const ChildOutcome outcome = RunWith({QStringLiteral("--help")}, false);
        QCOMPARE(outcome.exitCode, 0);
        for (const char* text : {"--server <name>", "--user <login>", "--database <name>", "--dry-run", "--jobs <N>",
                                 "--verify-certificate", "--ca-file <file>",
                                 "BMP2JPG_PASSWORD", "without echo", "Ctrl-C", "SIGTERM", "\n  0    done",
                                 "\n  1    a failure", "\n  2    bad usage", "\n  130  stopped by the user"})
            QVERIFY2(outcome.out.contains(QString::fromUtf8(text).replace(QStringLiteral("\n"), kChildLineEnd)), text);
        // Paragraphs are wrapped to the terminal: their words count, not their lines.
        for (const char* text : {"certificate is not checked, so servers on a self-signed",
                                 "The whole connection to a SQL Server is always encrypted"})
            QVERIFY2(outcome.out.simplified().contains(QLatin1String(text)), text);
    }

    void sameJobThroughOdbc()
    {
        WriteMixedTable();
        const auto original = ReadImageTable(DatabaseFile());
        qputenv("BMP2JPG_PASSWORD", "secret");
        const int exitCode = RunBatch({QStringLiteral("--server"), folder->path(), QStringLiteral("--user"), QStringLiteral("sa"),
                                       QStringLiteral("--database"), pictures, QStringLiteral("--jobs"), QStringLiteral("2")},
                                      SqliteOdbcProfile());
        QCOMPARE(exitCode, 0);
        QVERIFY(ReadImageTable(DatabaseFile()) == FinishedTable(original));
        QCOMPARE(folder->column(pictures, QStringLiteral("select count(*) from writes")).front().toInt(), 6);
    }

    void progressLine_data()
    {
        QTest::addColumn<qint64>("done");
        QTest::addColumn<qint64>("total");
        QTest::addColumn<double>("seconds");
        QTest::addColumn<bool>("bar");
        QTest::addColumn<QString>("line");
        QTest::newRow("start") << qint64(0) << qint64(40) << 0.0 << false
                               << QStringLiteral("bmp2jpg-batch: 0/40 values  0.0 values/s  -:-- left");
        QTest::newRow("half") << qint64(20) << qint64(40) << 8.0 << true
                              << QStringLiteral("[###############...............] 20/40 values  2.5 values/s  0:08 left");
        QTest::newRow("hours left") << qint64(1) << qint64(4000) << 1.0 << false
                                    << QStringLiteral("bmp2jpg-batch: 1/4000 values  1.0 values/s  1:06:39 left");
        QTest::newRow("nothing to do") << qint64(0) << qint64(0) << 0.5 << true
                                       << QStringLiteral("[##############################] 0/0 values  0.0 values/s  -:-- left");
    }
    void progressLine()
    {
        QFETCH(qint64, done);
        QFETCH(qint64, total);
        QFETCH(double, seconds);
        QFETCH(bool, bar);
        QFETCH(QString, line);
        QCOMPARE(Progress::line(done, total, seconds, bar), line);
    }

private:
    QString DatabaseFile() const { return folder->file(pictures); }

    static QByteArray Finished(const QByteArray& bmp)
    {
        return *FinishedTable({{std::nullopt, bmp, std::nullopt}}).front().bac02;
    }

    // Every kind of value in both columns, then `photos` rows of bitmaps of
    // many sizes; a trigger logs each value written.
    void WriteMixedTable(int photos = 0)
    {
        {
            ImageTableWriter table(DatabaseFile());
            for (int i = 0; i < photos; ++i)
                table.AddRow(QStringLiteral("p%1").arg(i), stored::Bmp24(200 + i, 150, i),
                             i % 4 ? std::optional(stored::Bmp8(90, 70 + i, i)) : std::nullopt);
            table.AddRow(QStringLiteral("24-bit"), bmp24, smallBmp);
            table.AddRow(QStringLiteral("a"), bmp8, rle);
            table.AddRow(QStringLiteral("a"), jpeg, QByteArray("text"));
            table.AddRow(std::nullopt, QByteArray(), tiny);
            table.AddRow(QStringLiteral("..\\..\\x/照片:C"), truncated, std::nullopt);
            table.AddRow(QStringLiteral("bare"), bareHeader, square);
            table.AddRow(QStringLiteral("nulls"), std::nullopt, std::nullopt);
            table.Execute(QStringLiteral("create table writes (BCE01 text, col text)"));
            for (const char* column : {"BAC02", "BAC04"})
                table.Execute(QStringLiteral("create trigger log_%1 after update of %1 on BAC1 "
                                             "begin insert into writes values (new.BCE01, '%1'); end")
                                  .arg(QLatin1String(column)));
        }
    }

    void Start(QProcess& batch, const QStringList& extra, const QString& database = pictures, bool password = true)
    {
        StartWith(batch,
                  QStringList{QStringLiteral("--server"), folder->path(), QStringLiteral("--user"), QStringLiteral("sa"),
                              QStringLiteral("--database"), database} + extra,
                  password);
    }

    static void StartWith(QProcess& batch, const QStringList& arguments, bool password)
    {
        StartChild(batch, QStringList{QStringLiteral(BMP2JPG_BATCH)} + arguments,
                   password ? std::optional(QStringLiteral("secret")) : std::nullopt);
        QVERIFY(batch.waitForStarted());
    }

    ChildOutcome Run(const QStringList& extra, const QString& database = pictures)
    {
        QProcess batch;
        Start(batch, extra, database);
        return FinishChild(batch);
    }

    ChildOutcome RunWith(const QStringList& arguments, bool password)
    {
        QProcess batch;
        StartWith(batch, arguments, password);
        return FinishChild(batch);
    }

    std::unique_ptr<ServerFolder> folder;
    const QByteArray bmp24 = stored::Bmp24(64, 48, 1);
    const QByteArray bmp8 = stored::Bmp8(40, 30, 3);
    const QByteArray jpeg = stored::Jpeg(20, 20, 5);
    const QByteArray truncated = QByteArrayLiteral("BM") + QByteArray(60, '\x7f');
    const QByteArray bareHeader = QByteArrayLiteral("BM");
    const QByteArray smallBmp = stored::Bmp24(33, 17, 2);
    const QByteArray rle = stored::Rle8(30, 20, 4);
    const QByteArray tiny = stored::Bmp24(5, 1, 6);
    const QByteArray square = stored::Bmp24(16, 16, 7);
};

QTEST_GUILESS_MAIN(BatchTest)
#include "tst_batch.moc"
