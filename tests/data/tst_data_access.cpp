// The data-access module on the embedded server and, with the same cases, on
// the ODBC code path through Debian's SQLite ODBC driver.
#include "data/DatabaseFolder.h"
#include "data/SaveBytes.h"
#include "data/ResultSet.h"
#include "data/UDataModule.h"
#include "tests/data/BlobRoundTrip.h"
#include "tests/data/ServerFolder.h"
#include "tests/data/SqliteOdbcProfile.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTest>

#include <functional>
#include <memory>

namespace {

const QString pictures = QStringLiteral("pictures");

QString failureText(const std::function<void()>& operation)
{
    try {
        operation();
    } catch (const std::exception& e) {
        return QString::fromUtf8(e.what());
    }
    return QStringLiteral("(no failure)");
}

QByteArray randomBytes(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator generator(size);
    for (char& b : bytes)
        b = char(generator.bounded(256));
    return bytes;
}

} // namespace

class DataAccessTest : public QObject {
    Q_OBJECT

    std::unique_ptr<ServerFolder> folder_;

    std::unique_ptr<TDataModule1> module(const QString& catalog = pictures) const
    {
        QFETCH_GLOBAL(bool, odbc);
        auto m = std::make_unique<TDataModule1>(odbc ? SqliteOdbcProfile() : OdbcDriverProfile::SqlServer());
        m->DataSource = folder_->path();
        m->UserID = QStringLiteral("sa");
        m->Password = QStringLiteral("secret");
        m->InitialCatalog = catalog;
        return m;
    }

    void seed(const QString& table = QStringLiteral("create table BAC1 (BCE01 varchar(20), BAC02 blob, BAC04 blob)")) const
    {
        folder_->run(pictures, table);
    }

    // The standard table with the given rows, and a module connected to it.
    std::unique_ptr<TDataModule1> connectedWith(const QString& rows) const
    {
        seed();
        folder_->run(pictures, QStringLiteral("insert into BAC1 values ") + rows);
        auto m = module();
        if (!m->Connect())
            throw std::runtime_error("Connect failed");
        return m;
    }

    QString scratchFile() const { return folder_->path() + QStringLiteral("/scratch.bin"); }

private slots:
    void initTestCase_data()
    {
        QTest::addColumn<bool>("odbc");
        QTest::newRow("embedded") << false;
        QTest::newRow("odbc") << true;
    }

    void init() { folder_ = std::make_unique<ServerFolder>(); }
    void cleanup() { folder_.reset(); }

    void largeValuesRoundTrip_data()
    {
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<QByteArray>("written");
        QTest::newRow("0 bytes") << QByteArray("") << QByteArray();
        QTest::newRow("1 byte") << QByteArray("B") << QByteArray("\xff", 1);
        QTest::newRow("20 MB") << QByteArray("BM" + randomBytes(20 * 1024 * 1024)) << randomBytes(20 * 1024 * 1024 + 1);
    }
    void largeValuesRoundTrip()
    {
        QFETCH(QByteArray, stored);
        QFETCH(QByteArray, written);
        seed();
        folder_->run(pictures, QStringLiteral("insert into BAC1 values ('a', ?, null)"), {stored});
        auto m = module();
        QVERIFY(m->Connect());
        CheckBlobRoundTrip(*m, QStringLiteral("a"), stored, written, scratchFile(), [this]() -> std::optional<QByteArray> {
            if (folder_->column(pictures, QStringLiteral("select BAC02 is null from BAC1")).front().toBool())
                return std::nullopt;
            return folder_->column(pictures, QStringLiteral("select BAC02 from BAC1")).front().toByteArray();
        });
    }

