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

TEST(FTPLocation, PathsJoinTheDriveFolderWithOneSlashWhateverTheDriveUrl)
{
    EXPECT_EQ(folder("ftp://h", "/"), QByteArray("ftp://h/"));
    EXPECT_EQ(folder("ftp://h", "/docs"), QByteArray("ftp://h/docs/"));
    EXPECT_EQ(folder("ftp://h/", "/docs/"), QByteArray("ftp://h/docs/"));
    EXPECT_EQ(folder("ftp://h/base/", "docs"), QByteArray("ftp://h/base/docs/"));
    EXPECT_EQ(file("ftp://h/base", "/docs/a.txt"), QByteArray("ftp://h/base/docs/a.txt"));
    EXPECT_TRUE(file("ftp://h", "/").startsWith("ERROR"));
}

TEST(FTPLocation, EachNameIsPercentEncodedInTheDriveEncoding)
{
    EXPECT_EQ(file("ftp://h", "/a b/#1?x%.txt"), QByteArray("ftp://h/a%20b/%231%3Fx%25.txt"));
    EXPECT_EQ(file("ftp://h", QString::fromUtf8("/Grüße")), QByteArray("ftp://h/Gr%C3%BC%C3%9Fe"));
    EXPECT_EQ(file("ftp://h", QString::fromUtf8("/日本"), QNStringEncoding::ShiftJIS), QByteArray("ftp://h/%93%FA%96%7B"));
    EXPECT_EQ(file("ftp://h", "/it's \"q\""), QByteArray("ftp://h/it%27s%20%22q%22"));
}

TEST(FTPLocation, TheDriveUrlsOwnPathIsEscapedOnceOnly)
{
    EXPECT_EQ(folder("ftp://h/my dir/%41b", "/x"), QByteArray("ftp://h/my%20dir/%41b/x/"));
}

TEST(FTPLocation, LineBreaksNulAndDotSegmentsAreRefused)
{
    EXPECT_TRUE(file("ftp://h", "/a\r\nDELE x").startsWith("ERROR"));
    EXPECT_TRUE(file("ftp://h", QStringLiteral("/a") + QChar(0) + QStringLiteral("b")).startsWith("ERROR"));
    EXPECT_TRUE(file("ftp://h", "/a/../../etc/passwd").startsWith("ERROR"));
    EXPECT_TRUE(folder("ftp://h", "/./").startsWith("ERROR"));
    QNStringEncoding enc(QNStringEncoding::UTF8);
    EXPECT_FALSE(QNFTPLocation::nameBytes("a\nb", enc).ok());
}

TEST(FTPLocation, NamesWithoutAFormInTheEncodingAreRefused)
{
    EXPECT_TRUE(file("ftp://h", QString::fromUtf8("/日本"), QNStringEncoding::ASCII).startsWith("ERROR"));
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
