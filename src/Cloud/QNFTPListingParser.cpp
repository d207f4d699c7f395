#include "Cloud/QNFTPListingParser.h"

#include "Cloud/QNFTPDOSListing.h"
#include "Cloud/QNFTPHostListing.h"
#include "Cloud/QNStringEncoding.h"

#include <QTimeZone>
#include <algorithm>
#include <cstring>
#include <ctime>
#include <limits>
#include <mutex>

namespace {

constexpr int64_t kInt64Max = std::numeric_limits<int64_t>::max();
constexpr int64_t kInt64Min = std::numeric_limits<int64_t>::min();
// Numbers that feed date arithmetic are held within this bound, so no sum or
// product of them can overflow; real dates are far inside it.
constexpr int64_t kDateFieldLimit = 1000000000;

// A number field: digits only (false for anything else, or none); the value
// saturates instead of overflowing.
bool readNumber(const char *p, int32_t len, int64_t &value)
{
    value = 0;
    if (len <= 0)
        return false;
    for (int32_t i = 0; i < len; ++i) {
        const char c = p[i];
        if (c < '0' || c > '9')
            return false;
        if (value > (kInt64Max - 9) / 10)
            value = kInt64Max;
        else
            value = value * 10 + (c - '0');
    }
    return true;
}

int64_t clampDateField(int64_t v)
{
    return v > kDateFieldLimit ? kDateFieldLimit : (v < -kDateFieldLimit ? -kDateFieldLimit : v);
}

int64_t saturatingAdd(int64_t a, int64_t b)
{
    int64_t r;
    if (__builtin_add_overflow(a, b, &r))
        return b > 0 ? kInt64Max : kInt64Min;
    return r;
}

// Floor division and modulo, for the negative years that odd input produces.
int64_t floorDiv(int64_t a, int64_t b)
{
    int64_t q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0)))
        --q;
    return q;
}

int64_t floorMod(int64_t a, int64_t b)
{
    return a - floorDiv(a, b) * b;
}

const char kMonths[12][4] = {"jan", "feb", "mar", "apr", "may", "jun", "jul", "aug", "sep", "oct", "nov", "dec"};

// The year (UTC) of a time in seconds since 1970.
int64_t yearOf(int64_t seconds)
{
    int64_t days = floorDiv(seconds, 86400) - 11017;  // days since 2000-03-01
    int64_t year = 2000 + 400 * floorDiv(days, 146097);
    days = floorMod(days, 146097);
    int64_t t = days / 36524;
    if (t == 4)
        t = 3;
    year += 100 * t;
    days -= 36524 * t;
    year += 4 * (days / 1461);
    days %= 1461;
    t = days / 365;
    if (t == 4)
        t = 3;
    year += t;
    days -= 365 * t;
    // Days 306 and later of a March-based year fall in January or February.
    if (days >= 306)
        ++year;
    return year;
}

// The line at data (without its line end) and the bytes it takes up; false
// when it has no line end yet and more data may come.
bool nextLine(const char *data, qsizetype size, bool atEnd, qsizetype &lineLen, qsizetype &consumed)
{
    if (size <= 0)
        return false;
    const void *newline = std::memchr(data, '\n', size_t(size));
    if (newline) {
        lineLen = static_cast<const char *>(newline) - data;
        consumed = lineLen + 1;
    } else if (atEnd) {
        lineLen = size;
        consumed = size;
    } else {
        return false;
    }
    if (lineLen > 0 && data[lineLen - 1] == '\r')
        --lineLen;
    return true;
}

// The first bytes of the UNIX long listing's file types.
bool isUnixType(char c)
{
    return c == 'b' || c == 'c' || c == 'd' || c == 'l' || c == 'p' || c == 's' || c == '-';
}

}  // namespace

int64_t QNFTPListingParser::currentTime()
{
    return int64_t(std::time(nullptr)) - base();
}

int QNFTPListingParser::month(const char *text, int32_t len)
{
    if (len != 3)
        return -1;
    for (int i = 0; i < 12; ++i) {
        bool match = true;
        for (int j = 0; j < 3 && match; ++j) {
            const char c = text[j];
            const char lower = kMonths[i][j];
            match = c == lower || c == lower - ('a' - 'A');
        }
        if (match)
            return i;
    }
    return -1;
}

