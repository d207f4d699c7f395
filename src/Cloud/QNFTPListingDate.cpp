#include "Cloud/QNFTPListingDate.h"

#include "Cloud/QNFTPListingParser.h"
#include "Cloud/QNFTPListingWords.h"

#include <QHash>
#include <QStringList>
#include <cstring>

namespace {

const QHash<QString, int> &monthTable()
{
    static const QHash<QString, int> table = [] {
        QHash<QString, int> t;
        // Month names and the abbreviations `ls` and servers write, in
        // English, German, French, Spanish, Italian, Dutch, Swedish, Danish
        // and Norwegian, Portuguese, Romanian, Catalan, Hungarian, Polish,
        // Czech, Slovenian, Estonian, Finnish, Indonesian, Turkish, Greek,
        // Russian and Ukrainian. No word may stand for two different months
        // (Croatian's "lis", "lip" and "srp" would).
        const char *const names[12] = {
            "jan january jaan jän jänner januar janv ene enero gen gennaio januari ian ianuarie január sty "
            "stycznia led leden ledna tammi tammikuu oca ocak ιαν янв январь января січ січня",
            "feb february veebr februar févr fevr février fevrier febrero febbraio februari fev fevereiro febr "
            "február lut lutego úno únor února helmi helmikuu şub şubat φεβ фев февраль февраля лют лютого",
            "mar march märts març mär märz mrz mrt mars marzo maart março martie márc március marca bře březen "
            "března maalis maaliskuu μαρ мар март марта бер березня",
            "apr april avr avril abr abril aprile aprilie ápr április kwi kwietnia dub duben dubna huhti huhtikuu "
            "nis nisan απρ апр апрель апреля кві квітня",
            "may mai maig mayo mag maggio mei maj maio máj május maja kvě květen května touko toukokuu μαΐ μαϊ μάι "
            "май мая тра травня",
            "jun june juuni juny juni juin junio giu giugno junho iun iunie jún június cze czerwca čen čvn červen "
            "června kesä kesäkuu haz haziran ιουν июн июнь июня чер червня",
            "jul july juuli juli juil juillet julio lug luglio julho iul iulie júl július lip lipca čec čvc červenec "
            "července heinä heinäkuu tem temmuz ιουλ июл июль июля лип липня",
            "aug august avg agu août aout ago agosto augusti augusztus sie sierpnia srp srpen srpna elo elokuu "
            "ağu ağustos αυγ авг август августа сер серпня",
            "sep sept september septembre septiembre set settembre setembro septembrie szept szeptember wrz "
            "września zář září syys syyskuu eyl eylül σεπ сен сент сентябрь сентября вер вересня",
            "oct october okt oktober octobre octubre ott ottobre out outubro octombrie okt október paź "
            "października říj říjen října loka lokakuu eki ekim οκτ окт октябрь октября жов жовтня",
            "nov november novembre noviembre novembro noi noiembrie nov november lis listopada listopad "
            "marras marraskuu kas kasım νοε ноя нояб ноябрь ноября лис листопада",
            "dec december dets dez dezember déc décembre dic diciembre dicembre dezembro decembrie december des "
            "desember gru grudnia pro prosinec prosince joulu joulukuu ara aralık δεκ дек декабрь декабря гру "
            "грудня",
        };
        for (int m = 0; m < 12; ++m)
            for (const QString &word : QString::fromUtf8(names[m]).split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
                Q_ASSERT(t.value(word, m) == m);
                t.insert(word, m);
            }
        return t;
    }();
    return table;
}

bool isYearMark(QChar c)
{
    return c == QChar(0x5E74) || c == QChar(0xB144);  // 年, 년
}

bool isMonthMark(QChar c)
{
    return c == QChar(0x6708) || c == QChar(0xC6D4);  // 月, 월
}

bool isDayMark(QChar c)
{
    return c == QChar(0x65E5) || c == QChar(0xC77C);  // 日, 일
}

bool isDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

// The digits at pos, as a number of at most maxDigits digits; -1 when none.
int64_t digitsAt(QStringView s, qsizetype &pos, int maxDigits)
{
    const qsizetype start = pos;
    while (pos < s.size() && isDigit(s[pos]))
        ++pos;
    if (pos == start || pos - start > maxDigits)
        return -1;
    return QNFTPListingWords::digitsValue(s.mid(start, pos - start));
}

QStringView withoutTrailing(QStringView s, const char *marks)
{
    while (!s.isEmpty() && s.back().unicode() < 0x80 && std::strchr(marks, char(s.back().unicode())))
        s.chop(1);
    return s;
}

int64_t fullYear(int64_t year, qsizetype digits)
{
    if (digits == 2)
        return year < 50 ? 2000 + year : 1900 + year;
    return year;
}

}  // namespace

