// The run in a process of its own, killed, rejected by the database and
// starved of disk space: no stored value may ever be anything but its
// original bytes or its finished JPEG.
#include "job/ConversionRun.h"
#include "job/ScratchFiles.h"
#include "job/SafeFileNames.h"
#include "job/ScratchRoot.h"
#include "data/UDataModule.h"
#include "tests/data/SqliteOdbcProfile.h"
#include "tests/job/ExpectedValues.h"
#include "tests/job/KillTest.h"
#include "tests/job/LockedRowTable.h"
#include "testdata/StoredPictures.h"
#include "testdata/ImageTableReader.h"
#include "testdata/ImageTableWriter.h"

#include <QDir>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

namespace {

struct JobResult {
    int exitCode;
    QString errorText;
};

}  // namespace

class RunReliabilityTest : public QObject {
    Q_OBJECT

private slots:
    void killedAtRandomMomentsLeavesEveryValueWholeThenFinishes()
    {
        WriteKillTestTable(DatabaseFile());
        const auto original = ReadImageTable(DatabaseFile());
        const auto finished = FinishedTable(original);

        QRandomGenerator generator(KillSeed());
        auto* random = &generator;
        for (int kill = 0; kill < 12; ++kill) {
            QProcess job;
            job.start(QStringLiteral(JOB_CHILD), {folder.path(), QStringLiteral("kill")});
            QVERIFY(job.waitForStarted());
            QTest::qWait(int(random->bounded(30, 900)));
            job.kill();
            job.waitForFinished();
            QVERIFY2(EachValueOriginalOrFinished(original, finished, ReadImageTable(DatabaseFile())),
                     qPrintable(QStringLiteral("after kill %1").arg(kill)));
        }
        QCOMPARE(RunJob().exitCode, 0);
        QVERIFY(ReadImageTable(DatabaseFile()) == finished);
    }

    void rejectedWriteStopsAtThatRowKeepingEarlierRows()
    {
        WriteLockedRowTable(DatabaseFile());
        const auto original = ReadImageTable(DatabaseFile());

        const JobResult result = RunJob();
        QCOMPARE(result.exitCode, 1);
        QVERIFY2(result.errorText.contains(QStringLiteral("row locked is read-only")), qPrintable(result.errorText));
        QVERIFY(StoppedAtLockedRow(original, ReadImageTable(DatabaseFile())));
    }

    void fullDiskStopsTheRunWithTheFileError()
    {
#ifndef Q_OS_UNIX
        QSKIP("the disk is made full by a POSIX file-size limit (ulimit -f), which Windows has not");
#endif
        {
            ImageTableWriter table(DatabaseFile());
            table.AddRow(QStringLiteral("small"), stored::Bmp24(30, 20, 1), std::nullopt);
            table.AddRow(QStringLiteral("large"), stored::Bmp24(1024, 768, 2), std::nullopt);
        }
        const auto original = ReadImageTable(DatabaseFile());
        const auto finished = FinishedTable(original);

        // The scratch copy of the large picture is the first write past the
        // limit; the signal is ignored so the write fails with an error.
        const JobResult result = RunJob({QStringLiteral("-c"),
                                         QStringLiteral("trap '' XFSZ; ulimit -f 1024; exec \"$0\" \"$@\""),
                                         QStringLiteral(JOB_CHILD)});
        QCOMPARE(result.exitCode, 1);
        QVERIFY2(result.errorText.contains(QStringLiteral("row BCE01 \"large\", column BAC02: Cannot write file")) &&
                     result.errorText.contains(QDir::toNativeSeparators(QStringLiteral("BAC02/bmp/large."))),
                 qPrintable(result.errorText));
        const auto now = ReadImageTable(DatabaseFile());
        QVERIFY(EachValueOriginalOrFinished(original, finished, now));
        QCOMPARE(now[1].bac02, original[1].bac02);
    }

