#pragma once

#include <QString>

// Names for files while they are being written: hidden (a leading "."),
// the real name and a suffix. File systems and servers allow names of 255
// bytes at most, so the real name is cut (at a character boundary) until
// the whole name fits: a name of any length gets a part file.
namespace VNPartName {

constexpr qsizetype kMaxNameBytes = 255;

// The name cut at a character boundary to at most maxBytes bytes of UTF-8.
QString cut(const QString &name, qsizetype maxBytes = kMaxNameBytes);

// "." + fileName + suffix, within kMaxNameBytes bytes of UTF-8.
QString hidden(const QString &fileName, const QString &suffix);

// The hidden name beside a path: in the path's folder, for its last name.
QString beside(const QString &path, const QString &suffix);

// A random suffix "." + tag + "-" + hexadecimal digits.
QString randomSuffix(const QString &tag, int hexDigits = 16);

}  // namespace VNPartName
