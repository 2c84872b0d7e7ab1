// The way back: a conversion with --backup and --report, then --restore,
// through the batch command's process and in-process through ODBC.
#include "batch/BackupFolder.h"
#include "batch/BackupManifest.h"
#include "batch/BatchMain.h"
#include "batch/CsvLine.h"
#include "tests/data/ServerFolder.h"
#include "tests/data/SqliteOdbcProfile.h"
#include "tests/main/ChildProcess.h"
#include "tests/main/ExpectedValues.h"
#include "tests/main/KillTest.h"
#include "tools/demo/ImageTableReader.h"
#include "tools/demo/ImageTableWriter.h"
#include "tools/demo/StoredPictures.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <map>

namespace {

const QString pictures = QStringLiteral("pictures");

QByteArray FileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Row i of the table (storage order) is the row with rowid i + 1.
QString Key(size_t row)
{
    return QStringLiteral("rowid=%1").arg(row + 1);
}

const std::optional<QByteArray>& Value(const ImageRow& row, const QString& column)
{
    return column == QLatin1String("BAC02") ? row.bac02 : row.bac04;
}

}  // namespace

class WayBackTest : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        folder = std::make_unique<ServerFolder>();
        scratch = std::make_unique<QTemporaryDir>();
    }

    void backupThenRestoreGivesTheOriginalBytes_data()
    {
        QTest::addColumn<bool>("odbc");
        QTest::addColumn<QString>("jobs");
        QTest::newRow("embedded server, one job") << false << "1";
        QTest::newRow("embedded server, three jobs") << false << "3";
        QTest::newRow("ODBC code path") << true << "2";
    }
    void backupThenRestoreGivesTheOriginalBytes()
    {
        QFETCH(bool, odbc);
        QFETCH(QString, jobs);
        WriteMixedTable(8);
        const auto original = ReadImageTable(DatabaseFile());
        const auto finished = FinishedTable(original);

        QCOMPARE(Batch(odbc, {QStringLiteral("--backup"), BackupDir(), QStringLiteral("--jobs"), jobs}), 0);
        QVERIFY(ReadImageTable(DatabaseFile()) == finished);
        // Each replaced value, and only those, is in the backup with its original bytes.
        const std::vector<BackupEntry> entries = ReadManifest(BackupDir());
        int replaced = 0;
        for (size_t row = 0; row < original.size(); ++row) {
            for (const QString& column : {QStringLiteral("BAC02"), QStringLiteral("BAC04")}) {
                if (Value(original[row], column) == Value(finished[row], column))
                    continue;
                ++replaced;
                QVERIFY2(BackedUp(entries, row, column, *Value(original[row], column)), qPrintable(Key(row) + column));
            }
        }
        QCOMPARE(int(entries.size()), replaced);

        QCOMPARE(Batch(odbc, {QStringLiteral("--restore"), BackupDir()}), 0);
        QVERIFY(ReadImageTable(DatabaseFile()) == original);
        QCOMPARE(folder->column(pictures, QStringLiteral("select count(*) from writes")).front().toInt(), 2 * replaced);
    }

    void restoreLeavesValuesChangedSinceAlone()
    {
        WriteMixedTable();
        const auto original = ReadImageTable(DatabaseFile());
        QCOMPARE(Run({QStringLiteral("--backup"), BackupDir()}).exitCode, 0);
        // Another client changes one byte of a converted value after the run:
        // same size, other digest.
        QByteArray theirs = *ReadImageTable(DatabaseFile())[0].bac02;
        theirs[theirs.size() / 2] = char(theirs[theirs.size() / 2] ^ 0x01);
        folder->run(pictures, QStringLiteral("update BAC1 set BAC02 = ? where rowid = 1"), {theirs});
        auto expected = original;
        expected[0].bac02 = theirs;

        const QByteArray before = FileBytes(DatabaseFile());
        const ChildOutcome dry = Run({QStringLiteral("--restore"), BackupDir(), QStringLiteral("--dry-run")});
        QCOMPARE(dry.exitCode, 0);
        QCOMPARE(FileBytes(DatabaseFile()), before);
        QVERIFY2(dry.out.contains(QStringLiteral("Would restore 4 values.")), qPrintable(dry.out));

        const ChildOutcome restore = Run({QStringLiteral("--restore"), BackupDir()});
        QCOMPARE(restore.exitCode, 0);
        QVERIFY(ReadImageTable(DatabaseFile()) == expected);
        QVERIFY2(restore.out.contains(QStringLiteral("Restored 4 values.")) &&
                     restore.out.contains(QStringLiteral("Changed since the backup, left as they are: 1.")),
                 qPrintable(restore.out));
        QVERIFY2(restore.err.contains(QStringLiteral("row rowid=1 (BCE01 \"24-bit\"), column BAC02: changed since the "
                                                     "backup; left as it is")),
                 qPrintable(restore.err));
        // Run again, nothing is left to restore and nothing is written.
        const ChildOutcome again = Run({QStringLiteral("--restore"), BackupDir()});
        QVERIFY2(again.out.contains(QStringLiteral("Restored 0 values.")) &&
                     again.out.contains(QStringLiteral("Already as backed up: 4.")),
                 qPrintable(again.out));
        QVERIFY(ReadImageTable(DatabaseFile()) == expected);
    }

    void unwritableBackupStopsTheRunBeforeAnyWrite_data()
    {
        QTest::addColumn<QString>("inTheWay");  // what stands where the backup goes
        QTest::addColumn<QString>("message");
        QTest::newRow("a file named like the folder") << "folder file" << "cannot write the backup folder";
        QTest::newRow("a folder named like the manifest") << "manifest folder" << "cannot write the backup folder";
        QTest::newRow("a manifest that is not ours") << "foreign manifest" << "is not a backup manifest";
        QTest::newRow("a report that cannot be written") << "report folder" << "cannot write the report";
    }
    void unwritableBackupStopsTheRunBeforeAnyWrite()
    {
        QFETCH(QString, inTheWay);
        QFETCH(QString, message);
        WriteMixedTable();
        const QByteArray before = FileBytes(DatabaseFile());
        const QString report = scratch->filePath(QStringLiteral("report.csv"));
        if (inTheWay == QLatin1String("folder file"))
            QVERIFY(QFile(BackupDir()).open(QIODevice::WriteOnly));
        if (inTheWay == QLatin1String("manifest folder"))
            QVERIFY(QDir().mkpath(BackupDir() + QStringLiteral("/manifest.csv")));
        if (inTheWay == QLatin1String("foreign manifest")) {
            QVERIFY(QDir().mkpath(BackupDir()));
            QFile manifest(BackupDir() + QStringLiteral("/manifest.csv"));
            QVERIFY(manifest.open(QIODevice::WriteOnly));
            manifest.write("name,size\nx,1\n");
        }
        if (inTheWay == QLatin1String("report folder"))
            QVERIFY(QDir().mkpath(report));

        const ChildOutcome outcome =
            Run({QStringLiteral("--backup"), BackupDir(), QStringLiteral("--report"), report});
        QCOMPARE(outcome.exitCode, 1);
        QVERIFY2(outcome.err.contains(message), qPrintable(outcome.err));
        QCOMPARE(FileBytes(DatabaseFile()), before);
    }

    void reportAgreesWithTheDatabase_data()
    {
        QTest::addColumn<bool>("dryRun");
        QTest::newRow("run") << false;
        QTest::newRow("dry run") << true;
    }
    void reportAgreesWithTheDatabase()
    {
        QFETCH(bool, dryRun);
        WriteMixedTable(5);
        const auto original = ReadImageTable(DatabaseFile());
        const auto finished = FinishedTable(original);
        const QString report = scratch->filePath(QStringLiteral("report.csv"));
        QStringList arguments{QStringLiteral("--report"), report, QStringLiteral("--jobs"), QStringLiteral("2")};
        if (dryRun)
            arguments << QStringLiteral("--dry-run");
        QCOMPARE(Run(arguments).exitCode, 0);
        const auto now = ReadImageTable(DatabaseFile());

        const std::vector<QStringList> lines = ParseCsv(QString::fromUtf8(FileBytes(report)));
        QVERIFY(!lines.empty());
        QCOMPARE(lines.front().join(u','), QStringLiteral("column,key,BCE01,outcome,bytes before,bytes after"));
        std::map<std::pair<QString, QString>, QStringList> byValue;
        for (size_t i = 1; i < lines.size(); ++i)
            QVERIFY2(byValue.emplace(std::pair(lines[i][0], lines[i][1]), lines[i]).second, "one line per value");
        int visited = 0;
        for (size_t row = 0; row < original.size(); ++row) {
            for (const QString& column : {QStringLiteral("BAC02"), QStringLiteral("BAC04")}) {
                const std::optional<QByteArray>& before = Value(original[row], column);
                if (!before)
                    continue;
                ++visited;
                const auto line = byValue.find({column, Key(row)});
                QVERIFY2(line != byValue.end(), qPrintable(Key(row) + column));
                const QStringList& f = line->second;
                QCOMPARE(f[2], original[row].bce01.value_or(QString()));
                QCOMPARE(f[3], ExpectedOutcome(*before, *Value(finished[row], column), dryRun));
                QCOMPARE(f[4].toLongLong(), before->size());
                QCOMPARE(f[5].toLongLong(), Value(finished[row], column)->size());
                QCOMPARE(Value(now[row], column), dryRun ? before : Value(finished[row], column));
            }
        }
        QCOMPARE(int(byValue.size()), visited);
    }

    void killedWithBackupLeavesEveryReplacedValueBackedUp()
    {
        WriteKillTestTable(DatabaseFile());
        const auto original = ReadImageTable(DatabaseFile());
        const auto finished = FinishedTable(original);
        const QString report = scratch->filePath(QStringLiteral("report.csv"));
        QRandomGenerator random(KillSeed());
        for (int kill = 0; kill < 10; ++kill) {
            QProcess batch;
            StartChild(batch, {QStringLiteral(BMP2JPG_BATCH), QStringLiteral("--server"), folder->path(),
                               QStringLiteral("--user"), QStringLiteral("sa"), QStringLiteral("--database"), pictures,
                               QStringLiteral("--backup"), BackupDir(), QStringLiteral("--report"), report});
            QVERIFY(batch.waitForStarted());
            QTest::qWait(int(random.bounded(30, 1500)));
            batch.kill();
            batch.waitForFinished();
            const QString after = QStringLiteral("after kill %1").arg(kill);
            const auto now = ReadImageTable(DatabaseFile());
            QVERIFY2(EachValueOriginalOrFinished(original, finished, now), qPrintable(after));
            const std::vector<BackupEntry> entries = ReadManifest(BackupDir());
            for (size_t row = 0; row < original.size(); ++row) {
                for (const QString& column : {QStringLiteral("BAC02"), QStringLiteral("BAC04")}) {
                    if (Value(now[row], column) != Value(original[row], column))
                        QVERIFY2(BackedUp(entries, row, column, *Value(original[row], column)),
                                 qPrintable(after + u' ' + Key(row) + u' ' + column));
                }
            }
            // What the report calls converted is converted.
            const std::vector<QStringList> lines = ParseCsv(QString::fromUtf8(FileBytes(report)));
            for (size_t i = 1; i < lines.size(); ++i) {
                if (lines[i][3] != QLatin1String("converted"))
                    continue;
                const size_t row = lines[i][1].mid(6).toULongLong() - 1;
                QVERIFY2(Value(now[row], lines[i][0]) == Value(finished[row], lines[i][0]), qPrintable(after));
            }
        }
        // Finished with the same backup, then restored: the table as it was.
        QCOMPARE(Run({QStringLiteral("--backup"), BackupDir()}).exitCode, 0);
        QVERIFY(ReadImageTable(DatabaseFile()) == finished);
        QCOMPARE(Run({QStringLiteral("--restore"), BackupDir()}).exitCode, 0);
        QVERIFY(ReadImageTable(DatabaseFile()) == original);
    }

    // A kill while the last manifest line was written leaves half of it, its
    // file kept and its value not replaced. The next run with the same
    // --backup drops the half line, and restore then finds every value.
    void halfManifestLineDroppedByTheNextRun_data()
    {
        QTest::addColumn<QString>("lastName");  // BCE01 of the last row
        QTest::addColumn<QString>("cutAfter");  // where in its line the kill cut it
        QTest::newRow("in a field") << "c" << "BAC02/";
        QTest::newRow("after a line break in a quoted BCE01") << "照片\n第二行" << "照片\n";
    }
    void halfManifestLineDroppedByTheNextRun()
    {
        QFETCH(QString, lastName);
        QFETCH(QString, cutAfter);
        {
            ImageTableWriter table(DatabaseFile());
            table.AddRow(QStringLiteral("a"), stored::Bmp24(30, 20, 1), std::nullopt);
            table.AddRow(QStringLiteral("b"), stored::Bmp8(20, 10, 2), std::nullopt);
            table.AddRow(lastName, stored::Bmp24(40, 30, 3), std::nullopt);
        }
        const auto original = ReadImageTable(DatabaseFile());
        QCOMPARE(Run({QStringLiteral("--backup"), BackupDir()}).exitCode, 0);

        // The last row's line, the last in the manifest, cut; its value as it was.
        QFile manifest(QDir(BackupDir()).filePath(QLatin1String(kManifestName)));
        QVERIFY(manifest.open(QIODevice::ReadWrite));
        const QByteArray text = manifest.readAll();
        const qsizetype lastLine = text.lastIndexOf("\nBAC02,rowid=3,") + 1;
        const qsizetype cut = text.indexOf(cutAfter.toUtf8(), lastLine) + cutAfter.toUtf8().size();
        QVERIFY(lastLine > 0 && cut > lastLine);
        QVERIFY(manifest.resize(cut));
        manifest.close();
        folder->run(pictures, QStringLiteral("update BAC1 set BAC02 = ? where rowid = 3"), {*original[2].bac02});

        QCOMPARE(Run({QStringLiteral("--backup"), BackupDir()}).exitCode, 0);
        QVERIFY(ReadImageTable(DatabaseFile()) == FinishedTable(original));
        const ChildOutcome restore = Run({QStringLiteral("--restore"), BackupDir()});
        QVERIFY2(restore.exitCode == 0 && restore.out.contains(QStringLiteral("Restored 3 values.")),
                 qPrintable(restore.out + restore.err));
        QVERIFY(ReadImageTable(DatabaseFile()) == original);
    }

    // The same bytes on every platform; a manifest saved again by a Windows
    // editor, with "\r\n" line ends, reads as it was written.
    void csvLinesReadBackWithEitherLineEnd()
    {
        const std::vector<QStringList> records{{QStringLiteral("a"), QStringLiteral("照片, \"1\"")},
                                               {QStringLiteral("line\r\nbreak"), QString()}};
        QCOMPARE(ParseCsv(CsvLine(records[0]) + CsvLine(records[1])), records);
        const QString windows = QStringLiteral("a,\"照片, \"\"1\"\"\"\r\n\"line\r\nbreak\",\r\n");
        QCOMPARE(ParseCsv(windows), records);
        QCOMPARE(ParseCsv(windows + QStringLiteral("cut,short\r")), records);
    }

    void backupFileNamesStayInsideTheirFolder_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("name");
        QTest::newRow("rowid") << "rowid=42" << "rowid=42";
        QTest::newRow("text") << "code='A/b'" << "code=%27%41%2Fb%27";
        QTest::newRow("parent folder") << "k='..\\\\x'" << "k=%27..%5C%5Cx%27";
        QTest::newRow("two parts") << "a=1, b=NULL" << "a=1%2C%20b=%4E%55%4C%4C";
        QTest::newRow("Chinese") << "名='照'" << "%E5%90%8D=%27%E7%85%A7%27";
        QTest::newRow("Windows device name") << "con.x=1" << "%63on.x=1";
        QTest::newRow("Windows port name") << "lpt1.a=2, b=3" << "%6Cpt1.a=2%2C%20b=3";
        QTest::newRow("device name in a longer name") << "console=1" << "console=1";
        QTest::newRow("long") << QStringLiteral("k='%1'").arg(QString(200, u'x'))
                              << QStringLiteral("k=%27") + QString(98, u'x') + u'~';
    }
    void backupFileNamesStayInsideTheirFolder()
    {
        QFETCH(QString, key);
        QFETCH(QString, name);
        const QString made = BackupFileName(key);
        QVERIFY2(made.startsWith(name), qPrintable(made));
        QVERIFY(made.size() <= 120);
        // The system makes a file of that name in the folder, not elsewhere nor a device.
        QTemporaryDir folder;
        QFile file(folder.filePath(made + QStringLiteral(".bmp")));
        QVERIFY2(file.open(QIODevice::WriteOnly) && file.write("x") == 1, qPrintable(file.errorString()));
        file.close();
        QCOMPARE(QDir(folder.path()).entryList(QDir::Files), QStringList{made + QStringLiteral(".bmp")});
    }

