// The keyed archive of drive configurations and the stored drive list.
#include "Core/QNDriveConfig.h"
#include "Platform/VNKeyedArchive.h"
#include "Platform/VNUserDefaults.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <gtest/gtest.h>

namespace {

// Every stored field set to a value that differs from its default.
QNDriveConfigPtr fullConfig() {
    auto c = QNDriveConfig::create();
    c->setDisplayName("My FTP");
    c->setName("FTP");
    c->setDescription("SHOW DOCUMENTS ON THIS FTP ACCOUNT");
    c->setUrl("ftp://127.0.0.1:2121/pub");
    c->setUsername("alice");
    c->setPassword("s3cret");
    c->setUserId("u-1");
    c->setToken("tok");
    c->setTokenSecret("toksec");
    c->setImage("drive-ftp");
    c->setStringEncoding(0x80000421ULL);
    c->setStringEncodingName("Windows Latin 1");
    c->setPort(2121);
    c->setNoteStoreURL("https://notes.invalid/");
    using S = void (QNDriveConfig::*)(bool);
    for (S s : {&QNDriveConfig::setUseSSL, &QNDriveConfig::setUseMD5, &QNDriveConfig::setIsMyFiles,
                &QNDriveConfig::setAddNewDrive, &QNDriveConfig::setIsDropbox, &QNDriveConfig::setIsBox,
                &QNDriveConfig::setIsSkyDrive, &QNDriveConfig::setIsOffice365, &QNDriveConfig::setIsGoogleDrive,
                &QNDriveConfig::setIsGooglePhotos, &QNDriveConfig::setIsFlickr, &QNDriveConfig::setIsSugarSync,
                &QNDriveConfig::setIsSpiderOak, &QNDriveConfig::setIsEvernote, &QNDriveConfig::setIsCopy,
                &QNDriveConfig::setIsBitcasa, &QNDriveConfig::setIsWebDAV, &QNDriveConfig::setIsCustomWebDAV,
                &QNDriveConfig::setIsPublic, &QNDriveConfig::setIsS3, &QNDriveConfig::setIsFTP,
                &QNDriveConfig::setIsSFTP, &QNDriveConfig::setIsSMB, &QNDriveConfig::setFtpActive,
                &QNDriveConfig::setValidateCertificates})
        (c.get()->*s)(true);
    return c;
}

}  // namespace

TEST(DriveConfigArchive, RoundTripKeepsEveryStoredFieldWithItsType) {
    auto original = fullConfig();
    const VNArchiveRecord record = original->encode();
    EXPECT_EQ(record.className(), "QNDriveConfig");
    ASSERT_EQ(record.keys(), QNDriveConfig::archiveKeys());
    using T = VNArchiveRecord::Type;
    const QStringList texts{"displayName", "name",  "description", "url",   "username",          "password",
                            "userId",      "token", "tokenSecret", "image", "stringEncodingName", "noteStoreURL"};
    for (const auto &f : record.fields())
        EXPECT_EQ(f.type, f.key == "stringEncoding" ? T::Int64
                          : f.key == "port"         ? T::Int32
                          : texts.contains(f.key)   ? T::Text
                                                    : T::Bool)
            << f.key.toStdString();
    auto list = QNDriveConfig::unarchiveList(QNDriveConfig::archiveList({original}));
    ASSERT_TRUE(list.has_value());
    ASSERT_EQ(list->size(), 1);
    // Encoding the copy again gives the same record, field by field.
    const auto a = record.fields();
    const auto b = list->first()->encode().fields();
    ASSERT_EQ(a.size(), b.size());
    for (size_t i = 0; i < a.size(); ++i) {
        EXPECT_EQ(a[i].key, b[i].key);
        EXPECT_EQ(a[i].value, b[i].value) << a[i].key.toStdString();
    }
}

TEST(DriveConfigArchive, MissingKeysGiveDefaults) {
    // An archive written before some keys existed.
    VNArchiveRecord old(QStringLiteral("QNDriveConfig"));
    old.encodeText("displayName", "Old drive");
    old.encodeBool("isWebDAV", true);
    auto list = QNDriveConfig::unarchiveList(VNKeyedArchive::archive({old}));
    ASSERT_TRUE(list.has_value());
    auto c = list->first();
    EXPECT_EQ(c->displayName(), "Old drive");
    EXPECT_TRUE(c->isWebDAV());
    EXPECT_FALSE(c->validateCertificates());
    EXPECT_FALSE(c->useSSL());
    EXPECT_EQ(c->port(), 0);
    EXPECT_EQ(c->stringEncoding(), 0u);
    EXPECT_TRUE(c->url().isNull());
    EXPECT_TRUE(c->password().isNull());
}