    void nullValues()
    {
        auto m = connectedWith(QStringLiteral("(null, null, null)"));
        m->OpenQuery(QStringLiteral("select BCE01,BAC02 from BAC1"));
        for (const QString& name : {QStringLiteral("BCE01"), QStringLiteral("BAC02")}) {
            const TField field = m->qry1.FieldByName(name);
            QVERIFY(field.IsNull());
            QCOMPARE(field.AsString(), QString());
            QCOMPARE(field.AsInteger(), 0);
        }
        // What a file held before never outlives a shorter value.
        SaveBytesToFile(QByteArray(5000, 'x'), scratchFile());
        m->qry1.FieldByName(QStringLiteral("BAC02")).SaveToFile(scratchFile());
        QCOMPARE(FileBytes(scratchFile()), QByteArray());
    }

    void onlyPlainSelectsOfOneTableAreEditable_data()
    {
        QTest::addColumn<QString>("statement");
        QTest::addColumn<bool>("editable");
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("value");
        QTest::newRow("pass") << QStringLiteral("select BCE01,BAC02 from BAC1 where BAC02 is not null") << true << "BCE01" << "a";
        QTest::newRow("quoted names") << QStringLiteral("SELECT [bce01], \"BAC02\" FROM [bac1];") << true << "BCE01" << "a";
        QTest::newRow("grouped") << QStringLiteral("select BCE01 from BAC1 where 1 = 1 group by BCE01") << false << "BCE01" << "a";
        QTest::newRow("union") << QStringLiteral("select BCE01 from BAC1 where 1 = 1 union select BCE01 from BAC1") << false
                               << "BCE01" << "a";
        QTest::newRow("not a column") << QStringLiteral("select BAC04, rowid from BAC1") << false << "rowid" << "1";
        QTest::newRow("expression") << QStringLiteral("select COUNT(1) as cnt from BAC1") << false << "cnt" << "1";
    }
    void onlyPlainSelectsOfOneTableAreEditable()
    {
        QFETCH(QString, statement);
        QFETCH(bool, editable);
        QFETCH(QString, field);
        QFETCH(QString, value);
        auto m = connectedWith(QStringLiteral("('a', x'424d', x'00')"));
        folder_->run(pictures, QStringLiteral("create view V1 as select * from BAC1"));
        m->OpenQuery(statement);
        QCOMPARE(m->qry1.FieldByName(field).AsString(), value);
        QCOMPARE(failureText([&] { m->qry1.Edit(); }),
                 editable ? QStringLiteral("(no failure)") : QStringLiteral("qry1: Cannot modify a read-only dataset"));
    }

    // Its rows could not be written back: refused before a picture is read.
    void plainSelectOfAViewIsRefused()
    {
        auto m = connectedWith(QStringLiteral("('a', x'424d', x'00')"));
        folder_->run(pictures, QStringLiteral("create view V1 as select * from BAC1"));
        QCOMPARE(failureText([&] { m->OpenQuery(QStringLiteral("select BCE01, BAC02 from V1")); }),
                 QStringLiteral("V1 is a view: pictures can be converted only in a table. Convert the table the view shows."));
        m->OpenQuery(QStringLiteral("select COUNT(1) as cnt from V1 where BAC02 is not null"));
        QCOMPARE(m->qry1.FieldByName(QStringLiteral("cnt")).AsInteger(), 1);
    }

    void pictureColumnsMustHoldLargeObjects()
    {
        seed(QStringLiteral("create table BAC1 (BCE01 varchar(20), BAC02 varchar(200), BAC04 blob)"));
        auto m = module();
        QVERIFY(m->Connect());
        m->OpenQuery(QStringLiteral("select BCE01, BAC02, BAC04 from BAC1"));
        QCOMPARE(failureText([&] { m->qry1.FieldByName(QStringLiteral("BAC02")).CheckPictureColumn(); }),
                 QStringLiteral("Column BAC02 is varchar(200): pictures are converted only in large-object columns "
                                "(image, varbinary(max))"));
        QCOMPARE(failureText([&] { m->qry1.FieldByName(QStringLiteral("BAC04")).CheckPictureColumn(); }),
                 QStringLiteral("(no failure)"));
    }

