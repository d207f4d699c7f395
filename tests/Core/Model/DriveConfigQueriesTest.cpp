// Service names, drive ids and capability queries of drive configurations.
#include "Core/QNDocument.h"
#include "Core/QNDriveConfig.h"
#include "Platform/VNLog.h"

#include <atomic>
#include <gtest/gtest.h>
#include <thread>

namespace {

using Setter = void (QNDriveConfig::*)(bool);

QNDriveConfigPtr withFlag(Setter setter) {
    auto c = QNDriveConfig::create();
    (c.get()->*setter)(true);
    return c;
}

QNDocumentPtr doc(const QString &path, bool isDirectory = false) {
    auto d = QNDocument::create();
    d->setPath(path);
    d->setIsDirectory(isDirectory);
    return d;
}

}  // namespace

TEST(DriveConfigNames, EachKindHasItsName) {
    const std::vector<std::pair<Setter, const char *>> table = {
        {&QNDriveConfig::setIsBox, "Box"},
        {&QNDriveConfig::setIsDropbox, "Dropbox"},
        {&QNDriveConfig::setIsFTP, "FTP"},
        {&QNDriveConfig::setIsGoogleDrive, "Google Drive"},
        {&QNDriveConfig::setIsGooglePhotos, "Picasa"},
        {&QNDriveConfig::setIsFlickr, "Flickr"},
        {&QNDriveConfig::setIsSugarSync, "SugarSync"},
        {&QNDriveConfig::setIsMyFiles, "My Files"},
        {&QNDriveConfig::setIsMyPhotos, "My Photos"},
        {&QNDriveConfig::setIsS3, "S3"},
        {&QNDriveConfig::setIsSkyDrive, "SkyDrive"},
        {&QNDriveConfig::setIsWebDAV, "WebDAV"},
        {&QNDriveConfig::setIsSFTP, "Mac"},
        {&QNDriveConfig::setIsSMB, "Samba"},
        {&QNDriveConfig::setIsArchive, "Archive"},
        {&QNDriveConfig::setIsEvernote, "Evernote"},
        {&QNDriveConfig::setIsSpiderOak, "SpiderOak"},
        {&QNDriveConfig::setIsCopy, "Copy"},
        {&QNDriveConfig::setIsOffice365, "Office 365 SkyDrive Pro"},
        {&QNDriveConfig::setIsBitcasa, "Bitcasa"},
    };
    for (const auto &[setter, name] : table) EXPECT_EQ(withFlag(setter)->serviceName(), name);
    EXPECT_EQ(QNDriveConfig::create()->serviceName(), "(Unknown Service)");
}

TEST(DriveConfigNames, OrderDecidesBetweenSeveralFlags) {
    // Each flag wins over every flag after it in the name order.
    const std::vector<Setter> order = {
        &QNDriveConfig::setIsBox,         &QNDriveConfig::setIsDropbox,      &QNDriveConfig::setIsFTP,
        &QNDriveConfig::setIsGoogleDrive, &QNDriveConfig::setIsGooglePhotos, &QNDriveConfig::setIsFlickr,
        &QNDriveConfig::setIsSugarSync,   &QNDriveConfig::setIsMyFiles,      &QNDriveConfig::setIsMyPhotos,
        &QNDriveConfig::setIsS3,          &QNDriveConfig::setIsSkyDrive,     &QNDriveConfig::setIsWebDAV,
        &QNDriveConfig::setIsSFTP,        &QNDriveConfig::setIsSMB,          &QNDriveConfig::setIsArchive,
        &QNDriveConfig::setIsEvernote,    &QNDriveConfig::setIsSpiderOak,    &QNDriveConfig::setIsCopy,
        &QNDriveConfig::setIsOffice365,   &QNDriveConfig::setIsBitcasa};
    for (size_t i = 0; i < order.size(); ++i) {
        auto alone = withFlag(order[i]);
        auto c = QNDriveConfig::create();
        for (size_t j = i; j < order.size(); ++j) (c.get()->*order[j])(true);
        EXPECT_EQ(c->serviceName(), alone->serviceName()) << i;
    }
    auto both = QNDriveConfig::create();
    both->setIsWebDAV(true);
    both->setIsOffice365(true);
    EXPECT_EQ(both->serviceName(), "WebDAV");
    auto local = QNDriveConfig::create();
    local->setIsMyFiles(true);
    local->setIsDropbox(true);
    EXPECT_EQ(local->serviceName(), "Dropbox");
}

