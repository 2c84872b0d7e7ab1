// What both front ends promise about the stored values, under what real
// installations meet: a corrupt database, another copy of the program, other
// clients writing, a full disk, a reader holding a lock. The desktop run is
// job_child (the run without windows, in a process of its own); the batch
// command is its executable.
#include "tests/data/ServerFolder.h"
#include "tests/job/ChildProcess.h"
#include "tests/job/ExpectedValues.h"
#include "tests/job/SqlitePages.h"
#include "testdata/ImageTableReader.h"
#include "testdata/ImageTableWriter.h"
#include "testdata/StoredPictures.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

#include <map>

namespace {

const QString pictures = QStringLiteral("pictures");

// "desktop" or the batch command's options.
QStringList FrontEndCommand(const QString& frontEnd, const QString& folder, const QString& database)
{
    if (frontEnd == QLatin1String("desktop"))
        return {QStringLiteral(JOB_CHILD), folder, database};
    return QStringList{QStringLiteral(BMP2JPG_BATCH), QStringLiteral("--server"), folder, QStringLiteral("--user"),
                       QStringLiteral("sa"), QStringLiteral("--database"), database} +
           frontEnd.split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

// Values now different from the original: the converted ones.
int ChangedValues(const std::vector<ImageRow>& original, const std::vector<ImageRow>& now)
{
    int changed = 0;
    for (size_t i = 0; i < now.size(); ++i)
        changed += int(now[i].bac02 != original[i].bac02) + int(now[i].bac04 != original[i].bac04);
    return changed;
}

int ReportedConverted(const QString& summary)
{
    const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("Converted (\\d+) values")).match(summary);
    return m.hasMatch() ? m.captured(1).toInt() : -1;
}

// The batch command's last word on how far it got: its final progress line
// and its summary's counts must tell the same.
void CheckProgressAgreesWithSummary(const ChildOutcome& outcome)
{
    const QRegularExpressionMatch counted =
        QRegularExpression(QStringLiteral("Converted (\\d+) values, left (\\d+) unchanged")).match(outcome.out);
    QVERIFY2(counted.hasMatch(), qPrintable(outcome.out));
    qsizetype last = -1;
    QRegularExpressionMatch shown;
    for (const QRegularExpressionMatch& m : QRegularExpression(QStringLiteral("bmp2jpg-batch: (\\d+)/\\d+ values")).globalMatch(outcome.err)) {
        if (m.capturedStart() > last) {
            last = m.capturedStart();
            shown = m;
        }
    }
    QVERIFY2(shown.hasMatch(), qPrintable(outcome.err));
    QCOMPARE(shown.captured(1).toInt(), counted.captured(1).toInt() + counted.captured(2).toInt());
}

// A small tmpfs at a scratch folder, unmounted at the end; only root may mount.
class SmallDisk {
public:
    explicit SmallDisk(qint64 bytes)
    {
        mounted = QProcess::execute(QStringLiteral("mount"), {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                                                               QStringLiteral("size=%1").arg(bytes), QStringLiteral("tmpfs"),
                                                               folder.path()}) == 0;
    }
    ~SmallDisk()
    {
        if (mounted)
            QProcess::execute(QStringLiteral("umount"), {folder.path()});
    }
    bool Mounted() const { return mounted; }
    QString Path() const { return folder.path(); }

private:
    QTemporaryDir folder;
    bool mounted = false;
};

}  // namespace

class IntegrityTest : public QObject {
    Q_OBJECT

private slots:
    void init() { folder = std::make_unique<ServerFolder>(); }

