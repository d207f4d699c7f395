// A web drive's upload session lives where the service's reply says: an
// address on another origin, or on plain http, gets the file without the
// drive's access token. The Google Drive fake hands out session addresses on
// the hostile server or on its own plain-http port; their logs show what
// arrived.
#include "../Cloud/WebDrives/WebDriveServices.h"
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