int64_t QNFTPListingParser::daySeconds(int64_t year, int64_t month, int64_t day)
{
    year = clampDateField(year);
    month = clampDateField(month);
    day = clampDateField(day);
    int64_t m;
    if (month >= 2) {
        m = month - 2;
    } else {
        m = month + 10;
        --year;
    }
    int64_t r = floorDiv((day - 1) * 10 + 5 + 306 * m, 10);
    if (r == 365) {
        year -= 3;
        r = 1460;
    } else {
        r += 365 * floorMod(year, 4);
    }
    year = floorDiv(year, 4);
    r += 1461 * floorMod(year, 25);
    year = floorDiv(year, 25);
    if (r == 36524) {
        year -= 3;
        r = 146096;
    } else {
        r += 36524 * floorMod(year, 4);
    }
    year = floorDiv(year, 4);
    const int64_t days = r + 146097 * (year - 5) + 11017;
    return days * 86400;
}

int64_t QNFTPListingParser::base()
{
    // The clock here counts from 1970-01-01 00:00 UTC; compute the offset
    // anyway in case a platform's does not. Thread-safe and done once.
    static const int64_t value = [] {
        const std::time_t zero = 0;
        std::tm parts{};
        gmtime_r(&zero, &parts);
        return -(daySeconds(parts.tm_year + 1900, parts.tm_mon, parts.tm_mday) + parts.tm_hour * 3600 +
                 parts.tm_min * 60 + parts.tm_sec);
    }();
    return value;
}

int64_t QNFTPListingParser::guessYear(int64_t month, int64_t day, int64_t now)
{
    const int64_t currentYear = yearOf(now);
    for (int64_t year = currentYear - 1; year < currentYear + 100; ++year) {
        const int64_t t = daySeconds(year, month, day);
        if (now - t < 350 * int64_t(86400))
            return t;
    }
    return -1;
}

bool QNFTPListingParser::parseLine(Line &entry, const char *buf, int32_t len)
{
    return parseLine(entry, buf, len, currentTime());
}

