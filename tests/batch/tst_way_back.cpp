// The way back: a conversion with --backup and --report, then --restore,
// through the batch command's process and in-process through ODBC; where it
// may write, and who may read what it and the desktop job write.
#include "job/BackupFolder.h"
#include "job/BackupManifest.h"
#include "batch/BatchMain.h"
#include "job/CsvLine.h"
#include "job/SafeFileNames.h"
#include "job/ConversionRun.h"
#include "job/ScratchFiles.h"
#include "data/ExactText.h"
#include "tests/data/ServerFolder.h"
#include "tests/data/SqliteOdbcProfile.h"
#include "tests/job/ChildProcess.h"
#include "tests/job/ExpectedValues.h"
#include "tests/job/KillTest.h"
#include "testdata/ImageTableReader.h"
#include "testdata/ImageTableWriter.h"
#include "testdata/StoredPictures.h"

#include <QCryptographicHash>
#include <QtEndian>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <QTest>

#include <map>

#ifndef Q_OS_WIN
#include <sys/stat.h>
#endif

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

#ifndef Q_OS_WIN
// Entries under the folder others may read or enter: not 0700 folders and 0600 files.
QStringList OpenToOthers(const QString& folder)
{
    QStringList open;
    QDirIterator it(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        struct stat status {};
        const bool read = ::lstat(QFile::encodeName(path).constData(), &status) == 0;
        if (!read || (status.st_mode & 07777) != (S_ISDIR(status.st_mode) ? 0700u : 0600u))
            open << QStringLiteral("%1 %2").arg(path).arg(status.st_mode & 07777, 4, 8);
    }
    return open;
}

