#pragma once

#include <QString>

// The FTP drives whose server refused "LIST -a" (the listing that shows
// names starting with a dot), kept for the rest of the session so that
// later listings on the drive go straight to plain LIST. Keyed like
// QNFTPEncodingMemory (drive URL and user).
class QNFTPListingCommandMemory {
public:
    static bool refusesHiddenListing(const QString &driveKey);
    static void rememberRefusal(const QString &driveKey);
    static void clear();
};