TEST(DriveConfigId, DropboxWithOnlyAUserId) {
    auto c = withFlag(&QNDriveConfig::setIsDropbox);
    c->setUserId("12345");
    EXPECT_EQ(c->driveConfigId(), "Dropbox|(null)|(null)|(null)|12345|0|");
}

TEST(DriveConfigId, FieldsInOrder) {
    auto c = withFlag(&QNDriveConfig::setIsFTP);
    c->setUrl("ftp://127.0.0.1:21");
    c->setUsername("bob");
    c->setPassword("pw");
    c->setUserId("");
    c->setToken("never shown");
    EXPECT_EQ(c->driveConfigId(), "FTP|ftp://127.0.0.1:21|bob|pw||0|");
    auto local = withFlag(&QNDriveConfig::setIsMyFiles);
    EXPECT_EQ(local->driveConfigId(), "My Files|(null)|(null)|(null)|(null)|1|");
}

TEST(DriveConfigId, BoxIgnoresPasswordCopyAndBitcasaCountToken) {
    auto box1 = withFlag(&QNDriveConfig::setIsBox);
    auto box2 = withFlag(&QNDriveConfig::setIsBox);
    box1->setPassword("refresh-1");
    box2->setPassword("refresh-2");
    EXPECT_EQ(box1->driveConfigId(), box2->driveConfigId());
    EXPECT_EQ(box1->driveConfigId(), "Box|(null)|(null)||(null)|0|");

    auto copy1 = withFlag(&QNDriveConfig::setIsCopy);
    auto copy2 = withFlag(&QNDriveConfig::setIsCopy);
    copy1->setToken("a");
    copy2->setToken("b");
    EXPECT_NE(copy1->driveConfigId(), copy2->driveConfigId());
    EXPECT_EQ(copy1->driveConfigId(), "Copy|(null)|(null)|(null)|(null)|0|a");
    auto bitcasa = withFlag(&QNDriveConfig::setIsBitcasa);
    EXPECT_EQ(bitcasa->driveConfigId(), "Bitcasa|(null)|(null)|(null)|(null)|0|(null)");
}

TEST(DriveConfigQueries, SpiderOakCanOnlyShare) {
    auto c = withFlag(&QNDriveConfig::setIsSpiderOak);
    auto d = doc("/folder", true);
    EXPECT_FALSE(c->oAuthLogin());
    EXPECT_TRUE(c->supportsShare(d));
    EXPECT_FALSE(c->supportsCreateFolder(d));
    EXPECT_FALSE(c->supportsLinks(d));
    EXPECT_FALSE(c->supportsRename(d));
    EXPECT_FALSE(c->supportsDelete(d));
    EXPECT_FALSE(c->supportsLocalCopy(d));
    EXPECT_FALSE(c->supportsLocalMove(d));
    EXPECT_FALSE(c->supportsDrop(d));
}

TEST(DriveConfigQueries, CreateFolderAtTheRoot) {
    auto sugar = withFlag(&QNDriveConfig::setIsSugarSync);
    EXPECT_FALSE(sugar->supportsCreateFolder(doc("/")));
    EXPECT_FALSE(sugar->supportsCreateFolder(nullptr));
    EXPECT_TRUE(sugar->supportsCreateFolder(doc("/a")));
    auto photos = withFlag(&QNDriveConfig::setIsGooglePhotos);
    EXPECT_TRUE(photos->supportsCreateFolder(doc("/")));
    EXPECT_FALSE(photos->supportsCreateFolder(doc("/album")));
    EXPECT_FALSE(withFlag(&QNDriveConfig::setIsFlickr)->supportsCreateFolder(doc("/a")));
    EXPECT_FALSE(withFlag(&QNDriveConfig::setIsArchive)->supportsCreateFolder(doc("/a")));
    auto disk = withFlag(&QNDriveConfig::setIsWebDAV);
    disk->setDisplayName("diskCAST WiFi Drive (x)");
    EXPECT_FALSE(disk->supportsCreateFolder(doc("/")));
    EXPECT_TRUE(disk->supportsCreateFolder(doc("/Music")));
    disk->setDisplayName("DiskCast");  // the test is case-sensitive
    EXPECT_TRUE(disk->supportsCreateFolder(doc("/")));
}

