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
};

QString Sha256Hex(const QByteArray& bytes);

inline constexpr char kManifestName[] = "manifest.csv";
QStringList ManifestHeader();
QString ManifestLine(const BackupEntry& entry);
// The entries of the folder's manifest; throws when there is none or a line
// is not one of ours.
std::vector<BackupEntry> ReadManifest(const QString& folder);
