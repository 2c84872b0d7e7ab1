// The data layer against a server that answers as SQL Server does, through
// the real FreeTDS driver: large values come whole, read errors are errors.
#include "data/OdbcDriverProfile.h"
#include "data/ResultSet.h"
#include "data/Session.h"
#include "data/UDataModule.h"
#include "tests/tds/ScriptedTdsServer.h"
#include "tests/tds/TdsStatementLog.h"
#include "tests/tds/TdsTestSupport.h"

#include <QTest>

#include <map>

namespace {

void ConnectTo(TDataModule1& module, quint16 port)
{
    module.DataSource = QStringLiteral("127.0.0.1,%1").arg(port);
    module.UserID = QStringLiteral("sa");
    module.Password = QStringLiteral("x");
    module.InitialCatalog = QStringLiteral("pictures");
    module.ConnectOrThrow();
}

std::unique_ptr<Session> OpenSession(quint16 port)
{
    return Session::open({QStringLiteral("127.0.0.1,%1").arg(port), QStringLiteral("sa"), QStringLiteral("x"),
                          QStringLiteral("pictures")},
                         OdbcDriverProfile::SqlServer());
}

} // namespace

class SqlServerDataTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (const char* why = ScriptedTdsServer::unreachableByTheProgram())
            QSKIP(why);
        seed_ = TestSeed();
    }

    void walkGivesEveryValueWhole_data()
    {
        AddPictureColumnTypes();
    }
    void walkGivesEveryValueWhole()
    {
        QFETCH(int, type);
        ScriptedTable table{SqlType(type)};
        std::map<QString, QByteArray> stored;
        quint32 seed = seed_;
        for (const qsizetype size : {qsizetype(1), qsizetype(5000), qsizetype(3 * 1024 * 1024)}) {
            const QString name = QStringLiteral("size %1").arg(size);
            stored[name] = RandomBytes(size, seed++);
            table.addRow({name, stored[name], std::nullopt});
        }
        table.addRow({QStringLiteral("none"), std::nullopt, QByteArray("BM")});
        ScriptedTdsServer server(table);
        TDataModule1 module;
        ConnectTo(module, server.port());

        module.OpenQuery(QStringLiteral("select BCE01,BAC02 from BAC1 where BAC02 is not null"));
        std::map<QString, QByteArray> read;
        for (; !module.qry1.Eof(); module.qry1.Next()) {
            const QString name = module.qry1.FieldByName(QStringLiteral("BCE01")).AsString();
            read[name] = module.qry1.FieldByName(QStringLiteral("BAC02")).AsBytes();
            QCOMPARE(module.qry1.FieldByName(QStringLiteral("BAC02")).BlobSize(), stored[name].size());
        }
        for (const auto& [name, bytes] : stored)
            QVERIFY2(read[name] == bytes, qPrintable(QStringLiteral("%1: %2 bytes read of %3\n%4")
                                                         .arg(name)
                                                         .arg(read[name].size())
                                                         .arg(bytes.size())
                                                         .arg(server.statements().join(u'\n'))));
        QCOMPARE(read.size(), stored.size());
    }

    // A keyed table is read a page at a time in the server's order of its
    // key, each page after the last key read: every row comes exactly once,
    // however the server orders the key (collations, uniqueidentifier's byte
    // groups, trailing spaces, binary). A key the server could order
    // otherwise than it compares the value read is not paged.
    void pagesGiveEveryRowOnce_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("nameType");
        QTest::addColumn<QString>("collation");
        QTest::addColumn<QString>("databaseCollation");
        QTest::addColumn<bool>("paged");
        const QString latin = QStringLiteral("SQL_Latin1_General_CP1_CI_AS");
        const QString chinese = QStringLiteral("Chinese_PRC_CI_AS");
        const auto add = [&](const char* name, TableKey key, SqlType nameType, const QString& collation, const QString& database, bool paged) {
            QTest::newRow(name) << int(key) << int(nameType) << collation << database << paged;
        };
        add("id int", TableKey::IntId, SqlType::NVarChar, latin, latin, true);
        add("id numeric(18,0)", TableKey::NumericIdentity, SqlType::NVarChar, latin, latin, true);
        add("id uniqueidentifier", TableKey::Guid, SqlType::NVarChar, latin, latin, true);
        add("id binary(4)", TableKey::BinaryId, SqlType::NVarChar, latin, latin, true);
        add("nvarchar, case-insensitive", TableKey::Name, SqlType::NVarChar, latin, latin, true);
        add("nvarchar, case-sensitive", TableKey::Name, SqlType::NVarChar, QStringLiteral("SQL_Latin1_General_CP1_CS_AS"), latin, true);
        add("nvarchar Chinese, pinyin order", TableKey::Name, SqlType::NVarChar, chinese, latin, true);
        add("varchar", TableKey::Name, SqlType::VarChar, latin, latin, true);
        add("char, trailing spaces", TableKey::Name, SqlType::Char, latin, latin, true);
        add("nvarchar and int", TableKey::NameAndId, SqlType::NVarChar, chinese, chinese, true);
        add("varchar in another collation", TableKey::Name, SqlType::VarChar, QStringLiteral("Latin1_General_CI_AS"), latin, true);
        add("varchar Chinese", TableKey::Name, SqlType::VarChar, chinese, chinese, true);
        add("varchar Latin1 in a Chinese database", TableKey::Name, SqlType::VarChar, QStringLiteral("Latin1_General_CI_AS"), chinese, true);
        add("varchar Chinese in a Latin database", TableKey::Name, SqlType::VarChar, chinese, latin, true);
    }
    void pagesGiveEveryRowOnce()
    {
        QFETCH(int, key);
        QFETCH(int, nameType);
        QFETCH(QString, collation);
        QFETCH(QString, databaseCollation);
        QFETCH(bool, paged);
        ScriptedTable table(SqlType::VarBinaryMax, TableKey(key), SqlType(nameType));
        table.collation = collation;
        table.databaseCollation = databaseCollation;
        table.column(QStringLiteral("BCE01")).size = 12;
        // Names whose order under the collation is not their bytes' order:
        // case mixed, Chinese by pinyin, spaces before and at the end.
        const QStringList chineseFirst{QStringLiteral("张"), QStringLiteral("阿"), QStringLiteral("中"), QStringLiteral("文"),
                                       QStringLiteral("一"), QStringLiteral("照"), QStringLiteral("片"), QStringLiteral("乙")};
        const bool ids = TableKey(key) == TableKey::NameAndId;  // names repeat; ids tell the rows apart
        const int rows = 2 * ResultSet::pageRows + 345;
        std::vector<QString> expected;
        for (int i = 0; i < rows; ++i) {
            QString name;
            if (collation.startsWith(QLatin1String("Chinese")))
                name = chineseFirst[i % chineseFirst.size()] + chineseFirst[(i / 8) % 8] + QString::number(i / 64);
            else
                name = QString(QChar(i % 2 ? u'B' : u'a')) + (i % 3 ? QStringLiteral(" ") : QString()) + QString::number(i);
            if (ids)
                name = name.left(1);
            const int id = table.addRow({name, QByteArray("BM"), std::nullopt});
            expected.push_back(ids ? name + u'/' + QString::number(id) : name);
        }
        ScriptedTdsServer server(table);
        TDataModule1 module;
        ConnectTo(module, server.port());

        module.OpenQuery(ids ? QStringLiteral("select BCE01,id,BAC02 from BAC1 where BAC02 is not null")
                             : QStringLiteral("select BCE01,BAC02 from BAC1 where BAC02 is not null"));
        QCOMPARE(module.qry1.RecordCount(), rows);
        std::map<QString, int> seen;
        for (; !module.qry1.Eof(); module.qry1.Next()) {
            const QString name = module.qry1.FieldByName(QStringLiteral("BCE01")).AsString().trimmed();
            ++seen[ids ? name + u'/' + module.qry1.FieldByName(QStringLiteral("id")).AsString() : name];
        }
        const std::vector<LoggedStatement> log = server.log();
        for (const QString& row : expected)
            QVERIFY2(seen[row] == 1, qPrintable(QStringLiteral("%1 read %2 times\n%3").arg(row).arg(seen[row]).arg(DumpLog(log))));
        QCOMPARE(int(seen.size()), rows);
        const auto pages = std::count_if(log.begin(), log.end(), [](const LoggedStatement& s) {
            return s.text.startsWith(QStringLiteral("select top (%1)").arg(ResultSet::pageRows));
        });
        QCOMPARE(pages, paged ? rows / ResultSet::pageRows + 1 : 0);
    }

    void readErrorAfterFirstRowFailsTheWalk()
    {
        ScriptedTable table;
        for (int i = 0; i < 3; ++i)
            table.addRow({QStringLiteral("r%1").arg(i), QByteArray("BM"), std::nullopt});
        ScriptedTdsServer server(table);
        server.failReadsAfterRows(QStringLiteral(R"(from \[?BAC1\]? where \(?BAC02 is not null)"), 1);
        TDataModule1 module;
        ConnectTo(module, server.port());

        int rows = 0;
        try {
            module.OpenQuery(QStringLiteral("select BCE01,BAC02 from BAC1 where BAC02 is not null"));
            for (; !module.qry1.Eof(); module.qry1.Next()) {
                module.qry1.FieldByName(QStringLiteral("BAC02")).AsBytes();
                ++rows;
            }
        } catch (const EDatabaseError& e) {
            QVERIFY2(QString::fromUtf8(e.what()).contains(QLatin1String("logical consistency-based I/O error")), e.what());
            return;
        }
        QFAIL(qPrintable(QStringLiteral("the walk ended after %1 of 3 rows without an error").arg(rows)));
    }

    // Each row written through the data layer lands in that row, whatever
    // tells the rows apart and however the driver declares the parameters.
    void postedValuesLandInTheirRow_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("nameType");
        QTest::addColumn<bool>("microsoft");
        QTest::addColumn<QString>("keyRead");  // how the fill reads the key
        const struct {
            TableKey key;
            SqlType nameType;
            const char* name;
            const char* read;
        } cases[] = {{TableKey::IntId, SqlType::NVarChar, "id int", "[id]"},
                     {TableKey::NumericIdentity, SqlType::NVarChar, "id numeric(18,0)", "CAST([id] AS varchar(41))"},
                     {TableKey::Guid, SqlType::NVarChar, "id uniqueidentifier", "CAST([id] AS char(36))"},
                     {TableKey::Name, SqlType::NVarChar, "BCE01 nvarchar", "CAST([BCE01] AS varbinary(8000))"},
                     {TableKey::Name, SqlType::VarChar, "BCE01 varchar", "CAST([BCE01] AS varbinary(8000))"},
                     {TableKey::Name, SqlType::Char, "BCE01 char", "CAST([BCE01] AS varbinary(8000))"},
                     {TableKey::None, SqlType::NVarChar, "no key", "HASHBYTES('SHA2_256', CONVERT(varbinary(max), [BAC02]))"}};
        for (const auto& c : cases) {
            for (const bool microsoft : {false, true})
                QTest::addRow("%s, %s", c.name, microsoft ? "Microsoft driver" : "FreeTDS")
                    << int(c.key) << int(c.nameType) << microsoft << QString::fromLatin1(c.read);
        }
    }
    void postedValuesLandInTheirRow()
    {
        QFETCH(int, key);
        QFETCH(int, nameType);
        QFETCH(bool, microsoft);
        QFETCH(QString, keyRead);
        ScriptedTable table(SqlType::VarBinaryMax, TableKey(key), SqlType(nameType));
        table.serverVersion = SqlServer2019;
        table.microsoftParameterTypes = microsoft;
        // Names the column's code page can hold, one longer than 8000 bytes
        // of picture so that digests take large values.
        const bool wide = SqlType(nameType) == SqlType::NVarChar;
        const QStringList names = wide ? QStringList{QStringLiteral("照片一"), QStringLiteral("照片二"), QStringLiteral("照片三")}
                                       : QStringList{QStringLiteral("café"), QStringLiteral("crème"), QStringLiteral("naïve")};
        for (int i = 0; i < names.size(); ++i)
            table.addRow({names[i], RandomBytes(i == 1 ? 9000 : 100, seed_ + i), QByteArray("kept")});
        ScriptedTdsServer server(table);
        TDataModule1 module;
        ConnectTo(module, server.port());

        module.OpenQuery(QStringLiteral("select BCE01,BAC02 from BAC1 where BAC02 is not null"));
        std::map<QString, QByteArray> written;
        for (; !module.qry1.Eof(); module.qry1.Next()) {
            const QString name = module.qry1.FieldByName(QStringLiteral("BCE01")).AsString();
            written[name] = QByteArray("new value of ") + name.toUtf8();
            module.qry1.Edit();
            module.qry1.FieldByName(QStringLiteral("BAC02")).LoadFromStream(written[name]);
            module.qry1.Post();
        }
        module.qry1.Close();

        const std::vector<LoggedStatement> log = server.log();
        const QString context = DumpLog(log);
        const std::vector<Bac1Row> rows = server.table().rows();
        QCOMPARE(written.size(), rows.size());
        for (const Bac1Row& row : rows) {
            QVERIFY2(row.bac02 == written[row.bce01.value_or(QString())], qPrintable(context));
            QCOMPARE(row.bac04, std::optional(QByteArray("kept")));
        }
        const auto fill = std::find_if(log.begin(), log.end(), [](const LoggedStatement& s) {
            return s.text.contains(QLatin1String("BAC02 is not null"), Qt::CaseInsensitive);
        });
        QVERIFY2(fill != log.end() && fill->text.contains(keyRead), qPrintable(context));
        const QRegularExpression condition = WholeStatement(ExpectedRowCondition(TableKey(key), SqlType(nameType)));
        int writes = 0;
        for (const RowAccess& a : RowAccesses(log)) {
            QVERIFY2(condition.match(a.condition).hasMatch(), qPrintable(a.condition + u'\n' + context));
            writes += a.write;
            for (const RpcParameter& p : a.statement->parameters)
                QVERIFY2(!microsoft || p.type != QLatin1String("varbinary(max)"), qPrintable(context));
        }
        QCOMPARE(writes, int(rows.size()));
        for (const LoggedStatement& s : log)
            QVERIFY2(!s.error || IsDriverProbe(s), qPrintable(context));
    }

    // Rows equal in every column are interchangeable: each write takes one
    // not yet written.
    void keylessDuplicatesEachWritten()
    {
        ScriptedTable table(SqlType::Image, TableKey::None);
        table.serverVersion = SqlServer2019;
        for (int i = 0; i < 2; ++i)
            table.addRow({QStringLiteral("same"), QByteArray("BM same"), std::nullopt});
        ScriptedTdsServer server(table);
        TDataModule1 module;
        ConnectTo(module, server.port());
        module.OpenQuery(QStringLiteral("select BCE01,BAC02 from BAC1 where BAC02 is not null"));
        int n = 0;
        for (; !module.qry1.Eof(); module.qry1.Next()) {
            module.qry1.Edit();
            module.qry1.FieldByName(QStringLiteral("BAC02")).LoadFromStream(QByteArray("written ") + QByteArray::number(++n));
            module.qry1.Post();
        }
        module.qry1.Close();
        const std::vector<Bac1Row> rows = server.table().rows();
        QVERIFY2(rows[0].bac02 != rows[1].bac02 && rows[0].bac02->startsWith("written") && rows[1].bac02->startsWith("written"),
                 qPrintable(DumpLog(server.log())));
    }

    // The statements run once per value go in one request each, their
    // parameters declared and valued as the other statements' are, their
    // results read as those are.
    void valueStatementsCarryParametersAsTheOthersDo_data()
    {
        QTest::addColumn<QVariant>("parameter");
        QTest::newRow("int") << QVariant(-7);
        QTest::newRow("int NULL") << QVariant(QMetaType::fromType<int>());
        QTest::newRow("smallint") << QVariant(qint16(-300));
        QTest::newRow("bigint") << QVariant(qint64(1) << 40);
        QTest::newRow("bytes") << QVariant(QByteArray("\0\xff" "BM", 4));
        QTest::newRow("no bytes") << QVariant(QByteArray(""));
        QTest::newRow("bytes NULL") << QVariant(QMetaType::fromType<QByteArray>());
        QTest::newRow("decimal as text") << QVariant(QStringLiteral("-12.50"));
    }
    void valueStatementsCarryParametersAsTheOthersDo()
    {
        QFETCH(QVariant, parameter);
        ScriptedTable table;
        table.addRow({QStringLiteral("r"), QByteArray("BM"), std::nullopt});
        ScriptedTdsServer server(table);
        const std::unique_ptr<Session> session = OpenSession(server.port());
        const QString statement = QStringLiteral("select top (1) ? from BAC1");
        const Statements::Rows selected = session->select(statement, {parameter});
        const std::vector<Statements::Rows> run = session->run(statement, {parameter});

        const std::vector<LoggedStatement> log = server.log();
        const auto last = [&](const QString& kind) {
            return std::find_if(log.rbegin(), log.rend(), [&](const LoggedStatement& s) { return s.kind == kind; });
        };
        QVERIFY2(last(QStringLiteral("sp_prepexec")) != log.rend() && last(QStringLiteral("sp_executesql")) != log.rend(),
                 qPrintable(DumpLog(log)));
        const LoggedStatement& viaSelect = *last(QStringLiteral("sp_prepexec"));
        const LoggedStatement& viaRun = *last(QStringLiteral("sp_executesql"));
        // One request: nothing prepared is left to free.
        QCOMPARE(&viaRun, &log.back());
        QCOMPARE(viaRun.declaration, viaSelect.declaration);
        QCOMPARE(viaRun.parameters.size(), size_t(1));
        QCOMPARE(viaRun.parameters[0].type, viaSelect.parameters[0].type);
        QCOMPARE(viaRun.parameters[0].value, viaSelect.parameters[0].value);
        QCOMPARE(run.size(), size_t(1));
        QCOMPARE(run[0].values, selected.values);
        QCOMPARE(run[0].values[0][0].metaType(), selected.values[0][0].metaType());
    }

    // A failure while the results of a value's statement are read fails
    // it, as it fails any other: with the server's text, and as a lock
    // conflict when it is one; never as rows cut short.
    void valueStatementFailsAsTheOthersDo_data()
    {
        QTest::addColumn<int>("rows");
        QTest::addColumn<int>("error");
        QTest::newRow("lock timeout at once") << 0 << 1222;
        QTest::newRow("deadlock after a row") << 1 << 1205;
        QTest::newRow("corrupt page after a row") << 1 << 824;
    }
    void valueStatementFailsAsTheOthersDo()
    {
        QFETCH(int, rows);
        QFETCH(int, error);
        ScriptedTable table;
        for (int i = 0; i < 3; ++i)
            table.addRow({QStringLiteral("r%1").arg(i), QByteArray("BM"), std::nullopt});
        ScriptedTdsServer server(table);
        server.failReadsAfterRows(QStringLiteral("from BAC1 where BCE01"), rows,
                                  {error, 13, QStringLiteral("Failure %1 of this test.").arg(error)});
        const std::unique_ptr<Session> session = OpenSession(server.port());
        const QString statement = QStringLiteral("select DATALENGTH(BAC02), BAC02 from BAC1 where BCE01 > ?");
        const auto failure = [&](auto&& call) -> std::optional<EDatabaseError> {
            try {
                call();
            } catch (const EDatabaseError& e) {
                return e;
            }
            return std::nullopt;
        };
        const std::optional<EDatabaseError> viaSelect = failure([&] { session->select(statement, {QByteArray("r")}); });
        const std::optional<EDatabaseError> viaRun = failure([&] { session->run(statement, {QByteArray("r")}); });
        QVERIFY2(viaSelect && viaRun, qPrintable(DumpLog(server.log())));
        QCOMPARE(QString::fromUtf8(viaRun->what()), QString::fromUtf8(viaSelect->what()));
        QVERIFY(QString::fromUtf8(viaRun->what()).contains(QStringLiteral("Failure %1 of this test.").arg(error)));
        QCOMPARE(viaRun->lockConflict(), error != 824);
        QCOMPARE(viaSelect->lockConflict(), error != 824);
    }

private:
    quint32 seed_ = 0;
};

QTEST_GUILESS_MAIN(SqlServerDataTest)
#include "tst_sql_server_data.moc"
