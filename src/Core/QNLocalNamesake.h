#pragma once

#include <QString>

// How an item of the local disk and the item its copy would replace (the
// destination folder's entry of its name) are related. Device and inode tell
// whether the two are one file; then which names reach it matters:
//   - the destination is the source's own entry (the same path, or the same
//     folder reached through a link): writing there writes the file onto
//     itself, and a move would remove the only copy;
//   - the destination is a link whose chain passes through the source's
//     name: a copy replaces the link with a file of its own, after which the
//     source's name may go;
//   - otherwise another name holds the same bytes (a hard link, as `cp -al`
//     and snapshot backups make, or two links to one file): the file is
//     already in place, and removing the source's name loses nothing.
// A folder reached by two paths is one folder: always its own entry.
class QNLocalNamesake {
public:
    enum class Kind { Apart, OwnEntry, LinkThroughSource, OtherName };

    // source: the item copied; target: the destination folder's entry of
    // its name. Absolute paths.
    static Kind of(const QString &source, const QString &target);
};