    void corruptPageStopsTheRunWithTheEngineError_data()
    {
        QTest::addColumn<QString>("pageType");
        QTest::addColumn<QString>("frontEnd");
        for (const char* page : {"leaf", "overflow", "small picture's overflow"}) {
            for (const char* frontEnd : {"desktop", "--jobs 2", "--dry-run"})
                QTest::addRow("%s page, %s", page, frontEnd) << QString::fromLatin1(page) << QString::fromLatin1(frontEnd);
        }
    }
    void corruptPageStopsTheRunWithTheEngineError()
    {
        QFETCH(QString, pageType);
        QFETCH(QString, frontEnd);
        const bool small = pageType == QLatin1String("small picture's overflow");
        {
            ImageTableWriter table(DatabaseFile());
            for (int i = 0; i < 120; ++i)
                table.AddRow(QStringLiteral("r%1").arg(i), small ? stored::Bmp24(32, 30, i) : stored::Bmp24(64, 48, i), std::nullopt);
        }
        // Pictures of a few kilobytes on 1 KB pages span two overflow pages,
        // and the read of the rows takes them whole: the corrupt page is met
        // after the first rows of that read, not by the count before it.
        if (small) {
            const DatabaseClient client(DatabaseFile());
            client.execute(QStringLiteral("pragma page_size = 1024"));
            client.execute(QStringLiteral("vacuum"));
        }
        // A page in the middle of the table's rows, or the first of a
        // picture's overflow chain, filled with bytes no page can hold.
        const qint64 root =
            folder->column(pictures, QStringLiteral("select rootpage from sqlite_master where name = 'BAC1'")).front().toLongLong();
        const qint64 pageSize = folder->column(pictures, QStringLiteral("pragma page_size")).front().toLongLong();
        QFile file(DatabaseFile());
        QVERIFY(file.open(QIODevice::ReadWrite));
        const TablePages table = ReadTablePages(file.readAll(), root);
        const std::vector<qint64>& pages = pageType == QLatin1String("leaf") ? table.leaves : table.firstOverflows;
        QVERIFY(pages.size() > 4);
        const qint64 page = pages[pages.size() / 2];
        QVERIFY(file.seek((page - 1) * pageSize));
        QCOMPARE(file.write(QByteArray(pageSize, '\xff')), pageSize);
        file.close();

        const ChildOutcome outcome = RunChild(FrontEndCommand(frontEnd, folder->path(), pictures));
        QCOMPARE(outcome.exitCode, 1);
        QVERIFY2(outcome.err.contains(QStringLiteral("malformed")), qPrintable(outcome.err));
    }

    // Two copies of the program in one folder, converting at once two
    // databases whose rows share one identifier.
    void twoDesktopRunsKeepTheirOwnPictures()
    {
        const QString other = QStringLiteral("other");
        for (const QString& database : {pictures, other}) {
            ImageTableWriter table(folder->file(database));
            const quint32 seed = database == pictures ? 0 : 1000;
            for (quint32 i = 0; i < 40; ++i)
                table.AddRow(QStringLiteral("same"), stored::Bmp24(96, 64, seed + i), stored::Bmp8(40, 30, seed + i));
        }
        const auto firstFinished = FinishedTable(ReadImageTable(folder->file(pictures)));
        const auto otherFinished = FinishedTable(ReadImageTable(folder->file(other)));

        QProcess first;
        QProcess second;
        StartChild(first, FrontEndCommand(QStringLiteral("desktop"), folder->path(), pictures));
        StartChild(second, FrontEndCommand(QStringLiteral("desktop"), folder->path(), other));
        const ChildOutcome firstOutcome = FinishChild(first);
        const ChildOutcome secondOutcome = FinishChild(second);
        QCOMPARE(firstOutcome.exitCode, 0);
        QCOMPARE(secondOutcome.exitCode, 0);
        QVERIFY(ReadImageTable(folder->file(pictures)) == firstFinished);
        QVERIFY(ReadImageTable(folder->file(other)) == otherFinished);
    }

