#include "data/ExactText.h"

namespace {

constexpr char16_t kEscapedBytes = 0xDC00;

// The length of the valid UTF-8 sequence at `at`, or 0 (Unicode's table 3-7).
int ValidSequence(const QByteArray& bytes, qsizetype at)
{
    const uchar lead = uchar(bytes[at]);
    if (lead < 0x80)
        return 1;
    int length = 0;
    uchar low = 0x80;
    uchar high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF)
        length = 2;
    else if (lead >= 0xE0 && lead <= 0xEF)
        length = 3;
    else if (lead >= 0xF0 && lead <= 0xF4)
        length = 4;
    if (lead == 0xE0)
        low = 0xA0;
    if (lead == 0xED)
        high = 0x9F;  // not a surrogate
    if (lead == 0xF0)
        low = 0x90;
    if (lead == 0xF4)
        high = 0x8F;
    if (length == 0 || at + length > bytes.size())
        return 0;
    for (int i = 1; i < length; ++i) {
        const uchar next = uchar(bytes[at + i]);
        if (next < (i == 1 ? low : 0x80) || next > (i == 1 ? high : 0xBF))
            return 0;
    }
    return length;
}

}  // namespace

QString ExactText(const QByteArray& bytes)
{
    QString text;
    qsizetype valid = 0;  // start of the valid run not yet added
    for (qsizetype at = 0; at < bytes.size();) {
        const int length = ValidSequence(bytes, at);
        if (length > 0) {
            at += length;
            continue;
        }
        text += QString::fromUtf8(bytes.mid(valid, at - valid));
        text += QChar(char16_t(kEscapedBytes + uchar(bytes[at])));
        valid = ++at;
    }
    return text + QString::fromUtf8(bytes.mid(valid));
}

std::optional<QByteArray> ExactBytes(const QString& text)
{
    QByteArray bytes;
    qsizetype valid = 0;
    for (qsizetype at = 0; at < text.size(); ++at) {
        const char16_t unit = text[at].unicode();
        const bool paired = QChar::isHighSurrogate(unit) && at + 1 < text.size() && text[at + 1].isLowSurrogate();
        if (paired) {
            ++at;
        } else if (QChar::isSurrogate(unit)) {
            if (unit < kEscapedBytes + 0x80 || unit > kEscapedBytes + 0xFF)
                return std::nullopt;
            bytes += QStringView(text).mid(valid, at - valid).toUtf8();
            bytes += char(unit - kEscapedBytes);
            valid = at + 1;
        }
    }
    bytes += QStringView(text).mid(valid).toUtf8();
    // Escaped bytes that together are valid UTF-8 come from no stored text.
    if (ExactText(bytes) != text)
        return std::nullopt;
    return bytes;
}
