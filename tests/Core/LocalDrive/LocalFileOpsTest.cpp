// Folder creation, removal and renaming on the local disk: at once, on the
// calling thread, but for the removal of a folder's tree.
#include "LocalTestHelpers.h"

#include <QFileInfo>
#include <gtest/gtest.h>

TEST(LocalFileOps, CreateFolderAnswersAtOnceAndRefusesWhatIsNotOneNewFolder) {
    auto dir = VNTest::makeTempDir();
    auto handler = makeLocalHandler();
    auto parent = QNDocument::withPath(dir->path(), true);
    DocumentAnswer made;
    handler->createFolder("New Folder", parent, made.callback());
    ASSERT_EQ(made.answers.load(), 1);
    EXPECT_FALSE(made.error || made.cancelled);
    ASSERT_TRUE(made.document);
    EXPECT_TRUE(made.document->isDirectory());
    EXPECT_EQ(made.document->displayName(), "New Folder");
    EXPECT_EQ(made.document->path(), dir->path() + "/New Folder");
    EXPECT_TRUE(QFileInfo(made.document->path()).isDir());

    // No intermediate folders either.
    auto missing = QNDocument::withPath(dir->path() + "/missing/deeper", true);
    for (const auto &[name, into] : std::vector<std::pair<QString, QNDocumentPtr>>{
             {"New Folder", parent}, {"", parent}, {"..", parent}, {"a/b", parent}, {"../escape", parent},
             {"x", missing}}) {
        DocumentAnswer a;
        handler->createFolder(name, into, a.callback());
        EXPECT_EQ(a.answers.load(), 1);
        EXPECT_TRUE(a.error) << name.toStdString();
        EXPECT_FALSE(a.document || a.cancelled);
    }
    EXPECT_FALSE(QFileInfo::exists(dir->path() + "/../escape"));
    EXPECT_EQ(folderEntries(dir->path()), QStringList{"New Folder"});
}

TEST(LocalFileOps, RemoveFileFolderTreeAndOnlyTheLinkAndMissingIsAnError) {
    auto dir = VNTest::makeTempDir();
    VNTest::writeFile(dir->path() + "/f.txt", "x");
    VNTest::writeFile(dir->path() + "/tree/a/b/c.txt", "x");
    VNTest::writeFile(dir->path() + "/target/keep.txt", "keep");
    ASSERT_TRUE(QFile::link(dir->path() + "/target", dir->path() + "/link"));
    ASSERT_TRUE(QFile::link(dir->path() + "/target", dir->path() + "/link2"));
    auto handler = makeLocalHandler();
    // "link2/" names the link as a folder: still only the link goes.
    for (const QString &name : {"/f.txt", "/tree", "/link", "/link2/"}) {
        DocumentAnswer a;
        handler->remove(QNDocument::withPath(dir->path() + name, name == "/tree"), a.callback());
        // A folder's tree goes off the calling (main) thread: it may be large.
        ASSERT_TRUE(VNTest::waitUntil([&] { return a.answers.load() == 1; }));
        EXPECT_EQ(a.answeredOnMain, name != "/tree") << name.toStdString();
        EXPECT_FALSE(a.document);
        EXPECT_FALSE(a.error) << name.toStdString();
        EXPECT_FALSE(a.cancelled);
    }
    EXPECT_EQ(folderEntries(dir->path()), QStringList{"target"});
    EXPECT_EQ(VNTest::readFile(dir->path() + "/target/keep.txt"), "keep");

    DocumentAnswer missing;
    handler->remove(QNDocument::withPath(dir->path() + "/nothing"), missing.callback());
    EXPECT_TRUE(missing.error);
}

TEST(LocalFileOps, RenameUsesOnlyTheLastComponentAndNeverOverwrites) {
    auto dir = VNTest::makeTempDir();
    VNTest::writeFile(dir->path() + "/here/old.txt", "old");
    VNTest::writeFile(dir->path() + "/here/b.txt", "b");
    QDir(dir->path()).mkdir("elsewhere");
    auto handler = makeLocalHandler();
    auto name = QNDocument::withPath(dir->path() + "/elsewhere/new.txt");
    auto old = QNDocument::withPath(dir->path() + "/here/old.txt");
    DocumentAnswer renamed;
    handler->rename(old, name, renamed.callback());
    EXPECT_FALSE(renamed.error);
    // The answer is the document where it now is, a document of its own:
    // the two given belong to the caller and stay as they were.
    ASSERT_TRUE(renamed.document);
    EXPECT_NE(renamed.document, name);
    EXPECT_NE(renamed.document, old);
    EXPECT_EQ(renamed.document->path(), dir->path() + "/here/new.txt");
    EXPECT_EQ(renamed.document->displayName(), "new.txt");
    EXPECT_EQ(old->path(), dir->path() + "/here/old.txt");
    EXPECT_EQ(name->path(), dir->path() + "/elsewhere/new.txt");
    EXPECT_EQ(VNTest::readFile(dir->path() + "/here/new.txt"), "old");
    EXPECT_TRUE(folderEntries(dir->path() + "/elsewhere").isEmpty());

    for (const QString &onto : {dir->path() + "/here/b.txt", QStringLiteral("..")}) {
        DocumentAnswer refused;
        handler->rename(QNDocument::withPath(dir->path() + "/here/new.txt"), QNDocument::withPath(onto),
                        refused.callback());
        EXPECT_TRUE(refused.error) << onto.toStdString();
        EXPECT_FALSE(refused.document);
    }
    EXPECT_EQ(VNTest::readFile(dir->path() + "/here/b.txt"), "b");
    EXPECT_EQ(VNTest::readFile(dir->path() + "/here/new.txt"), "old");
}
