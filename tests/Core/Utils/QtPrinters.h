#pragma once

#include <QByteArray>
#include <QString>
#include <ostream>

// Readable failure messages for Qt text and byte values.
inline void PrintTo(const QString &text, std::ostream *os) {
    *os << (text.isNull() ? std::string("<null>") : '"' + text.toStdString() + '"');
}

inline void PrintTo(const QByteArray &bytes, std::ostream *os) {
    *os << (bytes.isNull() ? std::string("<null>") : "0x" + bytes.toHex().toStdString());
}
