// The program against a real SQL Server named by BMP2JPG_TEST_SQLSERVER
// (server;login;password), through the ODBC driver it uses in production: the
// data access and the whole job, desktop run and batch command, on every
// shape of BAC1, in a database of the suite's own that is dropped at the end.
#include "job/ConversionRun.h"
#include "job/ImageTable.h"
#include "data/SqlServerDriver.h"
#include "data/UDataModule.h"
#include "tests/data/BlobRoundTrip.h"
#include "tests/live/Bac1Variants.h"
#include "tests/live/LiveServer.h"
#include "tests/job/ChildProcess.h"
#include "tests/job/ExpectedValues.h"
#include "tests/tds/TdsTestSupport.h"
#include "testdata/StoredPictures.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

// Keyless tables are matched on HASHBYTES over (max) values, which SQL Server
// has from 2016 (major version 13); older ones refuse them.
constexpr int kFirstVersionForKeylessTables = 13;

qint64 nonNullValues(const std::vector<ImageRow>& rows)
{
    qint64 count = 0;
    for (const ImageRow& row : rows)
        count += row.bac02.has_value() + row.bac04.has_value();
    return count;
}

qint64 changedValues(const std::vector<ImageRow>& original, const std::vector<ImageRow>& finished)
{
    qint64 count = 0;
    for (size_t i = 0; i < original.size(); ++i)
        count += (original[i].bac02 != finished[i].bac02) + (original[i].bac04 != finished[i].bac04);
    return count;
}

// The rows as inserted are the rows read back, whatever order the server's
// collation gives BCE01.
bool sameRows(std::vector<ImageRow> inserted, const std::vector<ImageRow>& read)
{
    if (inserted.size() != read.size())
        return false;
    for (const ImageRow& row : read) {
        const auto match = std::find(inserted.begin(), inserted.end(), row);
        if (match == inserted.end())
            return false;
        inserted.erase(match);
    }
    return true;
}

} // namespace

class LiveSqlServerTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        std::optional<ConnectionSettings> server;
        try {
            server = LiveServerFromEnvironment();
        } catch (const std::exception& error) {
            QFAIL(error.what());
        }
        if (!server)
            QSKIP(kLiveSkipReason);
        const std::optional<SqlServerDriver> driver = PreferredSqlServerDriver(InstalledOdbcDrivers());
        QVERIFY2(driver, "no ODBC driver for SQL Server is installed");
        seed_ = TestSeed();
        try {
            database_ = std::make_unique<LiveDatabase>(*server, seed_);
        } catch (const std::exception& error) {
            QFAIL(error.what());
        }
        qInfo("driver \"%s\", SQL Server major version %d, database %s", qPrintable(driver->name), database_->majorVersion(),
              qPrintable(database_->name()));
    }

    void cleanupTestCase() { database_.reset(); }

    // What the desktop tool asks before a run: the database list at login,
    // then table BAC1 and the count of values in the database picked.
    void catalogueStatements()
    {
        const std::vector<ImageRow> rows = MixedPictureRows(seed_);
        CreateBac1(*database_, Bac1Variants().front(), rows);
        TDataModule1 module;
        static_cast<ConnectionSettings&>(module) = database_->settings();
        module.InitialCatalog.clear();
        module.ConnectOrThrow();
        module.OpenQuery(QStringLiteral("select name from sysdatabases"));
        QStringList names;
        for (module.qry1.First(); !module.qry1.Eof(); module.qry1.Next())
            names << module.qry1.FieldByName(QStringLiteral("name")).AsString();
        QVERIFY2(names.contains(database_->name()), qPrintable(names.join(u',')));

        module.InitialCatalog = database_->name();
        module.ConnectOrThrow();
        QVERIFY(HasPictureTable(module));
        QCOMPARE(CountPictures(module), nonNullValues(rows));
        database_->execute(QStringLiteral("DROP TABLE dbo.BAC1"));
        QVERIFY(!HasPictureTable(module));
    }

    void dataAccess_data()
    {
        QTest::addColumn<int>("variant");
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<QByteArray>("written");
        const QByteArray over8000 = "BM" + RandomBytes(9000, 1);
        const QByteArray over4096 = RandomBytes(5000, 2);
        for (int variant = 0; variant < int(Bac1Variants().size()); ++variant) {
            const QByteArray name = Bac1VariantName(Bac1Variants()[size_t(variant)]).toUtf8();
            QTest::addRow("%s: over 8000 bytes, then over 4096", name.constData()) << variant << over8000 << over4096;
            QTest::addRow("%s: over 4096 bytes, then NULL", name.constData()) << variant << over4096 << QByteArray();
            QTest::addRow("%s: 1 byte, then over 8000", name.constData()) << variant << QByteArray("B") << over8000;
        }
    }
    void dataAccess()
    {
        QFETCH(int, variant);
        QFETCH(QByteArray, stored);
        QFETCH(QByteArray, written);
        const Bac1Variant& v = Bac1Variants()[size_t(variant)];
        const QString name = QStringLiteral("照片 1");
        CreateBac1(*database_, v, {{name, stored, std::nullopt}});
        QTemporaryDir scratch;
        const auto storedNow = [this] { return database_->imageTable().front().bac02; };
        TDataModule1 module;
        static_cast<ConnectionSettings&>(module) = database_->settings();
        module.ConnectOrThrow();
        if (!keylessRefused(v)) {
            CheckBlobRoundTrip(module, name, stored, written, scratch.filePath(QStringLiteral("value.bin")), storedNow);
            return;
        }
        try {
            CheckBlobRoundTrip(module, name, stored, written, scratch.filePath(QStringLiteral("value.bin")), storedNow);
        } catch (const std::exception& error) {
            QVERIFY2(QString::fromUtf8(error.what()).contains(QLatin1String("primary key")), error.what());
            QCOMPARE(storedNow(), std::optional<QByteArray>(stored));
            return;
        }
        QFAIL("a keyless table was written on a server older than 2016");
    }

    // The desktop tool's run, without its windows.
    void desktopRun_data() { AddBac1VariantRows(); }
    void desktopRun()
    {
        QFETCH(int, variant);
        const std::vector<ImageRow> original = createMixedTable(Bac1Variants()[size_t(variant)]);
        QVERIFY(!QTest::currentTestFailed());
        QString failure;
        qint64 pictures = 0;
        {
            TDataModule1 module;
            static_cast<ConnectionSettings&>(module) = database_->settings();
            module.ConnectOrThrow();
            QVERIFY(HasPictureTable(module));
            QCOMPARE(CountPictures(module), nonNullValues(original));
            try {
                TConversionRun(module, ExeFolder(), [&pictures] { ++pictures; }).run();
            } catch (const std::exception& error) {
                failure = QString::fromUtf8(error.what());
            }
        }
        checkOutcome(Bac1Variants()[size_t(variant)], failure, original);
        if (failure.isEmpty())
            QCOMPARE(pictures, nonNullValues(original));
    }

    // bmp2jpg-batch as a scheduler starts it.
    void batchRun_data() { AddBac1VariantRows(); }
    void batchRun()
    {
        QFETCH(int, variant);
        const std::vector<ImageRow> original = createMixedTable(Bac1Variants()[size_t(variant)]);
        QVERIFY(!QTest::currentTestFailed());
        const ChildOutcome run = runBatchWithTwoJobs();
        QVERIFY2(run.exitCode == 0 || run.exitCode == 1, qPrintable(QStringLiteral("exit code %1\n%2").arg(run.exitCode).arg(run.err)));
        checkOutcome(Bac1Variants()[size_t(variant)], run.exitCode == 0 ? QString() : run.err, original);
        if (run.exitCode == 0)
            QVERIFY2(run.out.contains(QStringLiteral("Converted %1 values").arg(changedValues(original, FinishedTable(original)))),
                     qPrintable(run.out));
    }

    // A table of several pages: read a page at a time in the server's own
    // order of the key (case-insensitive, Chinese, uniqueidentifier's byte
    // groups), every bitmap is converted and every row visited once.
    void batchRunOverManyPages_data() { AddBac1VariantRows(); }
    void batchRunOverManyPages()
    {
        QFETCH(int, variant);
        const Bac1Variant& v = Bac1Variants()[size_t(variant)];
        if (keylessRefused(v))
            QSKIP("a keyless table is refused on this server version");
        std::vector<ImageRow> rows;
        const QStringList first{QStringLiteral("照"), QStringLiteral("a"), QStringLiteral("B"), QStringLiteral("阿"),
                                QStringLiteral("c"), QStringLiteral("中")};
        for (int i = 0; i < 2345; ++i)
            rows.push_back({first[i % first.size()] + QString::number(i), i % 97 ? stored::Jpeg(8, 8, i) : stored::Bmp24(16, 8, i),
                            std::nullopt});
        CreateBac1(*database_, v, rows);
        const std::vector<ImageRow> original = database_->imageTable();
        const ChildOutcome run = runBatchWithTwoJobs();
        QVERIFY2(run.exitCode == 0, qPrintable(QStringLiteral("exit code %1\n%2").arg(run.exitCode).arg(run.err)));
        QVERIFY(database_->imageTable() == FinishedTable(original));
        QVERIFY2(run.out.contains(QStringLiteral("Converted %1 values").arg(changedValues(original, FinishedTable(original)))),
                 qPrintable(run.out));
        QVERIFY2(run.out.contains(QRegularExpression(QStringLiteral(R"(BAC02\s+already JPEG\s+%1 )").arg(2345 - 25))),
                 qPrintable(run.out));
    }

    // Another client holds one row locked for the whole run: the run waits
    // for it LOCK_TIMEOUT at a time, a few times, then stops naming the row;
    // what it stored before is what it counts, and the row is left alone.
    void rowHeldByAnotherClientStopsTheRunWithoutHanging()
    {
        std::vector<ImageRow> rows;
        for (int i = 1; i <= 6; ++i)
            rows.push_back({QStringLiteral("p%1").arg(i), stored::Bmp24(24, 16, i), std::nullopt});
        CreateBac1(*database_, Bac1Variants().front(), rows);
        const std::vector<ImageRow> original = database_->imageTable();
        const std::unique_ptr<DatabaseClient> other = database_->anotherClient();
        other->execute(QStringLiteral("BEGIN TRANSACTION"));
        other->execute(QStringLiteral("UPDATE dbo.BAC1 SET BCE01 = BCE01 WHERE BCE01 = ?"), {QStringLiteral("p4")});
        const ChildOutcome run = runBatchWithTwoJobs();
        other->execute(QStringLiteral("ROLLBACK TRANSACTION"));
        const QString context = QStringLiteral("exit code %1\n%2\n%3").arg(run.exitCode).arg(run.out, run.err);
        QVERIFY2(run.exitCode == 1, qPrintable(context));
        QVERIFY2(run.err.contains(QLatin1String("row BCE01 \"p4\", column BAC02")) &&
                     run.err.contains(QLatin1String("Lock request time out period exceeded")) &&
                     run.err.contains(QLatin1String("given up after")),
                 qPrintable(context));
        const std::vector<ImageRow> now = database_->imageTable();
        const std::vector<ImageRow> finished = FinishedTable(original);
        QVERIFY(EachValueOriginalOrFinished(original, finished, now));
        QCOMPARE(now[3].bac02, original[3].bac02);
        QVERIFY2(run.out.contains(QStringLiteral("Converted %1 values").arg(changedValues(original, now))), qPrintable(context));
    }

