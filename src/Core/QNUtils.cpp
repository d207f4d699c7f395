#include "QNUtils.h"

#include "Core/QNDocument.h"
#include "Platform/VNLog.h"
#include "Platform/VNUserDefaults.h"

#include <QCoreApplication>
#include <QFile>
#include <QLocale>
#include <QTimeZone>
#include <QUrl>
#include <QUuid>

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <iterator>
#include <string_view>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>

namespace {

// ---------------------------------------------------------------------------
// Date texts. The services' formats are read by hand: each reader walks the
// text with a cursor and must consume all of it.

class DateCursor {
public:
    explicit DateCursor(QStringView text) : m_text(text) {}

    bool atEnd() const { return m_pos >= m_text.size(); }
    QChar peek() const { return atEnd() ? QChar() : m_text[m_pos]; }

    bool literal(QChar c) {
        if (peek() != c)
            return false;
        ++m_pos;
        return true;
    }

    // Between minDigits and maxDigits ASCII digits; -1 when fewer are there.
    int number(int minDigits, int maxDigits) {
        int value = 0;
        int count = 0;
        while (count < maxDigits && !atEnd() && peek() >= u'0' && peek() <= u'9') {
            value = value * 10 + (peek().unicode() - u'0');
            ++m_pos;
            ++count;
        }
        return count >= minDigits ? value : -1;
    }

    // A run of ASCII letters (possibly empty).
    QStringView word() {
        const qsizetype start = m_pos;
        while (!atEnd() && ((peek() >= u'a' && peek() <= u'z') || (peek() >= u'A' && peek() <= u'Z')))
            ++m_pos;
        return m_text.mid(start, m_pos - start);
    }

