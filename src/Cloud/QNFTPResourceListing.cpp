#include "Cloud/QNFTPResourceListing.h"

#include "Cloud/QNFTPListingParser.h"
#include "Cloud/QNStringEncoding.h"

#include <QHash>
#include <algorithm>
#include <cstring>

namespace {

struct Token {
    int32_t begin = 0;
    int32_t end = 0;  // exclusive
    int32_t size() const { return end - begin; }
};

// Enough tokens to reach the date of any ls-style line; the name may hold
// more, and is taken from the line itself.
constexpr int kMaxTokens = 16;

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool allDigits(const char *p, int32_t len)
{
    if (len <= 0)
        return false;
    for (int32_t i = 0; i < len; ++i)
        if (!isDigit(p[i]))
            return false;
    return true;
}

// A short run of digits as a number; -1 when it is none (or too long to be a
// date field or a size).
int64_t digitsValue(const char *p, int32_t len)
{
    if (len <= 0 || len > 18 || !allDigits(p, len))
        return -1;
    int64_t v = 0;
    for (int32_t i = 0; i < len; ++i)
        v = v * 10 + (p[i] - '0');
    return v;
}

// "-rw-r--r--", "drwxr-xr-x+", "lrwxrwxrwx@" ...
bool isPermissions(const char *p, int32_t len)
{
    if (len != 10 && len != 11)
        return false;
    if (!std::strchr("-dlbcps", p[0]) || p[0] == '\0')
        return false;
    for (int i = 1; i < 10; ++i)
        if (!std::strchr("rwxsStTlL-?", p[i]) || p[i] == '\0')
            return false;
    return len == 10 || p[10] == '+' || p[10] == '@' || p[10] == '.';
}

const QHash<QString, int> &monthTable()
{
    static const QHash<QString, int> table = [] {
        QHash<QString, int> t;
        const char *const names[12] = {
            // English, German, French, Spanish, Italian, Dutch, Swedish, Russian
            "jan january jän jänner januar janv ene enero gen gennaio januari янв январь января",
            "feb february februar févr fevr février fevrier febrero febbraio februari фев февраль февраля",
            "mar march mär märz mrz mrt mars marzo maart мар март марта",
            "apr april avr avril abr abril aprile апр апрель апреля",
            "may mai mayo mag maggio mei maj май мая",
            "jun june juni juin junio giu giugno июн июнь июня",
            "jul july juli juil juillet julio lug luglio июл июль июля",
            "aug august août aout ago agosto augusti авг август августа",
            "sep sept september septembre septiembre set settembre сен сент сентябрь сентября",
            "oct october okt oktober octobre octubre ott ottobre oktober окт октябрь октября",
            "nov november novembre noviembre ноя нояб ноябрь ноября",
            "dec december dez dezember déc décembre dic diciembre dicembre дек декабрь декабря",
        };
        for (int m = 0; m < 12; ++m)
            for (const QString &word : QString::fromUtf8(names[m]).split(QLatin1Char(' '), Qt::SkipEmptyParts))
                t.insert(word, m);
        return t;
    }();
    return table;
}

struct Date {
    int64_t year = -1;  // -1: shown with a time of day instead
    int month = -1;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int64_t offset = 0;  // the zone's offset from UTC, when the line gave one
};

// A day of the month: "3", "03", "3.", "3日", "3일".
int dayOf(const QByteArray &text)
{
    QByteArray t = text;
    if (t.endsWith('.'))
        t.chop(1);
    else if (t.endsWith("\xe6\x97\xa5") || t.endsWith("\xec\x9d\xbc"))  // 日, 일
        t.chop(3);
    const int64_t v = digitsValue(t.constData(), int32_t(t.size()));
    return v >= 1 && v <= 31 ? int(v) : -1;
}

// "14:05", "9:07", "14:05:33", "14:05:33.123456789".
bool timeOf(const char *p, int32_t len, Date &d)
{
    const int32_t colon = int32_t(std::find(p, p + len, ':') - p);
    if (colon < 1 || colon > 2 || colon + 3 > len)
        return false;
    const int64_t h = digitsValue(p, colon);
    const int64_t m = digitsValue(p + colon + 1, 2);
    int64_t s = 0;
    const int32_t rest = colon + 3;
    if (rest < len) {
        if (p[rest] != ':' || rest + 3 > len)
            return false;
        s = digitsValue(p + rest + 1, 2);
        const int32_t after = rest + 3;
        if (after < len && (p[after] != '.' || !allDigits(p + after + 1, len - after - 1)))
            return false;
    }
    if (h < 0 || h > 23 || m < 0 || m > 59 || s < 0 || s > 60)
        return false;
    d.hour = int(h);
    d.minute = int(m);
    d.second = int(s);
    return true;
}

bool timeOrYear(const char *p, int32_t len, Date &d)
{
    if (len == 4 && allDigits(p, 4)) {
        d.year = digitsValue(p, 4);
        return true;
    }
    d.year = -1;
    return timeOf(p, len, d);
}

// "+0900", "-0500".
bool zoneOf(const char *p, int32_t len, Date &d)
{
    if (len != 5 || (p[0] != '+' && p[0] != '-') || !allDigits(p + 1, 4))
        return false;
    const int64_t h = digitsValue(p + 1, 2);
    const int64_t m = digitsValue(p + 3, 2);
    if (h > 14 || m > 59)
        return false;
    d.offset = (p[0] == '-' ? -1 : 1) * (h * 3600 + m * 60);
    return true;
}

int64_t fullYear(int64_t year, int32_t digits)
{
    if (digits == 2)
        return year < 50 ? 2000 + year : 1900 + year;
    return year;
}

// "2020-03-03" (ISO) or "03/03/2020", "03.03.2020", "03-03-20": year first
// when the first part has four digits; a dotted date puts the day first, a
// slashed or dashed one the month, unless that cannot be a month.
bool numericDate(const char *p, int32_t len, Date &d)
{
    int32_t parts[3][2];
    int n = 0;
    char sep = 0;
    int32_t start = 0;
    for (int32_t i = 0; i <= len; ++i) {
        if (i < len && isDigit(p[i]))
            continue;
        if (n == 3 || i == start)
            return false;
        parts[n][0] = start;
        parts[n][1] = i - start;
        ++n;
        if (i < len) {
            if (p[i] != '-' && p[i] != '/' && p[i] != '.')
                return false;
            if (sep && p[i] != sep)
                return false;
            sep = p[i];
        }
        start = i + 1;
    }
    if (n != 3)
        return false;
    int64_t v[3];
    for (int i = 0; i < 3; ++i) {
        if (parts[i][1] > 4)
            return false;
        v[i] = digitsValue(p + parts[i][0], parts[i][1]);
    }
    int64_t year;
    int64_t month;
    int64_t day;
    if (parts[0][1] == 4) {
        year = v[0];
        month = v[1];
        day = v[2];
    } else {
        if (parts[2][1] != 4 && parts[2][1] != 2)
            return false;
        year = fullYear(v[2], parts[2][1]);
        const bool dayFirst = sep == '.' || v[0] > 12;
        month = dayFirst ? v[1] : v[0];
        day = dayFirst ? v[0] : v[1];
    }
    if (month < 1 || month > 12 || day < 1 || day > 31)
        return false;
    d.year = year;
    d.month = int(month - 1);
    d.day = int(day);
    return true;
}

class Line {
public:
    Line(const char *line, int32_t len, QNStringEncoding *encoding) : m_line(line), m_len(len), m_encoding(encoding)
    {
        int32_t i = 0;
        while (i < len && m_count < kMaxTokens) {
            while (i < len && isBlank(line[i]))
                ++i;
            if (i == len)
                break;
            Token t;
            t.begin = i;
            while (i < len && !isBlank(line[i]))
                ++i;
            t.end = i;
            m_tokens[m_count++] = t;
        }
    }

