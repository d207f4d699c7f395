#include "Cloud/QNFTPResourceListing.h"

#include "Cloud/QNFTPListingDate.h"
#include "Cloud/QNFTPListingWords.h"
#include "Cloud/QNStringEncoding.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
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

// The size column just before the date (word k): a byte count; a size as
// `ls -h` writes it ("33.5k", "2.0M"), which is all the server tells; or,
// when the group column ran into it ("staff2147483648"), the digits at the
// end of the group word, which only a line with link count, owner and that
// word before the date can have.
int64_t sizeBefore(const QNFTPListingWords &words, int k)
{
    const int s = k - 1;
    const int64_t exact = words.number(s);
    if (exact >= 0)
        return exact;
    const int64_t named = QNFTPResourceListing::namedSize(words.bytes(s));
    if (named >= 0)
        return named;
    if (s != 3 || words.number(1) < 0)
        return -1;
    const QByteArrayView w = words.bytes(s);
    qsizetype digits = w.size();
    while (digits > 0 && isDigit(w[digits - 1]))
        --digits;
    if (digits == 0 || digits == w.size())
        return -1;
    return QNFTPListingWords::digitsValue(w.sliced(digits));
}

// Whether words from k on may be a date this reader does not know: a month
// name, a short number, a year, or digits joined by date or time marks. A
// line that holds one is no line without a date (its name would be wrong).
bool holdsDateLikeWord(const QNFTPListingWords &words, int k)
{
    for (int i = k; i < words.count() && i < k + 4; ++i) {
        const QByteArrayView w = words.bytes(i);
        const int64_t n = words.number(i);
        if ((n >= 0 && (w.size() <= 2 || (n >= 1900 && n < 2100))) ||
            (isDigit(w[0]) && std::any_of(w.begin(), w.end(), [](char c) { return std::strchr("-/.:", c) && c; })) ||
            QNFTPListingDate::monthOf(words.text(i)) >= 0)
            return true;
    }
    return false;
}

void takeName(QNFTPResourceListing::Entry &e, const char *line, int32_t nameStart, int32_t len)
{
    e.name = line + nameStart;
    e.namelen = len - nameStart;
    if (e.kind != QNFTPResourceListing::Kind::Link)
        return;
    for (int32_t i = 0; i + 3 < e.namelen; ++i) {
        if (e.name[i] == ' ' && e.name[i + 1] == '-' && e.name[i + 2] == '>' && e.name[i + 3] == ' ') {
            e.target = e.name + i + 4;
            e.targetlen = e.namelen - i - 4;
            e.namelen = i;
            break;
        }
    }
}

}  // namespace

int64_t QNFTPResourceListing::namedSize(QByteArrayView word)
{
    // Digits, an optional fraction, a unit letter, an optional "B" or "iB".
    qsizetype i = 0;
    while (i < word.size() && isDigit(word[i]))
        ++i;
    const qsizetype whole = i;
    if (whole == 0 || whole > 12)
        return -1;
    qsizetype fractionEnd = i;
    if (i < word.size() && word[i] == '.') {
        fractionEnd = ++i;
        while (fractionEnd < word.size() && isDigit(word[fractionEnd]))
            ++fractionEnd;
        if (fractionEnd == i || fractionEnd - i > 3)
            return -1;
    }
    if (fractionEnd >= word.size())
        return -1;
    const char units[] = "KMGT";
    const char letter = char(word[fractionEnd] & ~0x20);
    const char *unit = letter ? std::strchr(units, letter) : nullptr;
    if (!unit)
        return -1;
    const QByteArrayView rest = word.sliced(fractionEnd + 1);
    if (!rest.isEmpty() && rest != "B" && rest != "b" && rest != "iB")
        return -1;
    // Digits read by hand: the C library's reading follows the locale's decimal mark.
    long double value = 0;
    long double scale = 1;
    for (qsizetype j = 0; j < fractionEnd; ++j) {
        if (word[j] == '.')
            continue;
        value = value * 10 + (word[j] - '0');
        if (j > whole)
            scale *= 10;
    }
    const long double bytes = value / scale * std::pow(1024.0L, int(unit - units + 1));
    return bytes < 4.0e18L ? int64_t(std::llroundl(bytes)) : -1;
}

QNFTPResourceListing::Entry QNFTPResourceListing::classify(const char *line, int32_t len, int64_t now,
                                                           QNStringEncoding *encoding)
{
    Entry e;
    const QNFTPListingWords words(line, len, encoding);
    if (words.count() == 0) {
        e.status = Status::NoEntry;
        return e;
    }
    if (!isPermissions(words.at(0), words.size(0))) {
        // "total 120", "insgesamt 12K", "итого 8": a summary, no entry.
        if (words.count() == 2) {
            QByteArray amount = words.bytes(1).toByteArray();
            if (amount.endsWith('K') || amount.endsWith('k') || amount.endsWith('M'))
                amount.chop(1);
            const QByteArrayView word = words.bytes(0);
            const bool wordHasDigit = std::any_of(word.begin(), word.end(), isDigit);
            if (QNFTPListingWords::digitsValue(amount) >= 0 && !wordHasDigit && word[0] != '+')
                e.status = Status::NoEntry;
        }
        return e;
    }
    const char type = words.at(0)[0];
    e.kind = type == 'd' ? Kind::Folder : (type == 'l' ? Kind::Link : Kind::File);

    // The size is the column just before the date; link count, owner and
    // group come before it, any of them may be missing.
    const bool hasLinkCount = words.number(1) >= 0;
    for (int k = 2; k <= 6 && k + 1 < words.count(); ++k) {
        const int64_t size = sizeBefore(words, k);
        if (size < 0)
            continue;
        QNFTPListingDate d;
        int last = 0;
        // Bare numbers are a date only after link count, owner and group.
        if (!d.read(words, k, last, hasLinkCount && (k == 4 || k == 5)))
            continue;
        // The name follows the date after one blank; it may begin with blanks.
        const int32_t nameStart = words.end(last) + 1;
        if (nameStart >= len)
            continue;
        e.status = Status::Entry;
        e.hasSize = true;
        e.size = size;
        takeName(e, line, nameStart, len);
        if (const auto seconds = d.seconds(now)) {
            e.hasDate = true;
            e.date = *seconds;
        }
        return e;
    }

    // No date at all ("-rw-r--r-- 1 owner group 1234 name"), as some
    // embedded servers list: only with every column before the name.
    if (words.count() > 5 && hasLinkCount && words.number(4) >= 0 && !holdsDateLikeWord(words, 5)) {
        e.status = Status::Entry;
        e.hasSize = true;
        e.size = words.number(4);
        takeName(e, line, words.end(4) + 1, len);
    }
    return e;
}
