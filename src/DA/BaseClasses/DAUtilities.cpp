#include "DA/BaseClasses/DAUtilities.h"

#include <QFileInfo>
#include <QMimeDatabase>
#include <QUrl>
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace DAUtilities {

namespace {

bool isFiltered(char32_t c) {
    // Kept: the white-space and line-end characters among the controls.
    if (c == 0x09 || c == 0x0a || c == 0x0d || c == 0x85)
        return false;
    const QChar::Category category = QChar::category(c);
    return category == QChar::Other_Control || category == QChar::Other_Format;
}

}  // namespace

QString stringWithControlsFilteredForString(const QString &text) {
    if (text.isNull())
        return QStringLiteral("");
    const QList<uint> codePoints = text.toUcs4();
    bool any = false;
    for (uint c : codePoints) {
        if (isFiltered(c)) {
            any = true;
            break;
        }
    }
    if (!any)
        return text;
    QList<uint> kept;
    kept.reserve(codePoints.size());
    for (uint c : codePoints) {
        if (!isFiltered(c))
            kept.append(c);
    }
    return QString::fromUcs4(reinterpret_cast<const char32_t *>(kept.constData()), kept.size());
}

qint64 longLongValueForString(const QString &text) {
    qsizetype i = 0;
    while (i < text.size() && text[i].isSpace())
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-')))
        negative = text[i++] == QLatin1Char('-');
    // Accumulated as a negative number, whose range holds the smallest value.
    constexpr qint64 lowest = std::numeric_limits<qint64>::min();
    qint64 value = 0;
    bool overflow = false;
    while (i < text.size() && text[i].unicode() >= '0' && text[i].unicode() <= '9') {
        const int digit = text[i].unicode() - '0';
        if (value < (lowest + digit) / 10)
            overflow = true;
        else
            value = value * 10 - digit;
        ++i;
    }
    if (overflow)
        return negative ? lowest : std::numeric_limits<qint64>::max();
    if (!negative)
        return value == lowest ? std::numeric_limits<qint64>::max() : -value;
    return value;
}

int intValueForString(const QString &text) {
    const qint64 v = longLongValueForString(text);
    return int(std::clamp<qint64>(v, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
}

std::optional<double> doubleNumberOrInfForString(const QString &text) {
    if (text.isEmpty())
        return std::nullopt;
    // Lenient reading: leading blanks, then the longest prefix that is a
    // decimal number; nothing readable is 0.
    const QByteArray bytes = text.toLatin1();
    qsizetype i = 0, n = bytes.size();
    while (i < n && (bytes[i] == ' ' || bytes[i] == '\t' || bytes[i] == '\n' || bytes[i] == '\r'))
        ++i;
    const qsizetype start = i;
    auto digits = [&] {
        const qsizetype from = i;
        while (i < n && bytes[i] >= '0' && bytes[i] <= '9')
            ++i;
        return i > from;
    };
    if (i < n && (bytes[i] == '+' || bytes[i] == '-'))
        ++i;
    bool any = digits();
    if (i < n && bytes[i] == '.') {
        ++i;
        any = digits() || any;
    }
    qsizetype end = i;
    if (any && i < n && (bytes[i] == 'e' || bytes[i] == 'E')) {
        ++i;
        if (i < n && (bytes[i] == '+' || bytes[i] == '-'))
            ++i;
        if (digits())
            end = i;
    }
    double value = 0;
    if (any)
        value = std::strtod(bytes.mid(start, end - start).constData(), nullptr);
    if (value != 0)
        return value;
    if (text.compare(QLatin1String("INF"), Qt::CaseInsensitive) == 0)
        return std::numeric_limits<double>::infinity();
    if (text.compare(QLatin1String("-INF"), Qt::CaseInsensitive) == 0)
        return -std::numeric_limits<double>::infinity();
    return 0.0;
}

QString stringByURLEncodingString(const QString &text) {
    return QString::fromLatin1(QUrl::toPercentEncoding(text, "!*'();:@&=+$,/?%#[]~"));
}

QString stringByURLEncodingForURI(const QString &text) { return QString::fromLatin1(QUrl::toPercentEncoding(text)); }

QString stringByURLEncodingStringParameter(const QString &text) {
    QByteArray encoded = QUrl::toPercentEncoding(text, " ");
    encoded.replace(' ', '+');
    return QString::fromLatin1(encoded);
}

QString stringByPercentEncodingUTF8ForString(const QString &text) {
    if (text.isEmpty())
        return text;
    const QByteArray utf8 = text.toUtf8();
    auto needs = [](unsigned char c) { return c < 0x20 || c == '%' || c >= 0x7f; };
    qsizetype first = 0;
    while (first < utf8.size() && !needs(static_cast<unsigned char>(utf8[first])))
        ++first;
    if (first == utf8.size())
        return text;
    QByteArray out = utf8.left(first);
    static const char hex[] = "0123456789ABCDEF";
    for (qsizetype i = first; i < utf8.size(); ++i) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        if (needs(c)) {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += char(c);
        }
    }
    return QString::fromLatin1(out);
}

QMap<QString, QString> dictionaryWithResponseString(const QString &text) {
    QMap<QString, QString> map;
    if (text.isNull())
        return map;
    auto skipBlanks = [](const QString &s, qsizetype i) {
        while (i < s.size() && s[i].isSpace())
            ++i;
        return i;
    };
    for (const QString &line : text.split(QLatin1Char('\n'))) {
        qsizetype i = skipBlanks(line, 0);
        const qsizetype equals = line.indexOf(QLatin1Char('='), i);
        if (equals <= i)
            continue;  // no "=", or an empty key
        const QString key = line.mid(i, equals - i);
        const qsizetype valueStart = skipBlanks(line, equals + 1);
        if (valueStart >= line.size())
            continue;
        map.insert(key, line.mid(valueStart));
    }
    return map;
}

QMap<QString, QString> dictionaryWithResponseData(const QByteArray &data) {
    return dictionaryWithResponseString(QString::fromUtf8(data));
}

namespace {

// Up to four integers separated by dots; missing ones are 0.
std::array<qint32, 4> versionComponents(const QString &version) {
    std::array<qint32, 4> parts{0, 0, 0, 0};
    const QByteArray bytes = version.toLatin1();
    qsizetype i = 0, n = bytes.size();
    for (int k = 0; k < 4; ++k) {
        while (i < n && bytes[i] == '.')
            ++i;
        qsizetype j = i;
        bool negative = false;
        if (j < n && (bytes[j] == '+' || bytes[j] == '-'))
            negative = bytes[j++] == '-';
        if (!(j < n && bytes[j] >= '0' && bytes[j] <= '9'))
            break;
        qint64 value = 0;
        while (j < n && bytes[j] >= '0' && bytes[j] <= '9') {
            value = std::min<qint64>(value * 10 + (bytes[j] - '0'), qint64(1) << 32);
            ++j;
        }
        value = negative ? -value : value;
        parts[k] = qint32(std::clamp<qint64>(value, std::numeric_limits<qint32>::min(), std::numeric_limits<qint32>::max()));
        i = j;
    }
    return parts;
}

}  // namespace

qint64 compareVersion(const QString &a, const QString &b) {
    const auto x = versionComponents(a), y = versionComponents(b);
    for (int k = 0; k < 4; ++k) {
        if (x[k] < y[k])
            return -1;
        if (x[k] > y[k])
            return 1;
    }
    return 0;
}

QString MIMETypeForFileAtPath(const QString &path, const QString &defaultMIMEType) {
    const QString suffix = QFileInfo(path).suffix();
    if (suffix.isEmpty())
        return defaultMIMEType;
    static const QMimeDatabase database;
    const QList<QMimeType> types = database.mimeTypesForFileName(QStringLiteral("file.") + suffix);
    if (types.isEmpty() || !types.first().isValid())
        return defaultMIMEType;
    return types.first().name();
}

}  // namespace DAUtilities
