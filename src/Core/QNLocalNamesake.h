#pragma once

#include <QString>
#include <functional>
#include <sys/stat.h>
#include <sys/types.h>

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
//     already in place, and removing the source's name loses nothing. Only
//     on solid evidence (isSurelyOneFile()): a mount whose inode numbers are
//     neither stable nor unique (some FUSE and network file systems) can
//     give two files one number, and a move would then remove a file never
//     copied. Without it the two are apart, and copied as such.
// A folder reached by two paths is one folder: always its own entry.
// Device and inode say all this only of items on one file system that keeps
// numbers of its own (identityTells()): a folder mounted again through FUSE,
// or a network share mounted twice, shows other numbers, or numbers another
// machine gives. Items there are never one by their numbers here; whether
// they are one storage is asked as of two drives (QNAliasCheck).
class QNLocalNamesake {
public:
    enum class Kind { Apart, OwnEntry, LinkThroughSource, OtherName };

    // How the item at a path is looked at (links followed); false when it
    // cannot be. The default asks the disk; tests stand in for a mount
    // whose inode numbers repeat.
    using Look = std::function<bool(const QString &path, struct stat &info)>;

    // source: the item copied; target: the destination folder's entry of
    // its name. Absolute paths.
    static Kind of(const QString &source, const QString &target, const Look &look = {});

    // Whether device and inode tell the items at the two paths (links
    // followed) one or apart: both are there, on one device, of a file
    // system that gives its own numbers (not a network, FUSE or overlay
    // mount).
    static bool identityTells(const QString &a, const QString &b);
    // Device and inode of the item at a path (links followed); false when it
    // cannot be looked at.
    static bool identityOf(const QString &path, dev_t *device, ino_t *inode);

    // What the disk says of a file reached by a name (links followed).
    struct FileFacts {
        dev_t device = 0;
        ino_t inode = 0;
        nlink_t links = 0;      // names the file has
        off_t size = 0;
        QString canonicalPath;  // "" when it cannot be resolved
    };
    // Whether two names are surely one file: one device and inode, one size,
    // and either a file of more than one name (a hard link) or one canonical
    // path (links that lead to one file).
    static bool isSurelyOneFile(const FileFacts &a, const FileFacts &b);
};
