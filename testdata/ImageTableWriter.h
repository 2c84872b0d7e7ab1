#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// Writes an embedded-server database (one SQLite file) holding the image
// table BAC1 as the program expects it: BCE01 text, BAC02 and BAC04 BLOBs.
// Used by the demo set-up, the tests and the benchmarks.
class ImageTableWriter {
public:
    // Creates the file (replacing any earlier one) with an empty BAC1.
    explicit ImageTableWriter(const QString& databaseFile);
    ~ImageTableWriter();  // commits
    ImageTableWriter(const ImageTableWriter&) = delete;
    ImageTableWriter& operator=(const ImageTableWriter&) = delete;

    // nullopt stores NULL.
    void AddRow(const std::optional<QString>& bce01, const std::optional<QByteArray>& bac02,
                const std::optional<QByteArray>& bac04);
    // Any further statement, e.g. a trigger for a test.
    void Execute(const QString& statement);

private:
    QString connectionName;
};
