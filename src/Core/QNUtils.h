#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

class QNDocument;

// Small stateless helpers shared by the core, the handlers and the windows:
// service dates, byte-size and time texts, UUID strings, display forms of
// drive captions and icon names, archive recognition and the address of a
// service found on the local network. Every function is safe on any thread.
class QNUtils {
public:
    QNUtils() = delete;

    // Reads the date texts the services send, trying in turn:
    //   yyyy-MM-ddTHH:mm:ss.SSS<zone>   (e.g. 2013-05-01T10:20:30.123+01:00)
    //   yyyy-MM-ddTHH:mm:ssZ            (UTC)
    //   yyyy-MM-ddTHH:mm:ss<zone>       (e.g. +0100, +01:00, Z, GMT+1)
    //   yyyy-MM-ddTHH:mm:ss.SSSZ        (UTC, any number of fraction digits)
    //   yyyy-MM-ddTHH:mm:ss             (first 19 characters, local time)
    //   EEE, dd MMM yyyy HH:mm:ss zone  (RFC 1123, English names)
    //   dd MMM yyyy HH:mm:ss zone
    // Answers the instant in UTC, or a null QDateTime when nothing matches.
    static QDateTime dateFromString(const QString &text);

    // "1.50 KB": two decimals, 1024-based units B, KB, MB, GB and TB, each
    // step taken when the value is strictly above 1024; negative counts read
    // as 0; the decimal separator is the user's locale's.
    static QString sizeString2(qint64 bytes);
    // The same with no decimals ("2 KB").
    static QString sizeString0(qint64 bytes);

    // "1.5G" -> 1610612736: a number followed by one of the case-sensitive
    // units B, K, M, G, T. Any other last character, or an empty text, gives 0.
    static qint64 sizeToNumber(const QString &text);

    // A fresh random UUID, 36 upper-case characters (8-4-4-4-12).
    static QString uuidString();

    // "m:ss" below an hour (either sign), else "h:mm:ss".
    static QString secondsToTime(qint32 seconds);

    // The index letter of a name: its first character in upper case, "#" for
    // a digit, "" for an empty name; a folder's letter gets a leading blank
    // when the user default "showFoldersFirst" is on.
    static QString indexCharFor(const QString &name, bool isDirectory);

    // Whether the path's extension names an archive (zip, rar, tar, iso ...).
    static bool fileIsArchive(const QString &path);

    // The current icon name for an old one; other names pass unchanged.
    static QString redesignImageFor(const QString &imageName);

    // Turns the upper-case drive captions into their display form
    // ("DROPBOX" -> "Dropbox"); mixed-case text passes unchanged.
    static QString decapName(const QString &caption);
    static QString decapDescription(const QString &caption);

    // The "host:port" text of a resolved network service, from its socket
    // addresses (raw sockaddr_in / sockaddr_in6 bytes, in resolution order):
    // the first IPv4 or IPv6 address with a non-zero port. IPv6 addresses are
    // written in brackets, with their zone when they have one, in the form a
    // URL takes ("[fe80::1%25eth0]:8080"). A null QString when none fits.
    static QString addressForNetService(const QList<QByteArray> &socketAddresses);

    // A drive path without its trailing slashes ("/" stays "/").
    static QString withoutTrailingSlashes(QString path);
    // A folder's path as the drive names it, for messages: "/" for the top.
    static QString shownFolderPath(const QNDocument &folder);
    // A name in a drive folder: "/a" and "b" give "/a/b", "/" and "b" "/b".
    static QString joinedPath(const QString &folder, const QString &name);
    // The name an entry goes by: its display name, else its path's last component.
    static QString nameOf(const QNDocument &document);
    // A name or path as the local disk gives it back once written: a
    // character the disk's encoding has no form for (the escape of a byte a
    // server's name held that its encoding could not read) comes back as
    // U+FFFD, so "caf\xE9.txt" and "caf\xE8.txt" are one file here.
    static QString asOnLocalDisk(const QString &path);
};
