// Addresses a web drive's replies name are reached without the drive's access
// token when they lie on another origin or on plain http: a Google Drive
// upload session gets the file without it (the fake hands out sessions on
// the hostile server or on its own plain-http port), and a SugarSync file
// reference off the service's own origin is not followed at all. The logs
// show what arrived.
#include "../Cloud/WebDrives/WebDriveServices.h"
#include "Cloud/QNServiceEndpoints.h"
#include "Cloud/QNSugarSyncHandler.h"
#include "Core/QNCloudInterfaceFactory.h"
#include "HostileFake.h"

#include <QFile>
#include <QJsonDocument>
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

// The requests the SugarSync fake counted whose path holds the text, over
// HTTPS or (counted as "CLEAR ...") in the clear on its HTTPS port.
QStringList sugarSyncRequests(const QJsonObject &peer, const QString &text) {
    const QJsonObject counts =
        QJsonDocument::fromJson(VNTest::readFile(peer.value("counts_file").toString())).object();
    QStringList out;
    for (const QString &key : counts.keys())
        if (key.contains(text))
            out << key;
    return out;
}

// A reference is followed only on the service's own scheme, host and port:
// each row differs from the service's origin in one of them (the first in
// two), and nothing may arrive at whatever server answers there.
TEST(SugarSyncReference, ElsewhereIsNotFollowedWithTheToken) {
    const QJsonObject peer = VNTest::peerState(QStringLiteral("sugarsync"));
    ASSERT_FALSE(peer.isEmpty());
    // The service's certificate authority and the hostile server's, whose
    // https origin must be reachable for a request there to be seen.
    auto local = VNTest::makeTempDir();
    const QString authorities = local->path() + QStringLiteral("/authorities.pem");
    VNTest::writeFile(authorities, VNTest::readFile(peer.value("ca_file").toString()) + VNTest::readFile(Hostile::caFile()));
    NRHTTPRequest::setTestCertificateAuthorityFile(authorities);
    const QString host = peer.value("host").toString();
    const int port = peer.value("port").toInt();
    QNServiceEndpoints::setOverrideForTesting(host, port);
    QNCloudInterfaceFactory::registerCoreHandlers();
    QNSugarSyncHandler::registerWithFactory();
    auto config = QNDriveConfig::create();
    config->setIsSugarSync(true);
    config->setUsername(peer.value("user").toString());
    config->setPassword(peer.value("password").toString());
    bool signedIn = false;
    config->createCloudInterface()->login([&](bool ok, VNErrorPtr, bool) { signedIn = ok; });
    ASSERT_TRUE(VNTest::waitUntil([&] { return signedIn; }));

    struct Row {
        const char *name;
        QString origin;
    };
    const Row rows[] = {
        {"plain http on another port", Hostile::url("b", QString()).toString()},
        {"plain http on the service's own host and port", QStringLiteral("http://%1:%2").arg(host).arg(port)},
        {"the service's scheme on another port", Hostile::url("tls", QString(), host).toString()},
        {"the service's scheme and port on another host", QStringLiteral("https://localhost:%1").arg(port)},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        // A file whose reference, as a listing would name it, lies at the row's origin.
        const QString tag = Hostile::tag();
        auto document = QNDocument::withPath(QStringLiteral("/Sync Folder/away.txt"));
        document->setId(row.origin + tag + QStringLiteral("/file/1"));
        const WebDriveTest::Answer answer = WebDriveTest::run(config, [&](auto h, auto cb) {
            h->download(document, QNDocument::withPath(local->path() + QStringLiteral("/away.txt")), {}, cb);
        });
        EXPECT_TRUE(answer.error);
        EXPECT_TRUE(Hostile::received(tag).isEmpty()) << "the token went to another origin";
        EXPECT_EQ(sugarSyncRequests(peer, tag).join(", ").toStdString(), "") << "the token went to another origin";
    }
    QNServiceEndpoints::setOverrideForTesting(QString(), 0);
}
