#include "tests/codec/CjpegReference.h"

#include "testdata/BmpWriter.h"

#include <QProcess>
#include <QStringList>

#include <algorithm>
#include <stdexcept>

namespace bmp2jpg::test {

Bytes CjpegReference(const testdata::RgbImage& image)
{
    const Bytes bmp = testdata::WriteBmp(image, testdata::DirectFormat::Bgr24);
    QProcess cjpeg;
    cjpeg.start(QStringLiteral(BMP2JPG_CJPEG), {"-quality", "90", "-dct", "float"});
    if (!cjpeg.waitForStarted())
        throw std::runtime_error("cannot start " BMP2JPG_CJPEG);
    cjpeg.write(reinterpret_cast<const char*>(bmp.data()), static_cast<qint64>(bmp.size()));
    cjpeg.closeWriteChannel();
    if (!cjpeg.waitForFinished(60000) || cjpeg.exitStatus() != QProcess::NormalExit || cjpeg.exitCode() != 0)
        throw std::runtime_error("cjpeg failed: " + cjpeg.readAllStandardError().toStdString());
    const QByteArray jpeg = cjpeg.readAllStandardOutput();
    return Bytes(jpeg.begin(), jpeg.end());
}

QByteArray DescribeDifference(const Bytes& actual, const Bytes& expected)
{
    const auto [a, e] = std::mismatch(actual.begin(), actual.end(), expected.begin(), expected.end());
    return QByteArray("actual ") + QByteArray::number(static_cast<qulonglong>(actual.size())) + " bytes, expected "
        + QByteArray::number(static_cast<qulonglong>(expected.size())) + " bytes, first difference at offset "
        + QByteArray::number(static_cast<qlonglong>(a - actual.begin()));
}

} // namespace bmp2jpg::test
