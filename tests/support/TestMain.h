#pragma once

#include "ui/Application.h"

#include <QTest>

// QTEST_MAIN with the program's own application object, so boxes carry the
// application title and windows the program's font.
#define BMP2JPG_WINDOW_TEST_MAIN(TestClass)                 \
    int main(int argc, char** argv)                         \
    {                                                       \
        ui::TApplication application(argc, argv);           \
        TestClass test;                                     \
        return QTest::qExec(&test, argc, argv);             \
    }
