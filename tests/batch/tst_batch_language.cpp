// bmp2jpg-batch speaks Simplified Chinese or English, as the user's locale
// asks; its terminal layout holds in both.
#include "batch/TerminalText.h"
#include "batch/Translation.h"
#include "tests/data/ServerFolder.h"
#include "tests/job/ChildProcess.h"
#include "testdata/ImageTableWriter.h"
#include "testdata/StoredPictures.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTest>

namespace {

const QString englishUsage = QStringLiteral("Usage: bmp2jpg-batch");
const QString chineseUsage = QStringLiteral("用法：bmp2jpg-batch");

// Columns on a terminal, counted apart from TerminalWidth: every character
// from the CJK radicals on takes two.
int Columns(const QString& line)
{
    int columns = 0;
    for (const QChar c : line)
        columns += c.unicode() >= 0x2E80 ? 2 : 1;
    return columns;
}

// The batch command with the locale variables as given ("NAME=value"), all
// others of them unset, and BMP2JPG_PASSWORD empty.
ChildOutcome RunInLocale(const QStringList& locale, const QStringList& arguments)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"LANG", "LANGUAGE", "LC_ALL", "LC_MESSAGES"})
        environment.remove(QLatin1String(name));
    for (const QString& setting : locale)
        environment.insert(setting.section(u'=', 0, 0), setting.section(u'=', 1));
    environment.insert(QStringLiteral("BMP2JPG_PASSWORD"), QString());
    QProcess batch;
    batch.setProcessEnvironment(environment);
    batch.start(QStringLiteral(BMP2JPG_BATCH), arguments);
    batch.closeWriteChannel();
    return FinishChild(batch);
}

}  // namespace

class BatchLanguageTest : public QObject {
    Q_OBJECT

private slots:
    void helpInTheLocalesLanguage_data()
    {
        QTest::addColumn<QStringList>("locale");
        QTest::addColumn<bool>("chinese");
        QTest::newRow("LANG=zh_CN.UTF-8") << QStringList{QStringLiteral("LANG=zh_CN.UTF-8")} << true;
        QTest::newRow("LANG=C") << QStringList{QStringLiteral("LANG=C")} << false;
        QTest::newRow("nothing set") << QStringList{} << false;
        QTest::newRow("LANG=en_US.UTF-8") << QStringList{QStringLiteral("LANG=en_US.UTF-8")} << false;
        QTest::newRow("LC_ALL=C over LANG=zh_CN")
            << QStringList{QStringLiteral("LANG=zh_CN.UTF-8"), QStringLiteral("LC_ALL=C")} << false;
        QTest::newRow("LC_ALL=zh_CN over LANG=C")
            << QStringList{QStringLiteral("LANG=C"), QStringLiteral("LC_ALL=zh_CN.UTF-8")} << true;
        QTest::newRow("LC_MESSAGES=zh_CN over LANG=en_US")
            << QStringList{QStringLiteral("LANG=en_US.UTF-8"), QStringLiteral("LC_MESSAGES=zh_CN.UTF-8")} << true;
        // As gettext: the C locale is English whatever LANGUAGE lists.
        QTest::newRow("LANGUAGE under LANG=C.UTF-8")
            << QStringList{QStringLiteral("LANG=C.UTF-8"), QStringLiteral("LANGUAGE=zh_CN")} << false;
        QTest::newRow("LANG=zh_SG.UTF-8") << QStringList{QStringLiteral("LANG=zh_SG.UTF-8")} << true;
        QTest::newRow("LANG=zh_TW.UTF-8") << QStringList{QStringLiteral("LANG=zh_TW.UTF-8")} << false;
    }
    void helpInTheLocalesLanguage()
    {
#ifdef Q_OS_WIN
        QSKIP("On Windows the language is the user's interface language, not the environment's");
#endif
        QFETCH(QStringList, locale);
        QFETCH(bool, chinese);
        const ChildOutcome outcome = RunInLocale(locale, {QStringLiteral("--help")});
        QCOMPARE(outcome.exitCode, 0);
        QVERIFY2(outcome.out.startsWith(chinese ? chineseUsage : englishUsage), qPrintable(outcome.out));
        QVERIFY(outcome.out.contains(QStringLiteral("选项：")) == chinese);
    }

