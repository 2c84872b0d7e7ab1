#pragma once

#include <QString>
#include <QtGlobal>

// What the tests that kill a run share.

// The seed of a test's kill moments: fixed, so a failure repeats, and
// printed; BMP2JPG_TEST_SEED gives another.
quint32 KillSeed();

// A table whose run takes long enough to be killed in the middle: 24 rows of
// photos in BAC02, most with a second in BAC04, some sharing BCE01, then a
// JPEG and a text value.
void WriteKillTestTable(const QString& databaseFile);
