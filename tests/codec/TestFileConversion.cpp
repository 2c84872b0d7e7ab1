// BmpToJpg on files: the result replaces whatever was at the target, and
// when not even the copy can be made the caller gets an exception and no
// file it could mistake for the result.

#include "codec/BmpToJpg.h"
#include "codec/FileBytes.h"
#include "tests/codec/CjpegReference.h"
#include "testdata/BmpWriter.h"
#include "testdata/PhotoLikeImage.h"

#include <QTemporaryDir>
#include <QTest>

#include <algorithm>

using namespace bmp2jpg::testdata;
using bmp2jpg::test::Bytes;

namespace {

const Bytes kStale(100000, 0xAB);

} // namespace

class TestFileConversion : public QObject {
    Q_OBJECT

private:
    QTemporaryDir folder_;

    std::filesystem::path PathOf(const char* name) const { return folder_.filePath(name).toStdString(); }

    // Runs the conversion expecting failure; returns its message.
    static QString FailureOf(const std::filesystem::path& bmpPath, const std::filesystem::path& jpgPath)
    {
        try {
            bmp2jpg::BmpToJpg(bmpPath, jpgPath);
        } catch (const std::runtime_error& error) {
            return QString::fromUtf8(error.what());
        }
        return {};
    }

private slots:
    void encodingReplacesAStaleFile()
    {
        const RgbImage photo = MakePhotoLikeImage(120, 80, 5);
        bmp2jpg::WriteFileBytes(PathOf("photo.bmp"), WriteBmp(photo, DirectFormat::Bgr24));
        bmp2jpg::WriteFileBytes(PathOf("photo.jpg"), kStale);
        QCOMPARE(bmp2jpg::BmpToJpg(PathOf("photo.bmp"), PathOf("photo.jpg")), bmp2jpg::ConversionOutcome::Encoded);
        const Bytes reference = bmp2jpg::test::CjpegReference(photo);
        QVERIFY(std::ranges::equal(bmp2jpg::ReadFileBytes(PathOf("photo.jpg")).Bytes(), reference));
    }

    void copyReplacesALongerStaleFile()
    {
        const Bytes text = {'p', 'l', 'a', 'i', 'n'};
        bmp2jpg::WriteFileBytes(PathOf("text.bmp"), text);
        bmp2jpg::WriteFileBytes(PathOf("text.jpg"), kStale);
        QCOMPARE(bmp2jpg::BmpToJpg(PathOf("text.bmp"), PathOf("text.jpg")), bmp2jpg::ConversionOutcome::Copied);
        QVERIFY(std::ranges::equal(bmp2jpg::ReadFileBytes(PathOf("text.jpg")).Bytes(), text));
    }

    void targetThatCannotBeWrittenThrowsAndLeavesNoFile()
    {
        bmp2jpg::WriteFileBytes(PathOf("ok.bmp"), WriteBmp(MakePhotoLikeImage(8, 8, 1), DirectFormat::Bgr24));
        const std::filesystem::path jpgPath = PathOf("missing-folder/ok.jpg");
        const QString message = FailureOf(PathOf("ok.bmp"), jpgPath);
        QVERIFY2(message.contains(QString::fromStdString(jpgPath.string())), qPrintable(message));
        QVERIFY(!std::filesystem::exists(jpgPath));
    }

    void unreadableSourceThrowsAndRemovesTheStaleFile()
    {
        bmp2jpg::WriteFileBytes(PathOf("gone.jpg"), kStale);
        const QString message = FailureOf(PathOf("gone.bmp"), PathOf("gone.jpg"));
        QVERIFY2(message.contains(QString::fromStdString(PathOf("gone.bmp").string())), qPrintable(message));
        QVERIFY(!std::filesystem::exists(PathOf("gone.jpg")));
    }
};

QTEST_APPLESS_MAIN(TestFileConversion)
#include "TestFileConversion.moc"