    int count() const { return m_count; }
    const char *at(int k) const { return m_line + m_tokens[k].begin; }
    int32_t size(int k) const { return m_tokens[k].size(); }
    int32_t end(int k) const { return m_tokens[k].end; }
    QByteArray bytes(int k) const { return QByteArray::fromRawData(at(k), size(k)); }

    int month(int k) const
    {
        if (size(k) > 24 || allDigits(at(k), size(k)))
            return -1;
        const QByteArray raw = bytes(k);
        QString word;
        if (QNStringEncoding::isValidUtf8(raw))
            word = QString::fromUtf8(raw);
        else if (m_encoding)
            word = m_encoding->decode(raw);
        return QNFTPResourceListing::month(word);
    }

    // The date that begins at token k; last is set to its last token.
    bool dateAt(int k, Date &d, int &last) const
    {
        if (k + 1 >= m_count)
            return false;
        // Month, day, time or year.
        if (k + 2 < m_count && (d.month = month(k)) >= 0 && (d.day = dayOf(bytes(k + 1))) > 0 &&
            timeOrYear(at(k + 2), size(k + 2), d)) {
            last = k + 2;
            return true;
        }
        // Day, month, time or year.
        if (k + 2 < m_count && (d.day = dayOf(bytes(k))) > 0 && (d.month = month(k + 1)) >= 0 &&
            timeOrYear(at(k + 2), size(k + 2), d)) {
            last = k + 2;
            return true;
        }
        // ISO or numeric date, then a time and a zone offset when given.
        d = Date{};
        if (numericDate(at(k), size(k), d)) {
            last = k;
            if (k + 1 < m_count && timeOf(at(k + 1), size(k + 1), d)) {
                last = k + 1;
                if (k + 2 < m_count && zoneOf(at(k + 2), size(k + 2), d))
                    last = k + 2;
            }
            return true;
        }
        return false;
    }

private:
    const char *m_line;
    int32_t m_len;
    QNStringEncoding *m_encoding;
    Token m_tokens[kMaxTokens];
    int m_count = 0;
};

}  // namespace