struct Umask {
    explicit Umask(mode_t mask) : previous(::umask(mask)) {}
    ~Umask() { ::umask(previous); }
    mode_t previous;
};
#endif

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

    // Rows named by SQLite's rowid move with a DELETE and a VACUUM; two rows
    // whose pictures differ only in their resolution become the same JPEG.
    // Each original goes back to its own row or nowhere.
    void restoreWritesOnlyIntoTheRowTheOriginalCameFrom_data()
    {
        QTest::addColumn<bool>("declaredKey");
        QTest::newRow("rowid") << false;
        QTest::newRow("INTEGER PRIMARY KEY") << true;
    }
    void restoreWritesOnlyIntoTheRowTheOriginalCameFrom()
    {
        QFETCH(bool, declaredKey);
        const QByteArray at72dpi = stored::Bmp24(64, 48, 7);
        QByteArray at300dpi = at72dpi;
        qToLittleEndian<qint32>(11811, at300dpi.data() + 38);
        qToLittleEndian<qint32>(11811, at300dpi.data() + 42);
        {
            ImageTableWriter table(DatabaseFile());
            table.AddRow(QStringLiteral("gone"), stored::Bmp24(30, 20, 1), std::nullopt);
            table.AddRow(QStringLiteral("A"), at72dpi, std::nullopt);
            table.AddRow(QStringLiteral("B"), at300dpi, std::nullopt);
            // Nothing but the key tells these two apart.
            table.AddRow(QStringLiteral("twin"), at72dpi, std::nullopt);
            table.AddRow(QStringLiteral("twin"), at300dpi, std::nullopt);
            if (declaredKey) {
                table.Execute(QStringLiteral("create table keyed (ID integer primary key, BCE01 varchar(50), BAC02 blob, BAC04 blob)"));
                table.Execute(QStringLiteral("insert into keyed (BCE01, BAC02, BAC04) select BCE01, BAC02, BAC04 from BAC1"));
                table.Execute(QStringLiteral("drop table BAC1"));
                table.Execute(QStringLiteral("alter table keyed rename to BAC1"));
            }
        }
        QCOMPARE(Run({QStringLiteral("--backup"), BackupDir()}).exitCode, 0);
        const auto converted = ReadImageTable(DatabaseFile());
        QCOMPARE(converted[1].bac02, converted[2].bac02);  // the same JPEG
        folder->run(pictures, QStringLiteral("delete from BAC1 where BCE01 = 'gone'"));
        folder->run(pictures, QStringLiteral("vacuum"));

        const ChildOutcome restore = Run({QStringLiteral("--restore"), BackupDir()});
        QCOMPARE(restore.exitCode, 0);
        const auto now = ReadImageTable(DatabaseFile());
        QCOMPARE(int(now.size()), 4);
        QCOMPARE(now[0].bac02, std::optional(at72dpi));
        QCOMPARE(now[1].bac02, std::optional(at300dpi));
        QCOMPARE(now[2].bac02, declaredKey ? std::optional(at72dpi) : converted[3].bac02);
        QCOMPARE(now[3].bac02, declaredKey ? std::optional(at300dpi) : converted[4].bac02);
        QVERIFY2(restore.out.contains(declaredKey ? QStringLiteral("Restored 4 values.") : QStringLiteral("Restored 2 values.")),
                 qPrintable(restore.out));
        QVERIFY2(restore.out.contains(QStringLiteral("Not found (row gone or value NULL): 1.")), qPrintable(restore.out));
        if (!declaredKey)
            QVERIFY2(restore.err.count(QStringLiteral("(BCE01 \"twin\"), column BAC02: 2 rows match")) == 2,
                     qPrintable(restore.err));
    }

    // A manifest line or backup file that points elsewhere, or holds other
    // bytes, is reported and skipped; every other value is restored.
    void restoreReadsOnlyTheRecordedFilesInsideItsFolder_data()
    {
        QTest::addColumn<QString>("tampering");
        QTest::newRow("absolute path") << "absolute";
        QTest::newRow("parent folder") << "parent";
        QTest::newRow("symbolic link") << "link";
        QTest::newRow("other bytes") << "bytes";
    }
    void restoreReadsOnlyTheRecordedFilesInsideItsFolder()
    {
        QFETCH(QString, tampering);
#ifdef Q_OS_WIN
        if (tampering == QLatin1String("link"))
            QSKIP("making a symbolic link needs a privilege on Windows");
#endif
        WriteMixedTable();
        const auto original = ReadImageTable(DatabaseFile());
        QCOMPARE(Run({QStringLiteral("--backup"), BackupDir()}).exitCode, 0);
        const auto converted = ReadImageTable(DatabaseFile());

        // Someone else's file, made to look like the recorded original.
        const QByteArray secret = "BM someone else's file";
        const QString outside = scratch->filePath(QStringLiteral("outside.bin"));
        QFile outsideFile(outside);
        QVERIFY(outsideFile.open(QIODevice::WriteOnly) && outsideFile.write(secret) == secret.size());
        outsideFile.close();
        std::vector<BackupEntry> entries = ReadManifest(BackupDir());
        BackupEntry& first = entries.front();
        const QString kept = QDir(BackupDir()).filePath(first.file);
        if (tampering != QLatin1String("bytes")) {
            first.bytes = secret.size();
            first.sha256 = Sha256Hex(secret);
        }
        if (tampering == QLatin1String("absolute"))
            first.file = outside;
        if (tampering == QLatin1String("parent"))
            first.file = QStringLiteral("../outside.bin");
        if (tampering == QLatin1String("link"))
            QVERIFY(QFile::remove(kept) && QFile::link(outside, kept));
        if (tampering == QLatin1String("bytes")) {
            QFile file(kept);
            QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(secret) == secret.size());
        }
        QFile manifest(QDir(BackupDir()).filePath(QLatin1String(kManifestName)));
        QVERIFY(manifest.open(QIODevice::WriteOnly | QIODevice::Truncate));
        manifest.write(CsvLine(ManifestHeader()).toUtf8());
        for (const BackupEntry& entry : entries)
            manifest.write(ManifestLine(entry).toUtf8());
        manifest.close();

        const ChildOutcome restore = Run({QStringLiteral("--restore"), BackupDir()});
        QCOMPARE(restore.exitCode, 1);
        QVERIFY2(restore.err.contains(QStringLiteral("row %1 (BCE01 \"%2\"), column %3: ").arg(first.key, first.bce01, first.column)) &&
                     restore.err.contains(QStringLiteral("not restored")),
                 qPrintable(restore.err));
        QVERIFY2(restore.out.contains(QStringLiteral("Restored %1 values.").arg(entries.size() - 1)), qPrintable(restore.out));
        auto expected = original;
        const size_t row = first.key.mid(6).toULongLong() - 1;
        (first.column == QLatin1String("BAC02") ? expected[row].bac02 : expected[row].bac04) =
            *Value(converted[row], first.column);
        QVERIFY(ReadImageTable(DatabaseFile()) == expected);
    }

    // Each output the command line names, in a place that is not ours: the
    // run is refused before anything is written, nothing on the disk changes.
    void outputsInPlacesNotOursAreRefused_data()
    {
        QTest::addColumn<QString>("inTheWay");  // what stands there before the run
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("message");
        const QString dry = QStringLiteral("--dry-run");
        const QString report = QStringLiteral("--report");
        const QString backup = QStringLiteral("--backup");
        QTest::newRow("report is the database file")
            << "" << QStringList{dry, report, "<db>"} << "--report \"<db>\" would write over the database file \"<db>\"";
        QTest::newRow("report is a link to the database file")
            << "link to db" << QStringList{dry, report, "<scratch>/link.csv"}
            << "--report \"<scratch>/link.csv\" would write over the database file \"<db>\"";
        QTest::newRow("report in the server's folder")
            << "" << QStringList{dry, report, "<server>/report.csv"}
            << "--report \"<server>/report.csv\" would write into the embedded server's folder \"<server>\"";
        QTest::newRow("backup in the server's folder")
            << "" << QStringList{backup, "<server>/backup"}
            << "--backup \"<server>/backup\" would write into the embedded server's folder \"<server>\"";
        QTest::newRow("report is the backup's manifest")
            << "" << QStringList{backup, "<backup>", report, "<backup>/manifest.csv"}
            << "--report \"<backup>/manifest.csv\" would write into the --backup folder \"<backup>\"";
        QTest::newRow("report over an earlier manifest")
            << "our manifest" << QStringList{report, "<backup>/manifest.csv"}
            << "--report \"<backup>/manifest.csv\" is a file that is not a report of an earlier run";
        QTest::newRow("report over another file")
            << "other file" << QStringList{report, "<scratch>/notes.txt"}
            << "--report \"<scratch>/notes.txt\" is a file that is not a report of an earlier run";
        QTest::newRow("report over a folder")
            << "report folder" << QStringList{report, "<scratch>/report.csv"}
            << "--report \"<scratch>/report.csv\" is a folder that is not a report of an earlier run";
        QTest::newRow("manifest is a link leading nowhere")
            << "manifest link" << QStringList{backup, "<backup>"}
            << "--backup \"<backup>\": \"<backup>/manifest.csv\" is a symbolic link, not a backup manifest";
        QTest::newRow("manifest is not ours")
            << "foreign manifest" << QStringList{backup, "<backup>"} << "<backup>/manifest.csv\" is not a backup manifest";
        QTest::newRow("manifest is a folder")
            << "manifest folder" << QStringList{backup, "<backup>"}
            << "--backup \"<backup>\": \"<backup>/manifest.csv\" is a folder, not a backup manifest";
        QTest::newRow("backup is a file") << "backup file" << QStringList{backup, "<backup>"}
                                          << "--backup \"<backup>\" is a file, not a folder";
    }
    void outputsInPlacesNotOursAreRefused()
    {
        QFETCH(QString, inTheWay);
        QFETCH(QStringList, arguments);
        QFETCH(QString, message);
        WriteMixedTable();
        const auto placed = [&](QString text) {
            return QDir::toNativeSeparators(text.replace(QLatin1String("<db>"), DatabaseFile())
                                                .replace(QLatin1String("<server>"), folder->path())
                                                .replace(QLatin1String("<backup>"), BackupDir())
                                                .replace(QLatin1String("<scratch>"), scratch->path()));
        };
        if (inTheWay.contains(QLatin1String("link"))) {
#ifdef Q_OS_WIN
            QSKIP("symbolic links are made by administrators only on Windows");
#endif
        }
        const QString manifest = BackupDir() + QStringLiteral("/manifest.csv");
        if (inTheWay != QLatin1String("backup file") && !inTheWay.isEmpty())
            QVERIFY(QDir().mkpath(BackupDir()));
        if (inTheWay == QLatin1String("link to db"))
            QVERIFY(QFile::link(DatabaseFile(), scratch->filePath(QStringLiteral("link.csv"))));
        if (inTheWay == QLatin1String("manifest link"))
            QVERIFY(QFile::link(scratch->filePath(QStringLiteral("nowhere")), manifest));
        if (inTheWay == QLatin1String("our manifest"))
            WriteFile(manifest, CsvLine(ManifestHeader()).toUtf8());
        if (inTheWay == QLatin1String("foreign manifest"))
            WriteFile(manifest, "name,size\nx,1\n");
        if (inTheWay == QLatin1String("manifest folder"))
            QVERIFY(QDir().mkpath(manifest));
        if (inTheWay == QLatin1String("other file"))
            WriteFile(scratch->filePath(QStringLiteral("notes.txt")), "mine\n");
        if (inTheWay == QLatin1String("report folder"))
            QVERIFY(QDir().mkpath(scratch->filePath(QStringLiteral("report.csv"))));
        if (inTheWay == QLatin1String("backup file"))
            WriteFile(BackupDir(), "mine\n");
        const QStringList before = Listing(folder->path()) + Listing(scratch->path());

        QStringList command;
        for (const QString& argument : arguments)
            command << placed(argument);
        const ChildOutcome outcome = Run(command);
        QCOMPARE(outcome.exitCode, 2);
        QVERIFY2(outcome.err.contains(placed(message)), qPrintable(outcome.err));
        QCOMPARE(Listing(folder->path()) + Listing(scratch->path()), before);
    }

    // What holds pictures of people is its owner's alone, whatever the umask.
    void madeForTheOwnerOnlyUnderUmask022_data()
    {
        QTest::addColumn<bool>("desktop");  // the desktop job's scratch files, or the batch command
        QTest::addColumn<bool>("earlier");  // what an earlier version left open to others
        QTest::newRow("scratch folders in a new cache folder") << true << false;
        QTest::newRow("scratch folders an earlier version made") << true << true;
        QTest::newRow("backup in new folders, and a report") << false << false;
        QTest::newRow("report in place of an earlier one") << false << true;
    }
    void madeForTheOwnerOnlyUnderUmask022()
    {
#ifdef Q_OS_WIN
        QSKIP("file modes are POSIX; on Windows files inherit the permissions of the user's folders");
#else
        QFETCH(bool, desktop);
        QFETCH(bool, earlier);
        const Umask usual(022);
        const QDir out(scratch->path());  // 0700 itself
        if (desktop) {
            // An installed copy's root, in the user's cache.
            const QString root = out.filePath(QStringLiteral("home/.cache/bmp2jpg"));
            if (earlier) {
                // Its own folders open to others; the cache folders above them private.
                const QFile::Permissions ownerOnly = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;
                QVERIFY(QDir().mkdir(out.filePath(QStringLiteral("home")), ownerOnly));
                QVERIFY(QDir().mkpath(root + QStringLiteral("/BAC02/bmp")) && QDir().mkpath(root + QStringLiteral("/BAC02/jpg")));
                QVERIFY(QFile::setPermissions(out.filePath(QStringLiteral("home/.cache")), ownerOnly));
                QVERIFY(QFile::setPermissions(root, ownerOnly));
            }
            ScratchFileConverter(root.toStdU16String()).beginPass(QStringLiteral("BAC02"));
            const RowScratchFiles files((root + QStringLiteral("/BAC02/bmp")).toStdU16String(),
                                        (root + QStringLiteral("/BAC02/jpg")).toStdU16String(), QStringLiteral("row"));
            QCOMPARE(OpenToOthers(out.path()), QStringList());
            return;
        }
        WriteMixedTable();
        const QString report = out.filePath(QStringLiteral("report.csv"));
        if (earlier)
            WriteFile(report, "column,key,BCE01,outcome,bytes before,bytes after\n");
        const QString backup = out.filePath(QStringLiteral("new/backup"));
        QCOMPARE(Run({QStringLiteral("--backup"), backup, QStringLiteral("--report"), report}).exitCode, 0);
        QVERIFY(QFile::exists(backup + QStringLiteral("/BAC04")));
        QCOMPARE(OpenToOthers(out.path()), QStringList());
#endif
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

    // A spreadsheet opening the report or manifest runs no id as a formula,
    // and each id reads back as its row holds it, valid UTF-8 or not.
    void idsAreSafeToOpenAndReadBackExactly_data()
    {
        QTest::addColumn<QByteArray>("stored");  // BCE01's bytes, stored as text
        QTest::addColumn<QString>("written");    // the field as a spreadsheet reads it
        QTest::newRow("equals") << QByteArray("=1+1") << "'=1+1";
        QTest::newRow("plus") << QByteArray("+49 30") << "'+49 30";
        QTest::newRow("minus") << QByteArray("-2") << "'-2";
        QTest::newRow("at") << QByteArray("@SUM(A1:A9)") << "'@SUM(A1:A9)";
        QTest::newRow("tab") << QByteArray("\t=1") << "'\t=1";
        QTest::newRow("formula with quotes") << QByteArray("=HYPERLINK(\"x\")") << "\"'=HYPERLINK(\"\"x\"\")\"";
        QTest::newRow("apostrophe") << QByteArray("'=1") << "''=1";
        QTest::newRow("not UTF-8") << QByteArray("\xff\xfe" "A\xc3(") << "'\\xfffe41c328";
        QTest::newRow("text like the escaped form") << QByteArray("'\\xff") << "''\\xff";
        QTest::newRow("Chinese") << QByteArray("照片") << "照片";
    }
    void idsAreSafeToOpenAndReadBackExactly()
    {
        QFETCH(QByteArray, stored);
        QFETCH(QString, written);
        {
            ImageTableWriter table(DatabaseFile());
            table.AddRow(QString(), stored::Bmp24(8, 8, 1), std::nullopt);
        }
        folder->run(pictures, QStringLiteral("update BAC1 set BCE01 = cast(? as text)"), {stored});
        const QString report = scratch->filePath(QStringLiteral("report.csv"));
        QCOMPARE(Run({QStringLiteral("--backup"), BackupDir(), QStringLiteral("--report"), report}).exitCode, 0);

        const QString line = QStringLiteral("BAC02,rowid=1,%1,").arg(written);
        for (const QString& file : {report, BackupDir() + QStringLiteral("/manifest.csv")}) {
            QStringDecoder strict(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
            const QString text = strict.decode(FileBytes(file));
            QVERIFY2(!strict.hasError(), qPrintable(file));
            QVERIFY2(text.contains(u'\n' + line), qPrintable(text));
        }
        const std::vector<QStringList> lines = ParseCsv(QString::fromUtf8(FileBytes(report)));
        QCOMPARE(lines.size(), size_t(2));
        QCOMPARE(ExactBytes(lines[1][2]), std::optional(stored));
        QCOMPARE(ExactBytes(ReadManifest(BackupDir()).front().bce01), std::optional(stored));
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

    static void WriteFile(const QString& path, const QByteArray& bytes)
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
    }

    // Every entry under the folder, links as links, with the bytes of each file.
    static QStringList Listing(const QString& folder)
    {
        QStringList entries;
        QDirIterator it(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QFileInfo entry(it.next());
            entries << entry.filePath() + u' ' + entry.symLinkTarget() + u' ' +
                           QString::fromLatin1(QCryptographicHash::hash(FileBytes(entry.filePath()),
                                                                        QCryptographicHash::Sha256).toHex());
        }
        entries.sort();
        return entries;
    }
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
