#pragma once

#include <QByteArray>
#include <QtGlobal>

// The seed of a test's random values: TDS_TEST_SEED when set (to repeat a
// run), else a new one; printed either way.
quint32 TestSeed();
QByteArray RandomBytes(qsizetype size, quint32 seed);
// The data column "type" with a row for each picture column type SQL Server
// has: varbinary(max) and the legacy image.
void AddPictureColumnTypes();
