#include "tests/job/KillTest.h"

#include "testdata/ImageTableWriter.h"
#include "testdata/StoredPictures.h"

#include <cstdio>

quint32 KillSeed()
{
    const quint32 seed = qEnvironmentVariableIsSet("BMP2JPG_TEST_SEED")
                             ? quint32(qEnvironmentVariableIntValue("BMP2JPG_TEST_SEED"))
                             : 20261209;
    std::printf("seed %u (BMP2JPG_TEST_SEED repeats it)\n", seed);
    return seed;
}

void WriteKillTestTable(const QString& databaseFile)
{
    ImageTableWriter table(databaseFile);
    for (int i = 0; i < 24; ++i)
        table.AddRow(QStringLiteral("k%1").arg(i % 20), stored::Bmp24(640, 480, i),
                     i % 3 ? std::optional<QByteArray>(stored::Bmp24(320, 240, 100 + i)) : std::nullopt);
    table.AddRow(QStringLiteral("jpeg"), stored::Jpeg(64, 48, 2), QByteArray("text"));
}
