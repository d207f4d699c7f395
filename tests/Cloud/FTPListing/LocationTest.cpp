// URLs and server paths of FTP and SFTP drives.
#include "Cloud/QNFTPLocation.h"
#include "Cloud/QNStringEncoding.h"

#include <gtest/gtest.h>

namespace {

QByteArray folder(const QString &drive, const QString &path, quint32 encoding = QNStringEncoding::UTF8)
{
    QNStringEncoding enc(encoding);
    auto r = QNFTPLocation(drive).folderUrl(path, enc);
    return r.ok() ? r.bytes : "ERROR: " + r.error.toUtf8();
}

QByteArray file(const QString &drive, const QString &path, quint32 encoding = QNStringEncoding::UTF8)
{
    QNStringEncoding enc(encoding);
    auto r = QNFTPLocation(drive).fileUrl(path, enc);
    return r.ok() ? r.bytes : "ERROR: " + r.error.toUtf8();
}

TEST(FTPLocation, BaseUrlWithOrWithoutFinalSlashIsTheSame)
{
    QNStringEncoding enc(QNStringEncoding::UTF8);
    EXPECT_EQ(QNFTPLocation("ftp://h:21").baseUrl(enc).bytes, QByteArray("ftp://h:21/"));
    EXPECT_EQ(QNFTPLocation("ftp://h:21/").baseUrl(enc).bytes, QByteArray("ftp://h:21/"));
    EXPECT_EQ(QNFTPLocation("ftp://h/dir").baseUrl(enc).bytes, QByteArray("ftp://h/dir/"));
    EXPECT_EQ(QNFTPLocation("ftp://h/dir//").baseUrl(enc).bytes, QByteArray("ftp://h/dir/"));
}

TEST(FTPLocation, PathsJoinTheDriveFolderOnceEachNameEncodedAndUnsafeNamesRefused)
{
    const QByteArray refused = "ERROR";
    const std::vector<std::tuple<bool, QString, QString, quint32, QByteArray>> rows{
        // folder?, drive url, path, encoding, url or refused
        {true, "ftp://h", "/", QNStringEncoding::UTF8, "ftp://h/"},
        {true, "ftp://h", "/docs", QNStringEncoding::UTF8, "ftp://h/docs/"},
        {true, "ftp://h/", "/docs/", QNStringEncoding::UTF8, "ftp://h/docs/"},
        {true, "ftp://h/base/", "docs", QNStringEncoding::UTF8, "ftp://h/base/docs/"},
        {false, "ftp://h/base", "/docs/a.txt", QNStringEncoding::UTF8, "ftp://h/base/docs/a.txt"},
        {false, "ftp://h", "/", QNStringEncoding::UTF8, refused},
        {false, "ftp://h", "/a b/#1?x%.txt", QNStringEncoding::UTF8, "ftp://h/a%20b/%231%3Fx%25.txt"},
        {false, "ftp://h", QString::fromUtf8("/Grüße"), QNStringEncoding::UTF8, "ftp://h/Gr%C3%BC%C3%9Fe"},
        {false, "ftp://h", QString::fromUtf8("/日本"), QNStringEncoding::ShiftJIS, "ftp://h/%93%FA%96%7B"},
        {false, "ftp://h", "/it's \"q\"", QNStringEncoding::UTF8, "ftp://h/it%27s%20%22q%22"},
        // The drive URL's own path is escaped once only.
        {true, "ftp://h/my dir/%41b", "/x", QNStringEncoding::UTF8, "ftp://h/my%20dir/%41b/x/"},
        // Line breaks, NUL, dot segments and names without a form in the encoding.
        {false, "ftp://h", "/a\r\nDELE x", QNStringEncoding::UTF8, refused},
        {false, "ftp://h", QStringLiteral("/a") + QChar(0) + QStringLiteral("b"), QNStringEncoding::UTF8, refused},
        {false, "ftp://h", "/a/../../etc/passwd", QNStringEncoding::UTF8, refused},
        {true, "ftp://h", "/./", QNStringEncoding::UTF8, refused},
        {false, "ftp://h", QString::fromUtf8("/日本"), QNStringEncoding::ASCII, refused},
    };
    for (const auto &[isFolder, drive, path, encoding, expected] : rows) {
        const QByteArray got = isFolder ? folder(drive, path, encoding) : file(drive, path, encoding);
        if (expected == refused)
            EXPECT_TRUE(got.startsWith(refused)) << path.toStdString() << " gave " << got.constData();
        else
            EXPECT_EQ(got, expected) << path.toStdString();
    }
    QNStringEncoding enc(QNStringEncoding::UTF8);
    EXPECT_FALSE(QNFTPLocation::nameBytes("a\nb", enc).ok());
}

TEST(FTPLocation, SftpServerPathsAndQuoting)
{
    QNStringEncoding enc(QNStringEncoding::UTF8);
    QNFTPLocation sftp("sftp://h:22/srv/my%20data/");
    EXPECT_TRUE(sftp.isSFTP());
    EXPECT_EQ(sftp.serverPath("/a b/c\"d", enc).bytes, QByteArray("/srv/my data/a b/c\"d"));
    EXPECT_EQ(QNFTPLocation("sftp://h").serverPath("/x/", enc).bytes, QByteArray("/x"));
    EXPECT_EQ(QNFTPLocation("sftp://h/~/").serverPath("/x", enc).bytes, QByteArray("/~/x"));
    EXPECT_EQ(QNFTPLocation::sftpQuoted("/a \"b\" \\c"), QByteArray("\"/a \\\"b\\\" \\\\c\""));
    EXPECT_TRUE(QNFTPLocation("SFTP://h").isSFTP());
    EXPECT_FALSE(QNFTPLocation("ftp://h").isSFTP());
    EXPECT_FALSE(QNFTPLocation("sftp://h/a%0Ab").serverPath("/x", enc).ok());
}

TEST(FTPLocation, PathHelpers)
{
    EXPECT_EQ(QNFTPLocation::parentPath("/a/b/"), QStringLiteral("/a/"));
    EXPECT_EQ(QNFTPLocation::parentPath("/a"), QStringLiteral("/"));
    EXPECT_EQ(QNFTPLocation::lastComponent("/a/b/"), QStringLiteral("b"));
    EXPECT_EQ(QNFTPLocation::lastComponent("/"), QString());
    EXPECT_EQ(QNFTPLocation::join("/a/", "b"), QStringLiteral("/a/b"));
    EXPECT_EQ(QNFTPLocation::join("/a", "b"), QStringLiteral("/a/b"));
    EXPECT_EQ(QNFTPLocation::join("", "b"), QStringLiteral("/b"));
}

}  // namespace
