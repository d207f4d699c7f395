#pragma once

#include <QByteArray>
#include <QString>

// Base64 with the standard alphabet and "=" padding (RFC 4648), without
// line breaks.
class Base64 {
public:
    Base64() = delete;

    static QString encode(const QByteArray &data);
    static QString encode(const char *bytes, qsizetype length);

    // Decodes a Base64 text. Blanks, tabs and line breaks are skipped and
    // trailing "=" dropped; a final partial group yields its whole bytes.
    // Any other character outside the alphabet, non-ASCII text or a null
    // input gives a null QByteArray; an empty text gives empty (non-null) data.
    static QByteArray decode(const QString &text);
    static QByteArray decode(const char *characters, qsizetype length);
};