    void anotherClientsWritesSurvive_data()
    {
        QTest::addColumn<QString>("frontEnd");
        QTest::newRow("desktop") << QStringLiteral("desktop");
        QTest::newRow("batch --jobs 1") << QStringLiteral("--jobs 1");
        QTest::newRow("batch --jobs 2") << QStringLiteral("--jobs 2");
    }
    void anotherClientsWritesSurvive()
    {
        QFETCH(QString, frontEnd);
        constexpr int rows = 60;
        {
            ImageTableWriter table(DatabaseFile());
            for (int i = 0; i < rows; ++i)
                table.AddRow(QStringLiteral("r%1").arg(i), stored::Bmp24(320, 240, i), std::nullopt);
        }
        const auto original = ReadImageTable(DatabaseFile());
        const auto finished = FinishedTable(original);

        const quint32 seed = QRandomGenerator::global()->generate();
        qInfo("seed %u", seed);
        QRandomGenerator random(seed);
        // Waits for the run's transactions as any client would.
        const DatabaseClient client(DatabaseFile(), 60000);
        std::map<int, QByteArray> written;  // row (0-based) -> the client's last committed value

        QProcess run;
        StartChild(run, FrontEndCommand(frontEnd, folder->path(), pictures));
        QVERIFY(run.waitForStarted());
        // Writes while the run works, each committed on its own; a bounded
        // number, so the loop ends even if the run hangs.
        for (int i = 0; i < 3000 && !run.waitForFinished(0); ++i) {
            const int row = int(random.bounded(rows));
            const QByteArray value = QStringLiteral("written by another client %1").arg(i).toUtf8();
            client.execute(QStringLiteral("update BAC1 set BAC02 = ? where rowid = ?"), {value, row + 1});
            written[row] = value;
        }
        const ChildOutcome outcome = FinishChild(run);
        // A client that writes without pause can keep the run from its lock
        // for longer than it waits: then it stops, saying so.
        const bool finishedRun = outcome.exitCode == 0;
        QVERIFY2(finishedRun || (outcome.exitCode == 1 && outcome.err.contains(QStringLiteral("database is locked"))),
                 qPrintable(outcome.err));

        const auto now = ReadImageTable(DatabaseFile());
        QCOMPARE(int(now.size()), rows);
        for (int row = 0; row < rows; ++row) {
            const QString where = QStringLiteral("row %1, seed %2").arg(row).arg(seed);
            if (const auto it = written.find(row); it != written.end())
                QVERIFY2(now[row].bac02 == it->second, qPrintable(where));
            else if (finishedRun)
                QVERIFY2(now[row].bac02 == finished[row].bac02, qPrintable(where));
            else
                QVERIFY2(now[row].bac02 == finished[row].bac02 || now[row].bac02 == original[row].bac02, qPrintable(where));
        }
        QVERIFY(!written.empty());
    }

    // The application waits for the write lock as SQLite's busy handler does:
    // it gets it between two groups of the run, not when the run ends, and
    // what it writes stays.
    void waitingWriterGetsInDuringTheRun_data()
    {
        QTest::addColumn<QString>("frontEnd");
        QTest::newRow("desktop") << QStringLiteral("desktop");
        QTest::newRow("batch --jobs 2") << QStringLiteral("--jobs 2");
    }
    void waitingWriterGetsInDuringTheRun()
    {
        QFETCH(QString, frontEnd);
        // Many small pictures: a run of many groups.
        constexpr int rows = 10000;
        {
            ImageTableWriter table(DatabaseFile());
            for (int i = 0; i < rows; ++i)
                table.AddRow(QStringLiteral("r%1").arg(i), stored::Bmp24(16, 16, i), stored::Bmp24(16, 16, rows + i));
        }
        auto expected = FinishedTable(ReadImageTable(DatabaseFile()));
        const QByteArray theirs = "the application's value";
        expected.back().bac04 = theirs;

        QProcess run;
        StartChild(run, FrontEndCommand(frontEnd, folder->path(), pictures));
        QVERIFY(run.waitForStarted());
        // Tries without waiting until the run holds the write lock.
        const DatabaseClient probe(DatabaseFile(), 0);
        bool held = false;
        for (int i = 0; i < 1000000 && !held && run.state() != QProcess::NotRunning; ++i) {
            try {
                probe.execute(QStringLiteral("begin immediate"));
                probe.execute(QStringLiteral("rollback"));
            } catch (const std::exception&) {
                held = true;
            }
        }
        QVERIFY2(held, "the run never held the write lock");
        const DatabaseClient application(DatabaseFile(), 20000);
        application.execute(QStringLiteral("begin immediate"));
        QSqlQuery left = application.execute(QStringLiteral("select count(*) from BAC1 where substr(BAC04, 1, 2) = x'424d'"));
        QVERIFY(left.next());
        const int bitmapsLeft = left.value(0).toInt();
        left.finish();
        application.execute(QStringLiteral("update BAC1 set BAC04 = ? where BCE01 = ?"), {theirs, QStringLiteral("r%1").arg(rows - 1)});
        application.execute(QStringLiteral("commit"));

        const ChildOutcome outcome = FinishChild(run);
        QCOMPARE(outcome.exitCode, 0);
        QVERIFY2(bitmapsLeft > 0, "the waiting writer got the lock only once the run had ended");
        QVERIFY(ReadImageTable(DatabaseFile()) == expected);
    }

