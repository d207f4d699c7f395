#include "Platform/VNError.h"
#include "Platform/VNKeyedArchive.h"
#include "Platform/VNLog.h"
#include "Platform/VNTempDirectory.h"
#include "Platform/VNUserDefaults.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <gtest/gtest.h>
#include <sys/stat.h>

TEST(Error, DescriptionFromUserInfoOrGeneric) {
    auto e = VNError::withDescription("Domain", 3, "Broken");
    EXPECT_EQ(e->localizedDescription(), "Broken");
    VNError bare("Other", 42);
    EXPECT_TRUE(bare.localizedDescription().contains("Other"));
    EXPECT_TRUE(bare.localizedDescription().contains("42"));
}

TEST(UserDefaults, FileIsOwnerOnlyAndValuesRoundTrip) {
    auto dir = VNTest::makeTempDir();
    const QString path = dir->path() + "/cfg/defaults.ini";
    {
        VNUserDefaults defaults(path);
        defaults.setObject(QByteArray("\x00\x01binary", 8), "clouddrives");
        defaults.setObject(QStringLiteral("tokén"), "box-refresh-token:42");
        defaults.setBool(true, "showFoldersFirst");
        VNErrorPtr error;
        ASSERT_TRUE(defaults.synchronize(&error));
    }
    struct stat st {};
    ASSERT_EQ(::stat(path.toLocal8Bit().constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    VNUserDefaults again(path);
    EXPECT_EQ(again.dataForKey("clouddrives"), QByteArray("\x00\x01binary", 8));
    EXPECT_EQ(again.stringForKey("box-refresh-token:42"), QStringLiteral("tokén"));
    EXPECT_TRUE(again.boolForKey("showFoldersFirst"));
    EXPECT_TRUE(again.stringForKey("missing").isNull());
}

TEST(UserDefaults, FailedWriteIsReported) {
    // A regular file where the folder should be: no one, not even root, can
    // write the defaults file below it.
    auto dir = VNTest::makeTempDir();
    ASSERT_TRUE(VNTest::writeFile(dir->path() + "/blocker", "x"));
    VNUserDefaults defaults(dir->path() + "/blocker/defaults.ini");
    defaults.setObject(1, "x");
    VNErrorPtr error;
    EXPECT_FALSE(defaults.synchronize(&error));
    ASSERT_TRUE(error);
    EXPECT_TRUE(error->localizedDescription().contains("could not be written"));
}

TEST(TempDirectory, PrivateFolderClearedExceptKept) {
    const QString tmp = VNTempDirectory::path();
    EXPECT_FALSE(tmp.startsWith("/tmp/") && QFileInfo(tmp).dir().path() == "/tmp");
    struct stat st {};
    ASSERT_EQ(::stat(tmp.toLocal8Bit().constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    VNTest::writeFile(tmp + "/a/b.txt", "x");
    VNTest::writeFile(tmp + "/keep/c.txt", "y");
    VNTest::writeFile(tmp + "/d.txt", "z");
    EXPECT_TRUE(VNTempDirectory::clearContents([](const QString &p) { return p.endsWith("/keep"); }));
    EXPECT_FALSE(QFileInfo::exists(tmp + "/a"));
    EXPECT_FALSE(QFileInfo::exists(tmp + "/d.txt"));
    EXPECT_TRUE(QFileInfo::exists(tmp + "/keep/c.txt"));
}

TEST(Log, CapturesLinesAndMasksSecrets) {
    VNLog::clearCaptured();
    VNLog::addSecret("s3cr3t-pass");
    VNLog::log("QNTask cleaning temp dir: /x");
    VNLog::log("login with s3cr3t-pass failed");
    const QStringList lines = VNLog::captured();
    ASSERT_EQ(lines.size(), 2);
    EXPECT_EQ(lines[0], "QNTask cleaning temp dir: /x");
    EXPECT_FALSE(lines[1].contains("s3cr3t-pass"));
}

TEST(KeyedArchive, TypedRoundTripKeepsAbsentApartFromEmpty) {
    VNArchiveRecord record("QNDriveConfig");
    record.encodeText("name", "My FTP");
    record.encodeText("password", QString());
    record.encodeText("description", QStringLiteral(""));
    record.encodeInt64("port", 2121);
    record.encodeInt32("stringEncoding", static_cast<qint32>(0x94000100u));
    record.encodeBool("isFTP", true);
    const QByteArray bytes = VNKeyedArchive::archive({record, VNArchiveRecord("Other")});
    VNErrorPtr error;
    auto back = VNKeyedArchive::unarchive(bytes, &error);
    ASSERT_TRUE(back.has_value()) << (error ? error->localizedDescription().toStdString() : "");
    ASSERT_EQ(back->size(), 2);
    const VNArchiveRecord &r = back->at(0);
    EXPECT_EQ(r.className(), "QNDriveConfig");
    EXPECT_EQ(r.keys(), QStringList({"name", "password", "description", "port", "stringEncoding", "isFTP"}));
    EXPECT_EQ(r.decodeText("name"), "My FTP");
    EXPECT_TRUE(r.decodeText("password").isNull());
    EXPECT_FALSE(r.decodeText("description").isNull());
    EXPECT_TRUE(r.decodeText("description").isEmpty());
    EXPECT_EQ(r.decodeInt64("port"), 2121);
    EXPECT_EQ(static_cast<quint32>(r.decodeInt32("stringEncoding")), 0x94000100u);
    EXPECT_TRUE(r.decodeBool("isFTP"));
    // Missing keys and keys of another type give zero values.
    EXPECT_TRUE(r.decodeText("nope").isNull());
    EXPECT_EQ(r.decodeInt64("name"), 0);
    EXPECT_FALSE(r.decodeBool("port"));
}

TEST(KeyedArchive, DamagedDataIsAnErrorNeverAnEmptyList) {
    const QByteArray good = VNKeyedArchive::archive({VNArchiveRecord("A")});
    for (const QByteArray &bad : {QByteArray(), QByteArray("garbage"), good.left(good.size() / 2),
                                  QByteArray("bplist00\x01\x02", 10)}) {
        VNErrorPtr error;
        EXPECT_FALSE(VNKeyedArchive::unarchive(bad, &error).has_value());
        EXPECT_TRUE(error);
    }
    VNErrorPtr error;
    auto empty = VNKeyedArchive::unarchive(VNKeyedArchive::archive({}), &error);
    ASSERT_TRUE(empty.has_value());
    EXPECT_TRUE(empty->isEmpty());
}
