// The upload under a temporary name: on Apache the whole file replaces its
// namesake and no temporary file stays; against the fake, a MOVE onto the
// name that fails removes the temporary file only while the name still
// holds a file (a server that removed the file it was to replace leaves the
// new one as the only copy), a MOVE whose reply was lost after the server
// carried it out is an upload done, a cancelled upload removes what it
// sent, and a MOVE on its way when the upload is cancelled runs to the
// server's answer.
#include "WebDAVPeer.h"
#include "Core/QNCloudInterface.h"
#include "Core/QNUploadOperation.h"
#include "Net/NRHTTPRequest.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QUuid>
#include <gtest/gtest.h>

using namespace WebDAVPeer;

namespace {

QString unique() {
    return QUuid::createUuid().toString(QUuid::WithoutBraces).left(8);
}

// The requests the fake received for paths below prefix, "METHOD path" each.
QStringList seenBelow(const QString &prefix) {
    auto request = NRHTTPRequest::requestWithURL(QUrl(fakeURL() + QStringLiteral("/seen") + prefix));
    request->startSynchronous();
    return QString::fromUtf8(request->responseData()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// Whether a request of method for the temporary file of name was seen.
bool sawTemporary(const QStringList &seen, const char *method, const QString &name) {
    for (const QString &line : seen)
        if (line.startsWith(QLatin1String(method) + QLatin1Char(' ')) &&
            line.section(QLatin1Char('/'), -1).startsWith(QLatin1Char('.') + name + QStringLiteral(".part-")))
            return true;
    return false;
}

class WebDAVTemporaryUpload : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(state().isEmpty()) << "the webdav peer is not running";
        setUpOnce();
        local = VNTest::makeTempDir();
        source = local->path() + QStringLiteral("/note.txt");
        ASSERT_TRUE(VNTest::writeFile(source, "new"));
    }

    AnswerPtr uploadUnderTemporaryName(const QNDriveConfigPtr &config, const QString &folder) {
        auto answer = std::make_shared<Answer>();
        handlerFor(config)->uploadUnderTemporaryName(QNDocument::withPath(source), QNDocument::withPath(folder, true),
                                                     nullptr, documentAnswer(answer));
        EXPECT_TRUE(waitForAnswer(answer, 60000));
        EXPECT_EQ(answer->count, 1);
        return answer;
    }

    std::unique_ptr<QTemporaryDir> local;
    QString source;
};

TEST_F(WebDAVTemporaryUpload, TheWholeFileReplacesItsNamesakeAndNoTemporaryFileStays) {
    // A name a URL must escape, in the PUT's path and the MOVE's Destination.
    const QString name = QString::fromUtf8("n\xc3\xb6te #1.txt");
    source = local->path() + QLatin1Char('/') + name;
    ASSERT_TRUE(VNTest::writeFile(source, "new"));
    const QString folder = freshFolder(QStringLiteral("root_dir"), QStringLiteral("temporary-") + unique());
    ASSERT_TRUE(VNTest::writeFile(folder + QLatin1Char('/') + name, "old, and longer than the new"));
    auto answer = uploadUnderTemporaryName(drive(url(QStringLiteral("http"))),
                                           QLatin1Char('/') + QDir(folder).dirName());
    EXPECT_FALSE(answer->error) << answer->errorText().toStdString();
    EXPECT_TRUE(answer->document);
    EXPECT_EQ(VNTest::readFile(folder + QLatin1Char('/') + name), QByteArray("new"));
    EXPECT_EQ(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList{name});
}

TEST_F(WebDAVTemporaryUpload, AFailedMoveRemovesTheTemporaryFileOnlyWhileTheNameStillHoldsAFile) {
    struct Row {
        const char *where;  // the fake's scenario: how the MOVE fails, what the looks after it find
        bool removed;
        const char *said;   // null: the upload is done
        bool keptOnDrive;   // the error says a file stays (said after a cancel too)
    };
    const Row rows[] = {
        {"move-fails/there", true,
         "could not take its own name: The server answered 500 Internal Server Error to MOVE", false},
        {"move-fails/gone", false, "is no longer there, so the uploaded file is kept as", true},
        {"move-fails/unknown", false, "could not be told", true},
        // The reply lost after the server moved the file: the temporary file
        // is gone, and the name holds the file, or nothing.
        {"move-lost/kept", false, nullptr, false},
        {"move-lost/vanished", false, "and the temporary file is gone", false},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.where);
        const QString folder = QStringLiteral("/%1/%2").arg(QLatin1String(row.where), unique());
        auto answer = uploadUnderTemporaryName(drive(fakeURL()), folder);
        EXPECT_EQ(bool(answer->document), !row.said);
        EXPECT_FALSE(answer->cancelled);
        const QString said = answer->error ? answer->error->localizedDescription() : QString();
        if (row.said)
            EXPECT_TRUE(said.contains(QLatin1String(row.said))) << said.toStdString();
        else
            EXPECT_TRUE(said.isEmpty()) << "a file in place reported as a failure: " << said.toStdString();
        EXPECT_EQ(QNCloudInterface::saysFileLeftOnDrive(answer->error), row.keptOnDrive);
        const QStringList seen = seenBelow(folder);
        EXPECT_TRUE(sawTemporary(seen, "PUT", QStringLiteral("note.txt"))) << seen.join(' ').toStdString();
        EXPECT_TRUE(sawTemporary(seen, "MOVE", QStringLiteral("note.txt"))) << seen.join(' ').toStdString();
        EXPECT_EQ(sawTemporary(seen, "DELETE", QStringLiteral("note.txt")), row.removed)
            << seen.join(' ').toStdString();
        // Nothing is ever sent onto the name itself.
        EXPECT_FALSE(seen.contains(QStringLiteral("PUT %1/note.txt").arg(folder))) << seen.join(' ').toStdString();
    }
}