    // Another client writes bitmaps into rows the run has read but not yet
    // reached. It holds the write lock from before the run starts and
    // commits once the report shows the run past the read of its rows (the
    // first row holds no bitmap, so needs no lock): the run must leave those
    // values as the client wrote them.
    void valuesChangedSinceTheRowsWereReadAreLeftAsWritten_data()
    {
        QTest::addColumn<QString>("frontEnd");
        QTest::newRow("batch --jobs 1") << QStringLiteral("--jobs 1");
        QTest::newRow("batch --jobs 2") << QStringLiteral("--jobs 2");
    }
    void valuesChangedSinceTheRowsWereReadAreLeftAsWritten()
    {
        QFETCH(QString, frontEnd);
        constexpr int rows = 5;
        {
            ImageTableWriter table(DatabaseFile());
            table.AddRow(QStringLiteral("text"), QByteArray("no picture"), std::nullopt);
            for (int i = 1; i < rows; ++i)
                table.AddRow(QStringLiteral("r%1").arg(i), stored::Bmp24(32, 24, quint32(i)), std::nullopt);
        }
        const QTemporaryDir scratch;
        const QString report = scratch.filePath(QStringLiteral("report.csv"));
        const DatabaseClient client(DatabaseFile(), 60000);
        client.execute(QStringLiteral("begin immediate"));

        QProcess run;
        StartChild(run, FrontEndCommand(frontEnd, folder->path(), pictures) + QStringList{QStringLiteral("--report"), report});
        QVERIFY(run.waitForStarted());
        const auto reported = [&] {
            QFile file(report);
            return file.open(QIODevice::ReadOnly) && file.readAll().contains(",rowid=1,");
        };
        QTRY_VERIFY_WITH_TIMEOUT(reported() || run.state() == QProcess::NotRunning, 60000);
        std::vector<QByteArray> theirs;
        for (int i = 1; i < rows; ++i) {
            theirs.push_back(stored::Bmp24(16, 16, quint32(100 + i)));
            client.execute(QStringLiteral("update BAC1 set BAC02 = ? where rowid = ?"), {theirs.back(), i + 1});
        }
        client.execute(QStringLiteral("commit"));
        const ChildOutcome outcome = FinishChild(run);
        QVERIFY2(outcome.exitCode == 0, qPrintable(outcome.err));
        const auto now = ReadImageTable(DatabaseFile());
        for (int i = 1; i < rows; ++i)
            QVERIFY2(now[i].bac02 == theirs[i - 1], qPrintable(QStringLiteral("row %1").arg(i + 1)));
        QVERIFY2(outcome.out.contains(QRegularExpression(QStringLiteral("BAC02 +changed meanwhile +%1 ").arg(rows - 1))),
                 qPrintable(outcome.out));
    }

