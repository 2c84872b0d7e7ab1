#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <vector>

// The index of a backup folder, manifest.csv: one line per value kept, naming
// its row and column, the file holding its original bytes, and the size and
// SHA-256 of those bytes and of the JPEG that replaced them.
struct BackupEntry {
    QString column;
    QString key;    // the row's key, as TQuery::RowKey gives it
    QString bce01;  // empty for NULL
    QString file;   // relative to the folder, with '/'
    qint64 bytes = 0;
    QString sha256;  // hex
    qint64 jpegBytes = 0;
    QString jpegSha256;  // hex
    // Where the key does not last (SQLite's rowid): the row's other values,
    // RowDigestBesidesPictures. Empty where the key lasts.
    QString rowDigest;
    // Written before rows were told apart by more than their key: its row
    // is the one with that key and BCE01.
    bool withoutRowDigest = false;
};

QString Sha256Hex(const QByteArray& bytes);

inline constexpr char kManifestName[] = "manifest.csv";
QStringList ManifestHeader();
QString ManifestLine(const BackupEntry& entry);
// The entries of the folder's manifest; throws when there is none or a line
// is not one of ours.
std::vector<BackupEntry> ReadManifest(const QString& folder);
