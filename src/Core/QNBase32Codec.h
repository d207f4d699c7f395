#pragma once

#include <QByteArray>
#include <QString>

// Base32 with the RFC 4648 alphabet "A-Z2-7" and "=" padding, without line
// breaks.
class QNBase32Codec {
public:
    QNBase32Codec() = delete;

    // Every "=" is removed and every character outside the alphabet (lower
    // case included) skipped; each 8 symbols give 5 bytes, a final group of
    // 2, 3, 4, 5, 6 or 7 symbols 1, 1, 2, 3, 3 or 4 bytes (a lone symbol
    // holds less than a byte and gives none). A null text gives null data.
    static QByteArray dataFromBase32String(const QString &text);
    static QString base32StringFromData(const QByteArray &data);

    // The UTF-8 bytes of a text, encoded; and back.
    static QString base32StringFromString(const QString &text);
    static QString stringFromBase32String(const QString &base32);
};