int QNFTPListingDate::monthOf(const QString &word)
{
    const QString lower = word.toLower();
    const QStringView w = withoutTrailing(lower, ".,");
    if (w.isEmpty() || isDigit(w.front()) == false) {
        const auto it = monthTable().constFind(w.toString());
        return it == monthTable().constEnd() ? -1 : it.value();
    }
    // "3月" (Japanese, Chinese) and "3월" (Korean).
    if (!isMonthMark(w.back()))
        return -1;
    const int64_t v = QNFTPListingWords::digitsValue(w.chopped(1));
    return v >= 1 && v <= 12 ? int(v - 1) : -1;
}

int QNFTPListingDate::dayOf(const QString &word)
{
    QStringView w = word;
    if (!w.isEmpty() && isDayMark(w.back()))
        w.chop(1);
    else
        w = withoutTrailing(w, ".,");
    if (w.size() > 2)
        return -1;
    const int64_t v = QNFTPListingWords::digitsValue(w);
    return v >= 1 && v <= 31 ? int(v) : -1;
}

bool QNFTPListingDate::readTime(QStringView p)
{
    const qsizetype colon = p.indexOf(QLatin1Char(':'));
    if (colon < 1 || colon > 2 || colon + 3 > p.size())
        return false;
    const int64_t h = QNFTPListingWords::digitsValue(p.left(colon));
    const int64_t m = QNFTPListingWords::digitsValue(p.mid(colon + 1, 2));
    int64_t s = 0;
    const qsizetype rest = colon + 3;
    if (rest < p.size()) {
        if (p[rest] != QLatin1Char(':') || rest + 3 > p.size())
            return false;
        s = QNFTPListingWords::digitsValue(p.mid(rest + 1, 2));
        const qsizetype after = rest + 3;
        if (after < p.size() &&
            (p[after] != QLatin1Char('.') || QNFTPListingWords::digitsValue(p.mid(after + 1).left(18)) < 0))
            return false;
    }
    // 24:00 is the end of the day, which some servers write for midnight.
    const bool endOfDay = h == 24 && m == 0 && s == 0;
    if (h < 0 || (h > 23 && !endOfDay) || m < 0 || m > 59 || s < 0 || s > 60)
        return false;
    hour = int(h);
    minute = int(m);
    second = int(s);
    return true;
}

bool QNFTPListingDate::readTimeOrYear(QStringView word)
{
    if (word.size() == 4) {
        const int64_t v = QNFTPListingWords::digitsValue(word);
        if (v >= 0) {
            year = v;
            return true;
        }
    }
    year = -1;
    return readTime(word);
}

// "+0900", "-0500".
bool QNFTPListingDate::readZone(QStringView p)
{
    if (p.size() != 5 || (p[0] != QLatin1Char('+') && p[0] != QLatin1Char('-')))
        return false;
    const int64_t h = QNFTPListingWords::digitsValue(p.mid(1, 2));
    const int64_t m = QNFTPListingWords::digitsValue(p.mid(3, 2));
    if (h < 0 || m < 0 || h > 14 || m > 59)
        return false;
    offset = (p[0] == QLatin1Char('-') ? -1 : 1) * (h * 3600 + m * 60);
    return true;
}

