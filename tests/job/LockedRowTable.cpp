#include "tests/job/LockedRowTable.h"

#include "tests/job/ExpectedValues.h"
#include "testdata/ImageTableWriter.h"
#include "testdata/StoredPictures.h"

void WriteLockedRowTable(const QString& databaseFile)
{
    ImageTableWriter table(databaseFile);
    table.AddRow(QStringLiteral("a"), stored::Bmp24(40, 30, 1), stored::Bmp24(40, 30, 11));
    table.AddRow(QStringLiteral("b"), stored::Bmp24(40, 30, 2), std::nullopt);
    table.AddRow(QStringLiteral("locked"), stored::Bmp24(40, 30, 3), stored::Bmp24(40, 30, 13));
    table.AddRow(QStringLiteral("c"), stored::Bmp24(40, 30, 4), std::nullopt);
    table.Execute(QStringLiteral("create trigger guard before update on BAC1 when old.BCE01 = 'locked' "
                                 "begin select raise(abort, 'row locked is read-only'); end"));
}

bool StoppedAtLockedRow(const std::vector<ImageRow>& original, const std::vector<ImageRow>& now)
{
    const std::vector<ImageRow> finished = FinishedTable(original);
    return now.size() == 4 && now[0].bac02 == finished[0].bac02 && now[1].bac02 == finished[1].bac02 &&
           now[2].bac02 == original[2].bac02 && now[3].bac02 == original[3].bac02 && now[0].bac04 == original[0].bac04;
}
