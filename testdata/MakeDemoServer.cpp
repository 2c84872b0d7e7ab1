// bmp2jpg-make-demo <folder>: an embedded server with two databases, "demo"
// (a table of pictures of every kind) and "empty" (no image table).
#include "testdata/ImageTableWriter.h"
#include "testdata/StoredPictures.h"

#include <QCoreApplication>
#include <QDir>

#include <cstdio>
#include <exception>

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: bmp2jpg-make-demo <folder>\n");
        return 2;
    }
    try {
        // Not argv: on Windows it is in the ANSI code page, which may not hold the folder's name.
        const QDir folder(application.arguments().at(1));
        QDir().mkpath(folder.path());
        {
            ImageTableWriter demo(folder.filePath(QStringLiteral("demo.db")));
            for (std::uint32_t i = 0; i < 12; ++i)
                demo.AddRow(QStringLiteral("照片%1").arg(i + 1), stored::Bmp24(1024, 768, i),
                            i % 2 ? std::optional<QByteArray>(stored::Bmp8(640, 480, 100 + i)) : std::nullopt);
            demo.AddRow(QStringLiteral("rle"), stored::Rle8(800, 600, 50), std::nullopt);
            demo.AddRow(QStringLiteral("already-jpeg"), stored::Jpeg(800, 600, 51), QByteArray("not a picture"));
        }
        {
            ImageTableWriter empty(folder.filePath(QStringLiteral("empty.db")));
            empty.Execute(QStringLiteral("drop table BAC1"));
        }
        std::printf("Demo server: %s\n", qPrintable(QDir::toNativeSeparators(folder.absolutePath())));
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    return 0;
}
