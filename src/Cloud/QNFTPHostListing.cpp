#include "Cloud/QNFTPHostListing.h"

#include "Cloud/QNFTPDOSListing.h"
#include "Cloud/QNFTPListingDate.h"
#include "Cloud/QNFTPListingWords.h"

#include <algorithm>

namespace {

using Entry = QNFTPResourceListing::Entry;
using Kind = QNFTPResourceListing::Kind;
using Status = QNFTPResourceListing::Status;

Entry noEntry()
{
    Entry e;
    e.status = Status::NoEntry;
    return e;
}

bool isUpperAlnum(QByteArrayView w)
{
    return !w.isEmpty() && std::all_of(w.begin(), w.end(), [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '$' || c == '#' || c == '@';
    });
}

void setDate(Entry &e, const QNFTPListingDate &d, int64_t now)
{
    if (const auto seconds = d.seconds(now)) {
        e.hasDate = true;
        e.date = *seconds;
    }
}

// The position of the ";" that ends a VMS name in the first word, with a
// version of digits after it; -1 when the word is no VMS name.
qsizetype vmsVersionMark(QByteArrayView word)
{
    const qsizetype semi = word.indexOf(';');
    if (semi < 1 || QNFTPListingWords::digitsValue(word.sliced(semi + 1)) < 0)
        return -1;
    return semi;
}

// "7" blocks, "4/6" (used/allocated blocks of 512 bytes) or "2KB".
int64_t vmsSize(QByteArrayView w)
{
    const qsizetype slash = w.indexOf('/');
    const int64_t blocks = QNFTPListingWords::digitsValue(slash < 0 ? w : w.first(slash));
    if (blocks >= 0 && blocks < (int64_t(1) << 50) &&
        (slash < 0 || QNFTPListingWords::digitsValue(w.sliced(slash + 1)) >= 0))
        return blocks * 512;
    return QNFTPResourceListing::namedSize(w);
}

bool isVMSOwner(QByteArrayView w)
{
    return w.size() > 2 && w.front() == '[' && w.back() == ']';
}

Entry readVMS(const QNFTPListingWords &words, int64_t now)
{
    const QByteArrayView first = words.bytes(0);
    // "Directory DISK$USER:[USER]", "Total of 3 files, 12/18 blocks.",
    // "Grand total of 2 directories, 5 files, 33/54 blocks."
    if ((first == "Directory" && words.count() == 2 && words.bytes(1).contains(':')) ||
        (first == "Total" && words.bytes(1) == "of") ||
        (first == "Grand" && words.bytes(1) == "total" && words.bytes(2) == "of"))
        return noEntry();
    const qsizetype semi = vmsVersionMark(first);
    if (semi < 0)
        return Entry();
    Entry e;
    int k = 1;
    if (k < words.count() && isVMSOwner(words.bytes(k)))
        ++k;
    int64_t size = -1;
    QNFTPListingDate d;
    int last = 0;
    if (!d.read(words, k, last, false)) {
        if (k >= words.count() || (size = vmsSize(words.bytes(k))) < 0 || !d.read(words, ++k, last, false))
            return Entry();
    }
    // Day, month name and year, then the time.
    const QByteArrayView date = words.bytes(k);
    const qsizetype dash = date.indexOf('-');
    if (d.year < 0 || last == k || date.count('-') != 2 || date.indexOf('-', dash + 1) != dash + 4)
        return Entry();
    e.status = Status::Entry;
    e.name = words.at(0);
    e.namelen = int32_t(semi);
    const bool folder = semi > 4 && first.first(semi).endsWith(".DIR");
    if (folder) {
        e.kind = Kind::Folder;
        e.namelen -= 4;
    } else if (size >= 0) {
        e.hasSize = true;
        e.size = size;
    }
    setDate(e, d, now);
    return e;
}

// AS/400: "OWNER size date time *TYPE name", or "OWNER *MEM name".
Entry readAS400(const QNFTPListingWords &words, int64_t now)
{
    const bool bare = words.count() >= 3 && words.bytes(1).startsWith('*');
    const int t = bare ? 1 : 4;
    if (words.count() <= t + 1 || !isUpperAlnum(words.bytes(0)))
        return Entry();
    const QByteArrayView type = words.bytes(t);
    if (type.size() < 3 || type[0] != '*' || !isUpperAlnum(type.sliced(1)))
        return Entry();
    Entry e;
    QNFTPListingDate d;
    if (!bare) {
        if ((e.size = words.number(1)) < 0 ||
            !d.readNumericDate(words.text(2), QNFTPListingDate::Order::MonthFirst) || !d.readTime(words.text(3)))
            return Entry();
        e.hasSize = true;
        setDate(e, d, now);
    }
    QByteArrayView name(words.at(t + 1), words.length() - words.begin(t + 1));
    // A *FILE holds members (a save file is the exception), so it lists as a folder.
    bool folder = type == "*DIR" || type == "*LIB" || type == "*FLR" ||
                  (type == "*FILE" && !name.toByteArray().toUpper().endsWith(".SAVF"));
    if (name.endsWith('/')) {
        name.chop(1);
        folder = true;
    }
    if (name.contains('/')) {
        // A member of the file listed above it belongs to that file's listing.
        if (type == "*MEM" || !name.startsWith('/'))
            return noEntry();
        name = name.sliced(name.lastIndexOf('/') + 1);
    }
    e.status = Status::Entry;
    e.kind = folder ? Kind::Folder : Kind::File;
    if (folder) {
        e.hasSize = false;
        e.size = 0;
    }
    e.name = name.data();
    e.namelen = int32_t(name.size());
    return e;
}

// "2004/06/23" as MVS writes it.
bool readMVSDate(const QNFTPListingWords &words, int k, QNFTPListingDate &d)
{
    return words.size(k) == 10 && words.at(k)[4] == '/' &&
           d.readNumericDate(words.text(k), QNFTPListingDate::Order::MonthFirst);
}

Entry readMVS(const QNFTPListingWords &words, int64_t now)
{
    const QByteArrayView first = words.bytes(0);
    if ((first == "Volume" && words.bytes(1) == "Unit") || (first == "Name" && words.bytes(1) == "VV.MM"))
        return noEntry();
    Entry e;
    if (first == "Pseudo" && words.count() == 3 && words.bytes(1) == "Directory") {
        e.status = Status::Entry;
        e.kind = Kind::Folder;
        e.name = words.at(2);
        e.namelen = words.size(2);
        return e;
    }
    QNFTPListingDate d;
    // A data set: volume, unit, last referred date, extents, tracks used,
    // record format, record length, block size, organisation, name. Its size
    // in bytes is not listed.
    if (words.count() == 10 && isUpperAlnum(first) && readMVSDate(words, 2, d) && words.number(3) >= 0 &&
        words.number(4) >= 0 && words.number(6) >= 0 && words.number(7) >= 0) {
        const QByteArrayView org = words.bytes(8);
        if (org != "PO" && org != "PO-E" && org != "PS")
            return Entry();
        e.status = Status::Entry;
        e.kind = org == "PS" ? Kind::File : Kind::Folder;
        e.name = words.at(9);
        e.namelen = words.size(9);
        setDate(e, d, now);
        return e;
    }
    // A member: name, version.modification, created, changed date and time,
    // then counts of lines (not bytes) and the user id.
    const QByteArrayView vv = words.bytes(1);
    if (words.count() == 9 && words.size(0) <= 8 && vv.size() == 5 && vv[2] == '.' &&
        QNFTPListingWords::digitsValue(vv.first(2)) >= 0 && QNFTPListingWords::digitsValue(vv.sliced(3)) >= 0 &&
        readMVSDate(words, 2, d) && readMVSDate(words, 3, d) && d.readTime(words.text(4)) &&
        words.number(5) >= 0) {
        e.status = Status::Entry;
        e.kind = Kind::File;
        e.name = words.at(0);
        e.namelen = words.size(0);
        setDate(e, d, now);
        return e;
    }
    return Entry();
}

}  // namespace

bool QNFTPHostListing::isWrappedVMSName(const char *line, int32_t len)
{
    const QNFTPListingWords words(line, len, nullptr);
    return words.count() == 1 && words.begin(0) == 0 && vmsVersionMark(words.bytes(0)) > 0;
}

QNFTPResourceListing::Entry QNFTPHostListing::read(const char *line, int32_t len, int64_t now,
                                                   QNStringEncoding *encoding)
{
    const QNFTPListingWords words(line, len, encoding);
    if (words.count() < 2)
        return Entry();
    for (auto reader : {readVMS, readAS400, readMVS}) {
        const Entry e = reader(words, now);
        if (e.status != Status::Unclassified)
            return e;
    }
    return Entry();
}