bool QNFTPListingParser::parseLine(Line &entry, const char *buf, int32_t len, int64_t now)
{
    entry = Line{};
    if (len < 2)
        return false;

    const int64_t b = base();
    int32_t i;
    int32_t j;
    int64_t year = 0;
    int64_t monthIndex = 0;
    int64_t mday = 0;
    int64_t hour = 0;
    int64_t minute = 0;
    auto fail = [&entry] {
        entry = Line{};
        return false;
    };

    switch (buf[0]) {
    // EPLF: "+" facts separated by "," then a tab and the name.
    case '+':
        i = 1;
        for (j = 1; j < len; ++j) {
            if (buf[j] == '\t') {
                entry.name = buf + j + 1;
                entry.namelen = len - j - 1;
                return true;
            }
            if (buf[j] == ',') {
                int64_t value = 0;
                switch (buf[i]) {
                case '/':
                    entry.flagtrycwd = 1;
                    break;
                case 'r':
                    entry.flagtryretr = 1;
                    break;
                case 's':
                    if (!readNumber(buf + i + 1, j - i - 1, value))
                        return fail();
                    entry.sizetype = 1;
                    entry.size = value;
                    break;
                case 'm':
                    if (!readNumber(buf + i + 1, j - i - 1, value))
                        return fail();
                    entry.mtimetype = MtimeLocal;
                    entry.mtime = saturatingAdd(b, value);
                    break;
                case 'i':
                    entry.idtype = 1;
                    entry.id = buf + i + 1;
                    entry.idlen = j - i - 1;
                    break;
                default:
                    break;
                }
                i = j + 1;
            }
        }
        return fail();

    // UNIX long listing: permissions, links, owner, group, size, date, name.
    case 'b':
    case 'c':
    case 'd':
    case 'l':
    case 'p':
    case 's':
    case '-': {
        if (buf[0] == 'd')
            entry.flagtrycwd = 1;
        if (buf[0] == '-')
            entry.flagtryretr = 1;
        if (buf[0] == 'l')
            entry.flagtrycwd = entry.flagtryretr = 1;

        int state = 1;
        bool sizeRead = false;  // the size last read was digits
        i = 0;
        for (j = 1; j < len; ++j) {
            if (buf[j] != ' ' || buf[j - 1] == ' ')
                continue;
            switch (state) {
            case 1:  // permissions
                state = 2;
                break;
            case 2:  // link count, or NetPresenz's "folder" column
                state = 3;
                if (j - i == 6 && buf[i] == 'f')
                    state = 4;
                break;
            case 3:  // owner
                state = 4;
                break;
            case 4:  // size, unless the next field is not the month
                sizeRead = readNumber(buf + i, j - i, entry.size);
                state = 5;
                break;
            case 5:  // month, or a size when there was a group column
                monthIndex = month(buf + i, j - i);
                if (monthIndex >= 0)
                    state = 6;
                else
                    sizeRead = readNumber(buf + i, j - i, entry.size);
                break;
            case 6:  // day of the month
                if (!readNumber(buf + i, j - i, mday) || mday < 1 || mday > 31)
                    return fail();
                state = 7;
                break;
            case 7:  // time of day (recent files) or year
                if ((j - i == 4 && buf[i + 1] == ':') || (j - i == 5 && buf[i + 2] == ':')) {
                    const int32_t h = j - i - 3;
                    if (!readNumber(buf + i, h, hour) || !readNumber(buf + i + h + 1, 2, minute) || hour > 23 ||
                        minute > 59)
                        return fail();
                    const int64_t day = guessYear(monthIndex, mday, now);
                    if (day != -1) {
                        entry.mtimetype = MtimeRemoteMinute;
                        entry.mtime = b + day + hour * 3600 + minute * 60;
                    }
                } else if (j - i >= 4) {
                    if (!readNumber(buf + i, j - i, year))
                        return fail();
                    entry.mtimetype = MtimeRemoteDay;
                    entry.mtime = b + daySeconds(year, monthIndex, mday);
                } else {
                    return fail();
                }
                entry.name = buf + j + 1;
                entry.namelen = len - j - 1;
                state = 8;
                break;
            default:
                break;
            }
            i = j + 1;
            while (i < len && buf[i] == ' ')
                ++i;
        }
        if (state != 8 || !sizeRead)
            return fail();
        entry.sizetype = 1;
        if (buf[0] == 'l') {
            for (i = 0; i + 3 < entry.namelen; ++i) {
                if (entry.name[i] == ' ' && entry.name[i + 1] == '-' && entry.name[i + 2] == '>' &&
                    entry.name[i + 3] == ' ') {
                    entry.namelen = i;
                    break;
                }
            }
        }
        // NetWare: the name follows three extra blanks.
        if ((buf[1] == ' ' || buf[1] == '[') && entry.namelen > 3 && entry.name[0] == ' ' &&
            entry.name[1] == ' ' && entry.name[2] == ' ') {
            entry.name += 3;
            entry.namelen -= 3;
        }
        return true;
    }

    default:
        break;
    }

    return readOtherFormats(entry, buf, len, now, nullptr) == QNFTPResourceListing::Status::Entry;
}

QNFTPResourceListing::Status QNFTPListingParser::readOtherFormats(Line &entry, const char *buf, int32_t len,
                                                                  int64_t now, QNStringEncoding *encoding)
{
    using Listing = QNFTPResourceListing;
    entry = Line{};
    if (len < 2)
        return Listing::Status::Unclassified;
    if (buf[0] == '+' || isUnixType(buf[0]))
        return parseLine(entry, buf, len, now) ? Listing::Status::Entry : Listing::Status::Unclassified;
    Listing::Entry e = QNFTPHostListing::read(buf, len, now, encoding);
    if (e.status == Listing::Status::Unclassified)
        e = QNFTPDOSListing::read(buf, len, now, encoding);
    if (e.status != Listing::Status::Entry)
        return e.status;
    entry.name = e.name;
    entry.namelen = e.namelen;
    entry.flagtrycwd = e.kind != Listing::Kind::File;
    entry.flagtryretr = e.kind != Listing::Kind::Folder;
    entry.sizetype = e.hasSize ? 1 : 0;
    entry.size = e.size;
    if (e.hasDate) {
        entry.mtimetype = MtimeRemoteMinute;
        entry.mtime = saturatingAdd(base(), e.date);
    }
    return Listing::Status::Entry;
}

