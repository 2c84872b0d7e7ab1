#include "bench/link/LinkTables.h"

#include "bench/job/PhotoCorpus.h"
#include "testdata/StoredPictures.h"

ScriptedTable PhotoTable()
{
    ScriptedTable table;
    for (const PhotoRow& row : PhotoRows(MakeCorpus()))
        table.addRow({row.bce01, row.bac02, row.bac04});
    return table;
}

ScriptedTable ManyRowsTable(int rows)
{
    const QByteArray jpeg = stored::Jpeg(16, 16, 1);
    const QByteArray bmp = stored::Bmp24(160, 120, 2);
    ScriptedTable table;
    table.madeRows = size_t(rows);
    table.storedInKeyOrder = true;
    table.countMadeWrites = true;
    table.madeRow = [jpeg, bmp](size_t row) {
        return SqlRow{QVariant(qlonglong(row + 1)), QVariant(QStringLiteral("r%1").arg(row)), QVariant(row % 100 == 50 ? bmp : jpeg),
                      QVariant()};
    };
    return table;
}
