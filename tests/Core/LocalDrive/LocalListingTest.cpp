// Listing local folders.
#include "LocalTestHelpers.h"

#include <gtest/gtest.h>

TEST(LocalListing, ListsEveryEntryIncludingHiddenOnes) {
    auto dir = VNTest::makeTempDir();
    VNTest::writeFile(dir->path() + "/a.txt", "12345");
    VNTest::writeFile(dir->path() + "/.hidden", "");
    QDir(dir->path()).mkdir("sub");
    auto handler = makeLocalHandler();
    QNDocumentList docs;
    QString keyword;
    std::atomic<int> answers{0};
    bool onMain = true;
    handler->listDocuments(QNDocument::withPath(dir->path(), true), QString("ignored"),
                           [&](QNDocumentList d, QString kw, VNErrorPtr e, bool c) {
                               EXPECT_FALSE(e);
                               EXPECT_FALSE(c);
                               docs = d;
                               keyword = kw;
                               onMain = VNDispatch::isMainThread();
                               answers.fetch_add(1);
                           });
    ASSERT_TRUE(VNTest::waitUntil([&] { return answers.load() == 1; }));
    EXPECT_FALSE(onMain);           // answered on the background queue
    EXPECT_EQ(keyword, "ignored");  // handed back, not used
    ASSERT_EQ(docs.size(), 3);
    std::map<QString, QNDocumentPtr> byName;
    for (auto &d : docs) byName[d->displayName()] = d;
    ASSERT_TRUE(byName.count(".hidden"));
    ASSERT_TRUE(byName.count("a.txt"));
    ASSERT_TRUE(byName.count("sub"));
    EXPECT_EQ(byName["a.txt"]->path(), dir->path() + "/a.txt");
    EXPECT_EQ(byName["a.txt"]->size(), 5);
    EXPECT_FALSE(byName["a.txt"]->isDirectory());
    EXPECT_TRUE(byName["sub"]->isDirectory());
    EXPECT_EQ(byName["sub"]->size(), 0);
    EXPECT_TRUE(byName["a.txt"]->date().isValid());
    EXPECT_TRUE(byName["a.txt"]->driveConfigId().isNull());  // stamped by the pane, not the handler
}

TEST(LocalListing, LinksAreSeenThroughAndADanglingLinkIsAnEmptyFile) {
    auto dir = VNTest::makeTempDir();
    VNTest::writeFile(dir->path() + "/data.bin", "1234567");
    QDir(dir->path()).mkdir("real");
    ASSERT_TRUE(QFile::link(dir->path() + "/data.bin", dir->path() + "/to-file"));
    ASSERT_TRUE(QFile::link(dir->path() + "/real", dir->path() + "/to-folder"));
    ASSERT_TRUE(QFile::link(dir->path() + "/gone", dir->path() + "/dangling"));
    auto handler = makeLocalHandler();
    QNDocumentList docs;
    std::atomic<int> answers{0};
    handler->listDocuments(QNDocument::withPath(dir->path(), true), QString(),
                           [&](QNDocumentList d, QString, VNErrorPtr e, bool) {
                               EXPECT_FALSE(e);
                               docs = d;
                               answers.fetch_add(1);
                           });
    ASSERT_TRUE(VNTest::waitUntil([&] { return answers.load() == 1; }));
    std::map<QString, QNDocumentPtr> byName;
    for (auto &d : docs) byName[d->displayName()] = d;
    ASSERT_EQ(byName.size(), 5u);
    EXPECT_FALSE(byName["to-file"]->isDirectory());
    EXPECT_EQ(byName["to-file"]->size(), 7);
    EXPECT_TRUE(byName["to-file"]->date().isValid());
    EXPECT_TRUE(byName["to-folder"]->isDirectory());
    EXPECT_FALSE(byName["dangling"]->isDirectory());
    EXPECT_EQ(byName["dangling"]->size(), 0);
    EXPECT_FALSE(byName["dangling"]->date().isValid());
}

TEST(LocalListing, MissingFolderOrAFileIsAnError) {
    auto dir = VNTest::makeTempDir();
    VNTest::writeFile(dir->path() + "/f", "x");
    auto handler = makeLocalHandler();
    for (const auto &listed : {QNDocument::withPath(dir->path() + "/nope", true), QNDocument::withPath(dir->path() + "/f")}) {
        VNErrorPtr error;
        QString keyword;
        std::atomic<int> answers{0};
        handler->listDocuments(listed, QString("kw"), [&](QNDocumentList d, QString kw, VNErrorPtr e, bool c) {
            EXPECT_TRUE(d.isEmpty());
            EXPECT_FALSE(c);
            error = e;
            keyword = kw;
            answers.fetch_add(1);
        });
        ASSERT_TRUE(VNTest::waitUntil([&] { return answers.load() == 1; }));
        ASSERT_TRUE(error) << listed->path().toStdString();
        EXPECT_EQ(keyword, "kw");
        EXPECT_EQ(error->domain(), "QNMyDocumentsHandler");
    }
}

TEST(LocalListing, LoginAnswersNotSupported) {
    auto handler = makeLocalHandler();
    int answers = 0;
    handler->login([&](bool ok, VNErrorPtr e, bool c) {
        ++answers;
        EXPECT_FALSE(ok);
        EXPECT_TRUE(e);
        EXPECT_FALSE(c);
    });
    EXPECT_EQ(answers, 1);
    handler->quota(nullptr, [&](VNErrorPtr e, bool c) {
        ++answers;
        EXPECT_TRUE(c);
    });
    EXPECT_EQ(answers, 2);
}
