#pragma once

#include <QByteArrayView>
#include <QString>
#include <cstdint>

class QNStringEncoding;

// Classifies one line of an FTP or SFTP listing in the style of `ls -l`, as
// nearly every server sends it: permissions, then optional link count, owner
// and group columns, the size, a date (any form QNFTPListingDate reads) and
// the name. The size may be written as `ls -h` does ("33.5k"), or run into
// the group column when too wide for its own; a few servers write no date.
//
// Lines that are no ls-style entry are left unclassified for the line parser
// (EPLF, the older Unix variants, VMS, AS/400, MVS, MS-DOS, OS/2); summary
// lines ("total 12") and blank lines are no entry at all.
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

    // The bytes of a size as `ls -h` writes it ("33.5k", "2M", "1.5GiB"),
    // counted in units of 1024; -1 for any other word.
    static int64_t namedSize(QByteArrayView word);
};
