// Listing local folders.
#include "LocalTestHelpers.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

TEST(LocalListing, ListsEveryEntryIncludingHiddenOnesAndSeesThroughLinks) {
    auto dir = VNTest::makeTempDir();
    VNTest::writeFile(dir->path() + "/a.txt", "12345");
    VNTest::writeFile(dir->path() + "/.hidden", "");
    QDir(dir->path()).mkdir("sub");
    ASSERT_TRUE(QFile::link(dir->path() + "/a.txt", dir->path() + "/to-file"));
    ASSERT_TRUE(QFile::link(dir->path() + "/sub", dir->path() + "/to-folder"));
    ASSERT_TRUE(QFile::link(dir->path() + "/gone", dir->path() + "/dangling"));
    auto handler = makeLocalHandler();
    const ListAnswer a = listFolder(*handler, QNDocument::withPath(dir->path(), true), "ignored");
    EXPECT_FALSE(a.error || a.cancelled);
    EXPECT_FALSE(a.answeredOnMain);   // answered on the background queue
    EXPECT_EQ(a.keyword, "ignored");  // handed back, not used
    auto byName = a.byName();
    ASSERT_EQ(byName.size(), 6u);
    for (const char *name : {".hidden", "a.txt", "sub", "to-file", "to-folder", "dangling"})
        ASSERT_TRUE(byName.count(name)) << name;
    EXPECT_EQ(byName["a.txt"]->path(), dir->path() + "/a.txt");
    EXPECT_TRUE(byName["a.txt"]->driveConfigId().isNull());  // stamped by the pane, not the handler
    // name, is a folder, size, has a date
    const std::vector<std::tuple<const char *, bool, qint64, bool>> cases{
        {"a.txt", false, 5, true},    {"sub", true, 0, true},       {"to-file", false, 5, true},
        {"to-folder", true, 0, true}, {"dangling", false, 0, false},
    };
    for (const auto &[name, folder, size, dated] : cases) {
        EXPECT_EQ(byName[name]->isDirectory(), folder) << name;
        EXPECT_EQ(byName[name]->size(), size) << name;
        EXPECT_EQ(byName[name]->date().isValid(), dated) << name;
    }
}

TEST(LocalListing, MissingFolderOrAFileIsAnError) {
    auto dir = VNTest::makeTempDir();
    VNTest::writeFile(dir->path() + "/f", "x");
    auto handler = makeLocalHandler();
    for (const auto &listed : {QNDocument::withPath(dir->path() + "/nope", true), QNDocument::withPath(dir->path() + "/f")}) {
        const ListAnswer a = listFolder(*handler, listed, "kw");
        ASSERT_TRUE(a.error) << listed->path().toStdString();
        EXPECT_TRUE(a.docs.isEmpty());
        EXPECT_FALSE(a.cancelled);
        EXPECT_EQ(a.keyword, "kw");
        EXPECT_EQ(a.error->domain(), "QNMyDocumentsHandler");
    }
}

// A folder the system cannot open just now (no file descriptor left) is an
// error, not an empty folder: a move would take it for one it had copied whole.
TEST(LocalListing, AFolderThatCannotBeOpenedIsAnErrorNotAnEmptyFolder) {
    auto dir = VNTest::makeTempDir();
    VNTest::writeFile(dir->path() + "/a.txt", "a");
    auto handler = makeLocalHandler();
    struct rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    const int last = ::dup(0);  // every lower descriptor is taken: none is left past it
    ASSERT_GE(last, 0);
    struct rlimit none = saved;
    none.rlim_cur = rlim_t(last) + 1;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &none), 0);
    const ListAnswer a = listFolder(*handler, QNDocument::withPath(dir->path(), true), QString());
    ::setrlimit(RLIMIT_NOFILE, &saved);
    ::close(last);
    EXPECT_TRUE(a.error);
    EXPECT_TRUE(a.docs.isEmpty());
}
