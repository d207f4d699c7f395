// Copies and moves of local folders that hold symbolic links or names that
// are not valid UTF-8: a link back to an ancestor is not followed (the task
// ends), a link elsewhere is copied as what it leads to, a move removes a
// link as the link itself; an unreadable name is reported and kept while
// the rest of the tree goes.
#include "Core/QNCopyTask.h"
#include "Core/QNCopyTaskItem.h"
#include "Core/QNMoveTask.h"
#include "Core/QNMoveTaskItem.h"
#include "TaskTestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

using namespace TaskTest;

namespace {

class LocalLinks : public TaskFixture {
protected:
    // t/a.txt, t/up -> .., t/here -> ., t/l -> ../keep, t/l2 -> ../keep; keep/k.txt
    void writeLinkedTree() {
        writeTree(path("src"), {{"t/a.txt", "a"}, {"keep/k.txt", "k"}});
        for (const auto &[name, target] : {std::pair{"up", ".."}, {"here", "."}, {"l", "../keep"}, {"l2", "../keep"}})
            ASSERT_EQ(::symlink(target, QFile::encodeName(path("src/t/") + name).constData()), 0);
        QDir().mkpath(path("out"));
    }
};

TEST_F(LocalLinks, CopyFollowsALinkOnceAndNeverBackIntoItsOwnTree) {
    writeLinkedTree();
    auto [error, doc, cancelled] = runOne(std::make_shared<QNCopyTask>(),
                                          std::make_shared<QNCopyTaskItem>(localDrive(), localDrive(),
                                                                           localDocument(path("src/t")),
                                                                           localDocument(path("out"))));
    ASSERT_FALSE(error) << error->localizedDescription().toStdString();
    EXPECT_FALSE(cancelled);
    const QStringList got = listTree(path("out/t"));
    // keep arrives once, through l or l2; up and here lead back: not followed.
    EXPECT_TRUE(got == (QStringList{"a.txt", "l/", "l/k.txt"}) || got == (QStringList{"a.txt", "l2/", "l2/k.txt"}))
        << got.join(", ").toStdString();
}

TEST_F(LocalLinks, MoveRemovesLinksAsThemselvesAndKeepsWhatItDidNotCopy) {
    writeLinkedTree();
    auto [error, doc, cancelled] = runOne(std::make_shared<QNMoveTask>(),
                                          std::make_shared<QNMoveTaskItem>(localDrive(), localDrive(),
                                                                           localDocument(path("src/t")),
                                                                           localDocument(path("out"))));
    ASSERT_TRUE(error);  // the links not followed stay, and so does t
    EXPECT_TRUE(error->localizedDescription().contains("up")) << error->localizedDescription().toStdString();
    EXPECT_EQ(VNTest::readFile(path("src/keep/k.txt")), QByteArray("k"));
    EXPECT_FALSE(QFileInfo::exists(path("src/t/a.txt")));
    EXPECT_TRUE(QFileInfo(path("src/t/up")).isSymLink());
    EXPECT_TRUE(QFileInfo(path("src/t/here")).isSymLink());
}

TEST_F(LocalLinks, UnreadableNameIsReportedEscapedAndKeptWhileTheRestGoes) {
    // A readable name spelled as the unreadable one's escaped form: still not it.
    writeTree(path("src"), {{"t/good.txt", "g"}, {"t/bad\\xE9.txt", "c"}});
    const QByteArray bad = QFile::encodeName(path("src/t/")) + "bad\xE9.txt";  // Latin-1, not UTF-8
    const int fd = ::open(bad.constData(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    ::close(fd);
    QDir().mkpath(path("out"));
    for (bool moving : {false, true}) {
        SCOPED_TRACE(moving ? "move" : "copy");
        QDir(path("out/t")).removeRecursively();
        QNTaskPtr task = moving ? QNTaskPtr(std::make_shared<QNMoveTask>()) : std::make_shared<QNCopyTask>();
        auto source = localDocument(path("src/t"));
        QNTaskItemPtr item = moving ? QNTaskItemPtr(std::make_shared<QNMoveTaskItem>(localDrive(), localDrive(), source,
                                                                                     localDocument(path("out"))))
                                    : std::make_shared<QNCopyTaskItem>(localDrive(), localDrive(), source,
                                                                       localDocument(path("out")));
        auto [error, doc, cancelled] = runOne(task, item);
        ASSERT_TRUE(error);
        const QString text = error->localizedDescription();
        EXPECT_TRUE(text.contains("bad\\xE9.txt") && text.contains(path("src/t"))) << text.toStdString();
        EXPECT_EQ(VNTest::readFile(path("out/t/good.txt")), QByteArray("g"));
        EXPECT_EQ(::access(bad.constData(), F_OK), 0);
        EXPECT_EQ(QFileInfo::exists(path("src/t/good.txt")), !moving);
        if (moving)
            EXPECT_TRUE(text.contains("was kept")) << text.toStdString();
    }
    ::unlink(bad.constData());  // the temporary folder's clean-up cannot name it
}

}  // namespace

// A link picked by path alone (as files dropped from another application
// are) is still a link: the move removes it, not what lies behind it.
TEST_F(LocalLinks, MoveOfALinkNamedOnlyByItsPathRemovesTheLinkAlone) {
    writeTree(path("src"), {{"keep/k.txt", "k"}});
    ASSERT_EQ(::symlink("..", QFile::encodeName(path("src/keep/up")).constData()), 0);  // not copied: keep holds more
    ASSERT_EQ(::symlink("keep", QFile::encodeName(path("src/lk")).constData()), 0);
    QDir().mkpath(path("out"));
    auto [error, doc, cancelled] = runOne(std::make_shared<QNMoveTask>(),
                                          std::make_shared<QNMoveTaskItem>(localDrive(), localDrive(),
                                                                           localDocument(path("src/lk")),
                                                                           localDocument(path("out"))));
    EXPECT_FALSE(cancelled);
    EXPECT_EQ(VNTest::readFile(path("out/lk/k.txt")), QByteArray("k"));
    EXPECT_EQ(VNTest::readFile(path("src/keep/k.txt")), QByteArray("k"));
    EXPECT_FALSE(QFileInfo(path("src/lk")).isSymLink()) << (error ? error->localizedDescription().toStdString() : "");
}

// A folder reached through a link is where the link leads, on either side:
// a folder does not go into its own subfolder that way either.
TEST_F(LocalLinks, MoveIntoOwnSubfolderThroughALinkIsRefused) {
    struct Row {
        const char *name;
        const char *link;         // where "link" leads
        const char *source;       // the folder moved (holding a.txt and sub/b.txt)
        const char *destination;  // its own subfolder, one side reached through the link
    };
    const Row rows[] = {{"the destination through a link", "src/t/sub", "src/t", "link"},
                        {"the source through a link", "src", "link/t", "src/t/sub"}};
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        const QString here = path(row.name) + QLatin1Char('/');
        writeTree(here + "src", {{"t/a.txt", "a"}, {"t/sub/b.txt", "b"}});
        ASSERT_EQ(::symlink(row.link, QFile::encodeName(here + "link").constData()), 0);
        auto [error, doc, cancelled] = runOne(std::make_shared<QNMoveTask>(),
                                              std::make_shared<QNMoveTaskItem>(localDrive(), localDrive(),
                                                                               localDocument(here + row.source),
                                                                               localDocument(here + row.destination)));
        ASSERT_TRUE(error);
        EXPECT_TRUE(error->localizedDescription().contains("into itself")) << error->localizedDescription().toStdString();
        EXPECT_EQ(listTree(here + "src/t").join(", ").toStdString(), "a.txt, sub/, sub/b.txt");
    }
}
