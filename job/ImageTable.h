#pragma once

#include <QByteArray>
#include <QString>

#include <array>

class TDataModule1;
class TField;
class TQuery;

// What the job knows about the picture table, for every front end: where the
// pictures are, which values can change and how a changed one is stored.

// One pass of the job: a picture column of BAC1 and the rows it visits.
struct PicturePass {
    QString column;
    QString statement;  // select BCE01,<column> of the rows where it is not NULL
};
// BAC02, then BAC04.
const std::array<PicturePass, 2>& PicturePasses();

// A digest of the current row's values in every column but the pictures:
// with its BCE01, what tells the row apart where its key does not last
// (SQLite's rowid, which a VACUUM may move).
QString RowDigestBesidesPictures(const TQuery& query);

// Whether the connected database has table BAC1.
bool HasPictureTable(TDataModule1& dataModule);
// The values every pass will visit, all passes together.
qint64 CountPictures(TDataModule1& dataModule);

// Only a value that starts like a bitmap can change, and only it is read
// whole: one whose first bytes say so, or a large one whose first bytes did
// not come with the row.
bool MayBeBitmap(const TField& field);
// Whether a whole value starts as every BMP file does.
bool StartsLikeBitmap(const QByteArray& value);
