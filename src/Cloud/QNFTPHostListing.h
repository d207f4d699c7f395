#pragma once

#include "Cloud/QNFTPResourceListing.h"

#include <cstdint>

class QNStringEncoding;

// Reads the listing lines of the host systems' FTP servers:
//   VMS:    "DATA.DIR;1   2/3   14-FEB-2003 09:41:10  [OWNER]  (RWE,RWE,RE,RE)"
//           (size in blocks, "blocks/allocated" or "2KB"; the owner may come
//           before the size; a long name stands on a line of its own and the
//           rest follows on the next, which the listing reader joins)
//   AS/400: "QSYS   77824 02/23/00 15:09:55 *DIR   QSYS/"
//   MVS:    "WYNKD1 3390   2004/06/23  1   15  FB      80  3120  PO  ISPF.ISPPROF"
//           and the members of a partitioned data set.
// Summary and header lines of these systems are no entry.
class QNFTPHostListing {
public:
    // An entry, NoEntry for a header or summary, or Unclassified.
    static QNFTPResourceListing::Entry read(const char *line, int32_t len, int64_t now, QNStringEncoding *encoding);

    // Whether the line is a VMS name alone ("A_LONG_NAME.TXT;1"), whose
    // columns follow on the next line.
    static bool isWrappedVMSName(const char *line, int32_t len);
};