bool QNFTPListingDate::readNumericDate(QStringView p, Order order)
{
    QStringView parts[3];
    int n = 0;
    QChar sep;
    qsizetype start = 0;
    for (qsizetype i = 0; i <= p.size(); ++i) {
        if (i < p.size() && isDigit(p[i]))
            continue;
        if (n == 3 || i == start || i - start > 4)
            return false;
        parts[n++] = p.mid(start, i - start);
        if (i < p.size()) {
            if (p[i] != QLatin1Char('-') && p[i] != QLatin1Char('/') && p[i] != QLatin1Char('.'))
                return false;
            if (!sep.isNull() && p[i] != sep)
                return false;
            sep = p[i];
        }
        start = i + 1;
    }
    if (n != 3)
        return false;
    int64_t v[3];
    for (int i = 0; i < 3; ++i)
        v[i] = QNFTPListingWords::digitsValue(parts[i]);
    int64_t y;
    int64_t m;
    int64_t d;
    if (parts[0].size() == 4) {
        y = v[0];
        m = v[1];
        d = v[2];
    } else {
        if (parts[2].size() != 4 && parts[2].size() != 2)
            return false;
        y = fullYear(v[2], parts[2].size());
        const bool dayFirst = sep == QLatin1Char('.') || order == Order::DayFirst || v[0] > 12;
        m = dayFirst ? v[1] : v[0];
        d = dayFirst ? v[0] : v[1];
    }
    if (m < 1 || m > 12 || d < 1 || d > 31)
        return false;
    year = y;
    month = int(m - 1);
    day = int(d);
    return true;
}

bool QNFTPListingDate::read(const QNFTPListingWords &words, int k, int &last, bool plainNumbers)
{
    if (k >= words.count())
        return false;
    const QNFTPListingDate blank;
    for (auto reader : {&QNFTPListingDate::readMonthDayYear, &QNFTPListingDate::readDayMonthYear,
                        &QNFTPListingDate::readEastAsian}) {
        *this = blank;
        if ((this->*reader)(words, k, last))
            return true;
    }
    *this = blank;
    return readNumeric(words, k, last, plainNumbers);
}

// "Mar 3 14:05", "Mar 3 2009", "3月 29日 03:26", "Oct 08, 2002 09:47".
bool QNFTPListingDate::readMonthDayYear(const QNFTPListingWords &words, int k, int &last)
{
    if (k + 2 >= words.count() || (month = monthOf(words.text(k))) < 0)
        return false;
    const QString dayWord = words.text(k + 1);
    if ((day = dayOf(dayWord)) < 0 || !readTimeOrYear(words.text(k + 2)))
        return false;
    last = k + 2;
    // A comma after the day marks the form that writes a time after the year.
    if (year >= 0 && dayWord.endsWith(QLatin1Char(',')) && k + 3 < words.count() && readTime(words.text(k + 3)))
        last = k + 3;
    return true;
}

// "29 Jul 02:27", "29. Jul 2020", "30. Jan., 12:40".
bool QNFTPListingDate::readDayMonthYear(const QNFTPListingWords &words, int k, int &last)
{
    if (k + 2 >= words.count() || (day = dayOf(words.text(k))) < 0 || (month = monthOf(words.text(k + 1))) < 0 ||
        !readTimeOrYear(words.text(k + 2)))
        return false;
    last = k + 2;
    return true;
}