    void saveToFileNamesTheFileItCannotCreate()
    {
        auto m = connectedWith(QStringLiteral("('a', x'424d', null)"));
        m->OpenQuery(QStringLiteral("select BAC02 from BAC1"));
        const QString path = QDir::toNativeSeparators(folder_->path() + QStringLiteral("/missing/a.bmp"));
        QVERIFY(failureText([&] { m->qry1.FieldByName(QStringLiteral("BAC02")).SaveToFile(path); })
                    .startsWith(QStringLiteral("Cannot create file \"%1\". ").arg(path)));
    }

    void fieldsByName_data()
    {
        QTest::addColumn<QString>("statement");
        QTest::newRow("updatable") << QStringLiteral("select BCE01,BAC02 from bac1");
        QTest::newRow("read-only") << QStringLiteral("select BCE01, BAC02, 7 as Cnt from BAC1");
    }
    void fieldsByName()
    {
        QFETCH(QString, statement);
        auto m = connectedWith(QStringLiteral("('中文 7', null, null)"));
        m->OpenQuery(statement);
        QCOMPARE(m->qry1.FieldByName(QStringLiteral("bce01")).AsString(), QStringLiteral("中文 7"));
        QCOMPARE(m->qry1.FieldByName(QStringLiteral("Bce01")).AsString(), QStringLiteral("中文 7"));
        QCOMPARE(failureText([&] { m->qry1.FieldByName(QStringLiteral("BAC03")); }), QStringLiteral("Field 'BAC03' not found"));
        QCOMPARE(failureText([&] { m->qry1.FieldByName(QStringLiteral("BCE01")).SaveToFile(scratchFile()); }),
                 QStringLiteral("Field 'BCE01' is not a large-object (BLOB) field"));
    }

    void emptyResult_data()
    {
        QTest::addColumn<QString>("statement");
        QTest::newRow("updatable") << QStringLiteral("select BCE01,BAC02 from BAC1 where BAC02 is not null");
        QTest::newRow("read-only") << QStringLiteral("select 1 from sysobjects where name='nothing'");
    }
    void emptyResult()
    {
        QFETCH(QString, statement);
        auto m = connectedWith(QStringLiteral("('a', null, null)"));
        m->OpenQuery(statement);
        QVERIFY(m->qry1.Eof());
        QCOMPARE(m->qry1.RecordCount(), 0);
        m->qry1.First();
        QVERIFY(m->qry1.Eof());
    }

    void countsAndCatalogueStatementsRunUnchanged()
    {
        seed();
        folder_->run(pictures, QStringLiteral("insert into BAC1 values ('a', x'424d', null), ('b', x'00', x'01'), ('c', null, null)"));
        folder_->run(QStringLiteral("other"), QStringLiteral("create table T (x)"));
        auto m = module();
        QVERIFY(m->Connect());
        m->OpenQuery(QStringLiteral("select 1 from sysobjects where name='BAC1'"));
        QCOMPARE(m->qry1.RecordCount(), 1);
        m->OpenQuery(QStringLiteral("select COUNT(1) as cnt from BAC1 where BAC02 is not null"));
        QCOMPARE(m->qry1.FieldByName(QStringLiteral("cnt")).AsInteger(), 2);
        m->OpenQuery(QStringLiteral("select COUNT(1) as cnt from BAC1 where BAC04 is not null"));
        QCOMPARE(m->qry1.FieldByName(QStringLiteral("cnt")).AsString(), QStringLiteral("1"));

        m->InitialCatalog = QStringLiteral("other");
        QVERIFY(m->Connect());
        m->OpenQuery(QStringLiteral("select 1 from sysobjects where name='BAC1'"));
        QCOMPARE(m->qry1.RecordCount(), 0);

        folder_->run(QStringLiteral("lower"), QStringLiteral("create table bac1 (x)"));
        m->InitialCatalog = QStringLiteral("lower");
        QVERIFY(m->Connect());
        m->OpenQuery(QStringLiteral("select 1 from sysobjects where name='BAC1'"));
        QCOMPARE(m->qry1.RecordCount(), 1);
    }