int QNFTPResourceListing::month(const QString &word)
{
    QString w = word.toLower();
    if (w.endsWith(QLatin1Char('.')) || w.endsWith(QLatin1Char(',')))
        w.chop(1);
    if (w.isEmpty())
        return -1;
    // "3月" (Japanese, Chinese) and "3월" (Korean).
    if (w.endsWith(QChar(0x6708)) || w.endsWith(QChar(0xC6D4))) {
        const QByteArray digits = w.left(w.size() - 1).toLatin1();
        const int64_t v = digitsValue(digits.constData(), int32_t(digits.size()));
        return v >= 1 && v <= 12 ? int(v - 1) : -1;
    }
    return monthTable().value(w, -1);
}

QNFTPResourceListing::Entry QNFTPResourceListing::classify(const char *line, int32_t len, int64_t now,
                                                           QNStringEncoding *encoding)
{
    Entry e;
    const Line tokens(line, len, encoding);
    if (tokens.count() == 0) {
        e.status = Status::NoEntry;
        return e;
    }
    if (!isPermissions(tokens.at(0), tokens.size(0))) {
        // "total 120", "insgesamt 12K", "итого 8": a summary, no entry.
        if (tokens.count() == 2) {
            QByteArray amount = tokens.bytes(1);
            if (amount.endsWith('K') || amount.endsWith('k') || amount.endsWith('M'))
                amount.chop(1);
            const QByteArray word = tokens.bytes(0);
            const bool wordHasDigit = std::any_of(word.begin(), word.end(), isDigit);
            if (allDigits(amount.constData(), int32_t(amount.size())) && !wordHasDigit && word[0] != '+')
                e.status = Status::NoEntry;
        }
        return e;
    }

    // The size is the field just before the date; link count, owner and
    // group come before it, any of them may be missing.
    for (int k = 2; k <= 6 && k + 1 < tokens.count(); ++k) {
        const int64_t size = digitsValue(tokens.at(k - 1), tokens.size(k - 1));
        if (size < 0)
            continue;
        Date d;
        int last = 0;
        if (!tokens.dateAt(k, d, last))
            continue;
        // The name follows the date after one blank; it may begin with blanks.
        const int32_t nameStart = tokens.end(last) + 1;
        if (nameStart >= len)
            continue;

        e.status = Status::Entry;
        const char type = tokens.at(0)[0];
        e.kind = type == 'd' ? Kind::Folder : (type == 'l' ? Kind::Link : Kind::File);
        e.hasSize = true;
        e.size = size;
        e.name = line + nameStart;
        e.namelen = len - nameStart;
        if (e.kind == Kind::Link) {
            for (int32_t i = 0; i + 3 < e.namelen; ++i) {
                if (e.name[i] == ' ' && e.name[i + 1] == '-' && e.name[i + 2] == '>' && e.name[i + 3] == ' ') {
                    e.target = e.name + i + 4;
                    e.targetlen = e.namelen - i - 4;
                    e.namelen = i;
                    break;
                }
            }
        }
        int64_t day;
        if (d.year < 0) {
            day = QNFTPListingParser::guessYear(d.month, d.day, now);
        } else {
            day = QNFTPListingParser::daySeconds(d.year, d.month, d.day);
        }
        if (day != -1 || d.year >= 0) {
            e.hasDate = true;
            e.date = day + d.hour * 3600 + d.minute * 60 + d.second - d.offset;
        }
        return e;
    }
    return e;
}
