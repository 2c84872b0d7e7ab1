// What the tools write holds pictures of people: readable by its owner only,
// whatever the umask. The desktop tool's scratch folders and files, the
// batch command's backup folder, its files and manifest, and the report.
#include "convert/ConversionRun.h"
#include "convert/ScratchFiles.h"
#include "tests/main/ChildProcess.h"
#include "tools/demo/ImageTableWriter.h"
#include "tools/demo/StoredPictures.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#ifndef Q_OS_WIN
#include <sys/stat.h>
#endif

namespace {

#ifndef Q_OS_WIN
// Entries under the folder that others may read or enter: not 0700 folders
// and 0600 files.
QStringList OpenToOthers(const QString& folder)
{
    QStringList open;
    QDirIterator it(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        struct stat status {};
        if (::lstat(QFile::encodeName(path).constData(), &status) != 0) {
            open << path + QStringLiteral(" (cannot be read)");
            continue;
        }
        const mode_t wanted = S_ISDIR(status.st_mode) ? 0700 : 0600;
        if ((status.st_mode & 07777) != wanted)
            open << QStringLiteral("%1 %2").arg(path).arg(status.st_mode & 07777, 4, 8, QLatin1Char('0'));
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

class PrivateFilesTest : public QObject {
    Q_OBJECT

private slots:
    void madeForTheOwnerOnlyUnderUmask022_data()
    {
        QTest::addColumn<QString>("maker");    // the desktop job's scratch files, or the batch command
        QTest::addColumn<QString>("earlier");  // what an earlier version left, open to others
        QTest::newRow("scratch folders in a new cache folder") << "desktop" << "";
        QTest::newRow("scratch folders an earlier version made") << "desktop" << "scratch folders";
        QTest::newRow("backup in new folders, and a report") << "batch" << "";
        QTest::newRow("report in place of an earlier one") << "batch" << "report";
    }
    void madeForTheOwnerOnlyUnderUmask022()
    {
#ifdef Q_OS_WIN
        QSKIP("file modes are POSIX; on Windows files inherit the permissions of the user's folders");
#else
        QFETCH(QString, maker);
        QFETCH(QString, earlier);
        const Umask usual(022);
        const QTemporaryDir out;  // 0700 itself
        const QDir base(out.path());
        if (maker == QLatin1String("desktop")) {
            // An installed copy's root: the user's cache, made by the job.
            const QString root = base.filePath(QStringLiteral("home/.cache/bmp2jpg"));
            if (!earlier.isEmpty()) {
                QVERIFY(QDir().mkpath(root));
                for (const QString& made : {QStringLiteral("home"), QStringLiteral("home/.cache"), QStringLiteral("home/.cache/bmp2jpg")})
                    QVERIFY(QFile::setPermissions(base.filePath(made), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
                QVERIFY(QDir().mkpath(root + QStringLiteral("/BAC02/bmp")) && QDir().mkpath(root + QStringLiteral("/BAC02/jpg")));
            }
            ScratchFileConverter converter(root.toStdU16String());
            converter.BeginPass(QStringLiteral("BAC02"));
            converter.Start(QStringLiteral("row"), stored::Bmp24(64, 48, 1));
            QVERIFY(converter.Finish());
            // Files are kept only while a picture converts: look at a pair while it exists.
            const RowScratchFiles files((root + QStringLiteral("/BAC02/bmp")).toStdU16String(),
                                        (root + QStringLiteral("/BAC02/jpg")).toStdU16String(), QStringLiteral("row"));
            QCOMPARE(QDir(root + QStringLiteral("/BAC02/bmp")).entryList(QDir::Files).size(), 1);
            QCOMPARE(OpenToOthers(out.path()), QStringList());
            return;
        }
        const QTemporaryDir server;
        ImageTableWriter(QDir(server.path()).filePath(QStringLiteral("pictures.db")))
            .AddRow(QStringLiteral("a"), stored::Bmp24(64, 48, 1), stored::Bmp24(8, 8, 2));
        const QString report = base.filePath(QStringLiteral("report.csv"));
        if (!earlier.isEmpty()) {
            QFile file(report);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write("column,key,BCE01,outcome,bytes before,bytes after\n") > 0);
        }
        const ChildOutcome run = RunChild({QStringLiteral(BMP2JPG_BATCH), QStringLiteral("--server"), server.path(),
                                           QStringLiteral("--user"), QStringLiteral("sa"), QStringLiteral("--database"),
                                           QStringLiteral("pictures"), QStringLiteral("--backup"),
                                           base.filePath(QStringLiteral("kept/by/run")), QStringLiteral("--report"), report});
        QCOMPARE(run.exitCode, 0);
        QVERIFY(QFile::exists(base.filePath(QStringLiteral("kept/by/run/BAC04"))));
        QCOMPARE(OpenToOthers(out.path()), QStringList());
#endif
    }
};

QTEST_GUILESS_MAIN(PrivateFilesTest)
#include "tst_private_files.moc"