    void databasesListedInNameOrder()
    {
        for (const QString& name : {QStringLiteral("zeta"), QStringLiteral("Alpha"), QStringLiteral("beta"), QStringLiteral("中文")})
            folder_->run(name, QStringLiteral("create table T (x)"));
        QFile(folder_->path() + QStringLiteral("/notes.txt")).open(QIODevice::WriteOnly);
        auto m = module(QString());
        QVERIFY(m->Connect());
        m->OpenQuery(QStringLiteral("select name from sysdatabases"));
        QStringList names;
        for (m->qry1.First(); !m->qry1.Eof(); m->qry1.Next())
            names << m->qry1.FieldByName(QStringLiteral("name")).AsString();
        QCOMPARE(names, QStringList({QStringLiteral("Alpha"), QStringLiteral("beta"), QStringLiteral("zeta"), QStringLiteral("中文")}));
    }

    void catalogNamingNoFileFails_data()
    {
        QTest::addColumn<QString>("catalog");
        QTest::newRow("missing") << QStringLiteral("missing");
        QTest::newRow("other case") << QStringLiteral("PICTURES");
        QTest::newRow("outside the folder") << QStringLiteral("../pictures");
    }
    void catalogNamingNoFileFails()
    {
        QFETCH(QString, catalog);
        seed();
        const QStringList before = QDir(folder_->path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
        auto m = module(catalog);
        QVERIFY(!m->Connect());
        QVERIFY(!m->con1.Connected());
        QVERIFY(failureText([&] { m->ConnectOrThrow(); }) != QStringLiteral("(no failure)"));
        QVERIFY(!m->con1.Connected());
        QCOMPARE(QDir(folder_->path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), before);
        QVERIFY(!QFile::exists(folder_->path() + QStringLiteral("/../pictures.db")));
    }

    void failedConnectLeavesEverythingClosed_data()
    {
        QTest::addColumn<std::function<void(TDataModule1&)>>("operation");
        QTest::newRow("First") << std::function<void(TDataModule1&)>([](TDataModule1& m) { m.qry1.First(); });
        QTest::newRow("Eof") << std::function<void(TDataModule1&)>([](TDataModule1& m) { m.qry1.Eof(); });
        QTest::newRow("Next") << std::function<void(TDataModule1&)>([](TDataModule1& m) { m.qry1.Next(); });
        QTest::newRow("RecordCount") << std::function<void(TDataModule1&)>([](TDataModule1& m) { m.qry1.RecordCount(); });
        QTest::newRow("FieldByName") << std::function<void(TDataModule1&)>([](TDataModule1& m) { m.qry1.FieldByName("BCE01"); });
        QTest::newRow("Edit") << std::function<void(TDataModule1&)>([](TDataModule1& m) { m.qry1.Edit(); });
        QTest::newRow("Post") << std::function<void(TDataModule1&)>([](TDataModule1& m) { m.qry1.Post(); });
    }
    void failedConnectLeavesEverythingClosed()
    {
        QFETCH(std::function<void(TDataModule1&)>, operation);
        auto m = connectedWith(QStringLiteral("('a', x'424d', null)"));
        m->OpenQuery(QStringLiteral("select BCE01,BAC02 from BAC1"));
        const TField held = m->qry1.FieldByName(QStringLiteral("BAC02"));
        m->InitialCatalog = QStringLiteral("missing");
        QVERIFY(!m->Connect());
        QVERIFY(!m->con1.Connected());
        QVERIFY(!m->qry1.Active());
        const QString closed = QStringLiteral("qry1: Cannot perform this operation on a closed dataset");
        QCOMPARE(failureText([&] { operation(*m); }), closed);
        QCOMPARE(failureText([&] { held.SaveToFile(scratchFile()); }), closed);
    }

    void openQueryReconnectsAClosedConnection()
    {
        auto m = connectedWith(QStringLiteral("('a', null, null)"));
        m->con1.Close();
        m->OpenQuery(QStringLiteral("select BCE01 from BAC1"));
        QVERIFY(m->con1.Connected());
        QCOMPARE(m->qry1.FieldByName(QStringLiteral("BCE01")).AsString(), QStringLiteral("a"));
    }

    void sameIdentifierRowsGetTheirOwnValues()
    {
        auto m = connectedWith(QStringLiteral("('dup', x'01', null), ('dup', x'02', null), ('dup', x'01', null)"));
        m->OpenQuery(QStringLiteral("select BCE01,BAC02 from BAC1 where BAC02 is not null"));
        QByteArray mark("a");
        for (m->qry1.First(); !m->qry1.Eof(); m->qry1.Next(), ++mark[0]) {
            m->qry1.Edit();
            m->qry1.FieldByName(QStringLiteral("BAC02")).LoadFromStream(mark);
            m->qry1.Post();
        }
        m->con1.CommitPosted();
        QCOMPARE(folder_->column(pictures, QStringLiteral("select BAC02 from BAC1 order by rowid")),
                 QVariantList({QByteArray("a"), QByteArray("b"), QByteArray("c")}));
    }

    // Rows read ahead, then written back out of reading order through the
    // rows held: each write lands on its own row; moving on posts an edit in
    // progress.
    void rowsWrittenBackAfterLaterRowsWereRead()
    {
        auto m = connectedWith(QStringLiteral("('a', x'01', null), ('b', x'02', null), ('c', x'03', null)"));
        m->OpenQuery(QStringLiteral("select BCE01,BAC02 from BAC1 where BAC02 is not null"));
        TField field = m->qry1.FieldByName(QStringLiteral("BAC02"));
        QByteArrayList read;
        std::vector<HeldRow> held;
        for (m->qry1.First(); !m->qry1.Eof(); m->qry1.Next()) {
            read << field.AsBytes();
            held.push_back(m->qry1.HoldRow());
        }
        QCOMPARE(read, QByteArrayList({"\x01", "\x02", "\x03"}));

        m->qry1.PostToRow(held[2], field, "third");
        m->qry1.PostToRow(held[0], field, "first");
        m->qry1.First();
        m->qry1.Edit();
        field.LoadFromStream("first again");
        m->qry1.Next();
        m->con1.CommitPosted();
        QCOMPARE(folder_->column(pictures, QStringLiteral("select BAC02 from BAC1 order by rowid")),
                 QVariantList({QByteArray("first again"), QByteArray("\x02"), QByteArray("third")}));
    }

    void rowsFoundWhateverTheTableKey_data()
    {
        QTest::addColumn<QString>("table");
        QTest::addColumn<QString>("rows");
        QTest::newRow("rowid") << QStringLiteral("create table BAC1 (BCE01 text, BAC02 blob)")
                               << QStringLiteral("insert into BAC1 values ('x', x'01'), ('y', x'02'), ('z', x'03')");
        QTest::newRow("column named rowid") << QStringLiteral("create table BAC1 (rowid int, BCE01 text, BAC02 blob)")
                                            << QStringLiteral("insert into BAC1 values (1, 'x', x'01'), (1, 'y', x'02'), (1, 'z', x'03')");
        QTest::newRow("without rowid") << QStringLiteral("create table BAC1 (BCE01 text primary key, BAC02) without rowid")
                                       << QStringLiteral("insert into BAC1 values ('x', x'01'), ('y', x'02'), ('z', x'03')");
    }
    void rowsFoundWhateverTheTableKey()
    {
        QFETCH(QString, table);
        QFETCH(QString, rows);
        seed(table);
        folder_->run(pictures, rows);
        auto m = module();
        QVERIFY(m->Connect());
        m->OpenQuery(QStringLiteral("select BAC02 from BAC1 where BCE01 <> 'x'"));
        QCOMPARE(m->qry1.RecordCount(), 2);
        m->qry1.Next();
        m->qry1.Edit();
        m->qry1.FieldByName(QStringLiteral("BAC02")).LoadFromStream("new");
        m->qry1.Post();
        m->con1.CommitPosted();
        QCOMPARE(folder_->column(pictures, QStringLiteral("select BAC02 from BAC1 order by BCE01")),
                 QVariantList({QByteArray("\x01"), QByteArray("\x02"), QByteArray("new")}));
    }

    // A table far larger than a page: every row is met once in key order
    // across the page boundaries, with the statement's own condition; a row
    // pages behind the walk is written through its HeldRow; rows another client
    // adds after the open are still met, since pages are read as the walk
    // goes; First() reads the dropped first rows again.
    void largeTablesReadAPageAtATime_data()
    {
        QTest::addColumn<QString>("table");
        QTest::addColumn<QString>("columns");  // of the insert, besides BCE01 and BAC02
        QTest::addColumn<QString>("values");   // for them, from i
        QTest::addColumn<QString>("order");
        QTest::addColumn<QString>("late");  // the other columns' values of a row added after the open, last in order
        QTest::newRow("rowid") << QStringLiteral("create table BAC1 (BCE01 text, BAC02 blob)") << QString() << QString()
                               << QStringLiteral("rowid") << QString();
        QTest::newRow("text key, inserted out of order")
            << QStringLiteral("create table BAC1 (BCE01 text primary key, BAC02 blob) without rowid") << QString()
            << QString() << QStringLiteral("BCE01") << QString();
        QTest::newRow("two-column key")
            << QStringLiteral("create table BAC1 (a int, b text, BCE01 text, BAC02 blob, primary key (a, b)) without rowid")
            << QStringLiteral("a, b, ") << QStringLiteral("i % 3, printf('%05d', 9999 - i), ") << QStringLiteral("a, b")
            << QStringLiteral("9, '99999', ");
        // The column's collation orders "a..." before "B...", unlike their bytes.
        QTest::newRow("case-insensitive text key")
            << QStringLiteral("create table BAC1 (k text collate nocase primary key, BCE01 text, BAC02 blob) without rowid")
            << QStringLiteral("k, ") << QStringLiteral("case when i % 2 = 1 then 'a' else 'B' end || printf('%05d', i), ")
            << QStringLiteral("k") << QStringLiteral("'zz99999', ");
    }
    void largeTablesReadAPageAtATime()
    {
        QFETCH(QString, table);
        QFETCH(QString, columns);
        QFETCH(QString, values);
        QFETCH(QString, order);
        QFETCH(QString, late);
        seed(table);
        const int rows = ResultSet::pageRows * 2 + 700;
        folder_->run(pictures, QStringLiteral("with recursive n(i) as (select 1 union all select i + 1 from n where i < %1) "
                                              "insert into BAC1 (%2BCE01, BAC02) select %3printf('r%05d', i), "
                                              "case when i % 7 = 0 then null else x'01' end from n order by random()")
                                   .arg(rows)
                                   .arg(columns, values));
        QStringList expected;
        for (const QVariant& name : folder_->column(pictures, QStringLiteral("select BCE01 from BAC1 where BAC02 is not null order by ") + order))
            expected << name.toString();
        auto m = module();
        QVERIFY(m->Connect());
        m->OpenQuery(QStringLiteral("select BCE01,BAC02 from BAC1 where BAC02 is not null"));
        QCOMPARE(m->qry1.RecordCount(), expected.size());
        DatabaseClient other(folder_->file(pictures));
        other.execute(QStringLiteral("insert into BAC1 (%1BCE01, BAC02) values (%2'zlate', x'02')")
                          .arg(columns, late));
        expected << QStringLiteral("zlate");

        TField bce01 = m->qry1.FieldByName(QStringLiteral("BCE01"));
        // A row of the first page, written when the walk is on the third.
        const int heldAt = ResultSet::pageRows / 2;
        const int writtenAt = 2 * ResultSet::pageRows + 1;
        TField picture = m->qry1.FieldByName(QStringLiteral("BAC02"));
        std::optional<HeldRow> held;
        QStringList met;
        for (m->qry1.First(); !m->qry1.Eof(); m->qry1.Next()) {
            met << bce01.AsString();
            if (met.size() == heldAt)
                held = m->qry1.HoldRow();
            if (met.size() == writtenAt)
                m->qry1.PostToRow(*held, picture, "back");
        }
        QCOMPARE(met, expected);
        QCOMPARE(m->qry1.RecordCount(), expected.size());
        m->qry1.First();
        QCOMPARE(bce01.AsString(), expected.front());
        m->con1.CommitPosted();
        QCOMPARE(folder_->column(pictures, QStringLiteral("select BCE01 from BAC1 where BAC02 = cast('back' as blob)")),
                 QVariantList({expected[heldAt - 1]}));
    }

    // A value stored with SQLite's text storage class is still its bytes:
    // reading it as text would re-encode what is not valid UTF-8.
    void textStoredValuesReadAsTheirExactBytes()
    {
        const QByteArray stored = QByteArrayLiteral("BM\xff\xfe\x80 not UTF-8 \xc3");
        seed();
        folder_->run(pictures, QStringLiteral("insert into BAC1 values ('t', cast(? as text), null)"), {stored});
        QCOMPARE(folder_->column(pictures, QStringLiteral("select typeof(BAC02) from BAC1")), QVariantList({QStringLiteral("text")}));
        auto m = module();
        QVERIFY(m->Connect());
        m->OpenQuery(QStringLiteral("select BCE01,BAC02 from BAC1"));
        TField field = m->qry1.FieldByName(QStringLiteral("BAC02"));
        QCOMPARE(field.BlobSize(), stored.size());
        QVERIFY(field.BlobStartsWith("BM"));
        QCOMPARE(field.AsBytes(), stored);
        QCOMPARE(field.ReadForUpdate(), std::optional<QByteArray>(stored));
    }

    // A value changed by another client after the rows were read is not
    // handed out for writing; an unchanged one is, and stays locked against
    // other writers until the posted rows are committed.
    void valueChangedByAnotherClientIsNotReadForUpdate()
    {
        auto m = connectedWith(QStringLiteral("('a', x'424d01', null), ('b', x'424d02', null)"));
        m->OpenQuery(QStringLiteral("select BCE01,BAC02 from BAC1"));
        folder_->run(pictures, QStringLiteral("update BAC1 set BAC02 = x'424d0203' where BCE01 = 'b'"));
        TField field = m->qry1.FieldByName(QStringLiteral("BAC02"));
        QCOMPARE(field.ReadForUpdate(), std::optional<QByteArray>(QByteArray("BM\x01")));
        m->qry1.Next();
        QCOMPARE(field.ReadForUpdate(), std::nullopt);
        QVERIFY(failureText([&] { folder_->run(pictures, QStringLiteral("update BAC1 set BAC02 = null")); })
                    .contains(QStringLiteral("locked")));
        m->con1.CommitPosted();
        folder_->run(pictures, QStringLiteral("update BAC1 set BAC02 = null"));
    }

    // A value read for writing already holds the right to write: another
    // client's transaction cannot take it between our read and our write,
    // and so cannot make our write fail "database is locked".
    void valueReadForUpdateHoldsTheWriteLock()
    {
        auto m = connectedWith(QStringLiteral("('a', x'424d01', null), ('b', x'424d02', null)"));
        m->OpenQuery(QStringLiteral("select BCE01,BAC02 from BAC1"));
        TField field = m->qry1.FieldByName(QStringLiteral("BAC02"));
        QCOMPARE(field.ReadForUpdate(), std::optional<QByteArray>(QByteArray("BM\x01")));
        {
            const DatabaseClient other(folder_->file(pictures), 0);
            other.execute(QStringLiteral("begin"));
            QVERIFY(failureText([&] { other.execute(QStringLiteral("update BAC1 set BAC02 = x'00' where BCE01 = 'b'")); })
                        .contains(QStringLiteral("locked")));
        }
        m->qry1.Edit();
        field.LoadFromStream("done");
        m->qry1.Post();
        m->con1.CommitPosted();
        QCOMPARE(folder_->column(pictures, QStringLiteral("select BAC02 from BAC1 order by rowid")),
                 QVariantList({QByteArray("done"), QByteArray("BM\x02")}));
    }

    void postCommitsEarlierRowsBeforeAFailureLeaves()
    {
        seed();
        folder_->run(pictures, QStringLiteral("insert into BAC1 values ('a', x'00', null), ('bad', x'00', null), ('c', x'00', null)"));
        folder_->run(pictures, QStringLiteral("create trigger reject before update of BAC02 on BAC1 when old.BCE01 = 'bad' "
                                              "begin select raise(abort, 'row rejected'); end"));
        auto m = module();
        QVERIFY(m->Connect());
        m->OpenQuery(QStringLiteral("select BCE01,BAC02 from BAC1"));
        m->qry1.Edit();
        m->qry1.FieldByName(QStringLiteral("BAC02")).LoadFromStream("done");
        m->qry1.Post();
        m->qry1.Next();
        m->qry1.Edit();
        m->qry1.FieldByName(QStringLiteral("BAC02")).LoadFromStream("done");
        QVERIFY(failureText([&] { m->qry1.Post(); }).contains(QStringLiteral("row rejected")));
        // Seen from a second connection while the module still holds its own.
        QCOMPARE(folder_->column(pictures, QStringLiteral("select BAC02 from BAC1 order by rowid")),
                 QVariantList({QByteArray("done"), QByteArray("\x00", 1), QByteArray("\x00", 1)}));
    }

    void postedRowsCommittedOnEveryClose_data()
    {
        QTest::addColumn<std::function<void(std::unique_ptr<TDataModule1>&)>>("close");
        using Close = std::function<void(std::unique_ptr<TDataModule1>&)>;
        QTest::newRow("CommitPosted") << Close([](auto& m) { m->con1.CommitPosted(); });
        QTest::newRow("OpenQuery") << Close([](auto& m) { m->OpenQuery(QStringLiteral("select 1 from sysobjects")); });
        QTest::newRow("Connect") << Close([](auto& m) { QVERIFY(m->Connect()); });
        QTest::newRow("failed Connect") << Close([](auto& m) {
            m->InitialCatalog = QStringLiteral("missing");
            QVERIFY(!m->Connect());
        });
        QTest::newRow("destruction") << Close([](auto& m) { m.reset(); });
    }
    void postedRowsCommittedOnEveryClose()
    {
        QFETCH(std::function<void(std::unique_ptr<TDataModule1>&)>, close);
        auto m = connectedWith(QStringLiteral("('a', x'00', null)"));
        m->OpenQuery(QStringLiteral("select BCE01,BAC02 from BAC1"));
        m->qry1.Edit();
        m->qry1.FieldByName(QStringLiteral("BAC02")).LoadFromStream("done");
        m->qry1.Post();
        close(m);
        QCOMPARE(folder_->column(pictures, QStringLiteral("select BAC02 from BAC1")), QVariantList({QByteArray("done")}));
    }
};

QTEST_GUILESS_MAIN(DataAccessTest)
#include "tst_data_access.moc"
