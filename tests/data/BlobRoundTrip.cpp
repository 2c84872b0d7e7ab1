#include "tests/data/BlobRoundTrip.h"

#include "data/UDataModule.h"

#include <QFile>
#include <QTest>

QByteArray FileBytes(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArrayLiteral("(unreadable)");
    return file.readAll();
}

void CheckBlobRoundTrip(TDataModule1& module, const QString& name, const QByteArray& stored, const QByteArray& written,
                        const QString& scratchFile, const std::function<std::optional<QByteArray>()>& storedNow)
{
    module.OpenQuery(QStringLiteral("select BCE01,BAC02 from bac1 where BAC02 is not null"));
    QCOMPARE(module.qry1.RecordCount(), 1);
    QCOMPARE(module.qry1.FieldByName(QStringLiteral("bce01")).AsString(), name);
    TField field = module.qry1.FieldByName(QStringLiteral("BAC02"));
    QCOMPARE(field.BlobSize(), stored.size());
    QCOMPARE(field.BlobStartsWith("BM"), stored.startsWith("BM"));
    field.SaveToFile(scratchFile);
    QCOMPARE(FileBytes(scratchFile), stored);
    QCOMPARE(field.AsBytes(), stored);

    module.qry1.Edit();
    field.LoadFromStream(written);
    module.qry1.Post();
    QCOMPARE(field.IsNull(), written.isEmpty());
    QCOMPARE(field.BlobSize(), written.size());
    QCOMPARE(field.BlobStartsWith("BM"), written.startsWith("BM"));
    QCOMPARE(field.AsBytes(), written);
    module.con1.CommitPosted();
    QCOMPARE(storedNow(), written.isEmpty() ? std::nullopt : std::optional<QByteArray>(written));

    module.OpenQuery(QStringLiteral("select BCE01,BAC02 from BAC1"));
    module.qry1.FieldByName(QStringLiteral("bac02")).SaveToFile(scratchFile);
    QCOMPARE(FileBytes(scratchFile), written);
}
