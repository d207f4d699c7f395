#include "Base64.h"

#include <array>

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr qint8 kInvalid = -1;
constexpr qint8 kSkipped = -2;

// Character -> 6-bit value; whitespace is skipped, anything else invalid.
constexpr std::array<qint8, 256> makeDecodingTable() {
    std::array<qint8, 256> table{};
    for (auto &v : table)
        v = kInvalid;
    for (int i = 0; i < 64; ++i)
        table[static_cast<unsigned char>(kAlphabet[i])] = static_cast<qint8>(i);
    for (unsigned char c : {' ', '\t', '\n', '\r', '\f', '\v'})
        table[c] = kSkipped;
    return table;
}

constexpr std::array<qint8, 256> kDecoding = makeDecodingTable();

}  // namespace

QString Base64::encode(const QByteArray &data) {
    return encode(data.constData(), data.size());
}

QString Base64::encode(const char *bytes, qsizetype length) {
    if (!bytes || length <= 0)
        return QStringLiteral("");
    const auto *in = reinterpret_cast<const unsigned char *>(bytes);
    QByteArray out;
    out.reserve((length + 2) / 3 * 4);
    qsizetype i = 0;
    for (; i + 3 <= length; i += 3) {
        const quint32 group = (quint32(in[i]) << 16) | (quint32(in[i + 1]) << 8) | in[i + 2];
        out.append(kAlphabet[(group >> 18) & 63]);
        out.append(kAlphabet[(group >> 12) & 63]);
        out.append(kAlphabet[(group >> 6) & 63]);
        out.append(kAlphabet[group & 63]);
    }
    const qsizetype rest = length - i;
    if (rest > 0) {
        quint32 group = quint32(in[i]) << 16;
        if (rest == 2)
            group |= quint32(in[i + 1]) << 8;
        out.append(kAlphabet[(group >> 18) & 63]);
        out.append(kAlphabet[(group >> 12) & 63]);
        out.append(rest == 2 ? kAlphabet[(group >> 6) & 63] : '=');
        out.append('=');
    }
    return QString::fromLatin1(out);
}

QByteArray Base64::decode(const QString &text) {
    if (text.isNull())
        return {};
    QByteArray ascii;
    ascii.reserve(text.size());
    for (QChar c : text) {
        if (c.unicode() > 0x7f)
            return {};
        ascii.append(char(c.unicode()));
    }
    return decode(ascii.constData(), ascii.size());
}

QByteArray Base64::decode(const char *characters, qsizetype length) {
    if (!characters)
        return {};
    // Keep the alphabet's characters; whitespace goes, trailing "=" too.
    QByteArray symbols;
    symbols.reserve(length);
    qsizetype padding = 0;
    for (qsizetype i = 0; i < length; ++i) {
        const auto c = static_cast<unsigned char>(characters[i]);
        if (c > 0x7f)
            return {};
        const qint8 value = kDecoding[c];
        if (value == kSkipped)
            continue;
        if (c == '=') {
            ++padding;
            continue;
        }
        // A symbol after padding, or a stray character, is damage, not zeros.
        if (value == kInvalid || padding > 0)
            return {};
        symbols.append(char(value));
    }
    const qsizetype count = symbols.size();
    QByteArray out(0, '\0');
    out.reserve(count * 3 / 4);
    qsizetype i = 0;
    for (; i + 4 <= count; i += 4) {
        const quint32 group = (quint32(symbols[i]) << 18) | (quint32(symbols[i + 1]) << 12) |
                              (quint32(symbols[i + 2]) << 6) | quint32(symbols[i + 3]);
        out.append(char(group >> 16));
        out.append(char(group >> 8));
        out.append(char(group));
    }
    // A final partial group counts as filled with "A" (zero bits) and gives
    // its whole bytes: 2 symbols one byte, 3 symbols two.
    const qsizetype rest = count - i;
    if (rest > 0) {
        quint32 group = 0;
        for (qsizetype k = 0; k < rest; ++k)
            group |= quint32(symbols[i + k]) << (18 - 6 * k);
        const qsizetype bytes = rest * 3 / 4;
        for (qsizetype k = 0; k < bytes; ++k)
            out.append(char(group >> (16 - 8 * k)));
    }
    return out;
}
