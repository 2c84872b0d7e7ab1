// bmp2jpg-batch as a process whose outputs go where shells and schedulers
// send them: a pipe nobody reads any more, a full device, and a machine
// without its Qt SQL drivers. It either finishes the job or says why not.
#include "tests/data/ServerFolder.h"
#include "tests/job/ChildProcess.h"
#include "tests/job/ExpectedValues.h"
#include "testdata/ImageTableReader.h"
#include "testdata/ImageTableWriter.h"
#include "testdata/StoredPictures.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

const QString pictures = QStringLiteral("pictures");

}  // namespace

class BatchProcessTest : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        folder = std::make_unique<ServerFolder>();
        {
            ImageTableWriter table(DatabaseFile());
            for (int i = 0; i < 6; ++i)
                table.AddRow(QStringLiteral("r%1").arg(i), stored::Bmp24(40 + i, 30, i),
                             i % 2 ? std::optional(stored::Bmp24(20, 10 + i, i + 10)) : std::optional(QByteArray("text")));
        }
        original = ReadImageTable(DatabaseFile());
    }

    void closedPipeDoesNotKillTheRun_data()
    {
        QTest::addColumn<int>("channel");
        QTest::addColumn<int>("exitCode");
#ifdef Q_OS_UNIX
        // Progress nobody reads is no failure; a summary nobody gets is.
        QTest::newRow("progress on standard error") << int(STDERR_FILENO) << 0;
        QTest::newRow("summary on standard output") << int(STDOUT_FILENO) << 1;
#endif
    }
    void closedPipeDoesNotKillTheRun()
    {
#ifdef Q_OS_UNIX
        QFETCH(int, channel);
        QFETCH(int, exitCode);
        // The read end is closed before the process starts, so its very first
        // write to the channel meets a pipe without a reader.
        int ends[2];
        QCOMPARE(::pipe2(ends, O_CLOEXEC), 0);
        ::close(ends[0]);
        const int writeEnd = ends[1];
        QProcess batch;
        batch.setChildProcessModifier([writeEnd, channel] { ::dup2(writeEnd, channel); });
        Start(batch);
        ::close(writeEnd);
        QVERIFY(batch.waitForFinished(300000));

        QCOMPARE(batch.exitStatus(), QProcess::NormalExit);
        QCOMPARE(batch.exitCode(), exitCode);
        QVERIFY(ReadImageTable(DatabaseFile()) == FinishedTable(original));
        if (channel == STDOUT_FILENO) {
            const QString err = QString::fromUtf8(batch.readAllStandardError());
            QVERIFY2(err.contains(QStringLiteral("bmp2jpg-batch: cannot write the summary")), qPrintable(err));
        } else {
            const QString out = QString::fromUtf8(batch.readAllStandardOutput());
            QVERIFY2(out.contains(QStringLiteral("Converted 9 values, left 3 unchanged.")), qPrintable(out));
        }
#else
        QSKIP("pipes without a reader raise SIGPIPE on POSIX only");
#endif
    }

    void summaryOnAFullDeviceGivesExitCodeOne()
    {
#ifdef Q_OS_LINUX
        QProcess batch;
        batch.setStandardOutputFile(QStringLiteral("/dev/full"));
        Start(batch);
        QVERIFY(batch.waitForFinished(300000));

        QCOMPARE(batch.exitStatus(), QProcess::NormalExit);
        QCOMPARE(batch.exitCode(), 1);
        const QString err = QString::fromUtf8(batch.readAllStandardError());
        QVERIFY2(err.contains(QStringLiteral("bmp2jpg-batch: cannot write the summary")), qPrintable(err));
        QVERIFY(ReadImageTable(DatabaseFile()) == FinishedTable(original));
#else
        QSKIP("/dev/full is a Linux device");
#endif
    }

    void missingSqlDriverGivesMessageAndExitCodeOne()
    {
        // A copy of the command beside a qt.conf that sends its plugin search
        // to an empty folder: the built-in plugin path is replaced, not added to.
        QTemporaryDir alone;
        const QString program = alone.filePath(QFileInfo(QStringLiteral(BMP2JPG_BATCH)).fileName());
        QVERIFY(QFile::copy(QStringLiteral(BMP2JPG_BATCH), program));
        QVERIFY(QDir(alone.path()).mkdir(QStringLiteral("no-plugins")));
        QFile conf(alone.filePath(QStringLiteral("qt.conf")));
        QVERIFY(conf.open(QIODevice::WriteOnly));
        conf.write(QStringLiteral("[Paths]\nPrefix=%1\nPlugins=%1/no-plugins\n").arg(alone.path()).toUtf8());
        conf.close();

        QProcess batch;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(QStringLiteral("QT_PLUGIN_PATH"));
        Start(batch, program, environment);
        QVERIFY(batch.waitForFinished(60000));

        QCOMPARE(batch.exitStatus(), QProcess::NormalExit);
        QCOMPARE(batch.exitCode(), 1);
        const QString err = QString::fromUtf8(batch.readAllStandardError());
        QVERIFY2(err.contains(QStringLiteral(
                     "bmp2jpg-batch: The database client cannot be loaded: Qt SQL driver QODBC is missing") +
                 kChildLineEnd),
                 qPrintable(err));
        QVERIFY(ReadImageTable(DatabaseFile()) == original);
    }

private:
    QString DatabaseFile() const { return folder->file(pictures); }

    void Start(QProcess& batch, const QString& program = QStringLiteral(BMP2JPG_BATCH),
               QProcessEnvironment environment = QProcessEnvironment::systemEnvironment())
    {
        environment.insert(QStringLiteral("BMP2JPG_PASSWORD"), QStringLiteral("secret"));
        batch.setProcessEnvironment(environment);
        batch.start(program, {QStringLiteral("--server"), folder->path(), QStringLiteral("--user"), QStringLiteral("sa"),
                              QStringLiteral("--database"), pictures, QStringLiteral("--jobs"), QStringLiteral("2")});
        batch.closeWriteChannel();
        QVERIFY(batch.waitForStarted());
    }

    std::unique_ptr<ServerFolder> folder;
    std::vector<ImageRow> original;
};

QTEST_GUILESS_MAIN(BatchProcessTest)
#include "tst_batch_process.moc"
