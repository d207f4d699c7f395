// Create folder and rename on Apache's two shares, checked on its
// disk, with the texts of the server's refusals (folders, copies and moves
// on every server family: WebDAVServers).
#include "WebDAVPeer.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

using namespace WebDAVPeer;

namespace {

class WebDAVItems : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(state().isEmpty()) << "the webdav peer is not running";
        setUpOnce();
    }

    template <typename Start>
    AnswerPtr call(Start start) {
        auto answer = std::make_shared<Answer>();
        start(documentAnswer(answer));
        EXPECT_TRUE(waitForAnswer(answer));
        EXPECT_EQ(answer->count, 1);
        return answer;
    }

    static QNDocumentPtr folder(const QString &path) { return QNDocument::withPath(path, true); }
    static QNDocumentPtr file(const QString &path) { return QNDocument::withPath(path, false); }
};

TEST_F(WebDAVItems, CreateFolderThenAgainThenInAMissingParentThenWithNamesThatAreNotOneFolder) {
    for (const QString &share : {QStringLiteral("root_dir"), QStringLiteral("dav_dir")}) {
        const QString disk = freshFolder(share, "mk");
        auto config = drive(share == "root_dir" ? url("http") : url("http") + "/dav");
        auto made = call([&](auto done) { handlerFor(config)->createFolder("new folder", folder("/mk"), done); });
        ASSERT_FALSE(made->error) << made->errorText().toStdString();
        ASSERT_TRUE(made->document);
        EXPECT_EQ(made->document->path(), "/mk/new folder");
        EXPECT_EQ(made->document->displayName(), "new folder");
        EXPECT_TRUE(QFileInfo(disk + "/new folder").isDir());

        auto again = call([&](auto done) { handlerFor(config)->createFolder("new folder", folder("/mk"), done); });
        ASSERT_TRUE(again->error);
        EXPECT_EQ(again->error->domain(), "QNWebDavHander");
        EXPECT_EQ(again->errorText(),
                  "The folder /mk/new folder could not be created. Maybe the folder already exists?");

        auto orphan = call([&](auto done) { handlerFor(config)->createFolder("x", folder("/mk/absent"), done); });
        ASSERT_TRUE(orphan->error);
        EXPECT_EQ(orphan->errorText(), statusLine(409, "Conflict"));

        // Names that are not one folder.
        for (const QString &name : {QString("a/b"), QString(".."), QString()}) {
            auto answer = call([&](auto done) { handlerFor(config)->createFolder(name, folder("/mk/new folder"), done); });
            EXPECT_TRUE(answer->error) << name.toStdString();
        }
        EXPECT_TRUE(QDir(disk + "/new folder").isEmpty());
    }
    // A name longer than a disk takes, refused with 405 (the fake refuses
    // every folder so): the server's status, not a guess that it exists.
    auto tooLong = call([&](auto done) {
        handlerFor(drive(fakeURL()))->createFolder(QString(300, 'n'), folder("/"), done);
    });
    ASSERT_TRUE(tooLong->error);
    EXPECT_EQ(tooLong->errorText(), statusLine(405, "Method Not Allowed"));
}

TEST_F(WebDAVItems, RenameMovesAndNeverReplaces) {
    const QString disk = freshFolder("root_dir", "ren");
    VNTest::writeFile(disk + "/old name.txt", "old");
    VNTest::writeFile(disk + "/taken.txt", "taken");
    auto config = drive(url("http"));
    auto newName = file("/ren/new näme.txt");
    auto old = file("/ren/old name.txt");
    auto renamed = call([&](auto done) { handlerFor(config)->rename(old, newName, done); });
    ASSERT_FALSE(renamed->error) << renamed->errorText().toStdString();
    // A document of its own under the new name: the two given belong to the
    // caller and stay as they were.
    ASSERT_TRUE(renamed->document);
    EXPECT_NE(renamed->document, newName);
    EXPECT_NE(renamed->document, old);
    EXPECT_EQ(renamed->document->path(), QString::fromUtf8("/ren/new näme.txt"));
    EXPECT_EQ(old->path(), "/ren/old name.txt");
    EXPECT_EQ(newName->path(), QString::fromUtf8("/ren/new näme.txt"));
    EXPECT_FALSE(QFile::exists(disk + "/old name.txt"));
    EXPECT_EQ(VNTest::readFile(disk + QString::fromUtf8("/new näme.txt")), "old");

    auto clash = call([&](auto done) {
        handlerFor(config)->rename(file("/ren/new näme.txt"), file("/ren/taken.txt"), done);
    });
    ASSERT_TRUE(clash->error);
    EXPECT_TRUE(clash->errorText().contains("412")) << clash->errorText().toStdString();
    EXPECT_EQ(VNTest::readFile(disk + "/taken.txt"), "taken");
    EXPECT_EQ(VNTest::readFile(disk + QString::fromUtf8("/new näme.txt")), "old");
}

TEST_F(WebDAVItems, CancelBeforeTheRequestRunsAnswersCancelled) {
    auto handler = handlerFor(drive(fakeURL()));
    auto answer = std::make_shared<Answer>();
    handler->remove(QNDocument::withPath("/slow/x"), documentAnswer(answer));
    handler->cancel();
    ASSERT_TRUE(waitForAnswer(answer));
    VNTest::spin(100);
    EXPECT_EQ(answer->count, 1);
    EXPECT_TRUE(answer->cancelled);
    EXPECT_FALSE(answer->error);
}

}  // namespace
