#include "tests/main/KillSeed.h"

#include <QByteArray>

#include <cstdio>

quint32 KillSeed()
{
    const quint32 seed = qEnvironmentVariableIsSet("BMP2JPG_TEST_SEED")
                             ? quint32(qEnvironmentVariableIntValue("BMP2JPG_TEST_SEED"))
                             : 20261209;
    std::printf("seed %u (BMP2JPG_TEST_SEED repeats it)\n", seed);
    return seed;
}
