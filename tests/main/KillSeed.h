#pragma once

#include <QtGlobal>

// The seed of a test's kill moments: fixed, so a failure repeats, and
// printed; BMP2JPG_TEST_SEED gives another.
quint32 KillSeed();