// "2004年3月29日", "2004年 3月 29日", "2004년 3월 29일", "3月29日 03:26",
// each optionally followed by a time; without a year, a time or year follows.
bool QNFTPListingDate::readEastAsian(const QNFTPListingWords &words, int k, int &last)
{
    QString s = words.text(k);
    int j = k;
    while (j + 1 < words.count() && j - k < 2 && !s.isEmpty() && (isYearMark(s.back()) || isMonthMark(s.back())))
        s += words.text(++j);
    qsizetype pos = 0;
    int64_t first = digitsAt(s, pos, 4);
    if (first < 0 || pos == s.size())
        return false;
    if (isYearMark(s[pos])) {
        if (pos != 4)
            return false;
        year = first;
        ++pos;
        first = digitsAt(s, pos, 2);
        if (first < 0 || pos == s.size())
            return false;
    }
    if (!isMonthMark(s[pos]) || first < 1 || first > 12)
        return false;
    month = int(first - 1);
    ++pos;
    const int64_t d = digitsAt(s, pos, 2);
    if (d < 1 || d > 31)
        return false;
    day = int(d);
    if (pos < s.size() && isDayMark(s[pos]))
        ++pos;
    if (pos != s.size())
        return false;
    last = j;
    if (year < 0) {
        if (j + 1 >= words.count() || !readTimeOrYear(words.text(j + 1)))
            return false;
        last = j + 1;
    } else if (j + 1 < words.count() && readTime(words.text(j + 1))) {
        last = j + 1;
    }
    return true;
}

bool QNFTPListingDate::readNumeric(const QNFTPListingWords &words, int k, int &last, bool plainNumbers)
{
    const QString word = words.text(k);
    const QString next = words.text(k + 1);
    const bool hasNext = k + 1 < words.count();
    // "2020-03-03", "24.12.2020", "2004.07.15", then a time and a zone.
    if (readNumericDate(word, Order::MonthFirst)) {
        last = k;
        if (hasNext && readTime(next)) {
            last = k + 1;
            if (k + 2 < words.count() && readZone(words.text(k + 2)))
                last = k + 2;
        }
        return true;
    }
    *this = QNFTPListingDate();
    const QStringList parts = word.split(QLatin1Char('-'));
    // "01-jun-99", "01-Jun-1999", then a time when given.
    if (parts.size() == 3 && (month = monthOf(parts[1])) >= 0 && !isDigit(parts[1].front()) &&
        (parts[2].size() == 2 || parts[2].size() == 4)) {
        day = dayOf(parts[0]);
        const int64_t y = QNFTPListingWords::digitsValue(parts[2]);
        if (day < 0 || y < 0 || parts[0].size() > 2)
            return false;
        year = fullYear(y, parts[2].size());
        last = hasNext && readTime(next) ? k + 1 : k;
        return true;
    }
    // "09-26 13:45" (recent) and "09-26 2000".
    if (parts.size() == 2 && parts[0].size() <= 2 && parts[1].size() <= 2) {
        const int64_t m = QNFTPListingWords::digitsValue(parts[0]);
        day = dayOf(parts[1]);
        if (m < 1 || m > 12 || day < 0 || !hasNext || !readTimeOrYear(next))
            return false;
        month = int(m - 1);
        last = k + 1;
        return true;
    }
    if (!plainNumbers)
        return false;
    // "3 29 03:26", "3 29 2004": month and day as bare numbers.
    const int64_t m = word.size() <= 2 ? QNFTPListingWords::digitsValue(word) : -1;
    if (m >= 1 && m <= 12 && hasNext && next.size() <= 2 && (day = dayOf(next)) > 0 && k + 2 < words.count() &&
        readTimeOrYear(words.text(k + 2)) && (year < 0 || (year >= 1900 && year < 2100))) {
        month = int(m - 1);
        last = k + 2;
        return true;
    }
    // A time of day alone: today.
    *this = QNFTPListingDate();
    if (readTime(word)) {
        today = true;
        last = k;
        return true;
    }
    return false;
}

std::optional<int64_t> QNFTPListingDate::seconds(int64_t now) const
{
    int64_t start;
    if (today) {
        start = now - (((now % 86400) + 86400) % 86400);
    } else if (year < 0) {
        start = QNFTPListingParser::guessYear(month, day, now);
        if (start == -1)
            return std::nullopt;
    } else {
        start = QNFTPListingParser::daySeconds(year, month, day);
    }
    return start + hour * 3600 + minute * 60 + second - offset;
}
