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

TEST(DriveConfigNames, TheFirstFlagInTheOrderNamesTheDrive) {
    EXPECT_EQ(QNDriveConfig::create()->serviceName(), "(Unknown Service)");
    // The first flag in the order names the drive.
    auto both = withFlag(&QNDriveConfig::setIsOffice365);
    both->setIsWebDAV(true);
    EXPECT_EQ(both->serviceName(), "WebDAV");
    auto local = withFlag(&QNDriveConfig::setIsMyFiles);
    local->setIsDropbox(true);
    EXPECT_EQ(local->serviceName(), "Dropbox");
}

TEST(DriveConfigId, FieldsInOrderAndTheKindsThatSkipOne) {
    auto ftp = withFlag(&QNDriveConfig::setIsFTP);
    ftp->setUrl("ftp://127.0.0.1:21");
    ftp->setUsername("bob");
    ftp->setPassword("pw");
    ftp->setUserId("");
    ftp->setToken("never shown");
    auto dropbox = withFlag(&QNDriveConfig::setIsDropbox);
    dropbox->setUserId("12345");
    auto box = withFlag(&QNDriveConfig::setIsBox);
    box->setPassword("refresh-1");  // a refresh token, not part of the id
    auto copy = withFlag(&QNDriveConfig::setIsCopy);
    copy->setToken("a");
    const std::vector<std::pair<QNDriveConfigPtr, QString>> cases{
        {ftp, "FTP|ftp://127.0.0.1:21|bob|pw||0|"},
        {dropbox, "Dropbox|(null)|(null)|(null)|12345|0|"},
        {withFlag(&QNDriveConfig::setIsMyFiles), "My Files|(null)|(null)|(null)|(null)|1|"},
        {box, "Box|(null)|(null)||(null)|0|"},
        {copy, "Copy|(null)|(null)|(null)|(null)|0|a"},
        {withFlag(&QNDriveConfig::setIsBitcasa), "Bitcasa|(null)|(null)|(null)|(null)|0|(null)"},
    };
    for (const auto &[config, id] : cases)
        EXPECT_EQ(config->driveConfigId(), id);
}

TEST(DriveConfigQueries, CapabilitiesThatDependOnTheDocument) {
    auto disk = withFlag(&QNDriveConfig::setIsWebDAV);
    disk->setDisplayName("diskCAST WiFi Drive (x)");
    auto myPhotos = withFlag(&QNDriveConfig::setIsMyPhotos);
    auto album = doc("/a", true);
    album->setIsAlbum(true);
    auto dropbox = withFlag(&QNDriveConfig::setIsDropbox);
    auto bitcasa = withFlag(&QNDriveConfig::setIsBitcasa);
    auto photos = withFlag(&QNDriveConfig::setIsGooglePhotos);
    auto spiderOak = withFlag(&QNDriveConfig::setIsSpiderOak);
    auto sugar = withFlag(&QNDriveConfig::setIsSugarSync);
    const std::vector<std::tuple<const char *, bool, bool>> cases{
        {"sugar create at root", sugar->supportsCreateFolder(doc("/")), false},
        {"sugar create nowhere", sugar->supportsCreateFolder(nullptr), false},
        {"sugar create below", sugar->supportsCreateFolder(doc("/a")), true},
        {"sugar rename root", sugar->supportsRename(doc("/")), false},
        {"sugar delete", sugar->supportsDelete(doc("/Sync/a")), true},
        {"albums at the root", photos->supportsCreateFolder(doc("/")), true},
        {"no album in an album", photos->supportsCreateFolder(doc("/album")), false},
        {"photo copy", photos->supportsLocalCopy(doc("/album/p.jpg")), false},
        {"photo move", photos->supportsLocalMove(doc("/album/p.jpg")), false},
        {"photo drop on a file", photos->supportsDrop(doc("/p.jpg")), false},
        {"photo drop on an album", photos->supportsDrop(doc("/album", true)), true},
        {"diskcast root", disk->supportsCreateFolder(doc("/")), false},
        {"diskcast folder", disk->supportsCreateFolder(doc("/Music")), true},
        {"dropbox folder copy", dropbox->supportsLocalCopy(doc("/photos", true)), false},
        {"dropbox folder move", dropbox->supportsLocalMove(doc("/photos", true)), true},
        {"dropbox file copy", dropbox->supportsLocalCopy(doc("/a.txt")), true},
        {"dropbox search", dropbox->supportsSearchForPath("/deep/down"), true},
        {"bitcasa root copy", bitcasa->supportsLocalCopy(doc("/")), false},
        {"bitcasa copy", bitcasa->supportsLocalCopy(doc("/x/a.txt")), true},
        {"bitcasa drop nowhere", bitcasa->supportsDrop(nullptr), false},
        {"bitcasa drop", bitcasa->supportsDrop(doc("/in", true)), true},
        {"my photos plain folder", myPhotos->supportsDrop(doc("/a", true)), false},
        {"my photos album", myPhotos->supportsDrop(album), true},
        {"flickr share root", withFlag(&QNDriveConfig::setIsFlickr)->supportsShare(doc("/")), false},
        {"flickr share photo", withFlag(&QNDriveConfig::setIsFlickr)->supportsShare(doc("/set/p")), true},
        {"box search root", withFlag(&QNDriveConfig::setIsBox)->supportsSearchForPath("/"), true},
        {"box search below", withFlag(&QNDriveConfig::setIsBox)->supportsSearchForPath("/a"), false},
        {"webdav search", withFlag(&QNDriveConfig::setIsWebDAV)->supportsSearchForPath("/"), false},
        {"spideroak shares", spiderOak->supportsShare(doc("/f", true)), true},
        {"spideroak renames", spiderOak->supportsRename(doc("/f", true)), false},
        {"spideroak drops", spiderOak->supportsDrop(doc("/f", true)), false},
    };
    for (const auto &[what, answer, expected] : cases)
        EXPECT_EQ(answer, expected) << what;
    disk->setDisplayName("DiskCast");  // the test is case-sensitive
    EXPECT_TRUE(disk->supportsCreateFolder(doc("/")));
    for (Setter s : {&QNDriveConfig::setIsFTP, &QNDriveConfig::setIsMyFiles, &QNDriveConfig::setIsCopy,
                     &QNDriveConfig::setIsSFTP, &QNDriveConfig::setIsSMB, &QNDriveConfig::setIsFlickr}) {
        EXPECT_FALSE(withFlag(s)->supportsLocalCopy(doc("/a.txt")));
        EXPECT_FALSE(withFlag(s)->supportsLocalMove(doc("/a.txt")));
    }
}

TEST(DriveConfigThreads, FieldsMayBeReadWhileAnotherThreadWrites) {
    auto c = QNDriveConfig::create();
    c->setIsFTP(true);
    std::atomic<bool> readerStarted{false}, stop{false};
    std::thread writer([&] {
        while (!readerStarted.load())  // overlap with the reader however the threads are scheduled
            std::this_thread::yield();
        for (int i = 0; i < 2000; ++i) {
            c->setDescription(QStringLiteral("caption %1").arg(i));
            c->setUsedBytes(i);
            c->setToken(QString::number(i));
        }
        stop = true;
    });
    do {
        EXPECT_TRUE(c->driveConfigId().startsWith("FTP|"));
        EXPECT_TRUE(c->description().isNull() || c->description().startsWith("caption "));
        readerStarted = true;
    } while (!stop.load());
    writer.join();
    EXPECT_EQ(c->usedBytes(), 1999);
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
