#include "tests/tds/CodePage.h"

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <iconv.h>
#endif

#include <map>
#include <memory>
#include <optional>
#include <stdexcept>

namespace {

#ifdef Q_OS_WIN
// One character or one byte at a time, so that each failure is one '?'.
QByteArray encodedChar(QStringView c, int codePage)
{
    BOOL lossy = FALSE;
    char out[8];
    const int n = WideCharToMultiByte(UINT(codePage), WC_NO_BEST_FIT_CHARS, reinterpret_cast<LPCWCH>(c.utf16()), int(c.size()),
                                      out, sizeof out, nullptr, &lossy);
    return n <= 0 || lossy ? QByteArray("?") : QByteArray(out, n);
}

QString decodedChar(const QByteArray& bytes, int codePage)
{
    wchar_t out[4];
    const int n = MultiByteToWideChar(UINT(codePage), MB_ERR_INVALID_CHARS, bytes.constData(), int(bytes.size()), out, 4);
    return n <= 0 ? QString() : QString::fromWCharArray(out, n);
}
#else
class Converter {
public:
    Converter(const char* to, const char* from) : handle_(iconv_open(to, from))
    {
        if (handle_ == iconv_t(-1))
            throw std::runtime_error(std::string("no iconv conversion from ") + from + " to " + to);
    }
    ~Converter() { iconv_close(handle_); }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;
    // The whole input converted, or nullopt.
    std::optional<QByteArray> operator()(QByteArray in)
    {
        iconv(handle_, nullptr, nullptr, nullptr, nullptr);
        char buffer[16];
        char* from = in.data();
        size_t left = size_t(in.size());
        char* to = buffer;
        size_t room = sizeof buffer;
        if (iconv(handle_, &from, &left, &to, &room) == size_t(-1) || left != 0)
            return std::nullopt;
        return QByteArray(buffer, int(to - buffer));
    }

private:
    iconv_t handle_;
};

const char* iconvName(int codePage)
{
    return codePage == 936 ? "CP936" : "CP1252";
}

QByteArray encodedChar(QStringView c, int codePage)
{
    thread_local std::map<int, std::unique_ptr<Converter>> converters;
    auto& converter = converters[codePage];
    if (!converter)
        converter = std::make_unique<Converter>(iconvName(codePage), "UTF-16LE");
    const QByteArray utf16(reinterpret_cast<const char*>(c.utf16()), c.size() * 2);
    return (*converter)(utf16).value_or(QByteArray("?"));
}

QString decodedChar(const QByteArray& bytes, int codePage)
{
    thread_local std::map<int, std::unique_ptr<Converter>> converters;
    auto& converter = converters[codePage];
    if (!converter)
        converter = std::make_unique<Converter>("UTF-16LE", iconvName(codePage));
    const std::optional<QByteArray> utf16 = (*converter)(bytes);
    return utf16 ? QString::fromUtf16(reinterpret_cast<const char16_t*>(utf16->constData()), utf16->size() / 2) : QString();
}
#endif

}  // namespace

QByteArray CodePageBytes(const QString& text, int codePage)
{
    QByteArray bytes;
    for (qsizetype at = 0; at < text.size(); ++at) {
        const qsizetype length = text[at].isHighSurrogate() && at + 1 < text.size() ? 2 : 1;
        bytes += text[at].unicode() < 0x80 ? QByteArray(1, char(text[at].unicode())) : encodedChar(QStringView(text).mid(at, length), codePage);
        at += length - 1;
    }
    return bytes;
}

QString CodePageText(const QByteArray& bytes, int codePage)
{
    QString text;
    for (qsizetype at = 0; at < bytes.size(); ++at) {
        if (uchar(bytes[at]) < 0x80) {
            text += QChar(uchar(bytes[at]));
            continue;
        }
        // A double-byte code page's lead byte takes the next one with it.
        QString one = decodedChar(bytes.mid(at, 1), codePage);
        if (one.isEmpty() && codePage == 936 && at + 1 < bytes.size()) {
            one = decodedChar(bytes.mid(at, 2), codePage);
            at += !one.isEmpty();
        }
        text += one.isEmpty() ? QStringLiteral("?") : one;
    }
    return text;
}
