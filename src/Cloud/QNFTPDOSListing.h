#pragma once

#include "Cloud/QNFTPResourceListing.h"

#include <QByteArrayView>
#include <cstdint>

class QNStringEncoding;

// Reads the listing lines of MS-DOS style servers (IIS and most Windows
// servers) and of OS/2:
//   "11-05-12  07:15AM       <DIR>          backup"
//   "2012-11-05  19:15            9,730 report.doc"
//   "Oct 08, 2002 09:47          33.5k notes.txt"
//   "     2947      A          03-12-97   13:16  CONFIG.SYS"  (OS/2)
//   "        0           DIR   08-20-98   12:27  BACKUP"      (OS/2)
// Dates are month first unless dotted or year first; times may be 12-hour.
class QNFTPDOSListing {
public:
    // An entry, or Unclassified when the line is in neither form.
    static QNFTPResourceListing::Entry read(const char *line, int32_t len, int64_t now, QNStringEncoding *encoding);

    // A byte count with or without thousands separators ("9730", "9,730",
    // "1.234.567"); -1 for any other word.
    static int64_t groupedSize(QByteArrayView word);
};