private:
    QString DatabaseFile() const { return folder->file(pictures); }
    QString BackupDir() const { return scratch->filePath(QStringLiteral("backup")); }

    static QString ExpectedOutcome(const QByteArray& before, const QByteArray& after, bool dryRun)
    {
        if (before != after)
            return dryRun ? QStringLiteral("would convert") : QStringLiteral("converted");
        if (before.isEmpty())
            return QStringLiteral("empty");
        if (before.startsWith("BM"))
            return QStringLiteral("unreadable bitmap");
        return before.startsWith("\xff\xd8") ? QStringLiteral("already JPEG") : QStringLiteral("other");
    }

    // The manifest names the row and column, and its file holds `original`.
    bool BackedUp(const std::vector<BackupEntry>& entries, size_t row, const QString& column,
                  const QByteArray& original) const
    {
        for (const BackupEntry& entry : entries) {
            if (entry.column == column && entry.key == Key(row) &&
                FileBytes(QDir(BackupDir()).filePath(entry.file)) == original &&
                entry.sha256 == QString::fromLatin1(QCryptographicHash::hash(original, QCryptographicHash::Sha256).toHex()))
                return true;
        }
        return false;
    }

    // Every kind of value, rows with the same BCE01 and one without; a
    // trigger logs each value written.
    void WriteMixedTable(int photos = 0)
    {
        ImageTableWriter table(DatabaseFile());
        table.AddRow(QStringLiteral("24-bit"), stored::Bmp24(64, 48, 1), stored::Bmp8(40, 30, 3));
        table.AddRow(QStringLiteral("a"), stored::Rle8(30, 20, 2), QByteArray("text"));
        table.AddRow(QStringLiteral("a"), stored::Jpeg(20, 20, 5), stored::Bmp24(5, 1, 4));
        table.AddRow(std::nullopt, QByteArray(), stored::Bmp24(7, 7, 6));
        table.AddRow(QStringLiteral("x,\"y\"\n照片"), QByteArrayLiteral("BM") + QByteArray(60, '\x7f'), std::nullopt);
        table.AddRow(QStringLiteral("nulls"), std::nullopt, std::nullopt);
        for (int i = 0; i < photos; ++i)
            table.AddRow(QStringLiteral("p%1").arg(i), stored::Bmp24(120 + i, 90, 10 + i), std::nullopt);
        table.Execute(QStringLiteral("create table writes (BCE01 text, col text)"));
        for (const char* column : {"BAC02", "BAC04"})
            table.Execute(QStringLiteral("create trigger log_%1 after update of %1 on BAC1 "
                                         "begin insert into writes values (new.BCE01, '%1'); end")
                              .arg(QLatin1String(column)));
    }

    QStringList Connection() const
    {
        return {QStringLiteral("--server"), folder->path(), QStringLiteral("--user"), QStringLiteral("sa"),
                QStringLiteral("--database"), pictures};
    }

    ChildOutcome Run(const QStringList& extra) const
    {
        return RunChild(QStringList{QStringLiteral(BMP2JPG_BATCH)} + Connection() + extra);
    }

    // The batch command's process on the embedded server, or its logic
    // in-process through the SQLite ODBC driver.
    int Batch(bool odbc, const QStringList& extra) const
    {
        if (!odbc)
            return Run(extra).exitCode;
        qputenv("BMP2JPG_PASSWORD", "secret");
        return RunBatch(Connection() + extra, SqliteOdbcProfile());
    }

    std::unique_ptr<ServerFolder> folder;
    std::unique_ptr<QTemporaryDir> scratch;
};

QTEST_GUILESS_MAIN(WayBackTest)
#include "tst_way_back.moc"