TEST(DriveConfigQueries, LocalCopyAndMove) {
    auto dropbox = withFlag(&QNDriveConfig::setIsDropbox);
    auto folder = doc("/photos", true);
    EXPECT_FALSE(dropbox->supportsLocalCopy(folder));
    EXPECT_TRUE(dropbox->supportsLocalMove(folder));
    EXPECT_TRUE(dropbox->supportsLocalCopy(doc("/a.txt")));
    for (Setter s : {&QNDriveConfig::setIsFTP, &QNDriveConfig::setIsMyFiles, &QNDriveConfig::setIsCopy,
                     &QNDriveConfig::setIsSFTP, &QNDriveConfig::setIsSMB, &QNDriveConfig::setIsFlickr}) {
        EXPECT_FALSE(withFlag(s)->supportsLocalCopy(doc("/a.txt")));
        EXPECT_FALSE(withFlag(s)->supportsLocalMove(doc("/a.txt")));
    }
    auto bitcasa = withFlag(&QNDriveConfig::setIsBitcasa);
    EXPECT_FALSE(bitcasa->supportsLocalCopy(doc("/")));
    EXPECT_TRUE(bitcasa->supportsLocalCopy(doc("/x/a.txt")));
    EXPECT_TRUE(withFlag(&QNDriveConfig::setIsWebDAV)->supportsLocalMove(folder));
}

TEST(DriveConfigQueries, PhotoAlbumsHaveNoCopyOrMoveInsideTheDrive) {
    // The album handler cannot copy or move by itself; such copies go
    // through a download and an upload.
    auto photos = withFlag(&QNDriveConfig::setIsGooglePhotos);
    EXPECT_FALSE(photos->supportsLocalCopy(doc("/album/p.jpg")));
    EXPECT_FALSE(photos->supportsLocalMove(doc("/album/p.jpg")));
}

TEST(DriveConfigQueries, DropShareAndSearch) {
    auto bitcasa = withFlag(&QNDriveConfig::setIsBitcasa);
    EXPECT_FALSE(bitcasa->supportsDrop(nullptr));
    EXPECT_TRUE(bitcasa->supportsDrop(doc("/in", true)));
    auto photos = withFlag(&QNDriveConfig::setIsGooglePhotos);
    EXPECT_FALSE(photos->supportsDrop(doc("/p.jpg")));
    EXPECT_TRUE(photos->supportsDrop(doc("/album", true)));
    auto myPhotos = withFlag(&QNDriveConfig::setIsMyPhotos);
    auto album = doc("/a", true);
    EXPECT_FALSE(myPhotos->supportsDrop(album));
    album->setIsAlbum(true);
    EXPECT_TRUE(myPhotos->supportsDrop(album));
    EXPECT_FALSE(withFlag(&QNDriveConfig::setIsFlickr)->supportsShare(doc("/")));
    EXPECT_TRUE(withFlag(&QNDriveConfig::setIsFlickr)->supportsShare(doc("/set/p")));
    EXPECT_TRUE(withFlag(&QNDriveConfig::setIsDropbox)->supportsSearchForPath("/deep/down"));
    EXPECT_TRUE(withFlag(&QNDriveConfig::setIsBox)->supportsSearchForPath(QString()));
    EXPECT_TRUE(withFlag(&QNDriveConfig::setIsBox)->supportsSearchForPath("/"));
    EXPECT_FALSE(withFlag(&QNDriveConfig::setIsBox)->supportsSearchForPath("/a"));
    EXPECT_FALSE(withFlag(&QNDriveConfig::setIsWebDAV)->supportsSearchForPath("/"));
}