QDateTime QNFTPListingParser::dateOf(const Line &entry)
{
    // Beyond year 9999 either way is no date a server means.
    constexpr int64_t kLimit = 253402300799LL;
    if (entry.mtimetype == MtimeUnknown)
        return QDateTime();
    // Exact times are exact; a server's wall-clock time is read as UTC,
    // which is what servers list in unless set up otherwise.
    const int64_t seconds = entry.mtime - base();
    if (seconds > kLimit || seconds < -kLimit)
        return QDateTime();
    return QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC);
}

bool QNFTPListingParser::isAcceptableName(const char *name, int32_t len)
{
    if (len <= 0)
        return false;
    if ((len == 1 && name[0] == '.') || (len == 2 && name[0] == '.' && name[1] == '.'))
        return false;
    return std::memchr(name, '/', size_t(len)) == nullptr && std::memchr(name, '\0', size_t(len)) == nullptr;
}

QNFTPListingParser::Result QNFTPListingParser::parseListing(QByteArray &buffer, bool atEnd,
                                                            QNStringEncoding &encoding)
{
    return parseListing(buffer, atEnd, encoding, currentTime());
}

QNFTPListingParser::Result QNFTPListingParser::parseListing(QByteArray &buffer, bool atEnd,
                                                            QNStringEncoding &encoding, int64_t now)
{
    using Listing = QNFTPResourceListing;
    Result result;
    const char *data = buffer.constData();
    const qsizetype size = buffer.size();
    qsizetype offset = 0;
    QByteArray joined;
    while (offset < size) {
        const char *start = data + offset;
        qsizetype lineLen;
        qsizetype consumed;
        if (!nextLine(data + offset, size - offset, atEnd, lineLen, consumed))
            break;
        // A VMS name too long for its column stands alone; its columns
        // follow on the next line, which begins with blanks.
        if (QNFTPHostListing::isWrappedVMSName(start, int32_t(std::min<qsizetype>(lineLen, 4096)))) {
            qsizetype nextLen;
            qsizetype nextConsumed;
            const char *next = start + consumed;
            if (!nextLine(next, size - offset - consumed, atEnd, nextLen, nextConsumed)) {
                if (!atEnd)
                    break;
            } else if (nextLen > 0 && (next[0] == ' ' || next[0] == '\t')) {
                joined = QByteArray(start, lineLen) + ' ' + QByteArray(next, nextLen);
                start = joined.constData();
                lineLen = joined.size();
                consumed += nextConsumed;
            }
        }
        offset += consumed;
        // A line longer than any real listing line is not one.
        if (lineLen > std::numeric_limits<int32_t>::max() / 2) {
            result.unreadLines.append(QByteArray(start, 200) + "...");
            continue;
        }

        Item item;
        const char *name = nullptr;
        int32_t namelen = 0;
        Listing::Entry entry = Listing::classify(start, int32_t(lineLen), now, &encoding);
        if (entry.status == Listing::Status::NoEntry)
            continue;
        if (entry.status == Listing::Status::Entry) {
            name = entry.name;
            namelen = entry.namelen;
            item.kind = entry.kind;
            item.linkTarget = QByteArray(entry.target, entry.targetlen);
            item.hasSize = entry.hasSize;
            item.size = entry.size;
            if (entry.hasDate)
                item.date = QDateTime::fromSecsSinceEpoch(entry.date, Qt::UTC);
        } else {
            Line line;
            const Listing::Status status = readOtherFormats(line, start, int32_t(lineLen), now, &encoding);
            if (status == Listing::Status::NoEntry)
                continue;
            if (status != Listing::Status::Entry) {
                result.unreadLines.append(QByteArray(start, lineLen));
                continue;
            }
            name = line.name;
            namelen = line.namelen;
            item.kind = line.flagtrycwd && line.flagtryretr ? Listing::Kind::Link
                        : line.flagtrycwd                   ? Listing::Kind::Folder
                                                            : Listing::Kind::File;
            item.hasSize = line.sizetype != 0;
            item.size = line.sizetype != 0 && line.size > 0 ? line.size : 0;
            item.date = dateOf(line);
        }
        if (!isAcceptableName(name, namelen)) {
            result.droppedNames.append(QByteArray(name, namelen));
            continue;
        }
        item.rawName = QByteArray(name, namelen);
        item.name = encoding.decode(item.rawName);
        item.isDirectory = item.kind == Listing::Kind::Folder;
        result.items.append(std::move(item));
    }
    buffer.remove(0, offset);
    return result;
}
