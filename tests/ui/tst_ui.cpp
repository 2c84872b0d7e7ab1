#include "tests/support/ModalBoxAnswerer.h"
#include "tests/support/TestMain.h"
#include "ui/Application.h"
#include "ui/ApplicationTitle.h"
#include "ui/ErrorDisplay.h"
#include "ui/FatalError.h"
#include "ui/MessageBox.h"

#include <QTest>

#include <stdexcept>

class UiLayerTest : public QObject {
    Q_OBJECT

private slots:
    void applicationTitle_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("title");
        QTest::newRow("plain") << "/opt/bmp2jpg" << "bmp2jpg";
        QTest::newRow("later capitals lowered") << "/opt/Bmp2JPG" << "Bmp2jpg";
        QTest::newRow("windows path and extension") << "C:\\Tools\\BMP2JPG.EXE" << "Bmp2jpg";
        QTest::newRow("cut before the first dot") << "/x/My.Tool.exe" << "My";
        QTest::newRow("first character kept as is") << "/x/bMP2JPG" << "bmp2jpg";
        QTest::newRow("dotted folder does not count") << "/a.b/tool" << "tool";
        QTest::newRow("Chinese name") << "D:\\转换工具.exe" << "转换工具";
    }
    void applicationTitle()
    {
        QFETCH(QString, path);
        QFETCH(QString, title);
        QCOMPARE(ui::ApplicationTitle(path), title);
    }

    void fullStopRule_data()
    {
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("shown");
        QTest::newRow("letter") << "Disk full" << "Disk full.";
        QTest::newRow("digit") << "JPEG error #42" << "JPEG error #42.";
        QTest::newRow("already a full stop") << "Done." << "Done.";
        QTest::newRow("closing quote sorts before") << "Cannot open \"x\"" << "Cannot open \"x\"";
        QTest::newRow("bang sorts before") << "Stop!" << "Stop!";
        QTest::newRow("Chinese sorts after") << "失败" << "失败.";
        QTest::newRow("empty") << "" << "";
    }
    void fullStopRule()
    {
        QFETCH(QString, message);
        QFETCH(QString, shown);
        QCOMPARE(ui::ErrorDisplayText(message), shown);
    }

    void handlerFailureReachesTheErrorDisplayAndTheProgramCarriesOn()
    {
        ModalBoxAnswerer answerer;
        auto handler = ui::Guarded([] { throw std::runtime_error("Field 'x' not found"); });
        handler();
        QCOMPARE(answerer.Boxes().size(), size_t(1));
        QCOMPARE(answerer.Boxes().front().text, QStringLiteral("Field 'x' not found."));
        QCOMPARE(answerer.Boxes().front().icon, QMessageBox::Critical);
        QCOMPARE(answerer.Boxes().front().title, QStringLiteral("tst_ui"));
    }

    void startupFailureBoxNamesTheExceptionAndModule()
    {
        ModalBoxAnswerer answerer;
        ui::ShowStartupFailure(std::runtime_error("Data source name not found"));
        QCOMPARE(answerer.Boxes().size(), size_t(1));
        const auto& box = answerer.Boxes().front();
        QCOMPARE(box.title, QStringLiteral("Application Error"));
        QCOMPARE(box.icon, QMessageBox::Critical);
        const QStringList lines = box.text.split(u'\n');
        QCOMPARE(lines.size(), 2);
#ifdef Q_OS_WIN
        const QString module = QStringLiteral("tst_ui.exe");
#else
        const QString module = QStringLiteral("tst_ui");
#endif
        QVERIFY2(lines[0].startsWith(QStringLiteral("Exception std::runtime_error in module %1 at ").arg(module)),
                 qPrintable(lines[0]));
        QVERIFY(lines[0].endsWith(u'.'));
        QCOMPARE(lines[1], QStringLiteral("Data source name not found"));
    }

    void messageBoxHasNoIconAndTheTitle()
    {
        ModalBoxAnswerer answerer;
        ui::ShowMessage(QStringLiteral("格式转换成功"));
        QCOMPARE(answerer.Boxes().size(), size_t(1));
        QCOMPARE(answerer.Boxes().front().text, QStringLiteral("格式转换成功"));
        QCOMPARE(answerer.Boxes().front().icon, QMessageBox::NoIcon);
        QCOMPARE(answerer.Boxes().front().title, QStringLiteral("tst_ui"));
    }
};

BMP2JPG_WINDOW_TEST_MAIN(UiLayerTest)

#include "tst_ui.moc"
