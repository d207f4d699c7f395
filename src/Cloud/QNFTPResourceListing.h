#pragma once

#include <QString>
#include <cstdint>

class QNStringEncoding;

// Classifies one line of an FTP or SFTP listing in the style of `ls -l`, as
// nearly every server sends it: permissions, then optional link count, owner
// and group columns, the size, a date and the name. The date may be written
// in any of the forms servers use:
//   - month name, day, then time of day or year ("Mar  3 14:05", "Mar 3 2009"),
//     with English or localized month names ("Mär", "janv.", "мар", " 3月"),
//   - day before month ("29 Jul 02:27", "29. Jul 2020"),
//   - ISO ("2020-03-03 14:05", with seconds and a zone offset as
//     `ls --full-time` writes them) and numeric ("03/03/2020", "03.03.2020").
// Times carry no zone in a listing; they are read as UTC, which is what FTP
// servers list in unless told otherwise. A time of day without a year gets
// the year that puts the date at most 350 days in the past.
//
// Lines that are no ls-style entry are left unclassified for the line parser
// (EPLF, VMS, MS-DOS and the rarer Unix variants); summary lines ("total 12")
// and blank lines are no entry at all.
class QNFTPResourceListing {
public:
    enum class Status { NoEntry, Unclassified, Entry };
    enum class Kind { File, Folder, Link };

    struct Entry {
        Status status = Status::Unclassified;
        Kind kind = Kind::File;
        // Both point into the classified line.
        const char *name = nullptr;
        int32_t namelen = 0;
        const char *target = nullptr;  // a link's target, as listed
        int32_t targetlen = 0;
        bool hasSize = false;
        int64_t size = 0;
        bool hasDate = false;
        int64_t date = 0;  // seconds since 1970-01-01 00:00 UTC
    };

    // line has no line end. now: the current time in seconds since 1970.
    // encoding: the listing's, for month names not in UTF-8 (may be null).
    static Entry classify(const char *line, int32_t len, int64_t now, QNStringEncoding *encoding = nullptr);

    // 0 to 11 for a month name or abbreviation in one of the listed
    // languages (any case, a final "." ignored), or "3月"/"3월"; else -1.
    static int month(const QString &word);
};
