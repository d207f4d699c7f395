#pragma once

#include <QString>

// The character encodings detected in the listings of drives set to
// "detect", kept for the rest of the session: a later download, upload or
// change in a folder whose listing was detected as Shift JIS sends that
// folder's names in Shift JIS. Keyed by drive (URL and user) and folder;
// a path takes the encoding of its nearest listed folder.
class QNFTPEncodingMemory {
public:
    static QString driveKey(const QString &url, const QString &username);
    static void remember(const QString &driveKey, const QString &folderPath, quint32 encoding);
    // 0 when nothing was detected on the path or above it.
    static quint32 lookup(const QString &driveKey, const QString &path);
    static void clear();
};