    void usageErrorsInChinese_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("message");
        QTest::newRow("unknown option (Qt's parser)") << QStringList{QStringLiteral("--fast")}
                                                     << QStringLiteral("bmp2jpg-batch: 未知选项 'fast'。");
        QTest::newRow("missing value (Qt's parser)") << QStringList{QStringLiteral("--jobs")}
                                                    << QStringLiteral("bmp2jpg-batch: '--jobs' 后缺少值。");
        QTest::newRow("our own check")
            << QStringList{QStringLiteral("--server"), QStringLiteral("s"), QStringLiteral("--user"), QStringLiteral("u"),
                           QStringLiteral("--database"), QStringLiteral("d"), QStringLiteral("--jobs"), QStringLiteral("0")}
            << QStringLiteral("bmp2jpg-batch: --jobs 需要 1 到 256 之间的整数，而不是 \"0\"");
    }
    void usageErrorsInChinese()
    {
#ifdef Q_OS_WIN
        QSKIP("On Windows the language is the user's interface language, not the environment's");
#endif
        QFETCH(QStringList, arguments);
        QFETCH(QString, message);
        const ChildOutcome outcome = RunInLocale({QStringLiteral("LANG=zh_CN.UTF-8")}, arguments);
        QCOMPARE(outcome.exitCode, 2);
        QCOMPARE(outcome.err, message + QStringLiteral("\n请运行 \"bmp2jpg-batch --help\" 查看用法。\n"));
    }

    // The help is laid out for an 80-column terminal in either language,
    // including the paragraphs the translation wraps by hand.
    void helpFitsEightyColumns_data()
    {
        QTest::addColumn<QString>("lang");
        QTest::newRow("English") << QStringLiteral("C");
        QTest::newRow("Chinese") << QStringLiteral("zh_CN.UTF-8");
    }
    void helpFitsEightyColumns()
    {
        QFETCH(QString, lang);
        const ChildOutcome outcome = RunInLocale({QStringLiteral("LANG=") + lang}, {QStringLiteral("--help")});
        QCOMPARE(outcome.exitCode, 0);
        for (const QString& line : outcome.out.split(QRegularExpression(QStringLiteral("\r?\n"))))
            QVERIFY2(Columns(line) <= 79, qPrintable(line));
    }

    // The table of kinds keeps its columns under Chinese names two columns wide each.
    void chineseSummaryTableAligned()
    {
#ifdef Q_OS_WIN
        QSKIP("On Windows the language is the user's interface language, not the environment's");
#endif
        ServerFolder folder;
        {
            ImageTableWriter table(folder.file(QStringLiteral("pictures")));
            table.AddRow(QStringLiteral("a"), stored::Bmp24(20, 10, 1), stored::Jpeg(8, 8, 2));
            table.AddRow(QStringLiteral("b"), QByteArray("text"), std::nullopt);
        }
        const ChildOutcome outcome =
            RunInLocale({QStringLiteral("LANG=zh_CN.UTF-8")},
                        {QStringLiteral("--server"), folder.path(), QStringLiteral("--user"), QStringLiteral("sa"),
                         QStringLiteral("--database"), QStringLiteral("pictures"), QStringLiteral("--dry-run")});
        QCOMPARE(outcome.exitCode, 0);
        const QStringList lines = outcome.out.split(u'\n');
        QVERIFY2(lines.size() > 13, qPrintable(outcome.out));
        QVERIFY2(lines[0].startsWith(QStringLiteral("列      类别")) && lines[0].endsWith(QStringLiteral("JPEG 字节数")),
                 qPrintable(lines[0]));
        QVERIFY2(lines[2].startsWith(QStringLiteral("BAC02   已是 JPEG")), qPrintable(lines[2]));
        for (int i = 1; i <= 12; ++i)
            QCOMPARE(Columns(lines[i]), Columns(lines[0]));
        QVERIFY2(outcome.out.contains(QStringLiteral("试运行：没有写入任何内容。\n将转换 1 个值，2 个值保持不变。")),
                 qPrintable(outcome.out));
        QVERIFY2(outcome.err.contains(QStringLiteral("个/秒")), qPrintable(outcome.err));
    }

    void simplifiedChineseWanted_data()
    {
        QTest::addColumn<QStringList>("languages");
        QTest::addColumn<bool>("chinese");
        QTest::newRow("zh-CN") << QStringList{QStringLiteral("zh-CN")} << true;
        QTest::newRow("zh") << QStringList{QStringLiteral("zh")} << true;
        QTest::newRow("zh-SG") << QStringList{QStringLiteral("zh-SG")} << true;
        QTest::newRow("zh-Hans-HK") << QStringList{QStringLiteral("zh-Hans-HK")} << true;
        QTest::newRow("zh-TW") << QStringList{QStringLiteral("zh-TW")} << false;
        QTest::newRow("zh-HK") << QStringList{QStringLiteral("zh-HK")} << false;
        QTest::newRow("zh-Hant") << QStringList{QStringLiteral("zh-Hant")} << false;
        QTest::newRow("en-US before zh-CN") << QStringList{QStringLiteral("en-US"), QStringLiteral("zh-CN")} << false;
        QTest::newRow("fr-FR, then zh-CN") << QStringList{QStringLiteral("fr-FR"), QStringLiteral("zh-CN")} << true;
        QTest::newRow("zh-TW, then zh-CN") << QStringList{QStringLiteral("zh-TW"), QStringLiteral("zh-CN")} << true;
        QTest::newRow("C") << QStringList{QStringLiteral("C")} << false;
        QTest::newRow("none") << QStringList{} << false;
    }
    void simplifiedChineseWanted()
    {
        QFETCH(QStringList, languages);
        QFETCH(bool, chinese);
        QCOMPARE(WantsSimplifiedChinese(languages), chinese);
    }

    void wrappedForATerminal_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("width");
        QTest::newRow("English") << QStringLiteral("Encode up to N pictures at once (default: the number of cores). "
                                                   "Reading and writing stay in row order.")
                                 << 30;
        QTest::newRow("Chinese with options and paths")
            << QStringLiteral("与 --verify-certificate 一起使用：信任此 PEM 文件中的 CA（仅限 FreeTDS），"
                              "把它复制到 /usr/local/share/ca-certificates，然后运行 update-ca-certificates。")
            << 24;
        QTest::newRow("punctuation at each break") << QStringLiteral("一二三，四五六。七八（九）十、甲乙；丙丁") << 6;
        QTest::newRow("a word wider than a line") << QStringLiteral("短 /usr/local/share/ca-certificates 长") << 10;
    }
    void wrappedForATerminal()
    {
        QFETCH(QString, text);
        QFETCH(int, width);
        const QStringList lines = Wrapped(text, width);
        const auto narrowWords = [](const QString& line) {
            return line.split(QRegularExpression(QStringLiteral("[^!-~]+")), Qt::SkipEmptyParts);
        };
        QStringList words;
        QString characters;
        for (const QString& line : lines) {
            QVERIFY2(Columns(line) <= width || !line.contains(u' '), qPrintable(line));
            QVERIFY2(!line.startsWith(u' ') && !line.endsWith(u' '), qPrintable(line));
            QVERIFY2(!QStringLiteral("，。、；：）").contains(line.front()), qPrintable(line));
            QVERIFY2(!QStringLiteral("（").contains(line.back()), qPrintable(line));
            words += narrowWords(line);
            characters += QString(line).remove(u' ');
        }
        // Nothing lost, nothing added, and no word of narrow characters cut.
        QCOMPARE(characters, QString(text).remove(u' '));
        QCOMPARE(words, narrowWords(text));
    }
};

QTEST_GUILESS_MAIN(BatchLanguageTest)
#include "tst_batch_language.moc"
