#include "bench/link/LinkTables.h"

#include "bench/job/PhotoCorpus.h"
#include "testdata/StoredPictures.h"

ScriptedTable PhotoTable(int part, int parts)
{
    ScriptedTable table;
    const std::vector<PhotoRow> rows = PhotoRows(MakeCorpus());
    const size_t first = rows.size() * size_t(part - 1) / size_t(parts);
    const size_t end = rows.size() * size_t(part) / size_t(parts);
    for (size_t i = first; i < end; ++i)
        table.addRow({rows[i].bce01, rows[i].bac02, rows[i].bac04});
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
