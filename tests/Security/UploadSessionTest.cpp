// Addresses a web drive's replies name are reached without the drive's access
// token when they lie on another origin or on plain http: a Google Drive
// upload session gets the file without it (the fake hands out sessions on
// the hostile server or on its own plain-http port), and a SugarSync file
// reference elsewhere is not followed at all. The logs show what arrived.
#include "../Cloud/WebDrives/WebDriveServices.h"
#include "Cloud/QNServiceEndpoints.h"
#include "Cloud/QNSugarSyncHandler.h"
#include "Core/QNCloudInterfaceFactory.h"
#include "HostileFake.h"

#include <QFile>
#include <gtest/gtest.h>

using namespace WebDriveTest;

TEST(GoogleDriveUpload, SessionElsewhereGetsNoAccessToken) {
    Fake fake{"gdrive"};
    ASSERT_TRUE(fake.isRunning());
    QNDriveConfigPtr drive;
    ASSERT_NO_FATAL_FAILURE(openGoogleDrive(fake, drive));
    auto local = VNTest::makeTempDir();
    const QString source = local->path() + QStringLiteral("/upload.bin");
    QFile file(source);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(4096, 'u'));
    file.close();
    // What the service's own fake got whose path holds the text.
    const auto receivedByFake = [&fake](const QString &text) {
        QList<QJsonObject> out;
        for (const QJsonValue &entry : fake.log())
            if (entry[QStringLiteral("path")].toString().contains(text))
                out << entry.toObject();
        return out;
    };
    struct Row {
        const char *name;
        bool hostile;  // the hostile server's origin "b", else the fake's own plain-http port
    };
    const Row rows[] = {{"session on another origin", true}, {"session on the service's host over plain http", false}};
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        const QString tag = Hostile::tag();
        const QString base = row.hostile ? Hostile::url("b", tag).toString() : fake.httpBase() + tag;
        fake.control("session_base", {{"base", base}});
        run(drive, [&](auto h, auto cb) { h->upload(QNDocument::withPath(source), QNDocument::withPath("/", true), {}, cb); });
        const QString path = tag + "/upload/session/";
        const QList<QJsonObject> arrived = row.hostile ? Hostile::received(path) : receivedByFake(path);
        ASSERT_EQ(arrived.size(), 1);
        EXPECT_EQ(arrived[0][QStringLiteral("method")].toString(), QLatin1String("PUT"));
        EXPECT_TRUE(Hostile::header(arrived[0], "Authorization").isNull());
    }
    fake.control("session_base", {});
}

TEST(SugarSyncReference, ElsewhereIsNotFollowedWithTheToken) {
    const QJsonObject peer = VNTest::peerState(QStringLiteral("sugarsync"));
    ASSERT_FALSE(peer.isEmpty());
    NRHTTPRequest::setTestCertificateAuthorityFile(peer.value("ca_file").toString());
    QNServiceEndpoints::setOverrideForTesting(peer.value("host").toString(), peer.value("port").toInt());
    QNCloudInterfaceFactory::registerCoreHandlers();
    QNSugarSyncHandler::registerWithFactory();
    auto config = QNDriveConfig::create();
    config->setIsSugarSync(true);
    config->setUsername(peer.value("user").toString());
    config->setPassword(peer.value("password").toString());
    bool signedIn = false;
    config->createCloudInterface()->login([&](bool ok, VNErrorPtr, bool) { signedIn = ok; });
    ASSERT_TRUE(VNTest::waitUntil([&] { return signedIn; }));
    // A file whose reference, as a listing would name it, lies on another origin.
    const QString tag = Hostile::tag();
    auto document = QNDocument::withPath(QStringLiteral("/Sync Folder/away.txt"));
    document->setId(Hostile::url("b", tag + "/file/1").toString());
    auto local = VNTest::makeTempDir();
    const WebDriveTest::Answer answer = WebDriveTest::run(config, [&](auto h, auto cb) {
        h->download(document, QNDocument::withPath(local->path() + QStringLiteral("/away.txt")), {}, cb);
    });
    EXPECT_TRUE(answer.error);
    EXPECT_TRUE(Hostile::received(tag).isEmpty()) << "the token went to another origin";
    QNServiceEndpoints::setOverrideForTesting(QString(), 0);
}
