#include "QNBase32Codec.h"

#include <algorithm>

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ234567";

int symbolValue(char16_t c) {
    if (c >= u'A' && c <= u'Z')
        return c - u'A';
    if (c >= u'2' && c <= u'7')
        return 26 + (c - u'2');
    return -1;
}

}  // namespace

QString QNBase32Codec::base32StringFromData(const QByteArray &data) {
    // Characters written for a final group of 1 to 5 bytes.
    static const int kCharsForBytes[6] = {0, 2, 4, 5, 7, 8};
    QByteArray out(0, '\0');
    out.reserve((data.size() + 4) / 5 * 8);
    const auto *in = reinterpret_cast<const unsigned char *>(data.constData());
    for (qsizetype i = 0; i < data.size(); i += 5) {
        const qsizetype n = std::min<qsizetype>(5, data.size() - i);
        quint64 group = 0;
        for (qsizetype k = 0; k < 5; ++k)
            group = (group << 8) | (k < n ? in[i + k] : 0);
        const int chars = kCharsForBytes[n];
        for (int k = 0; k < 8; ++k)
            out.append(k < chars ? kAlphabet[(group >> (35 - 5 * k)) & 31] : '=');
    }
    return QString::fromLatin1(out);
}

QByteArray QNBase32Codec::dataFromBase32String(const QString &text) {
    if (text.isNull())
        return {};
    QByteArray out(0, '\0');
    out.reserve(text.size() * 5 / 8);
    quint64 buffer = 0;
    int bits = 0;
    for (QChar c : text) {
        const int value = symbolValue(c.unicode());
        if (value < 0)
            continue;  // padding and characters outside the alphabet
        buffer = (buffer << 5) | quint64(value);
        bits += 5;
        if (bits >= 8) {
            bits -= 8;
            out.append(char((buffer >> bits) & 0xff));
        }
    }
    // Leftover bits (fewer than 8) are the encoder's zero fill.
    return out;
}

QString QNBase32Codec::base32StringFromString(const QString &text) {
    if (text.isNull())
        return {};
    return base32StringFromData(text.toUtf8());
}

QString QNBase32Codec::stringFromBase32String(const QString &base32) {
    const QByteArray data = dataFromBase32String(base32);
    if (data.isNull())
        return {};
    return QString::fromUtf8(data);
}