    void sameJobThroughOdbc()
    {
        {
            ImageTableWriter table(DatabaseFile());
            table.AddRow(QStringLiteral("a"), stored::Bmp24(64, 48, 1), stored::Rle8(30, 20, 2));
            table.AddRow(QStringLiteral("a"), stored::Bmp8(33, 21, 3), QByteArray());
            table.AddRow(std::nullopt, stored::Jpeg(20, 20, 4), QByteArray("text"));
            table.AddRow(QStringLiteral("照片"), std::nullopt, stored::Bmp24(5, 1, 5));
        }
        const auto original = ReadImageTable(DatabaseFile());
        {
            TDataModule1 dataModule(SqliteOdbcProfile());
            dataModule.DataSource = folder.path();
            dataModule.UserID = QStringLiteral("sa");
            dataModule.InitialCatalog = QStringLiteral("kill");
            QVERIFY(dataModule.Connect());
            int pictures = 0;
            TConversionRun(dataModule, ExeFolder(), [&] { ++pictures; }).run();
            QCOMPARE(pictures, 7);
        }
        QVERIFY(ReadImageTable(DatabaseFile()) == FinishedTable(original));
    }

    void scratchNamesStayInsideTheirFolder_data()
    {
        QTest::addColumn<QString>("identifier");
        QTest::addColumn<QString>("name");
        QTest::newRow("plain") << "A-17_x" << "A-17_x";
        QTest::newRow("Chinese kept") << "照片一" << "照片一";
        QTest::newRow("parent folders") << "..\\..\\x" << "______x";
        QTest::newRow("slash") << "a/b" << "a_b";
        QTest::newRow("drive") << "C:x" << "C_x";
        QTest::newRow("forbidden characters") << "a*?<>|\"b" << "a______b";
        QTest::newRow("NULL or empty") << "" << "_";
        QTest::newRow("device name") << "con" << "_con";
        QTest::newRow("device name with number") << "LPT1" << "_LPT1";
        QTest::newRow("device name with a superscript") << "COM²" << "_COM²";
        QTest::newRow("only dots") << ".." << "__";
        QTest::newRow("long") << QString(300, u'x') << QString(64, u'x');
    }
    void scratchNamesStayInsideTheirFolder()
    {
        QFETCH(QString, identifier);
        QFETCH(QString, name);
        QCOMPARE(ScratchFileName(identifier), name);
    }

    void scratchFoldersInTheUsersCacheOnlyWhenInstalled_data()
    {
        QTest::addColumn<QString>("exe");    // the executable's folder, under a scratch root
        QTest::addColumn<QString>("share");  // a folder made there; empty: none
        QTest::addColumn<QString>("cache");  // the user's cache folder; empty: none known
        QTest::addColumn<QString>("root");   // where the scratch folders go
        QTest::newRow("build tree") << "build/app" << "" << "home/.cache" << "build/app";
        QTest::newRow("portable copy in a bin folder") << "tool/bin" << "" << "home/.cache" << "tool/bin";
        QTest::newRow("installed") << "usr/bin" << "usr/share/bmp2jpg" << "home/.cache" << "home/.cache/bmp2jpg";
        QTest::newRow("installed, no cache folder known") << "usr/bin" << "usr/share/bmp2jpg" << "" << "usr/bin";
        QTest::newRow("another program's share folder") << "usr/bin" << "usr/share/other" << "home/.cache" << "usr/bin";
    }
    void scratchFoldersInTheUsersCacheOnlyWhenInstalled()
    {
        QFETCH(QString, exe);
        QFETCH(QString, share);
        QFETCH(QString, cache);
        QFETCH(QString, root);
        const QTemporaryDir scratch;
        const QDir base(scratch.path());
        QVERIFY(base.mkpath(exe));
        if (!share.isEmpty())
            QVERIFY(base.mkpath(share));
        const std::filesystem::path made = ScratchRootFor(base.filePath(exe), cache.isEmpty() ? cache : base.filePath(cache));
        QCOMPARE(QString::fromStdU16String(made.u16string()), base.filePath(root));
    }

private:
    QString DatabaseFile() const { return folder.filePath(QStringLiteral("kill.db")); }

    // Runs the job to its end; with a shell prefix, through /bin/sh.
    JobResult RunJob(QStringList shellPrefix = {})
    {
        QProcess job;
        QStringList arguments = shellPrefix;
        arguments << folder.path() << QStringLiteral("kill");
        if (shellPrefix.isEmpty())
            job.start(QStringLiteral(JOB_CHILD), arguments);
        else
            job.start(QStringLiteral("/bin/bash"), arguments);
        job.waitForFinished(300000);
        return {job.exitCode(), QString::fromUtf8(job.readAllStandardError())};
    }

    QTemporaryDir folder;
};

QTEST_GUILESS_MAIN(RunReliabilityTest)
#include "tst_run.moc"