TEST(DriveConfigArchive, AbsentAndEmptyTextStayApart) {
    auto c = QNDriveConfig::create();
    c->setUsername(QString(""));  // empty, not absent
    auto copy = c->copyThroughArchive();
    EXPECT_FALSE(copy->username().isNull());
    EXPECT_TRUE(copy->username().isEmpty());
    EXPECT_TRUE(copy->password().isNull());
    // And the drive id shows the difference.
    EXPECT_EQ(copy->driveConfigId(), "(Unknown Service)|(null)||(null)|(null)|0|");
}

TEST(DriveConfigArchive, RecordsOfAnotherClassAreAnError) {
    VNErrorPtr error;
    VNArchiveRecord other(QStringLiteral("SomethingElse"));
    EXPECT_FALSE(QNDriveConfig::unarchiveList(VNKeyedArchive::archive({other}), &error).has_value());
    EXPECT_TRUE(error);
}

class StoredDrives : public ::testing::Test {
protected:
    void SetUp() override {
        VNUserDefaults::standard().removeObject(QNDriveConfig::storedDrivesKey());
        VNUserDefaults::standard().synchronize();
    }
};

TEST_F(StoredDrives, AbsentValueReadsAsEmptyListAndUpdatesAppendInOrder) {
    auto empty = QNDriveConfig::readStoredDrives();
    ASSERT_TRUE(empty.has_value());
    EXPECT_TRUE(empty->isEmpty());
    auto c = fullConfig();
    ASSERT_TRUE(QNDriveConfig::writeStoredDrives({c}));
    EXPECT_EQ(VNUserDefaults::standard().dataForKey("clouddrives"), QNDriveConfig::archiveList({c}));
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(QNDriveConfig::updateStoredDrives([i](QNDriveConfigList &list) {
            auto c = QNDriveConfig::create();
            c->setDisplayName(QString::number(i));
            list.append(c);
        }));
    }
    auto list = QNDriveConfig::readStoredDrives();
    ASSERT_TRUE(list.has_value());
    ASSERT_EQ(list->size(), 3);
    EXPECT_EQ(list->at(0)->driveConfigId(), c->driveConfigId());
    EXPECT_EQ(list->at(1)->displayName(), "0");
    EXPECT_EQ(list->at(2)->displayName(), "1");
}

TEST_F(StoredDrives, UnreadableOrNonDataValueIsReportedAndLeftUntouched) {
    const QByteArray garbage("\xff\x00garbage that is not a drive list", 33);
    for (const QVariant &value : {QVariant(garbage), QVariant(QStringLiteral("a string"))}) {
        VNUserDefaults::standard().setObject(value, "clouddrives");
        VNErrorPtr error;
        EXPECT_FALSE(QNDriveConfig::readStoredDrives(&error).has_value());
        ASSERT_TRUE(error);
        EXPECT_FALSE(error->localizedDescription().isEmpty());

        bool changed = false;
        error.reset();
        EXPECT_FALSE(QNDriveConfig::updateStoredDrives(
            [&](QNDriveConfigList &list) {
                changed = true;
                list.append(QNDriveConfig::create());
            },
            &error));
        EXPECT_FALSE(changed);
        EXPECT_TRUE(error);
        EXPECT_EQ(VNUserDefaults::standard().objectForKey("clouddrives"), value);
    }
}

TEST(DriveConfigTempFolder, DestroyingRemovesAnOwnedFolderAndNothingWithoutOne) {
    auto dir = VNTest::makeTempDir();
    const QString folder = dir->path() + "/owned";
    ASSERT_TRUE(VNTest::writeFile(folder + "/inner/file.txt", "x"));
    ASSERT_TRUE(VNTest::writeFile(dir->path() + "/keep.txt", "x"));
    {
        auto c = QNDriveConfig::createWithArchivePath("/nowhere/a.zip", folder);
        EXPECT_TRUE(c->isArchive());
        EXPECT_EQ(c->serviceName(), "Archive");
        // A copy does not own the folder, so its end removes nothing.
        auto copy = c->copyThroughArchive();
        EXPECT_TRUE(copy->tempFolder().isNull());
        EXPECT_FALSE(copy->isArchive());
    }
    EXPECT_FALSE(QFileInfo::exists(folder));
    EXPECT_TRUE(QFileInfo::exists(dir->path() + "/keep.txt"));
}
