// A program whose database client cannot be loaded stops at start-up with the
// "Application Error" box and exit code 1, before any window. In a process of
// its own: once loaded, a driver stays loaded.
#include "app/Startup.h"
#include "tests/support/ModalBoxAnswerer.h"
#include "tests/support/TestMain.h"

#include <QTemporaryDir>
#include <QTest>

class StartupFailureTest : public QObject {
    Q_OBJECT

private slots:
    void missingDatabaseClientEndsTheProgramWithCodeOne()
    {
        QTemporaryDir noPlugins;
        QCoreApplication::setLibraryPaths({noPlugins.path()});
        ModalBoxAnswerer answerer;
        QCOMPARE(RunApplication(*static_cast<ui::TApplication*>(qApp)), 1);
        QCOMPARE(answerer.Boxes().size(), size_t(1));
        QCOMPARE(answerer.Boxes().front().title, QStringLiteral("Application Error"));
        QVERIFY2(answerer.Boxes().front().text.contains(QStringLiteral("Qt SQL driver QODBC is missing")),
                 qPrintable(answerer.Boxes().front().text));
        for (QWidget* window : QApplication::topLevelWidgets())
            QVERIFY(!window->isVisible());
    }
};

BMP2JPG_WINDOW_TEST_MAIN(StartupFailureTest)

#include "tst_startup_failure.moc"