    // Consumes the given word when it comes next, ignoring case.
    bool keyword(QStringView kw) {
        if (m_text.mid(m_pos).startsWith(kw, Qt::CaseInsensitive)) {
            m_pos += kw.size();
            return true;
        }
        return false;
    }

private:
    QStringView m_text;
    qsizetype m_pos = 0;
};

struct LocalStamp {
    QDate date;
    QTime time;
};

// Checks the fields once they are read (a missing field is -1).
std::optional<LocalStamp> makeStamp(int year, int month, int day, int hour, int minute, int second,
                                    int msec = 0) {
    if (year < 0 || month < 0 || day < 0 || hour < 0 || minute < 0 || second < 0)
        return std::nullopt;
    const QDate date(year, month, day);
    if (!date.isValid() || hour > 23 || minute > 59 || second > 59)
        return std::nullopt;
    return LocalStamp{date, QTime(hour, minute, second, msec)};
}

// yyyy-MM-ddTHH:mm:ss
std::optional<LocalStamp> readIsoStamp(DateCursor &c) {
    const int year = c.number(4, 4);
    if (year < 0 || !c.literal(u'-'))
        return std::nullopt;
    const int month = c.number(2, 2);
    if (month < 0 || !c.literal(u'-'))
        return std::nullopt;
    const int day = c.number(2, 2);
    if (day < 0 || !c.literal(u'T'))
        return std::nullopt;
    const int hour = c.number(2, 2);
    if (hour < 0 || !c.literal(u':'))
        return std::nullopt;
    const int minute = c.number(2, 2);
    if (minute < 0 || !c.literal(u':'))
        return std::nullopt;
    const int second = c.number(2, 2);
    return makeStamp(year, month, day, hour, minute, second);
}

// ".S" with one or more digits; digits past the millisecond are dropped.
std::optional<int> readFraction(DateCursor &c) {
    if (!c.literal(u'.'))
        return std::nullopt;
    int msec = 0;
    int digits = 0;
    while (c.peek() >= u'0' && c.peek() <= u'9') {
        const int d = c.number(1, 1);
        if (digits < 3)
            msec = msec * 10 + d;
        ++digits;
    }
    if (digits == 0)
        return std::nullopt;
    for (int i = digits; i < 3; ++i)
        msec *= 10;
    return msec;
}

// A signed offset: +HH, +HHMM, +HH:MM (with short=true also +H and +H:MM,
// as after "GMT"). Answers seconds east of UTC.
std::optional<int> readSignedOffset(DateCursor &c, bool allowShortHour) {
    int sign;
    if (c.literal(u'+'))
        sign = 1;
    else if (c.literal(u'-'))
        sign = -1;
    else
        return std::nullopt;
    const int hours = c.number(allowShortHour ? 1 : 2, 2);
    if (hours < 0 || hours > 23)
        return std::nullopt;
    int minutes = 0;
    if (c.literal(u':')) {
        minutes = c.number(2, 2);
        if (minutes < 0)
            return std::nullopt;
    } else if (c.peek().isDigit()) {
        minutes = c.number(2, 2);
        if (minutes < 0)
            return std::nullopt;
    }
    if (minutes > 59)
        return std::nullopt;
    return sign * (hours * 3600 + minutes * 60);
}

// "GMT", "UTC", "GMT+1", "UTC-07:00".
std::optional<int> readGmtOffset(DateCursor &c) {
    if (!c.keyword(u"GMT") && !c.keyword(u"UTC"))
        return std::nullopt;
    if (c.peek() == u'+' || c.peek() == u'-')
        return readSignedOffset(c, true);
    return 0;
}

// The zone after an ISO stamp: "Z", a numeric offset, or a GMT offset.
std::optional<int> readIsoZone(DateCursor &c) {
    if (c.literal(u'Z'))
        return 0;
    if (c.peek() == u'+' || c.peek() == u'-')
        return readSignedOffset(c, false);
    return readGmtOffset(c);
}

// The zone of a mail-style date: GMT/UTC (with an optional offset), the
// US zone abbreviations, or a numeric offset such as -0700.
std::optional<int> readNamedZone(DateCursor &c) {
    if (c.peek() == u'+' || c.peek() == u'-')
        return readSignedOffset(c, false);
    if (auto gmt = readGmtOffset(c))
        return gmt;
    const QStringView name = c.word();
    static const struct {
        const char16_t *name;
        int hours;
    } zones[] = {
        {u"UT", 0},   {u"Z", 0},    {u"EST", -5},  {u"EDT", -4},  {u"CST", -6},  {u"CDT", -5},
        {u"MST", -7}, {u"MDT", -6}, {u"PST", -8},  {u"PDT", -7},  {u"AKST", -9}, {u"AKDT", -8},
        {u"HST", -10},
    };
    for (const auto &z : zones) {
        if (name.compare(QStringView(z.name), Qt::CaseInsensitive) == 0)
            return z.hours * 3600;
    }
    return std::nullopt;
}

int monthFromName(QStringView name) {
    static const char16_t *const shortNames[] = {u"Jan", u"Feb", u"Mar", u"Apr", u"May", u"Jun",
                                                 u"Jul", u"Aug", u"Sep", u"Oct", u"Nov", u"Dec"};
    static const char16_t *const longNames[] = {u"January", u"February", u"March",     u"April",
                                                u"May",     u"June",     u"July",      u"August",
                                                u"September", u"October", u"November", u"December"};
    for (int i = 0; i < 12; ++i) {
        if (name.compare(QStringView(shortNames[i]), Qt::CaseInsensitive) == 0 ||
            name.compare(QStringView(longNames[i]), Qt::CaseInsensitive) == 0)
            return i + 1;
    }
    return -1;
}

bool isWeekdayName(QStringView name) {
    static const char16_t *const names[] = {u"Mon", u"Tue", u"Wed", u"Thu", u"Fri", u"Sat", u"Sun",
                                            u"Monday", u"Tuesday", u"Wednesday", u"Thursday",
                                            u"Friday", u"Saturday", u"Sunday"};
    for (const char16_t *n : names) {
        if (name.compare(QStringView(n), Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

QDateTime instant(const LocalStamp &s, int offsetSeconds) {
    return QDateTime(s.date, s.time, QTimeZone::utc()).addSecs(-offsetSeconds);
}

// yyyy-MM-ddTHH:mm:ss.SSS<zone>
QDateTime readFractionWithZone(QStringView text) {
    DateCursor c(text);
    const auto stamp = readIsoStamp(c);
    if (!stamp)
        return {};
    const auto msec = readFraction(c);
    if (!msec)
        return {};
    const auto zone = readIsoZone(c);
    if (!zone || !c.atEnd())
        return {};
    LocalStamp s = *stamp;
    s.time.setHMS(s.time.hour(), s.time.minute(), s.time.second(), *msec);
    return instant(s, *zone);
}

// yyyy-MM-ddTHH:mm:ssZ
QDateTime readUtcStamp(QStringView text) {
    DateCursor c(text);
    const auto stamp = readIsoStamp(c);
    if (!stamp || !c.literal(u'Z') || !c.atEnd())
        return {};
    return instant(*stamp, 0);
}

// yyyy-MM-ddTHH:mm:ss<zone>
QDateTime readStampWithZone(QStringView text) {
    DateCursor c(text);
    const auto stamp = readIsoStamp(c);
    if (!stamp)
        return {};
    const auto zone = readIsoZone(c);
    if (!zone || !c.atEnd())
        return {};
    return instant(*stamp, *zone);
}

// yyyy-MM-ddTHH:mm:ss.SSSZ
QDateTime readUtcFractionStamp(QStringView text) {
    DateCursor c(text);
    const auto stamp = readIsoStamp(c);
    if (!stamp)
        return {};
    const auto msec = readFraction(c);
    if (!msec || !c.literal(u'Z') || !c.atEnd())
        return {};
    LocalStamp s = *stamp;
    s.time.setHMS(s.time.hour(), s.time.minute(), s.time.second(), *msec);
    return instant(s, 0);
}

// yyyy-MM-ddTHH:mm:ss in the system's time zone.
QDateTime readLocalStamp(QStringView text) {
    DateCursor c(text);
    const auto stamp = readIsoStamp(c);
    if (!stamp || !c.atEnd())
        return {};
    return QDateTime(stamp->date, stamp->time, Qt::LocalTime).toUTC();
}

// [EEE, ]dd MMM yyyy HH:mm:ss zone
QDateTime readMailDate(QStringView text, bool withWeekday) {
    DateCursor c(text);
    if (withWeekday) {
        if (!isWeekdayName(c.word()) || !c.literal(u',') || !c.literal(u' '))
            return {};
    }
    const int day = c.number(1, 2);
    if (day < 0 || !c.literal(u' '))
        return {};
    const int month = monthFromName(c.word());
    if (month < 0 || !c.literal(u' '))
        return {};
    const int year = c.number(4, 4);
    if (year < 0 || !c.literal(u' '))
        return {};
    const int hour = c.number(2, 2);
    if (hour < 0 || !c.literal(u':'))
        return {};
    const int minute = c.number(2, 2);
    if (minute < 0 || !c.literal(u':'))
        return {};
    const int second = c.number(2, 2);
    if (second < 0 || !c.literal(u' '))
        return {};
    const auto stamp = makeStamp(year, month, day, hour, minute, second);
    const auto zone = readNamedZone(c);
    if (!stamp || !zone || !c.atEnd())
        return {};
    return instant(*stamp, *zone);
}

// ---------------------------------------------------------------------------
// Size texts.

// Formats are looked up in the translation table with the format itself as
// key; the translation must keep the number placeholder, else the built-in
// format is used (a translation is never handed to printf).
QString sizeText(qint64 bytes, const char *const formats[5], const char *placeholder) {
    double v = bytes < 0 ? 0.0 : double(bytes);
    int unit = 0;
    while (unit < 4 && v > 1024.0) {
        v /= 1024.0;
        ++unit;
    }
    QString format = QCoreApplication::translate("QNUtils", formats[unit]);
    if (!format.contains(QLatin1String(placeholder)))
        format = QString::fromLatin1(formats[unit]);
    QString number = QString::asprintf(placeholder, v);
    number.replace(u'.', QLocale().decimalPoint());
    return format.replace(QLatin1String(placeholder), number);
}

// The leading decimal number of a text (leading blanks skipped), read in the
// C locale whatever the user's locale is; 0 when there is none.
double leadingNumber(const QString &text) {
    const QByteArray bytes = text.toLatin1();
    const char *p = bytes.constData();
    const char *end = p + bytes.size();
    while (p < end && (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r'))
        ++p;
    double sign = 1.0;
    if (p < end && (*p == '+' || *p == '-')) {
        sign = *p == '-' ? -1.0 : 1.0;
        ++p;
    }
    // Only digits and a point start a number here (no "inf" or "nan").
    if (p >= end || !((*p >= '0' && *p <= '9') || *p == '.'))
        return 0.0;
    double value = 0.0;
    const auto result = std::from_chars(p, end, value, std::chars_format::general);
    if (result.ec == std::errc::result_out_of_range) {
        // Beyond a double: a negative exponent or a zero integer part means a
        // value too small (zero), anything else one too large (saturated).
        const std::string_view digits(p, size_t(result.ptr - p));
        const size_t e = digits.find_first_of("eE");
        const bool negativeExponent = e != std::string_view::npos && e + 1 < digits.size() && digits[e + 1] == '-';
        const std::string_view integerPart = digits.substr(0, std::min(digits.find('.'), e));
        const bool zeroInteger = integerPart.find_first_not_of('0') == std::string_view::npos;
        return negativeExponent || zeroInteger ? 0.0 : sign * std::numeric_limits<double>::infinity();
    }
    if (result.ec != std::errc())
        return 0.0;
    return sign * value;
}

struct Replacement {
    const char16_t *from;
    const char16_t *to;
};

QString applyReplacements(QString text, const Replacement *steps, size_t count) {
    for (size_t i = 0; i < count; ++i)
        text.replace(QString::fromUtf16(steps[i].from), QString::fromUtf16(steps[i].to), Qt::CaseSensitive);
    return text;
}

}  // namespace

QDateTime QNUtils::dateFromString(const QString &text) {
    if (text.isEmpty())
        return {};
    const QStringView view(text);
    // The ISO forms with an explicit zone first; each reader accepts only its
    // own shape, so their order changes nothing but speed.
    QDateTime date = readFractionWithZone(view);
    if (date.isNull())
        date = readUtcStamp(view);
    if (date.isNull())
        date = readStampWithZone(view);
    if (date.isNull())
        date = readUtcFractionStamp(view);
    if (date.isNull())
        date = readLocalStamp(view.size() >= 20 ? view.left(19) : view);
    if (date.isNull())
        date = readMailDate(view, true);
    if (date.isNull())
        date = readMailDate(view, false);
    return date;
}

QString QNUtils::sizeString2(qint64 bytes) {
    static const char *const formats[5] = {QT_TRANSLATE_NOOP("QNUtils", "%0.2lf B"),
                                           QT_TRANSLATE_NOOP("QNUtils", "%0.2lf KB"),
                                           QT_TRANSLATE_NOOP("QNUtils", "%0.2lf MB"),
                                           QT_TRANSLATE_NOOP("QNUtils", "%0.2lf GB"),
                                           QT_TRANSLATE_NOOP("QNUtils", "%0.2lf TB")};
    return sizeText(bytes, formats, "%0.2lf");
}

QString QNUtils::sizeString0(qint64 bytes) {
    static const char *const formats[5] = {QT_TRANSLATE_NOOP("QNUtils", "%0.0lf B"),
                                           QT_TRANSLATE_NOOP("QNUtils", "%0.0lf KB"),
                                           QT_TRANSLATE_NOOP("QNUtils", "%0.0lf MB"),
                                           QT_TRANSLATE_NOOP("QNUtils", "%0.0lf GB"),
                                           QT_TRANSLATE_NOOP("QNUtils", "%0.0lf TB")};
    return sizeText(bytes, formats, "%0.0lf");
}

qint64 QNUtils::sizeToNumber(const QString &text) {
    if (text.isEmpty())
        return 0;
    double factor = 0.0;
    switch (text.back().unicode()) {
    case u'B': factor = 1.0; break;
    case u'K': factor = 1024.0; break;
    case u'M': factor = 1048576.0; break;
    case u'G': factor = 1073741824.0; break;
    case u'T': factor = 1099511627776.0; break;
    default: return 0;
    }
    const double bytes = leadingNumber(text.chopped(1)) * factor;
    // Out-of-range values saturate instead of overflowing the conversion.
    constexpr double limit = 9223372036854775808.0;  // 2^63
    if (std::isnan(bytes))
        return 0;
    if (bytes >= limit)
        return std::numeric_limits<qint64>::max();
    if (bytes <= -limit)
        return std::numeric_limits<qint64>::min();
    return static_cast<qint64>(bytes);  // truncates toward zero
}

QString QNUtils::uuidString() {
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

QString QNUtils::secondsToTime(qint32 seconds) {
    const int s = seconds;
    if (s > -3600 && s < 3600)
        return QString::asprintf("%d:%02d", s / 60, s - (s / 60) * 60);
    return QString::asprintf("%d:%02d:%02d", s / 3600, s / 60 - (s / 3600) * 60, s - (s / 60) * 60);
}

QString QNUtils::indexCharFor(const QString &name, bool isDirectory) {
    if (name.isEmpty())
        return QStringLiteral("");
    char32_t first = name.at(0).unicode();
    if (name.at(0).isHighSurrogate() && name.size() > 1 && name.at(1).isLowSurrogate())
        first = QChar::surrogateToUcs4(name.at(0), name.at(1));
    QString letter = QChar::isDigit(first) ? QStringLiteral("#") : QString::fromUcs4(&first, 1).toUpper();
    if (isDirectory && VNUserDefaults::standard().boolForKey(QStringLiteral("showFoldersFirst")))
        letter.prepend(u' ');
    return letter;
}

bool QNUtils::fileIsArchive(const QString &path) {
    QStringView name(path);
    while (name.endsWith(u'/'))
        name.chop(1);
    name = name.mid(name.lastIndexOf(u'/') + 1);
    const qsizetype dot = name.lastIndexOf(u'.');
    if (dot <= 0)
        return false;
    static const QStringList archives = {
        QStringLiteral("zip"), QStringLiteral("rar"), QStringLiteral("7z"),    QStringLiteral("gz"),
        QStringLiteral("gzip"), QStringLiteral("bzip2"), QStringLiteral("bz2"), QStringLiteral("tar"),
        QStringLiteral("war"), QStringLiteral("jar"), QStringLiteral("ear"),   QStringLiteral("cbz"),
        QStringLiteral("cbr"), QStringLiteral("iso"), QStringLiteral("udf")};
    return archives.contains(name.mid(dot + 1).toString().toLower());
}

QString QNUtils::redesignImageFor(const QString &imageName) {
    static const Replacement icons[] = {
        {u"icon_my_documents.pdf", u"drive-my-documents.png"},
        {u"icon_dropbox.pdf", u"drive-dropbox.png"},
        {u"icon_box.pdf", u"drive-box.png"},
        {u"icon_skydrive.pdf", u"drive-skydrive.png"},
        {u"icon_google_drive.pdf", u"drive-google-drive.png"},
        {u"icon_sugarsync.pdf", u"drive-sugarsync.png"},
        {u"icon_copy.pdf", u"drive-copy.png"},
        {u"icon_evernote.pdf", u"drive-evernote.png"},
        {u"icon_spideroak.pdf", u"drive-spideroak.png"},
        {u"icon_picasa.pdf", u"drive-picasa.png"},
        {u"icon_flickr.pdf", u"drive-flickr.png"},
        {u"icon_webdav.pdf", u"drive-webdav.png"},
        {u"icon_ftp.pdf", u"drive-ftp.png"},
        {u"icon_smb.pdf", u"drive-smb.png"},
        {u"icon_mac.pdf", u"drive-apple.png"},
        {u"icon_office365.pdf", u"drive-office365.png"},
    };
    for (const auto &icon : icons) {
        if (imageName == QStringView(icon.from))
            return QString::fromUtf16(icon.to);
    }
    return imageName;
}

QString QNUtils::decapName(const QString &caption) {
    // Longer captions come before the words they contain ("DROPBOX" before "BOX").
    static const Replacement steps[] = {
        {u"MY DOCUMENTS", u"My Documents"},
        {u"DROPBOX", u"Dropbox"},
        {u"BOX", u"Box"},
        {u"MICROSOFT SKYDRIVE", u"Microsoft SkyDrive"},
        {u"SKYDRIVE PRO", u"SkyDrive Pro"},
        {u"SKYDRIVE", u"SkyDrive"},
        {u"GOOGLE DRIVE", u"Google Drive"},
        {u"SUGARSYNC", u"SugarSync"},
        {u"SPIDEROAK", u"SpiderOak"},
        {u"EVERNOTE", u"Evernote"},
        {u"COPY", u"Copy"},
        {u"PICASA", u"Picasa"},
        {u"FLICKR", u"Flickr"},
        {u"WEBDAV", u"WebDAV"},
        {u"FTP", u"FTP"},
        {u"AN SMB SHARE", u"an SMB Share"},
        {u"SMB SHARE", u"SMB Share"},
        {u"OFFICE 365", u"Office 365"},
        {u"(READ ONLY)", u"(read only)"},
    };
    return applyReplacements(caption, steps, std::size(steps));
}

QString QNUtils::decapDescription(const QString &caption) {
    static const Replacement steps[] = {
        {u"SHOW DOCUMENTS ON THIS", u"Show documents on this"},
        {u"SHOW DOCUMENTS ON", u"Show documents on"},
        {u"CREATE A CONNECTION WITH", u"Create a connection with"},
        {u"DROPBOX ACCOUNT", u"Dropbox account"},
        {u"BOX ACCOUNT", u"Box account"},
        {u"MICROSOFT SKYDRIVE ACCOUNT", u"SkyDrive account"},
        {u"SKYDRIVE ACCOUNT", u"SkyDrive account"},
        {u"GOOGLE DRIVE ACCOUNT", u"Google Drive account"},
        {u"SUGARSYNC ACCOUNT", u"SugarSync account"},
        {u"SPIDEROAK ACCOUNT", u"SpiderOak account"},
        {u"EVERNOTE ACCOUNT", u"Evernote account"},
        {u"COPY ACCOUNT", u"Copy account"},
        {u"PICASA ACCOUNT", u"Picasa account"},
        {u"FLICKR ACCOUNT", u"Flickr account"},
        {u"WEBDAV ACCOUNT", u"WebDAV account"},
        {u"FTP ACCOUNT", u"FTP account"},
        {u"SMB ACCOUNT", u"SMB account"},
        {u"OFFICE 365", u"Office 365"},
        {u"SKYDRIVE PRO", u"SkyDrive Pro"},
        {u"ACCOUNT", u"account"},
        {u"SUGARSYNC", u"SugarSync"},
        {u"SPIDEROAK", u"SpiderOak"},
        {u"COPY", u"Copy"},
        {u"(READ ONLY)", u"(read only)"},
    };
    return applyReplacements(caption, steps, std::size(steps));
}

QString QNUtils::addressForNetService(const QList<QByteArray> &socketAddresses) {
    for (const QByteArray &raw : socketAddresses) {
        // The bytes come from the resolver: check the length before reading
        // any structure out of them.
        if (raw.size() < qsizetype(offsetof(sockaddr, sa_family) + sizeof(sa_family_t)))
            continue;
        sa_family_t family;
        std::memcpy(&family, raw.constData() + offsetof(sockaddr, sa_family), sizeof family);
        char text[INET6_ADDRSTRLEN] = {};  // 46 characters with the terminator
        QString address;
        int port = 0;
        if (family == AF_INET && raw.size() >= qsizetype(sizeof(sockaddr_in))) {
            sockaddr_in in4;
            std::memcpy(&in4, raw.constData(), sizeof in4);
            if (!inet_ntop(AF_INET, &in4.sin_addr, text, sizeof text))
                continue;
            address = QString::fromLatin1(text);
            port = ntohs(in4.sin_port);
        } else if (family == AF_INET6 && raw.size() >= qsizetype(sizeof(sockaddr_in6))) {
            sockaddr_in6 in6;
            std::memcpy(&in6, raw.constData(), sizeof in6);
            if (!inet_ntop(AF_INET6, &in6.sin6_addr, text, sizeof text))
                continue;
            // A link-local address is only reachable through its interface,
            // so the zone goes with it; a URL writes its "%" as "%25".
            QString zone;
            if (in6.sin6_scope_id != 0) {
                char ifname[IF_NAMESIZE] = {};
                zone = if_indextoname(in6.sin6_scope_id, ifname)
                           ? QString::fromLatin1(ifname)
                           : QString::number(in6.sin6_scope_id);
                zone = QStringLiteral("%25") + QString::fromLatin1(QUrl::toPercentEncoding(zone));
            }
            address = QStringLiteral("[%1%2]").arg(QString::fromLatin1(text), zone);
            port = ntohs(in6.sin6_port);
        } else {
            continue;
        }
        if (port == 0)
            continue;
        const QString result = address + QLatin1Char(':') + QString::number(port);
        VNLog::log(QStringLiteral("Found service at %1").arg(result));
        return result;
    }
    return {};
}

QString QNUtils::withoutTrailingSlashes(QString path) {
    while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    return path;
}

QString QNUtils::shownFolderPath(const QNDocument &folder) {
    const QString path = withoutTrailingSlashes(folder.path());
    return path.isEmpty() ? QStringLiteral("/") : path;
}

QString QNUtils::joinedPath(const QString &folder, const QString &name) {
    QString path = withoutTrailingSlashes(folder);
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    return path + name;
}

QString QNUtils::nameOf(const QNDocument &document) {
    if (!document.displayName().isEmpty())
        return document.displayName();
    return withoutTrailingSlashes(document.path()).section(QLatin1Char('/'), -1);
}

QString QNUtils::asOnLocalDisk(const QString &path) {
    return QFile::decodeName(QFile::encodeName(path));
}
