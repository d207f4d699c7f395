// Copies and moves of local folders that hold symbolic links or names that
// are not valid UTF-8: a link back to an ancestor is not followed (the
// task's end report names it), a link elsewhere is copied as what it leads
// to, a move removes a link as the link itself; an unreadable name is named
// and kept while the rest of the tree goes. What is left out is no error.
#include "Core/QNCopyTask.h"
#include "Core/QNCopyTaskItem.h"
#include "Core/QNMoveTask.h"
#include "Core/QNMoveTaskItem.h"
#include "ScriptedRemoteHandler.h"
#include "TaskTestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
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

// A link the copy does not follow is left out: the task's end report names
// it, the item ends without an error, and everything else arrives. One row
// per kind of link left out, each beside the followed link of the first row.
TEST_F(LocalLinks, ALinkLeftOutIsNamedInTheReportAndTheRestArrives) {
    struct Row {
        const char *name;
        std::vector<std::pair<const char *, const char *>> links;  // in t: name -> target
        const char *leftOut;                                      // named in the error; "" when none is
        QStringList arrived;                                      // below out/t
    };
    const QStringList followed{"a.txt", "l/", "l/k.txt"};
    const std::vector<Row> rows{
        {"a link out of the tree, followed", {{"l", "../keep"}}, "", followed},
        {"a link back into the tree", {{"l", "../keep"}, {"here", "."}}, "here", followed},
        {"a link to the folder holding the tree", {{"l", "../keep"}, {"up", ".."}}, "up", followed},
        {"a folder reached through another link before", {{"l", "../keep"}, {"m", "../keep"}}, "l|m",
         followed},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        const QString here = path(row.name) + QLatin1Char('/');
        writeTree(here + "src", {{"t/a.txt", "a"}, {"keep/k.txt", "k"}});
        for (const auto &[name, target] : row.links)
            ASSERT_EQ(::symlink(target, QFile::encodeName(here + "src/t/" + name).constData()), 0);
        QDir().mkpath(here + "out");
        auto task = std::make_shared<QNCopyTask>();
        auto [error, doc, cancelled] = runOne(task, std::make_shared<QNCopyTaskItem>(localDrive(), localDrive(),
                                                                                     localDocument(here + "src/t"),
                                                                                     localDocument(here + "out")));
        EXPECT_FALSE(cancelled);
        EXPECT_FALSE(error) << error->localizedDescription().toStdString();
        QStringList got = listTree(here + "out/t");
        const QString leftOut = row.leftOut;
        const QString text = task->leftOut().join('\n');
        if (leftOut.isEmpty()) {
            EXPECT_TRUE(text.isEmpty()) << text.toStdString();
        } else {
            // Of two links to one folder, whichever came second is left out.
            const QString named = leftOut.contains('|') ? (got.contains("l/") ? "m" : "l") : leftOut;
            EXPECT_TRUE(text.contains(QStringLiteral("\u201c%1\u201d in \u201c%2\u201d was not copied")
                                          .arg(named, here + "src/t")))
                << text.toStdString();
            got.replaceInStrings(QRegularExpression("^m/"), "l/");
        }
        EXPECT_EQ(got, row.arrived) << got.join(", ").toStdString();
    }
}

// A drive that does not say where a link leads: the link is not followed
// (it might lead back), and the report says so.
TEST_F(LocalLinks, ALinkWithoutATargetIsNamedInTheReportAndTheRestArrives) {
    const QString remote = path("remote");
    writeTree(remote, {{"t/a.txt", "a"}, {"t/x/inside.txt", "i"}, {"t/y/inside.txt", "y"}});
    ScriptedRemoteHandler::Script script;
    script.linkWithoutTargetNamed = "x";
    ScriptedRemoteHandler::setScript(script);
    QDir().mkpath(path("out"));
    auto task = std::make_shared<QNCopyTask>();
    auto [error, doc, cancelled] =
        runOne(task, std::make_shared<QNCopyTaskItem>(ScriptedRemoteHandler::makeDriveConfig(remote), localDrive(),
                                                      driveDocument("/t", true), localDocument(path("out"))));
    EXPECT_FALSE(error) << error->localizedDescription().toStdString();
    const QString text = task->leftOut().join('\n');
    EXPECT_TRUE(text.contains(QStringLiteral("\u201cx\u201d in \u201c/t\u201d was not copied"))) << text.toStdString();
    EXPECT_EQ(listTree(path("out/t")), (QStringList{"a.txt", "y/", "y/inside.txt"}));
}

TEST_F(LocalLinks, MoveRemovesLinksAsThemselvesAndKeepsWhatItDidNotCopy) {
    writeLinkedTree();
    auto task = std::make_shared<QNMoveTask>();
    auto [error, doc, cancelled] = runOne(task, std::make_shared<QNMoveTaskItem>(localDrive(), localDrive(),
                                                                                 localDocument(path("src/t")),
                                                                                 localDocument(path("out"))));
    // The links not followed stay, and so does t; the report names them.
    EXPECT_FALSE(error) << error->localizedDescription().toStdString();
    EXPECT_TRUE(task->leftOut().join(' ').contains("\u201cup\u201d")) << task->leftOut().join(' ').toStdString();
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
        EXPECT_FALSE(error) << error->localizedDescription().toStdString();
        const QString text = task->leftOut().join('\n');
        EXPECT_TRUE(text.contains("bad\\xE9.txt") && text.contains(path("src/t"))) << text.toStdString();
        EXPECT_EQ(VNTest::readFile(path("out/t/good.txt")), QByteArray("g"));
        EXPECT_EQ(::access(bad.constData(), F_OK), 0);
        EXPECT_EQ(QFileInfo::exists(path("src/t/good.txt")), !moving);
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
