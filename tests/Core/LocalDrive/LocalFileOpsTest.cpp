// Folder creation, removal and renaming on the local disk: at once, on the
// calling thread.
#include "LocalTestHelpers.h"

#include <QFileInfo>
#include <gtest/gtest.h>

TEST(LocalFileOps, CreateFolderAnswersAtOnce) {
    auto dir = VNTest::makeTempDir();
    auto handler = makeLocalHandler();
    int answers = 0;
    QNDocumentPtr made;
    handler->createFolder("New Folder", QNDocument::withPath(dir->path(), true),
                          [&](QNDocumentPtr d, VNErrorPtr e, bool c) {
                              ++answers;
                              EXPECT_FALSE(e);
                              EXPECT_FALSE(c);
                              made = d;
                          });
    ASSERT_EQ(answers, 1);
    ASSERT_TRUE(made);
    EXPECT_TRUE(made->isDirectory());
    EXPECT_EQ(made->displayName(), "New Folder");
    EXPECT_EQ(made->path(), dir->path() + "/New Folder");
    EXPECT_TRUE(QFileInfo(made->path()).isDir());
    EXPECT_TRUE(VNLog::captured().join("\n").contains("createFolder: "));
}

TEST(LocalFileOps, CreateFolderFailures) {
    auto dir = VNTest::makeTempDir();
    QDir(dir->path()).mkdir("exists");
    auto handler = makeLocalHandler();
    auto parent = QNDocument::withPath(dir->path(), true);
    for (const QString &name : {QString("exists"), QString(""), QString(".."), QString("a/b"), QString("../escape")}) {
        VNErrorPtr error;
        int answers = 0;
        handler->createFolder(name, parent, [&](QNDocumentPtr d, VNErrorPtr e, bool c) {
            ++answers;
            EXPECT_FALSE(d);
            EXPECT_FALSE(c);
            error = e;
        });
        EXPECT_EQ(answers, 1);
        EXPECT_TRUE(error) << name.toStdString();
    }
    EXPECT_FALSE(QFileInfo::exists(dir->path() + "/../escape"));
    VNErrorPtr error;
    handler->createFolder("x", QNDocument::withPath(dir->path() + "/missing/deeper", true),
                          [&](QNDocumentPtr, VNErrorPtr e, bool) { error = e; });
    EXPECT_TRUE(error);  // no intermediate folders
}

TEST(LocalFileOps, RemoveFileAndFolderTree) {
    auto dir = VNTest::makeTempDir();
    VNTest::writeFile(dir->path() + "/f.txt", "x");
    VNTest::writeFile(dir->path() + "/tree/a/b/c.txt", "x");
    auto handler = makeLocalHandler();
    int answers = 0;
    auto check = [&](QNDocumentPtr d, VNErrorPtr e, bool c) {
        ++answers;
        EXPECT_FALSE(d);
        EXPECT_FALSE(e);
        EXPECT_FALSE(c);
    };
    handler->remove(QNDocument::withPath(dir->path() + "/f.txt"), check);
    handler->remove(QNDocument::withPath(dir->path() + "/tree", true), check);
    EXPECT_EQ(answers, 2);
    EXPECT_TRUE(folderEntries(dir->path()).isEmpty());
}

TEST(LocalFileOps, RemoveSymlinkRemovesOnlyTheLink) {
    auto dir = VNTest::makeTempDir();
    VNTest::writeFile(dir->path() + "/target/keep.txt", "keep");
    ASSERT_TRUE(QFile::link(dir->path() + "/target", dir->path() + "/link"));
    auto handler = makeLocalHandler();
    VNErrorPtr error;
    handler->remove(QNDocument::withPath(dir->path() + "/link"), [&](QNDocumentPtr, VNErrorPtr e, bool) { error = e; });
    EXPECT_FALSE(error);
    EXPECT_FALSE(QFileInfo(dir->path() + "/link").isSymLink());
    EXPECT_EQ(VNTest::readFile(dir->path() + "/target/keep.txt"), "keep");
}

TEST(LocalFileOps, RemoveMissingIsAnError) {
    auto dir = VNTest::makeTempDir();
    auto handler = makeLocalHandler();
    VNErrorPtr error;
    handler->remove(QNDocument::withPath(dir->path() + "/nothing"),
                    [&](QNDocumentPtr, VNErrorPtr e, bool) { error = e; });
    EXPECT_TRUE(error);
    EXPECT_TRUE(VNLog::captured().join("\n").contains("QNMyDocumentsHandler remove error: "));
}

TEST(LocalFileOps, RenameUsesOnlyTheLastComponent) {
    auto dir = VNTest::makeTempDir();
    VNTest::writeFile(dir->path() + "/here/old.txt", "x");
    QDir(dir->path()).mkdir("elsewhere");
    auto handler = makeLocalHandler();
    auto name = QNDocument::withPath(dir->path() + "/elsewhere/new.txt");
    QNDocumentPtr result;
    handler->rename(QNDocument::withPath(dir->path() + "/here/old.txt"), name,
                    [&](QNDocumentPtr d, VNErrorPtr e, bool) {
                        EXPECT_FALSE(e);
                        result = d;
                    });
    EXPECT_EQ(result, name);
    EXPECT_TRUE(QFileInfo::exists(dir->path() + "/here/new.txt"));
    EXPECT_FALSE(QFileInfo::exists(dir->path() + "/elsewhere/new.txt"));
}

TEST(LocalFileOps, RenameNeverOverwrites) {
    auto dir = VNTest::makeTempDir();
    VNTest::writeFile(dir->path() + "/a.txt", "a");
    VNTest::writeFile(dir->path() + "/b.txt", "b");
    auto handler = makeLocalHandler();
    VNErrorPtr error;
    handler->rename(QNDocument::withPath(dir->path() + "/a.txt"), QNDocument::withPath(dir->path() + "/b.txt"),
                    [&](QNDocumentPtr d, VNErrorPtr e, bool) {
                        EXPECT_FALSE(d);
                        error = e;
                    });
    EXPECT_TRUE(error);
    EXPECT_EQ(VNTest::readFile(dir->path() + "/b.txt"), "b");
    EXPECT_EQ(VNTest::readFile(dir->path() + "/a.txt"), "a");
    handler->rename(QNDocument::withPath(dir->path() + "/a.txt"), QNDocument::withPath(".."),
                    [&](QNDocumentPtr, VNErrorPtr e, bool) { error = e; });
    EXPECT_TRUE(error);
}
