// The scripted TDS server through the real FreeTDS driver: it must answer as
// SQL Server does where the program depends on it, or the tests built on it
// prove nothing.
#include "tests/tds/ScriptedTdsServer.h"
#include "tests/tds/TdsTestSupport.h"

#include <QCollator>
#include <QCryptographicHash>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTest>
#include <QUuid>

// Windows' ODBC headers take their types from windows.h.
#ifdef _WIN32
#include <windows.h>
#endif
#include <sql.h>
#include <sqlext.h>

#include <cstdio>

namespace {

QString connectionString(quint16 port)
{
    return QStringLiteral("DRIVER={FreeTDS};SERVER=127.0.0.1;PORT=%1;UID=sa;PWD=x;TDS_Version=7.4;ClientCharset=UTF-8;"
                          "DATABASE=pictures;")
        .arg(port);
}

// A QODBC connection removed again when it goes out of scope.
class Client {
public:
    explicit Client(quint16 port) : name_(QStringLiteral("tds-client-%1").arg(++serial_))
    {
        QSqlDatabase database = QSqlDatabase::addDatabase(QStringLiteral("QODBC"), name_);
        database.setDatabaseName(connectionString(port));
        if (!database.open())
            throw std::runtime_error(database.lastError().text().toStdString());
    }
    ~Client()
    {
        QSqlDatabase::database(name_, false).close();
        QSqlDatabase::removeDatabase(name_);
    }
    QSqlQuery query() const
    {
        QSqlQuery query(QSqlDatabase::database(name_, false));
        query.setForwardOnly(true);
        return query;
    }
    // The first column of the only row; throws when there is none.
    QVariant value(const QString& statement, const QVariantList& parameters = {}) const
    {
        QSqlQuery q = executed(statement, parameters);
        if (!q.next())
            throw std::runtime_error((statement + QStringLiteral(": no row ") + q.lastError().text()).toStdString());
        return q.value(0);
    }
    void run(const QString& statement, const QVariantList& parameters = {}) const { executed(statement, parameters); }
    // Every row, its values joined by spaces, NULL as "NULL".
    QStringList rows(const QString& statement, const QVariantList& parameters = {}) const
    {
        QSqlQuery q = executed(statement, parameters);
        QStringList rows;
        while (q.next()) {
            QStringList values;
            for (int i = 0; i < q.record().count(); ++i)
                values << (q.isNull(i) ? QStringLiteral("NULL") : q.value(i).toString());
            rows << values.join(u' ');
        }
        return rows;
    }
    // The server version the driver took from the login acknowledgement.
    QString driverServerVersion() const
    {
        const QVariant handle = QSqlDatabase::database(name_, false).driver()->handle();
        SQLWCHAR version[64] = {};
        SQLSMALLINT length = 0;
        SQLGetInfoW(*static_cast<const SQLHDBC*>(handle.data()), SQL_DBMS_VER, version, SQLSMALLINT(sizeof version), &length);
        return QString::fromUtf16(reinterpret_cast<const char16_t*>(version), length / qsizetype(sizeof(SQLWCHAR)));
    }
    // FreeTDS's SQL_INFO_FREETDS_TDS_VERSION: major << 16 | minor.
    SQLUINTEGER tdsVersion() const
    {
        const QVariant handle = QSqlDatabase::database(name_, false).driver()->handle();
        SQLUINTEGER version = 0;
        SQLGetInfo(*static_cast<const SQLHDBC*>(handle.data()), 1300, &version, sizeof version, nullptr);
        return version;
    }
    // The error text of a statement that must fail.
    QString failure(const QString& statement, const QVariantList& parameters = {}) const
    {
        try {
            executed(statement, parameters);
        } catch (const std::runtime_error& e) {
            return QString::fromUtf8(e.what());
        }
        return QStringLiteral("(no error)");
    }

private:
    QSqlQuery executed(const QString& statement, const QVariantList& parameters) const
    {
        QSqlQuery q = query();
        bool done = false;
        if (parameters.isEmpty()) {
            done = q.exec(statement);
        } else if (q.prepare(statement)) {
            for (const QVariant& p : parameters)
                q.addBindValue(p);
            done = q.exec();
        }
        if (!done)
            throw std::runtime_error((statement + QStringLiteral(": ") + q.lastError().text()).toStdString());
        return q;
    }

    QString name_;
    static inline int serial_ = 0;
};

const QString objectStatement = QStringLiteral(
    "select o.type, PARSENAME(s.base_object_name, 4), PARSENAME(s.base_object_name, 3), PARSENAME(s.base_object_name, 2), "
    "PARSENAME(s.base_object_name, 1), DB_NAME() from sys.objects o left join sys.synonyms s on s.object_id = o.object_id "
    "where o.object_id = OBJECT_ID(?)");
const QString columnsStatement = QStringLiteral(
    "select c.name, TYPE_NAME(c.system_type_id), c.max_length, c.precision, c.scale, c.is_nullable, c.collation_name, "
    "CAST(COLLATIONPROPERTY(c.collation_name, 'CodePage') AS int), "
    "CAST(COLLATIONPROPERTY(CAST(DATABASEPROPERTYEX(DB_NAME(), 'Collation') AS nvarchar(128)), 'CodePage') AS int) "
    "from sys.columns c where c.object_id = OBJECT_ID(?) order by c.column_id");
const QString keysStatement = QStringLiteral(
    "select i.index_id, c.name from sys.indexes i join sys.index_columns ic on ic.object_id = i.object_id "
    "and ic.index_id = i.index_id and ic.is_included_column = 0 join sys.columns c on c.object_id = ic.object_id "
    "and c.column_id = ic.column_id where i.object_id = OBJECT_ID(?) and i.is_unique = 1 and i.has_filter = 0 "
    "and i.is_disabled = 0 and i.is_hypothetical = 0 order by i.is_primary_key desc, i.index_id, ic.key_ordinal");
const QString versionStatement = QStringLiteral("select CAST(SERVERPROPERTY('ProductVersion') AS nvarchar(128))");
const QString digestStatement = QStringLiteral(
    "select HASHBYTES('SHA2_256', CONVERT(varbinary(max), [BAC02])) from [BAC1] where [id] = 1");

const QString writeStatement = QStringLiteral(
    "SET NOCOUNT ON; DECLARE @written TABLE (n int); UPDATE TOP (1) [BAC1] SET [BAC02] = ? OUTPUT 1 INTO @written "
    "WHERE [id] = ?; SELECT COUNT(*) FROM @written");

} // namespace

class TdsServerTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { seed_ = TestSeed(); }

    void plainSessionCutsLargeValuesToTextSize_data()
    {
        AddPictureColumnTypes();
    }
    void plainSessionCutsLargeValuesToTextSize()
    {
        QFETCH(int, type);
        ScriptedTable table{SqlType(type)};
        const QByteArray picture = RandomBytes(20000, seed_);
        table.addRow({QStringLiteral("big"), picture, std::nullopt});
        ScriptedTdsServer server(table);
        Client client(server.port());

        QCOMPARE(client.value(QStringLiteral("select [BAC02] from [BAC1] where [id] = 1")).toByteArray(), picture.left(4096));
        // Nothing in the driver's configuration raised the limit before.
        QVERIFY2(!server.statements().join(u'\n').contains(QLatin1String("textsize"), Qt::CaseInsensitive),
                 qPrintable(server.statements().join(u'\n')));
        QCOMPARE(client.value(QStringLiteral("select DATALENGTH([BAC02]) from [BAC1] where [id] = 1")).toLongLong(), 20000);

        client.run(QStringLiteral("SET TEXTSIZE 2147483647"));
        QCOMPARE(client.value(QStringLiteral("select [BAC02] from [BAC1] where [id] = 1")).toByteArray(), picture);
        QCOMPARE(client.value(QStringLiteral("select top (1) DATALENGTH([BAC02]), [BAC02] from [BAC1] WITH (UPDLOCK, ROWLOCK) "
                                             "where [id] = ?"),
                              {1})
                     .toLongLong(),
                 20000);

        client.run(QStringLiteral("SET TEXTSIZE 0"));
        QCOMPARE(client.value(QStringLiteral("select [BAC02] from [BAC1] where [id] = 1")).toByteArray().size(), 4096);

        // Each connection starts again from the default.
        Client other(server.port());
        QCOMPARE(other.value(QStringLiteral("select [BAC02] from [BAC1] where [id] = 1")).toByteArray().size(), 4096);
    }

    void errorAfterFirstRowsReachesTheClient()
    {
        ScriptedTable table;
        for (int i = 0; i < 3; ++i)
            table.addRow({QStringLiteral("r%1").arg(i), QByteArray("BM"), std::nullopt});
        ScriptedTdsServer server(table);
        server.failReadsAfterRows(QStringLiteral(R"(from \[?BAC1\]? where BAC02 is not null)"), 1);
        Client client(server.port());

        QSqlQuery query = client.query();
        QVERIFY2(query.exec(QStringLiteral("select BCE01 from BAC1 where BAC02 is not null")), qPrintable(query.lastError().text()));
        QVERIFY(query.next());
        QCOMPARE(query.value(0).toString(), QStringLiteral("r0"));
        QVERIFY(!query.next());
        QVERIFY2(query.lastError().isValid(), "the read error looked like the end of the rows");
        QVERIFY2(query.lastError().text().contains(QLatin1String("logical consistency-based I/O error")),
                 qPrintable(query.lastError().text()));
    }

    // A table stored in key order is sought by the key's bounds, yet every
    // row it returns must still meet the whole condition, as in a scan.
    void seekInKeyOrderReturnsWhatAScanWould()
    {
        ScriptedTable table;
        for (int i = 0; i < 6; ++i)
            table.addRow({QStringLiteral("r%1").arg(i), QByteArray("BM"), std::nullopt});
        table.storedInKeyOrder = true;
        ScriptedTdsServer server(table);
        Client client(server.port());
        const auto names = [&](const QString& where, const QVariantList& parameters = {}) {
            return client.rows(QStringLiteral("select BCE01 from BAC1 where ") + where, parameters).join(u' ');
        };

        QCOMPARE(names(QStringLiteral("id = ? and BCE01 = ?"), {3, QStringLiteral("r2")}), QStringLiteral("r2"));
        QCOMPARE(names(QStringLiteral("id = ? and BCE01 = ?"), {3, QStringLiteral("r1")}), QString());
        QCOMPARE(names(QStringLiteral("? < id and id <= 5"), {2}), QStringLiteral("r2 r3 r4"));
        QCOMPARE(names(QStringLiteral("id = 3 or id = 5")), QStringLiteral("r2 r4"));
        QCOMPARE(names(QStringLiteral("id <> 3 and id >= 2")), QStringLiteral("r1 r3 r4 r5"));
        QCOMPARE(names(QStringLiteral("id = ?"), {QVariant(QMetaType::fromType<int>())}), QString());
        QCOMPARE(client.rows(QStringLiteral("select top (2) id from BAC1 where id > ? order by id"), {4}).join(u' '),
                 QStringLiteral("5 6"));
        // The write meets its row through the same seek.
        const QString write = QString(writeStatement).replace(QStringLiteral("WHERE [id] = ?"), QStringLiteral("WHERE [id] = ? AND BCE01 = 'r0'"));
        QCOMPARE(client.value(write, {QByteArray("x"), 2}).toInt(), 0);
        QCOMPARE(client.value(write, {QByteArray("x"), 1}).toInt(), 1);
    }

    void unknownStatementFailsNamingIt()
    {
        ScriptedTdsServer server;
        Client client(server.port());
        QSqlQuery query = client.query();
        QVERIFY(!query.exec(QStringLiteral("DELETE FROM BAC1")));
        QVERIFY2(query.lastError().text().contains(QLatin1String("Could not find stored procedure 'DELETE FROM BAC1'")),
                 qPrintable(query.lastError().text()));
        QVERIFY(server.statements().contains(QStringLiteral("DELETE FROM BAC1")));
    }

    void catalogueAnswersForTheTable()
    {
        ScriptedTdsServer server;
        Client client(server.port());
        QSqlQuery query = client.query();
        QVERIFY(query.exec(QStringLiteral("select name from sysdatabases")));
        QStringList names;
        while (query.next())
            names << query.value(0).toString();
        QCOMPARE(names, (QStringList{QStringLiteral("master"), QStringLiteral("pictures")}));
        QCOMPARE(client.value(QStringLiteral("select 1 from sysobjects where name='BAC1'")).toInt(), 1);

        ScriptedTable table;
        table.collation = QStringLiteral("Chinese_PRC_CI_AS");
        ScriptedTdsServer other(table);
        Client otherClient(other.port());
        QCOMPARE(otherClient.rows(columnsStatement, {QStringLiteral("[BAC1]")}),
                 (QStringList{QStringLiteral("id int 4 10 0 0 NULL NULL 1252"),
                              QStringLiteral("BCE01 nvarchar 100 0 0 1 Chinese_PRC_CI_AS 936 1252"),
                              QStringLiteral("BAC02 varbinary -1 0 0 1 NULL NULL 1252"),
                              QStringLiteral("BAC04 varbinary -1 0 0 1 NULL NULL 1252")}));
        // Another database holds no BAC1.
        client.run(QStringLiteral("use master"));
        QSqlQuery none = client.query();
        QVERIFY(none.exec(QStringLiteral("select 1 from sysobjects where name='BAC1'")));
        QVERIFY(!none.next());
    }

    void parameterisedWriteStoresTheBoundValues()
    {
        ScriptedTable table;
        table.addRow({QStringLiteral("a"), QByteArray("old"), std::nullopt});
        ScriptedTdsServer server(table);
        Client client(server.port());
        const QByteArray written = RandomBytes(9000, seed_ + 1);

        QCOMPARE(client.value(writeStatement, {written, 1}).toInt(), 1);
        QCOMPARE(server.table().rows().front().bac02, std::optional(written));
        QCOMPARE(client.value(writeStatement, {written, 7}).toInt(), 0);  // no such row
        QCOMPARE(client.value(writeStatement, {QVariant(QMetaType::fromType<QByteArray>()), 1}).toInt(), 1);
        QCOMPARE(server.table().rows().front().bac02, std::nullopt);

        const std::vector<LoggedStatement> log = server.log();
        const auto write = std::find_if(log.rbegin(), log.rend(), [](const LoggedStatement& s) { return s.text.contains(QLatin1String("UPDATE")); });
        QVERIFY(write != log.rend());
        const LoggedStatement& call = *write;
        QVERIFY2(call.kind.startsWith(QLatin1String("sp_")), qPrintable(call.kind));
        QCOMPARE(call.parameters.size(), size_t(2));
        QVERIFY(call.parameters[0].value.isNull());
        QCOMPARE(call.parameters[1].value.toInt(), 1);
        for (const LoggedStatement& s : server.log()) {
            std::printf("%d %s [%s] %s\n", s.connection, qPrintable(s.kind), qPrintable(s.declaration), qPrintable(s.text.left(120)));
            for (const RpcParameter& p : s.parameters)
                std::printf("    %s %s %s\n", qPrintable(p.name), qPrintable(p.type), p.value.isNull() ? "NULL" : qPrintable(p.value.toString().left(20)));
        }
    }

    void transactionKeepsChangesUntilCommit()
    {
        ScriptedTable table;
        table.addRow({QStringLiteral("a"), QByteArray("old"), std::nullopt});
        ScriptedTdsServer server(table);
        Client writer(server.port());
        Client reader(server.port());
        const QString read = QStringLiteral("select [BAC02] from [BAC1] where [id] = 1");

        writer.run(QStringLiteral("BEGIN TRANSACTION"));
        QCOMPARE(writer.value(writeStatement, {QByteArray("new"), 1}).toInt(), 1);
        QCOMPARE(writer.value(read).toByteArray(), QByteArray("new"));
        QCOMPARE(reader.value(read).toByteArray(), QByteArray("old"));
        writer.run(QStringLiteral("IF @@TRANCOUNT > 0 ROLLBACK TRANSACTION"));
        QCOMPARE(reader.value(read).toByteArray(), QByteArray("old"));

        writer.run(QStringLiteral("BEGIN TRANSACTION"));
        writer.value(writeStatement, {QByteArray("new"), 1});
        writer.run(QStringLiteral("COMMIT TRANSACTION"));
        QCOMPARE(reader.value(read).toByteArray(), QByteArray("new"));

        // Without a transaction COMMIT is an error, ROLLBACK under IF is not.
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, writer.run(QStringLiteral("COMMIT TRANSACTION")));
        writer.run(QStringLiteral("IF @@TRANCOUNT > 0 ROLLBACK TRANSACTION"));
    }

    void triggerRollbackEndsTheTransaction()
    {
        ScriptedTable table;
        table.addRow({QStringLiteral("a"), QByteArray("old a"), std::nullopt});
        table.addRow({QStringLiteral("b"), QByteArray("old b"), std::nullopt});
        table.rollbackTriggerRows.insert(2);
        ScriptedTdsServer server(table);
        Client writer(server.port());
        Client reader(server.port());
        const QString read = QStringLiteral("select [BAC02] from [BAC1] where [id] = ?");

        writer.run(QStringLiteral("BEGIN TRANSACTION"));
        QCOMPARE(writer.value(writeStatement, {QByteArray("new a"), 1}).toInt(), 1);
        try {
            writer.value(writeStatement, {QByteArray("new b"), 2});
            QFAIL("the write the trigger rolls back succeeded");
        } catch (const std::runtime_error& e) {
            QVERIFY2(QString::fromUtf8(e.what()).contains(QLatin1String("The transaction ended in the trigger. The batch has been aborted.")),
                     e.what());
        }
        // The earlier write of the transaction is undone too, and no transaction is left.
        QCOMPARE(writer.value(read, {1}).toByteArray(), QByteArray("old a"));
        QCOMPARE(writer.value(QStringLiteral("select [BAC02] from [BAC1] where [id] = 2")).toByteArray(), QByteArray("old b"));
        try {
            writer.run(QStringLiteral("COMMIT TRANSACTION"));
            QFAIL("COMMIT succeeded after the trigger ended the transaction");
        } catch (const std::runtime_error& e) {
            QVERIFY2(QString::fromUtf8(e.what()).contains(QLatin1String("no corresponding BEGIN TRANSACTION")), e.what());
        }
        writer.run(QStringLiteral("IF @@TRANCOUNT > 0 ROLLBACK TRANSACTION"));
        QCOMPARE(reader.value(read, {1}).toByteArray(), QByteArray("old a"));
        // Outside a transaction the trigger undoes its own statement.
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, writer.value(writeStatement, {QByteArray("new b"), 2}));
        QCOMPARE(reader.value(read, {2}).toByteArray(), QByteArray("old b"));
        QCOMPARE(writer.value(writeStatement, {QByteArray("new a"), 1}).toInt(), 1);
        QCOMPARE(reader.value(read, {1}).toByteArray(), QByteArray("new a"));
    }

    void disconnectDropsAnOpenTransaction()
    {
        ScriptedTable table;
        table.addRow({QStringLiteral("a"), QByteArray("old"), std::nullopt});
        ScriptedTdsServer server(table);
        {
            Client writer(server.port());
            writer.run(QStringLiteral("BEGIN TRANSACTION"));
            writer.value(writeStatement, {QByteArray("new"), 1});
        }
        Client reader(server.port());
        QCOMPARE(reader.value(QStringLiteral("select [BAC02] from [BAC1] where [id] = 1")).toByteArray(), QByteArray("old"));
    }

    void cancelledResultIsAnsweredAndTheConnectionGoesOn()
    {
        ScriptedTable table;
        for (int i = 0; i < 3; ++i)
            table.addRow({QStringLiteral("r%1").arg(i), QByteArray("BM"), std::nullopt});
        ScriptedTdsServer server(table);
        Client client(server.port());
        {
            QSqlQuery query = client.query();
            QVERIFY(query.exec(QStringLiteral("select BCE01 from BAC1 where BAC02 is not null")));
            QVERIFY(query.next());
            query.finish();
        }
        QCOMPARE(client.value(QStringLiteral("select COUNT(1) as cnt from BAC1 where BAC02 is not null")).toInt(), 3);
        const std::vector<LoggedStatement> log = server.log();
        QVERIFY2(std::any_of(log.begin(), log.end(), [](const LoggedStatement& s) { return s.kind == QLatin1String("attention"); }),
                 "the driver sent no attention, so this test proves nothing");
    }

    void catalogueDescribesEachColumnType_data()
    {
        QTest::addColumn<SqlColumn>("column");
        QTest::addColumn<QString>("described");  // type, max_length, precision, scale
        const auto add = [](const char* name, SqlColumn column, const char* described) {
            column.name = QStringLiteral("BAC04");
            QTest::newRow(name) << column << QString::fromLatin1(described);
        };
        add("bigint", {{}, SqlType::BigInt}, "bigint 8 19 0");
        add("bit", {{}, SqlType::Bit}, "bit 1 1 0");
        add("numeric(18,0)", {{}, SqlType::Numeric, 0, 18, 0}, "numeric 9 18 0");
        add("decimal(10,2)", {{}, SqlType::Decimal, 0, 10, 2}, "decimal 9 10 2");
        add("uniqueidentifier", {{}, SqlType::UniqueIdentifier}, "uniqueidentifier 16 0 0");
        add("char(10)", {{}, SqlType::Char, 10}, "char 10 0 0");
        add("varchar(50)", {{}, SqlType::VarChar, 50}, "varchar 50 0 0");
        add("nchar(10)", {{}, SqlType::NChar, 10}, "nchar 20 0 0");
        add("nvarchar(50)", {{}, SqlType::NVarChar, 50}, "nvarchar 100 0 0");
        add("binary(50)", {{}, SqlType::Binary, 50}, "binary 50 0 0");
        add("varbinary(100)", {{}, SqlType::VarBinary, 100}, "varbinary 100 0 0");
        add("varbinary(max)", {{}, SqlType::VarBinaryMax}, "varbinary -1 0 0");
        add("image", {{}, SqlType::Image}, "image 16 0 0");
        add("text", {{}, SqlType::Text}, "text 16 0 0");
        add("ntext", {{}, SqlType::NText}, "ntext 16 0 0");
    }
    void catalogueDescribesEachColumnType()
    {
        QFETCH(SqlColumn, column);
        QFETCH(QString, described);
        ScriptedTable table;
        table.column(QStringLiteral("BAC04")) = column;
        ScriptedTdsServer server(table);
        Client client(server.port());
        QCOMPARE(client.rows(columnsStatement, {QStringLiteral("[BAC1]")}).last().section(u' ', 0, 5), QStringLiteral("BAC04 %1 1").arg(described));
    }

    void namesResolveToWhatTheyStandFor_data()
    {
        QTest::addColumn<QString>("synonymTarget");  // empty: BAC1 is a view
        QTest::addColumn<QString>("bac1");           // what the object statement says of [BAC1]
        QTest::newRow("view") << QString() << QStringLiteral("V  NULL NULL NULL NULL pictures");
        QTest::newRow("synonym") << QStringLiteral("[dbo].[BAC1_data]") << QStringLiteral("SN NULL NULL dbo BAC1_data pictures");
        QTest::newRow("synonym into another database")
            << QStringLiteral("[archive].[dbo].[BAC1]") << QStringLiteral("SN NULL archive dbo BAC1 pictures");
    }
    void namesResolveToWhatTheyStandFor()
    {
        QFETCH(QString, synonymTarget);
        QFETCH(QString, bac1);
        ScriptedTable table;
        table.addRow({QStringLiteral("a"), QByteArray("BM"), std::nullopt});
        if (synonymTarget.isEmpty())
            table.reachThroughView();
        else
            table.reachThroughSynonym(synonymTarget);
        table.databases << QStringLiteral("archive");
        ScriptedTdsServer server(table);
        Client client(server.port());

        QCOMPARE(client.rows(objectStatement, {QStringLiteral("[BAC1]")}), QStringList{bac1});
        QCOMPARE(client.rows(objectStatement, {QStringLiteral("[dbo].[BAC1_data]")}),
                 QStringList{QStringLiteral("U  NULL NULL NULL NULL pictures")});
        QCOMPARE(client.rows(objectStatement, {QStringLiteral("[BAC2]")}), QStringList());
        // Columns and keys belong to the table; a view has columns, a synonym none.
        QCOMPARE(client.rows(columnsStatement, {QStringLiteral("[BAC1]")}).size(), synonymTarget.isEmpty() ? 4 : 0);
        QCOMPARE(client.rows(columnsStatement, {QStringLiteral("[dbo].[BAC1_data]")}).size(), 4);
        QCOMPARE(client.rows(keysStatement, {QStringLiteral("[BAC1]")}), QStringList());
        QCOMPARE(client.rows(keysStatement, {QStringLiteral("[dbo].[BAC1_data]")}), QStringList{QStringLiteral("1 id")});
        // The desktop tool's statements reach the rows through the name.
        QCOMPARE(client.value(QStringLiteral("select 1 from sysobjects where name='BAC1'")).toInt(), 1);
        QCOMPARE(client.value(QStringLiteral("select COUNT(1) as cnt from BAC1 where BAC02 is not null")).toInt(), 1);
    }

    void keysAreTheTablesOwn_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<QStringList>("indexed");
        QTest::newRow("id int") << int(TableKey::IntId) << QStringList{QStringLiteral("1 id")};
        QTest::newRow("id numeric(18,0)") << int(TableKey::NumericIdentity) << QStringList{QStringLiteral("1 id")};
        QTest::newRow("id uniqueidentifier") << int(TableKey::Guid) << QStringList{QStringLiteral("1 id")};
        QTest::newRow("BCE01") << int(TableKey::Name) << QStringList{QStringLiteral("1 BCE01")};
        QTest::newRow("none") << int(TableKey::None) << QStringList();
    }
    void keysAreTheTablesOwn()
    {
        QFETCH(int, key);
        QFETCH(QStringList, indexed);
        ScriptedTdsServer server(ScriptedTable(SqlType::Image, TableKey(key)));
        Client client(server.port());
        QCOMPARE(client.rows(keysStatement, {QStringLiteral("[BAC1]")}), indexed);
    }

    // Each key type read as the program reads it, and the row found again by
    // what was read.
    void keyExpressionsFindTheirRow_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<SqlColumn>("name");
        QTest::addColumn<QString>("read");       // the key expression of the fill
        QTest::addColumn<QString>("condition");  // its row condition
        QTest::addColumn<QVariant>("expected");  // what the second row's key reads as
        const QString text = QStringLiteral("照片二");
        const QByteArray wide(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
        QTest::newRow("int") << int(TableKey::IntId) << SqlColumn{{}, SqlType::NVarChar, 50} << QStringLiteral("[id]")
                             << QStringLiteral("[id] = ?") << QVariant(2);
        QTest::newRow("numeric(18,0)") << int(TableKey::NumericIdentity) << SqlColumn{{}, SqlType::NVarChar, 50}
                                       << QStringLiteral("CAST([id] AS varchar(41))")
                                       << QStringLiteral("[id] = CAST(? AS numeric(18,0))") << QVariant(QStringLiteral("5000000002"));
        QTest::newRow("uniqueidentifier")
            << int(TableKey::Guid) << SqlColumn{{}, SqlType::NVarChar, 50} << QStringLiteral("CAST([id] AS char(36))")
            << QStringLiteral("[id] = CAST(? AS uniqueidentifier)")
            << QVariant(QUuid::createUuidV5(QUuid(), QByteArray("2")).toString(QUuid::WithoutBraces).toUpper());
        QTest::newRow("nvarchar") << int(TableKey::Name) << SqlColumn{{}, SqlType::NVarChar, 50}
                                  << QStringLiteral("CAST([BCE01] AS varbinary(8000))")
                                  << QStringLiteral("[BCE01] = CAST(CAST(? AS varbinary(8000)) AS nvarchar(4000))") << QVariant(wide);
        // The code page has no Chinese: the second row's name is "???".
        QTest::newRow("varchar") << int(TableKey::Name) << SqlColumn{{}, SqlType::VarChar, 50}
                                 << QStringLiteral("CAST([BCE01] AS varbinary(8000))")
                                 << QStringLiteral("[BCE01] = CAST(CAST(? AS varbinary(8000)) AS varchar(8000))")
                                 << QVariant(QByteArray("???"));
        QTest::newRow("char") << int(TableKey::Name) << SqlColumn{{}, SqlType::Char, 5}
                              << QStringLiteral("CAST([BCE01] AS varbinary(8000))")
                              << QStringLiteral("[BCE01] = CAST(CAST(? AS varbinary(8000)) AS varchar(8000))")
                              << QVariant(QByteArray("???  "));
        QTest::newRow("keyless") << int(TableKey::None) << SqlColumn{{}, SqlType::NVarChar, 50}
                                 << QStringLiteral("HASHBYTES('SHA2_256', CONVERT(varbinary(max), [BAC02]))")
                                 << QStringLiteral("DATALENGTH([BAC02]) = ? and case when DATALENGTH([BAC02]) = ? then case when "
                                                   "HASHBYTES('SHA2_256', CONVERT(varbinary(max), [BAC02])) = CAST(? AS varbinary(8000)) "
                                                   "then 1 end end = 1")
                                 << QVariant(QCryptographicHash::hash(QByteArray("BM second"), QCryptographicHash::Sha256));
    }
    void keyExpressionsFindTheirRow()
    {
        QFETCH(int, key);
        QFETCH(SqlColumn, name);
        QFETCH(QString, read);
        QFETCH(QString, condition);
        QFETCH(QVariant, expected);
        ScriptedTable table(SqlType::VarBinaryMax, TableKey(key), name.type);
        table.column(QStringLiteral("BCE01")).size = name.size;
        table.addRow({QStringLiteral("café"), QByteArray("BM first"), std::nullopt});
        table.addRow({QStringLiteral("照片二"), QByteArray("BM second"), std::nullopt});
        ScriptedTdsServer server(table);
        Client client(server.port());

        QSqlQuery fill = client.query();
        QVERIFY2(fill.exec(QStringLiteral("select DATALENGTH([BAC02]), %1 from [BAC1] where BAC02 is not null").arg(read)),
                 qPrintable(fill.lastError().text()));
        QVERIFY(fill.next() && fill.next());
        const QVariant keyRead = fill.value(1);
        const qlonglong size = fill.value(0).toLongLong();
        fill.finish();
        QCOMPARE(keyRead.toString(), expected.toString());
        QVariantList parameters{keyRead};
        if (key == int(TableKey::None))
            parameters = {size, size, keyRead};
        QCOMPARE(client.value(QStringLiteral("select top (1) DATALENGTH([BAC02]), [BAC02] from [BAC1] WITH (UPDLOCK, ROWLOCK) where ") +
                                  condition,
                              parameters)
                     .toLongLong(),
                 9);
    }

    void versionIsTheConfiguredOne_data()
    {
        QTest::addColumn<QString>("version");
        QTest::addColumn<QString>("driverSays");
        QTest::addColumn<int>("tdsMinor");  // the TDS 7.x the login ends with
        QTest::newRow("2008 R2") << SqlServer2008R2 << QStringLiteral("10.50.6000") << 3;
        QTest::newRow("2014") << SqlServer2014 << QStringLiteral("12.00.6024") << 4;
        QTest::newRow("2019") << SqlServer2019 << QStringLiteral("15.00.4153") << 4;
        QTest::newRow("2022") << SqlServer2022 << QStringLiteral("16.00.1000") << 4;
    }
    void versionIsTheConfiguredOne()
    {
        QFETCH(QString, version);
        QFETCH(QString, driverSays);
        QFETCH(int, tdsMinor);
        ScriptedTable table;
        table.serverVersion = version;
        ScriptedTdsServer server(table);
        Client client(server.port());
        QCOMPARE(client.value(versionStatement).toString(), version);
        QCOMPARE(client.driverServerVersion(), driverSays);
        QCOMPARE(client.tdsVersion(), SQLUINTEGER(7 << 16 | tdsMinor));
    }

    // Before SQL Server 2016 HASHBYTES takes at most 8000 bytes; 2008 R2
    // knows no SHA-2 and gives NULL for it.
    void hashBytesAsEachVersionHasIt_data()
    {
        QTest::addColumn<QString>("version");
        QTest::addColumn<int>("size");
        QTest::addColumn<QString>("outcome");  // "digest", "NULL" or the error
        QTest::newRow("2019, large") << SqlServer2019 << 9000 << QStringLiteral("digest");
        QTest::newRow("2014, 8000 bytes") << SqlServer2014 << 8000 << QStringLiteral("digest");
        QTest::newRow("2014, large") << SqlServer2014 << 8001 << QStringLiteral("String or binary data would be truncated.");
        QTest::newRow("2008 R2") << SqlServer2008R2 << 100 << QStringLiteral("NULL");
    }
    void hashBytesAsEachVersionHasIt()
    {
        QFETCH(QString, version);
        QFETCH(int, size);
        QFETCH(QString, outcome);
        ScriptedTable table;
        table.serverVersion = version;
        const QByteArray picture = RandomBytes(size, seed_);
        table.addRow({QStringLiteral("a"), picture, std::nullopt});
        ScriptedTdsServer server(table);
        Client client(server.port());
        client.run(QStringLiteral("SET TEXTSIZE 2147483647"));
        if (outcome == QLatin1String("digest"))
            QCOMPARE(client.value(digestStatement).toByteArray(), QCryptographicHash::hash(picture, QCryptographicHash::Sha256));
        else if (outcome == QLatin1String("NULL"))
            QVERIFY(client.value(digestStatement).isNull());
        else
            QVERIFY2(client.failure(digestStatement).contains(outcome), qPrintable(client.failure(digestStatement)));
    }

    // Microsoft's drivers declare byte arrays as image: comparing one fails
    // to compile, a CAST of it and storing it do not.
    void imageParametersAsMicrosoftDeclaresThem_data()
    {
        AddPictureColumnTypes();
    }
    void imageParametersAsMicrosoftDeclaresThem()
    {
        QFETCH(int, type);
        ScriptedTable table(SqlType(type), TableKey::Name);
        table.microsoftParameterTypes = true;
        table.addRow({QStringLiteral("a"), QByteArray("old"), std::nullopt});
        ScriptedTdsServer server(table);
        Client client(server.port());
        const QString typeName = type == int(SqlType::Image) ? QStringLiteral("image") : QStringLiteral("varbinary(max)");

        const QString compared = client.failure(QStringLiteral("select [BCE01] from [BAC1] where [BAC02] = ?"), {QByteArray("old")});
        QVERIFY2(compared.contains(QStringLiteral("The data types %1 and image are incompatible in the equal to operator.").arg(typeName)),
                 qPrintable(compared));
        const QString key = QStringLiteral("[BCE01] = CAST(CAST(? AS varbinary(8000)) AS nvarchar(4000))");
        const QByteArray a("a\0", 2);
        QCOMPARE(client.value(QStringLiteral("select [BCE01] from [BAC1] where ") + key, {a}).toString(), QStringLiteral("a"));
        QCOMPARE(client.value(QStringLiteral("SET NOCOUNT ON; DECLARE @written TABLE (n int); UPDATE TOP (1) [BAC1] "
                                             "SET [BAC02] = CAST(? AS varbinary(max)) OUTPUT 1 INTO @written WHERE ") +
                                  key + QStringLiteral("; SELECT COUNT(*) AS rows_written FROM @written"),
                              {QByteArray("new"), a})
                     .toInt(),
                 1);
        QCOMPARE(server.table().rows().front().bac02, std::optional(QByteArray("new")));
        const std::vector<LoggedStatement> log = server.log();
        const LoggedStatement& write =
            *std::find_if(log.rbegin(), log.rend(), [](const LoggedStatement& s) { return s.text.contains(QLatin1String("UPDATE")); });
        QVERIFY2(write.declaration.startsWith(QLatin1String("@P1 image,@P2 image")), qPrintable(write.declaration));
        QCOMPARE(write.parameters.front().type, QStringLiteral("image"));
    }

    void collationDecidesStringEquality_data()
    {
        QTest::addColumn<QString>("collation");
        QTest::addColumn<QStringList>("found");  // by "a"
        QTest::newRow("case-insensitive") << QStringLiteral("SQL_Latin1_General_CP1_CI_AS")
                                          << QStringList{QStringLiteral("a"), QStringLiteral("A")};
        QTest::newRow("case-sensitive") << QStringLiteral("SQL_Latin1_General_CP1_CS_AS") << QStringList{QStringLiteral("a")};
    }
    void collationDecidesStringEquality()
    {
        QFETCH(QString, collation);
        QFETCH(QStringList, found);
        ScriptedTable table(SqlType::VarBinaryMax, TableKey::None);
        table.collation = collation;
        table.addRow({QStringLiteral("a"), QByteArray("BM"), std::nullopt});
        table.addRow({QStringLiteral("A"), QByteArray("BM"), std::nullopt});
        ScriptedTdsServer server(table);
        Client client(server.port());
        QCOMPARE(client.rows(QStringLiteral("select [BCE01] from [BAC1] where [BCE01] = ?"), {QStringLiteral("a")}), found);
    }

    // ORDER BY and the comparisons order values as SQL Server does:
    // uniqueidentifier by its last six bytes first, binary as if padded with
    // zero bytes, text under the collation without its trailing spaces.
    void orderAndComparisonsFollowTheServer_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("collation");
        QTest::addColumn<QVariantList>("ids");      // stored in this order, as rows 0, 1...
        QTest::addColumn<QStringList>("ordered");  // the rows in ORDER BY order
        QTest::addColumn<QString>("placeholder");
        QTest::addColumn<QVariant>("after");
        QTest::addColumn<QStringList>("greater");  // the rows greater than `after`
        const QString latin = QStringLiteral("SQL_Latin1_General_CP1_CI_AS");
        const auto rows = [](const char* list) { return QString::fromLatin1(list).split(u' '); };
        QTest::newRow("uniqueidentifier")
            << int(TableKey::Guid) << latin
            << QVariantList{QUuid(QStringLiteral("3AAAAAAA-BBBB-CCCC-DDDD-2EEEEEEEEEEE")),
                            QUuid(QStringLiteral("2AAAAAAA-BBBB-CCCC-DDDD-1EEEEEEEEEEE")),
                            QUuid(QStringLiteral("1AAAAAAA-BBBB-CCCC-DDDD-3EEEEEEEEEEE")),
                            QUuid(QStringLiteral("00000001-0000-0000-0100-000000000000")),
                            QUuid(QStringLiteral("00000000-0000-0001-0000-000000000000"))}
            << rows("4 3 1 0 2") << QStringLiteral("CAST(? AS uniqueidentifier)")
            << QVariant(QStringLiteral("00000001-0000-0000-0100-000000000000")) << rows("0 1 2");
        QTest::newRow("binary")
            << int(TableKey::BinaryId) << latin
            << QVariantList{QByteArray::fromHex("02000000"), QByteArray::fromHex("01010000"), QByteArray::fromHex("01000000")}
            << rows("2 1 0") << QStringLiteral("CAST(? AS varbinary(8000))") << QVariant(QByteArray::fromHex("01")) << rows("0 1");
        // Rows 0, 1, 2 named "B", "c " and "a b"; in Chinese 阿 (a), 中 (zhong) and 张 (zhang).
        QTest::newRow("case-insensitive text") << int(TableKey::IntId) << latin << QVariantList{1, 2, 3} << rows("2 0 1")
                                               << QStringLiteral("?") << QVariant(QStringLiteral("B ")) << rows("1");
        const QString zhang = QStringLiteral("张");
        QTest::newRow("Chinese by pinyin")
            << int(TableKey::IntId) << QStringLiteral("Chinese_PRC_CI_AS") << QVariantList{1, 2, 3} << rows("0 2 1")
            << QStringLiteral("CAST(CAST(? AS varbinary(8000)) AS nvarchar(4000))")
            << QVariant(QByteArray(reinterpret_cast<const char*>(zhang.utf16()), 2)) << rows("1");
    }
    void orderAndComparisonsFollowTheServer()
    {
        QFETCH(int, key);
        QFETCH(QString, collation);
        QFETCH(QVariantList, ids);
        QFETCH(QStringList, ordered);
        QFETCH(QString, placeholder);
        QFETCH(QVariant, after);
        QFETCH(QStringList, greater);
        if (collation.startsWith(QLatin1String("Chinese"))) {
            const QCollator chinese(QLocale(QLocale::Chinese, QLocale::China));
            if (!(chinese.compare(QStringLiteral("阿"), QStringLiteral("张")) < 0 &&
                  chinese.compare(QStringLiteral("张"), QStringLiteral("中")) < 0))
                QSKIP("This platform's collation data does not order Chinese by pinyin (Wine's CompareStringEx), "
                      "so the test server cannot play SQL Server's Chinese_PRC order here");
        }
        ScriptedTable table(SqlType::VarBinaryMax, TableKey(key));
        table.collation = collation;
        const bool text = key == int(TableKey::IntId);
        const QStringList names = collation.startsWith(QLatin1String("Chinese"))
                                      ? QStringList{QStringLiteral("阿"), QStringLiteral("中"), QStringLiteral("张")}
                                      : QStringList{QStringLiteral("B"), QStringLiteral("c "), QStringLiteral("a b")};
        for (int i = 0; i < ids.size(); ++i) {
            table.addRow({text ? names[i] : QString::number(i), std::nullopt, std::nullopt});
            table.data.back().front() = ids[i];
        }
        ScriptedTdsServer server(table);
        Client client(server.port());
        // The row numbers, from the id (text) or BCE01.
        const auto numbers = [text](const QStringList& found) {
            QStringList rows;
            for (const QString& row : found)
                rows << (text ? QString::number(row.toInt() - 1) : row);
            return rows;
        };
        const QString by = text ? QStringLiteral("[BCE01]") : QStringLiteral("[id]");
        const QString shown = text ? QStringLiteral("[id]") : QStringLiteral("[BCE01]");
        QCOMPARE(numbers(client.rows(QStringLiteral("select %1 from [BAC1] order by %2").arg(shown, by))), ordered);
        QStringList above = numbers(client.rows(QStringLiteral("select %1 from [BAC1] where %2 > %3").arg(shown, by, placeholder), {after}));
        above.sort();
        QCOMPARE(above, greater);
    }

    void triggerResultComesBeforeTheWritesCount()
    {
        ScriptedTable table;
        table.auditTrigger = true;
        table.addRow({QStringLiteral("a"), QByteArray("old"), std::nullopt});
        ScriptedTdsServer server(table);
        Client client(server.port());
        QSqlQuery write = client.query();
        QVERIFY(write.prepare(writeStatement));
        write.addBindValue(QByteArray("new"));
        write.addBindValue(1);
        QVERIFY2(write.exec(), qPrintable(write.lastError().text()));
        QVERIFY(write.next());
        QCOMPARE(write.value(0).toString(), QStringLiteral("BAC1 updated"));
        QVERIFY(write.nextResult());
        QVERIFY(write.next());
        QCOMPARE(write.value(0).toInt(), 1);
        QCOMPARE(server.table().rows().front().bac02, std::optional(QByteArray("new")));
    }

    // FreeTDS sends text in the code page of the login's collation (it
    // refuses what that cannot hold) and reads each text column in the code
    // page of the collation its metadata names.
    void textTravelsInTheCodePageOfItsCollation_data()
    {
        QTest::addColumn<QString>("databaseCollation");
        QTest::addColumn<QString>("collation");
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QString>("refused");  // empty: none
        QTest::addColumn<int>("bytes");        // the first name's, as the column holds it
        const QString latin = QStringLiteral("SQL_Latin1_General_CP1_CI_AS");
        const QString chinese = QStringLiteral("Chinese_PRC_CI_AS");
        const QString photo = QStringLiteral("照片一");
        const QString cafe = QStringLiteral("café");
        QTest::newRow("Latin database") << latin << latin << QStringList{cafe} << photo << 4;
        QTest::newRow("Chinese database") << chinese << chinese << QStringList{photo, cafe} << QString() << 6;
        QTest::newRow("Chinese column in a Latin database") << latin << chinese << QStringList{cafe, photo} << photo << 5;
    }
    void textTravelsInTheCodePageOfItsCollation()
    {
        QFETCH(QString, databaseCollation);
        QFETCH(QString, collation);
        QFETCH(QStringList, names);
        QFETCH(QString, refused);
        QFETCH(int, bytes);
        ScriptedTable table(SqlType::VarBinaryMax, TableKey::Name, SqlType::VarChar);
        table.databaseCollation = databaseCollation;
        table.collation = collation;
        for (const QString& name : names)
            table.addRow({name, QByteArray("BM"), std::nullopt});
        ScriptedTdsServer server(table);
        const QString find = QStringLiteral("select [BCE01], DATALENGTH([BCE01]) from [BAC1] where [BCE01] = ?");
        if (!refused.isEmpty()) {
            const QString failure = Client(server.port()).failure(find, {refused});
            QVERIFY2(failure.contains(QLatin1String("Error converting characters into server's character set")), qPrintable(failure));
        }
        // A refusal leaves the driver's connection unusable; another one.
        Client client(server.port());
        QCOMPARE(client.rows(find, {names.front()}), QStringList{names.front() + u' ' + QString::number(bytes)});
        QCOMPARE(client.rows(QStringLiteral("select [BCE01] from [BAC1]")), names);
        const std::vector<LoggedStatement> log = server.log();
        const auto sent = std::find_if(log.rbegin(), log.rend(), [](const LoggedStatement& s) { return !s.parameters.empty(); });
        QVERIFY(sent != log.rend());
        QVERIFY2(sent->parameters.front().type.startsWith(QLatin1String("varchar")), qPrintable(sent->parameters.front().type));
        QCOMPARE(std::count_if(log.begin(), log.end(), [](const LoggedStatement& s) { return s.text.contains(QLatin1String("DATALENGTH")); }), 1);
    }

private:
    quint32 seed_ = 0;
};

QTEST_GUILESS_MAIN(TdsServerTest)
#include "tst_tds_server.moc"
