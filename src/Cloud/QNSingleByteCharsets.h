#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <optional>

// The two single-byte encodings a drive form offers that iconv does not
// know: NEXTSTEP and Adobe Symbol, by their byte-to-character tables.
class QNSingleByteCharsets {
public:
    // Whether the encoding number is one of these.
    static bool handles(quint32 encoding);
    // Bytes without a character become raw-byte escapes (U+DC00 + byte).
    static QString decode(quint32 encoding, QByteArrayView bytes, bool *lossless);
    // nullopt when a character has no byte in the encoding.
    static std::optional<QByteArray> encode(quint32 encoding, const QString &text);
};
