#include "tests/tds/TdsTestSupport.h"

#include "tests/tds/TdsTypes.h"

#include <QRandomGenerator>
#include <QTest>

#include <cstdio>

quint32 TestSeed()
{
    const quint32 seed = qEnvironmentVariableIsSet("TDS_TEST_SEED") ? qEnvironmentVariable("TDS_TEST_SEED").toUInt()
                                                                    : QRandomGenerator::global()->generate();
    std::printf("random seed %u (TDS_TEST_SEED)\n", seed);
    return seed;
}

QByteArray RandomBytes(qsizetype size, quint32 seed)
{
    QRandomGenerator random(seed);
    QByteArray bytes(size, '\0');
    for (char& b : bytes)
        b = char(random.bounded(256));
    return bytes;
}

void AddPictureColumnTypes()
{
    QTest::addColumn<int>("type");
    QTest::newRow("varbinary(max)") << int(SqlType::VarBinaryMax);
    QTest::newRow("image") << int(SqlType::Image);
}
