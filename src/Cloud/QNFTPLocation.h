#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

class QNStringEncoding;

// Where things are on an FTP or SFTP drive: the URLs of folders and files
// and the server paths of SFTP commands, all built the same way from the
// drive's URL, so that listing, transfers and changes act on the same
// folder whatever the drive URL's path.
//
// Document paths are slash-separated and relative to the drive URL's folder
// ("/" is that folder). Each name is converted to the drive's encoding and
// percent-encoded on its own, so spaces, "#", "?", "%" and non-ASCII letters
// reach the server as they are; names holding CR, LF or NUL are refused, as
// are "." and ".." components.
class QNFTPLocation {
public:
    // A URL typed without a scheme gets sftp:// on an SFTP drive, else
    // ftp://; any scheme but ftp, ftps and sftp makes every URL an error.
    explicit QNFTPLocation(const QString &driveUrl, bool sftpDrive = false);

    // Bytes, or an error text for the user.
    struct Result {
        QByteArray bytes;
        QString error;
        bool ok() const { return error.isNull(); }
    };

    // SFTP when the URL's scheme is sftp (in any case, or none on an SFTP drive).
    bool isSFTP() const { return m_sftp; }

    // The drive URL with a final "/".
    Result baseUrl(QNStringEncoding &encoding) const;
    // A folder's URL, ending in "/".
    Result folderUrl(const QString &path, QNStringEncoding &encoding) const;
    // A file's URL.
    Result fileUrl(const QString &path, QNStringEncoding &encoding) const;
    // SFTP: the path on the server, for quote commands (absolute, or
    // starting with "/~/" for a drive URL relative to the home folder).
    Result serverPath(const QString &path, QNStringEncoding &encoding) const;
    // One name as raw bytes in the encoding (FTP commands).
    static Result nameBytes(const QString &name, QNStringEncoding &encoding);

    // A server path between double quotes, with backslashes and quotes
    // escaped, as SFTP quote commands read it.
    static QByteArray sftpQuoted(const QByteArray &path);
    static QByteArray percentEncoded(const QByteArray &bytes);
    static bool holdsControlBreaks(const QString &text);

    // Path helpers on document paths.
    // A link target as the server gives it, as a drive path: a relative
    // one stays relative; an absolute one outside the drive's folder is
    // left as it is.
    QString drivePathOf(const QString &target) const;
    static QStringList segments(const QString &path);
    static QString join(const QString &folder, const QString &name);
    static QString parentPath(const QString &path);
    static QString lastComponent(const QString &path);

private:
    Result encodedSegments(const QString &path, QNStringEncoding &encoding, bool percent) const;
    Result basePath(QNStringEncoding &encoding) const;

    QByteArray m_prefix;  // scheme://authority
    QString m_path;       // the drive URL's path as typed, without final "/"
    QString m_schemeError;
    bool m_sftp = false;
};
