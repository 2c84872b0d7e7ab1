#include "job/ImageTable.h"

#include "codec/Signatures.h"
#include "data/UDataModule.h"

#include <QStringList>

namespace {

const QByteArray bitmapStart(bmp2jpg::kBmpSignature.data(), qsizetype(bmp2jpg::kBmpSignature.size()));

}  // namespace

const std::array<PicturePass, 2>& PicturePasses()
{
    static const std::array<PicturePass, 2> passes{{
        {QStringLiteral("BAC02"), QStringLiteral("select BCE01,BAC02 from BAC1 where BAC02 is not null")},
        {QStringLiteral("BAC04"), QStringLiteral("select BCE01,BAC04 from BAC1 where BAC04 is not null")},
    }};
    return passes;
}

QString RowDigestBesidesPictures(const TQuery& query)
{
    QStringList pictures;
    for (const PicturePass& pass : PicturePasses())
        pictures << pass.column;
    return query.RowDigest(pictures);
}

bool HasPictureTable(TDataModule1& dataModule)
{
    dataModule.OpenQuery(QStringLiteral("select 1 from sysobjects where name='BAC1'"));
    return dataModule.qry1.RecordCount() > 0;
}

qint64 CountPictures(TDataModule1& dataModule)
{
    qint64 total = 0;
    for (const PicturePass& pass : PicturePasses()) {
        dataModule.OpenQuery(QStringLiteral("select COUNT(1) as cnt from BAC1 where %1 is not null").arg(pass.column));
        total += dataModule.qry1.FieldByName(QStringLiteral("cnt")).AsInteger();
    }
    return total;
}

bool StartsLikeBitmap(const QByteArray& value)
{
    return value.startsWith(bitmapStart);
}

bool MayBeBitmap(const TField& field)
{
    return !field.BlobHeadKnown() || field.BlobStartsWith(bitmapStart);
}
