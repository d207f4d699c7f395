// A file named with the full 255 bytes a local name may have goes through
// copy tasks from drive to drive (down into the task's temporary folder,
// then up), every kind in turn, and from each back to the local disk: the
// part files and temporary places made on the way must fit that limit too.
#include "../FTP/FTPPeerSupport.h"
#include "../WebDAV/WebDAVPeer.h"
#include "../WebDrives/WebDriveServices.h"
#include "Cloud/QNBoxHandler.h"
#include "Cloud/QNServiceEndpoints.h"
#include "Cloud/QNServiceHosts.h"
#include "Cloud/QNSugarSyncHandler.h"
#include "Core/QNCloudInterfaceFactory.h"
#include "Core/QNCopyTask.h"
#include "Core/QNCopyTaskItem.h"
#include "Core/QNMyDocumentsHandler.h"
#include "support/TaskRun.h"

#include <QDir>
#include <gtest/gtest.h>
#include <optional>

namespace {

// 255 bytes of UTF-8: two-byte letters and an extension.
QString longName() {
    return QString(123, QChar(0x00E9)) + QStringLiteral("_long.txt");
}

QNDriveConfigPtr sugarSync() {
    const QJsonObject peer = VNTest::peerState(QStringLiteral("sugarsync"));
    if (peer.isEmpty())
        return nullptr;
    QNServiceEndpoints::setOverrideForTesting(peer.value("host").toString(), peer.value("port").toInt());
    QNSugarSyncHandler::registerWithFactory();
    auto config = QNDriveConfig::create();
    config->setIsSugarSync(true);
    config->setUsername(peer.value("user").toString());
    config->setPassword(peer.value("password").toString());
    bool loggedIn = false;
    config->createCloudInterface()->login([&loggedIn](bool ok, VNErrorPtr, bool) { loggedIn = ok; });
    return VNTest::waitUntil([&loggedIn] { return loggedIn; }, 30000) ? config : nullptr;
}

QNDriveConfigPtr box() {
    const WebDriveTest::Fake fake{QStringLiteral("box")};
    if (!fake.isRunning())
        return nullptr;
    QNDriveConfigPtr config;
    WebDriveTest::openBox(fake, config);
    return config;
}

QNDocumentPtr findListed(const QNDriveConfigPtr &drive, const QNDocumentPtr &folder, const QString &name) {
    auto listed = std::make_shared<std::optional<QNDocumentList>>();
    drive->createCloudInterface()->listDocuments(folder, QString(),
                                                 [listed](QNDocumentList d, QString, VNErrorPtr, bool) { *listed = d; });
    VNTest::waitUntil([listed] { return listed->has_value(); }, 30000);
    for (const auto &d : listed->value_or(QNDocumentList{}))
        if (d->displayName() == name)
            return d;
    return nullptr;
}

VNErrorPtr copy(const QNDriveConfigPtr &from, const QNDriveConfigPtr &to, const QNDocumentPtr &what,
                const QNDocumentPtr &into) {
    auto task = std::make_shared<QNCopyTask>();
    const auto run = VNTest::runItem(task, std::make_shared<QNCopyTaskItem>(from, to, what, into), 120000);
    EXPECT_TRUE(run.completed);
    EXPECT_FALSE(QFileInfo::exists(task->tempDirectory()));
    return run.error;
}

std::string text(const VNErrorPtr &error) {
    return error ? error->localizedDescription().toStdString() : std::string();
}

TEST(LongNames, AFileWithA255ByteNameIsCopiedToEveryKindOfDriveAndBack) {
    ASSERT_EQ(longName().toUtf8().size(), 255);
    WebDAVPeer::setUpOnce();
    QNCloudInterfaceFactory::registerCoreHandlers();
    QNFTPHandler::registerHandler();
    auto temp = VNTest::makeTempDir();
    QNFTPHandler::setKnownHostsFile(temp->path() + QStringLiteral("/app/known_hosts"));
    const QString source = temp->path() + "/" + longName();
    const QByteArray data = FTPPeer::randomBytes(200 * 1024 + 7, 255);
    ASSERT_TRUE(VNTest::writeFile(source, data));
    const auto local = QNMyDocumentsHandler::makeLocalDriveConfig();
    // Both HTTPS fakes' authorities at once: a copy between them talks to both.
    QByteArray authorities;
    for (const char *peer : {"sugarsync", "box"})
        authorities += VNTest::readFile(VNTest::peerState(peer).value("ca_file").toString());
    ASSERT_TRUE(VNTest::writeFile(temp->path() + "/authorities.pem", authorities));
    NRHTTPRequest::setTestCertificateAuthorityFile(temp->path() + "/authorities.pem");

    struct Row {
        const char *kind;
        std::function<QNDriveConfigPtr()> drive;
        std::function<QNDocumentPtr(const QNDriveConfigPtr &)> folder;
    };
    auto ftpFolder = [](FTPPeer::Kind kind) {
        return [kind](const QNDriveConfigPtr &) { return QNDocument::withPath(FTPPeer::makeScratchFolder(kind), true); };
    };
    const std::vector<Row> rows{
        {"local", [local] { return local; },
         [&temp](const QNDriveConfigPtr &) {
             QDir().mkpath(temp->path() + "/on local");
             return QNDocument::withPath(temp->path() + "/on local", true);
         }},
        {"WebDAV", [] { return WebDAVPeer::drive(WebDAVPeer::url("http")); },
         [](const QNDriveConfigPtr &) {
             WebDAVPeer::freshFolder("root_dir", "long-names");
             return QNDocument::withPath("/long-names", true);
         }},
        {"FTP", [] { return FTPPeer::drive(FTPPeer::Kind::FTP); }, ftpFolder(FTPPeer::Kind::FTP)},
        {"SFTP", [] { return FTPPeer::drive(FTPPeer::Kind::SFTP); }, ftpFolder(FTPPeer::Kind::SFTP)},
        {"SugarSync", sugarSync,
         [](const QNDriveConfigPtr &drive) { return findListed(drive, QNDocument::withPath("/", true), "Sync Folder"); }},
        {"web drive (Box)",
         [&temp] {
             auto drive = box();  // its sign-in trusts the Box fake alone: both again for the copy
             NRHTTPRequest::setTestCertificateAuthorityFile(temp->path() + "/authorities.pem");
             return drive;
         },
         [](const QNDriveConfigPtr &) { return QNDocument::withPath("/", true); }},
    };
    // The file as it arrived on the drive before, for the copy between drives.
    QNDriveConfigPtr previousDrive;
    QNDocumentPtr previousFile;
    for (const Row &row : rows) {
        SCOPED_TRACE(row.kind);
        const QNDriveConfigPtr drive = row.drive();
        ASSERT_TRUE(drive) << "the peer is not running, or refused the login";
        const QNDocumentPtr folder = row.folder(drive);
        ASSERT_TRUE(folder);
        // From the local disk, or from the previous drive: down into the
        // task's temporary folder, then up.
        const bool across = previousDrive && previousDrive != local;
        VNErrorPtr up = across ? copy(previousDrive, drive, previousFile, folder)
                               : copy(local, drive, QNDocument::withPath(source, false), folder);
        ASSERT_FALSE(up) << text(up);
        const QNDocumentPtr arrived = findListed(drive, folder, longName());
        ASSERT_TRUE(arrived) << "no file of the long name on the drive";

        const QString back = temp->path() + "/back " + row.kind;
        QDir().mkpath(back);
        VNErrorPtr down = copy(drive, local, arrived, QNDocument::withPath(back, true));
        ASSERT_FALSE(down) << text(down);
        EXPECT_EQ(VNTest::readFile(back + "/" + longName()), data);
        EXPECT_EQ(QDir(back).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList{longName()});
        previousDrive = drive;
        previousFile = arrived;
    }
}

}  // namespace