// Cancelled while the body is on its way, the upload removes what it sent;
// cancelled while its MOVE is, the MOVE runs to the server's answer (cut
// off, the server might still carry it out, unknown to all): the file is in
// place and nothing is removed. The operation answers the cancel at once.
TEST_F(WebDAVTemporaryUpload, ACancelledUploadRemovesItsTemporaryFileAndAMoveOnItsWayRunsToItsAnswer) {
    struct Row {
        const char *name;
        const char *scenario;
        bool duringTheMove;
    };
    const Row rows[] = {
        {"cancelled during the PUT", "slow-upload", false},
        {"cancelled during the MOVE", "move-slow", true},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_TRUE(VNTest::writeFile(source, QByteArray(row.duringTheMove ? 16 : 4 * 1024 * 1024, 'u')));
        const QString folder = QStringLiteral("/%1/").arg(QLatin1String(row.scenario)) + unique();
        auto answer = std::make_shared<Answer>();
        auto progressed = std::make_shared<std::atomic<bool>>(false);
        auto upload = std::make_shared<QNUploadOperation>(
            drive(fakeURL()), QNDocument::withPath(source), QNDocument::withPath(folder, true),
            [progressed](double f) {
                if (f > 0)
                    progressed->store(true);
            },
            documentAnswer(answer));
        upload->setUnderTemporaryName(true);
        upload->start();
        if (row.duringTheMove)
            EXPECT_TRUE(VNTest::waitUntil(
                [&] { return sawTemporary(seenBelow(folder), "MOVE", QStringLiteral("note.txt")); }, 20000));
        else
            EXPECT_TRUE(VNTest::waitUntil([&] { return progressed->load(); }, 20000));
        upload->cancel();
        EXPECT_TRUE(waitForAnswer(answer, 1000)) << "the cancel was not answered at once";
        EXPECT_EQ(answer->count, 1);
        EXPECT_TRUE(answer->cancelled);
        EXPECT_FALSE(answer->document);
        // The handler's own answer, once the server has given its own (it
        // comes on this thread).
        const auto watch = upload->handlerCallWatch();
        EXPECT_TRUE(VNTest::waitUntil([&] { return watch->waitUntilAnswered(std::chrono::steady_clock::now()); },
                                      30000));
        const QStringList seen = seenBelow(folder);
        EXPECT_EQ(sawTemporary(seen, "DELETE", QStringLiteral("note.txt")), !row.duringTheMove)
            << seen.join(' ').toStdString();
        EXPECT_EQ(sawTemporary(seen, "MOVE", QStringLiteral("note.txt")), row.duringTheMove)
            << seen.join(' ').toStdString();
        if (row.duringTheMove) {
            EXPECT_FALSE(sawTemporary(seen, "GAVEUP", QStringLiteral("note.txt"))) << "the MOVE was cut off on its way";
            EXPECT_TRUE(watch->answer().succeeded()) << "the file in place, yet not said so";
        }
    }
}

}  // namespace