    // The database's disk fills while groups of rows are being written: the
    // run stops with the engine's cause and counts only what is stored.
    void fullDiskReportsWhatIsStored_data()
    {
        QTest::addColumn<QString>("frontEnd");
        QTest::newRow("desktop") << QStringLiteral("desktop");
        QTest::newRow("batch --jobs 2") << QStringLiteral("--jobs 2");
    }
    void fullDiskReportsWhatIsStored()
    {
#ifndef Q_OS_LINUX
        QSKIP("the full disk is a small tmpfs, which only Linux mounts");
#endif
        QFETCH(QString, frontEnd);
        // Each tiny bitmap grows as JPEG (the JFIF header and tables), so
        // every written row needs room the disk does not have for long.
        const QString source = folder->file(QStringLiteral("source"));
        {
            ImageTableWriter table(source);
            for (int i = 0; i < 1500; ++i)
                table.AddRow(QStringLiteral("r%1").arg(i), stored::Bmp24(2, 2, i), std::nullopt);
        }
        SmallDisk disk(QFileInfo(source).size() + 64 * 1024);
        if (!disk.Mounted())
            QSKIP("mounting a small tmpfs needs root");
        const QString file = disk.Path() + QStringLiteral("/pictures.db");
        QVERIFY(QFile::copy(source, file));
        const auto original = ReadImageTable(file);

        const ChildOutcome outcome = RunChild(FrontEndCommand(frontEnd, disk.Path(), pictures));
        QCOMPARE(outcome.exitCode, 1);
        QVERIFY2(outcome.err.contains(QStringLiteral("database or disk is full")), qPrintable(outcome.err));
        const auto now = ReadImageTable(file);
        QVERIFY(EachValueOriginalOrFinished(original, FinishedTable(original), now));
        if (frontEnd != QLatin1String("desktop")) {
            QCOMPARE(ReportedConverted(outcome.out), ChangedValues(original, now));
            CheckProgressAgreesWithSummary(outcome);
        }
    }

    // A reader keeps the database from being committed to.
    void lockedDatabaseReportsWhatIsStored_data()
    {
        QTest::addColumn<QString>("frontEnd");
        QTest::newRow("desktop") << QStringLiteral("desktop");
        QTest::newRow("batch --jobs 2") << QStringLiteral("--jobs 2");
    }
    void lockedDatabaseReportsWhatIsStored()
    {
        QFETCH(QString, frontEnd);
        {
            ImageTableWriter table(DatabaseFile());
            for (int i = 0; i < 12; ++i)
                table.AddRow(QStringLiteral("r%1").arg(i), stored::Bmp24(64, 48, i), std::nullopt);
        }
        const auto original = ReadImageTable(DatabaseFile());
        const DatabaseClient reader(DatabaseFile());
        reader.execute(QStringLiteral("begin"));
        QSqlQuery reading = reader.execute(QStringLiteral("select count(*) from BAC1"));
        QVERIFY(reading.next());

        const ChildOutcome outcome = RunChild(FrontEndCommand(frontEnd, folder->path(), pictures));
        reading.finish();
        reader.execute(QStringLiteral("rollback"));
        QCOMPARE(outcome.exitCode, 1);
        QVERIFY2(outcome.err.contains(QStringLiteral("database is locked")), qPrintable(outcome.err));
        const auto now = ReadImageTable(DatabaseFile());
        QVERIFY(EachValueOriginalOrFinished(original, FinishedTable(original), now));
        if (frontEnd != QLatin1String("desktop")) {
            QCOMPARE(ReportedConverted(outcome.out), ChangedValues(original, now));
            CheckProgressAgreesWithSummary(outcome);
        }
    }

private:
    QString DatabaseFile() const { return folder->file(pictures); }

    std::unique_ptr<ServerFolder> folder;
};

QTEST_GUILESS_MAIN(IntegrityTest)
#include "tst_integrity.moc"