TEST(DriveConfigQueries, LinksLoginAndKinds) {
    for (Setter s : {&QNDriveConfig::setIsBox, &QNDriveConfig::setIsDropbox, &QNDriveConfig::setIsGoogleDrive,
                     &QNDriveConfig::setIsSkyDrive, &QNDriveConfig::setIsFlickr, &QNDriveConfig::setIsCopy})
        EXPECT_TRUE(withFlag(s)->supportsLinks(nullptr));
    for (Setter s : {&QNDriveConfig::setIsGooglePhotos, &QNDriveConfig::setIsWebDAV, &QNDriveConfig::setIsFTP,
                     &QNDriveConfig::setIsMyFiles})
        EXPECT_FALSE(withFlag(s)->supportsLinks(nullptr));
    for (Setter s :
         {&QNDriveConfig::setIsFTP, &QNDriveConfig::setIsSFTP, &QNDriveConfig::setIsWebDAV, &QNDriveConfig::setIsSMB,
          &QNDriveConfig::setIsSugarSync, &QNDriveConfig::setIsSpiderOak, &QNDriveConfig::setIsOffice365})
        EXPECT_FALSE(withFlag(s)->oAuthLogin());
    EXPECT_TRUE(withFlag(&QNDriveConfig::setIsDropbox)->oAuthLogin());
    EXPECT_TRUE(withFlag(&QNDriveConfig::setIsFTP)->needsURL());
    EXPECT_FALSE(withFlag(&QNDriveConfig::setIsDropbox)->needsURL());
    EXPECT_TRUE(withFlag(&QNDriveConfig::setIsSFTP)->needsRecursiveRemove());
    EXPECT_FALSE(withFlag(&QNDriveConfig::setIsWebDAV)->needsRecursiveRemove());
    EXPECT_TRUE(withFlag(&QNDriveConfig::setIsFlickr)->isPhotoService());
    EXPECT_TRUE(withFlag(&QNDriveConfig::setIsGooglePhotos)->isPhotoService());
    EXPECT_FALSE(withFlag(&QNDriveConfig::setIsBox)->isPhotoService());
    EXPECT_TRUE(QNDriveConfig::create()->downloadThumnailFiles());
    auto sugar = withFlag(&QNDriveConfig::setIsSugarSync);
    EXPECT_FALSE(sugar->supportsRename(doc("/")));
    EXPECT_TRUE(sugar->supportsDelete(doc("/Sync/a")));
}

TEST(DriveConfigThreads, FieldsMayBeReadWhileAnotherThreadWrites) {
    auto c = QNDriveConfig::create();
    c->setIsFTP(true);
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        for (int i = 0; i < 2000; ++i) {
            c->setDescription(QStringLiteral("caption %1").arg(i));
            c->setUsedBytes(i);
            c->setToken(QString::number(i));
        }
        stop = true;
    });
    int reads = 0;
    while (!stop.load()) {
        const QString id = c->driveConfigId();
        EXPECT_TRUE(id.startsWith("FTP|"));
        EXPECT_TRUE(c->description().isNull() || c->description().startsWith("caption "));
        ++reads;
    }
    writer.join();
    EXPECT_EQ(c->usedBytes(), 1999);
    EXPECT_GT(reads, 0);
}

TEST(DriveConfigCredentials, LogLinesNeverCarryThePasswordOrTokens) {
    // Drive ids are made from the credentials and are logged by callers; the
    // log masks every credential a drive configuration was given.
    auto c = QNDriveConfig::create();
    c->setIsFTP(true);
    c->setPassword(QStringLiteral("hunter2-pass"));
    c->setToken(QStringLiteral("tok-123456"));
    c->setTokenSecret(QStringLiteral("sec-abcdef"));
    VNLog::clearCaptured();
    VNLog::log(QStringLiteral("updateQuotaForDriveConfig %1 error: x").arg(c->driveConfigId() + c->token() +
                                                                         c->tokenSecret()));
    const QString line = VNLog::captured().value(0);
    EXPECT_FALSE(line.contains("hunter2-pass"));
    EXPECT_FALSE(line.contains("tok-123456"));
    EXPECT_FALSE(line.contains("sec-abcdef"));
    EXPECT_TRUE(line.startsWith("updateQuotaForDriveConfig FTP|"));
}