private:
    ChildOutcome runBatchWithTwoJobs() const
    {
        const ConnectionSettings& settings = database_->settings();
        return RunChild({QStringLiteral(BMP2JPG_BATCH), QStringLiteral("--server"), settings.DataSource,
                         QStringLiteral("--user"), settings.UserID, QStringLiteral("--database"),
                         settings.InitialCatalog, QStringLiteral("--jobs"), QStringLiteral("2")},
                        settings.Password);
    }

    bool keylessRefused(const Bac1Variant& variant) const
    {
        return variant.key == Bac1Variant::Key::None && database_->majorVersion() < kFirstVersionForKeylessTables;
    }

    // BAC1 in the variant's shape holding the mixed rows, as read back.
    std::vector<ImageRow> createMixedTable(const Bac1Variant& variant)
    {
        const std::vector<ImageRow> rows = MixedPictureRows(seed_);
        CreateBac1(*database_, variant, rows);
        std::vector<ImageRow> stored = database_->imageTable();
        [&] { QVERIFY2(sameRows(rows, stored), "BAC1 does not hold what was inserted"); }();
        return stored;
    }

    // Every bitmap became exactly the JPEG the conversion core makes of it and
    // every other value is as it was; or, for a keyless table on a server
    // that cannot match its rows, the job was refused and nothing changed.
    void checkOutcome(const Bac1Variant& variant, const QString& failure, const std::vector<ImageRow>& original)
    {
        const std::vector<ImageRow> now = database_->imageTable();
        if (keylessRefused(variant)) {
            QVERIFY2(failure.contains(QLatin1String("primary key")), qPrintable(QStringLiteral("failure: ") + failure));
            QVERIFY(now == original);
            return;
        }
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
        QVERIFY(now == FinishedTable(original));
    }

    std::unique_ptr<LiveDatabase> database_;
    quint32 seed_ = 0;
};

QTEST_GUILESS_MAIN(LiveSqlServerTest)
#include "tst_live_sql_server.moc"
