#include "Cloud/QNFTPDOSListing.h"

#include "Cloud/QNFTPListingDate.h"
#include "Cloud/QNFTPListingWords.h"

#include <algorithm>

namespace {

using Entry = QNFTPResourceListing::Entry;

bool isAmPm(QByteArrayView w)
{
    return w.size() == 2 && ((w[0] & ~0x20) == 'A' || (w[0] & ~0x20) == 'P') && (w[1] & ~0x20) == 'M';
}

// A 12-hour time's marker, in its own word or after the minutes.
bool applyAmPm(QNFTPListingDate &d, QByteArrayView marker)
{
    if (d.hour < 1 || d.hour > 12)
        return false;
    d.hour = (d.hour == 12 ? 0 : d.hour) + ((marker[0] & ~0x20) == 'P' ? 12 : 0);
    return true;
}

// The time after the date word, when the date reader did not take it:
// "07:15AM", or "07:15" then "PM". Sets last to the time's last word.
bool readTimeAfter(const QNFTPListingWords &words, QNFTPListingDate &d, int &last)
{
    const int k = last + 1;
    if (k >= words.count())
        return false;
    const QByteArrayView w = words.bytes(k);
    if (w.size() > 2 && isAmPm(w.last(2))) {
        if (!d.readTime(QString::fromLatin1(w.chopped(2))) || !applyAmPm(d, w.last(2)))
            return false;
        last = k;
        return true;
    }
    if (!d.readTime(QString::fromLatin1(w)))
        return false;
    last = k;
    return true;
}

Entry finish(const QNFTPListingWords &words, int nameWord, bool folder, int64_t size, const QNFTPListingDate &d,
             int64_t now)
{
    Entry e;
    if (nameWord >= words.count())
        return e;
    e.status = QNFTPResourceListing::Status::Entry;
    e.kind = folder ? QNFTPResourceListing::Kind::Folder : QNFTPResourceListing::Kind::File;
    e.hasSize = !folder;
    e.size = folder ? 0 : size;
    e.name = words.at(nameWord);
    e.namelen = words.length() - words.begin(nameWord);
    if (const auto seconds = d.seconds(now)) {
        e.hasDate = true;
        e.date = *seconds;
    }
    return e;
}

Entry readDOS(const QNFTPListingWords &words, int64_t now)
{
    QNFTPListingDate d;
    int last = 0;
    if (!d.read(words, 0, last, false) || d.year < 0 || d.today)
        return Entry();
    // The date reader takes a 24-hour time; a 12-hour one is read here.
    if (last == 0 && !readTimeAfter(words, d, last))
        return Entry();
    if (last + 1 < words.count() && isAmPm(words.bytes(last + 1))) {
        if (!applyAmPm(d, words.bytes(last + 1)))
            return Entry();
        ++last;
    }
    const int kind = last + 1;
    if (kind >= words.count())
        return Entry();
    if (words.bytes(kind) == "<DIR>")
        return finish(words, kind + 1, true, 0, d, now);
    int64_t size = QNFTPDOSListing::groupedSize(words.bytes(kind));
    if (size < 0)
        size = QNFTPResourceListing::namedSize(words.bytes(kind));
    if (size < 0)
        return Entry();
    return finish(words, kind + 1, false, size, d, now);
}

// OS/2: size, attributes ("A", "R", "HS" ...) and "DIR", date, time, name.
Entry readOS2(const QNFTPListingWords &words, int64_t now)
{
    const int64_t size = words.number(0);
    if (size < 0)
        return Entry();
    bool folder = false;
    int k = 1;
    for (; k < words.count() && k < 4; ++k) {
        const QByteArrayView w = words.bytes(k);
        if (w == "DIR") {
            folder = true;
            continue;
        }
        if (w.size() > 4 || w.toByteArray().toUpper() != w || !std::all_of(w.begin(), w.end(), [](char c) {
                return c == 'A' || c == 'R' || c == 'S' || c == 'H';
            }))
            break;
    }
    QNFTPListingDate d;
    if (k + 2 >= words.count() ||
        !d.readNumericDate(QString::fromLatin1(words.bytes(k)), QNFTPListingDate::Order::MonthFirst) ||
        !d.readTime(QString::fromLatin1(words.bytes(k + 1))))
        return Entry();
    return finish(words, k + 2, folder, size, d, now);
}

}  // namespace

int64_t QNFTPDOSListing::groupedSize(QByteArrayView word)
{
    const int64_t plain = QNFTPListingWords::digitsValue(word);
    if (plain >= 0 || word.isEmpty())
        return plain;
    // Groups of three digits after the first one to three, one separator.
    const char sep = word.contains(',') ? ',' : '.';
    qsizetype first = word.indexOf(sep);
    if (first < 1 || first > 3)
        return -1;
    int64_t value = 0;
    for (qsizetype i = 0; i < word.size(); ++i) {
        const char c = word[i];
        if (c == sep) {
            if ((word.size() - i - 1) % 4 != 3)
                return -1;
            continue;
        }
        if (c < '0' || c > '9' || (i > first && (word.size() - i) % 4 == 0) || value > 99999999999999LL)
            return -1;
        value = value * 10 + (c - '0');
    }
    return value;
}

QNFTPResourceListing::Entry QNFTPDOSListing::read(const char *line, int32_t len, int64_t now,
                                                  QNStringEncoding *encoding)
{
    const QNFTPListingWords words(line, len, encoding);
    if (words.count() < 3)
        return Entry();
    const Entry dos = readDOS(words, now);
    if (dos.status == QNFTPResourceListing::Status::Entry)
        return dos;
    return readOS2(words, now);
}
