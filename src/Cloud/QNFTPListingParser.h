#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <cstdint>

#include "Cloud/QNFTPResourceListing.h"

class QNStringEncoding;

// Reads FTP and SFTP directory listings: a whole listing buffer into named
// entries decoded in the drive's character encoding. Each line goes first to
// the ls-style classifier (QNFTPResourceListing); what it cannot classify is
// read here, one line at a time: EPLF and UNIX long listings with their
// NetWare and NetPresenz variants here, VMS, AS/400 and MVS by
// QNFTPHostListing, MS-DOS and OS/2 by QNFTPDOSListing. A line that no format
// reads is reported, never read into a guessed entry.
//
// Number fields must be digits: a line with anything else there is not read
// at all rather than read into a wrong name, size or date.
//
// Dates follow the servers' habits (QNFTPListingDate): a UNIX line shows a
// time of day instead of a year for recent files, so the year is the one
// that puts the date at most 350 days in the past; two-digit years below 50
// are 20xx. Wall clock times are read as UTC.
class QNFTPListingParser {
public:
    // One parsed line. name and id point into the parsed line.
    struct Line {
        const char *name = nullptr;
        int32_t namelen = 0;
        int32_t flagtrycwd = 0;   // may be a directory
        int32_t flagtryretr = 0;  // may be a retrievable file
        int32_t sizetype = 0;     // 1: size is a byte count
        int64_t size = 0;
        int32_t mtimetype = 0;  // 0 none, 1 exact (seconds since 1970), 2 remote wall clock, 3 remote date only
        int64_t mtime = 0;
        int32_t idtype = 0;
        const char *id = nullptr;
        int32_t idlen = 0;
    };

    static constexpr int32_t MtimeUnknown = 0;
    static constexpr int32_t MtimeLocal = 1;
    static constexpr int32_t MtimeRemoteMinute = 2;
    static constexpr int32_t MtimeRemoteDay = 3;

    // Parses one line (without its line end). Returns true when understood.
    // now: the current time in seconds since 1970 (for the year guess).
    static bool parseLine(Line &entry, const char *line, int32_t len, int64_t now);
    static bool parseLine(Line &entry, const char *line, int32_t len);

    // 0 to 11 for a three-letter month name in any mix of cases, else -1.
    static int month(const char *text, int32_t len);
    // Seconds from 1970-01-01 00:00 to the start of the day (month 0-11).
    static int64_t daySeconds(int64_t year, int64_t month, int64_t day);
    // For a date shown without a year: the start of that day in the year
    // that puts it less than 350 days before now (seconds since 1970), or -1.
    static int64_t guessYear(int64_t month, int64_t day, int64_t now);
    // The offset of the system clock's epoch from 1970-01-01 (0 here).
    static int64_t base();

    // One entry of a listing, decoded.
    struct Item {
        using Kind = QNFTPResourceListing::Kind;
        QString name;
        QByteArray rawName;
        Kind kind = Kind::File;
        QByteArray linkTarget;  // a link's target as listed (may be empty)
        bool isDirectory = false;
        bool hasSize = false;
        qint64 size = 0;
        QDateTime date;  // invalid when the line gave none
    };

    struct Result {
        QList<Item> items;
        // Lines whose name cannot be a document here (empty, ".", "..", or
        // holding "/" or NUL), as raw text for the log.
        QList<QByteArray> droppedNames;
        // Lines that no format reads (not summaries or blank lines).
        QList<QByteArray> unreadLines;
    };

    // Parses every line of the buffer and removes what it consumed. A last
    // line without a line end counts only when atEnd is set (the transfer is
    // over); otherwise it stays in the buffer for more data.
    static Result parseListing(QByteArray &buffer, bool atEnd, QNStringEncoding &encoding, int64_t now);
    static Result parseListing(QByteArray &buffer, bool atEnd, QNStringEncoding &encoding);

    // The date of a parsed line: exact times as they are, remote wall-clock
    // times read as UTC; invalid when none or out of range.
    static QDateTime dateOf(const Line &entry);

    // Whether raw name bytes can name a document in a folder.
    static bool isAcceptableName(const char *name, int32_t len);

    static int64_t currentTime();

private:
    // The formats other than ls-style lines: EPLF, the UNIX variants the
    // classifier leaves, VMS, AS/400, MVS, MS-DOS and OS/2.
    static QNFTPResourceListing::Status readOtherFormats(Line &entry, const char *line, int32_t len, int64_t now,
                                                         QNStringEncoding *encoding);
};
