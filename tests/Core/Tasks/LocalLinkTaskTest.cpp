// Copies and moves of local folders that hold symbolic links: a link back
// to an ancestor is not followed (the task ends), a link elsewhere is
// copied as what it leads to, and a move removes a link as the link itself.
#include "Core/QNCopyTask.h"
#include "Core/QNCopyTaskItem.h"
#include "Core/QNMoveTask.h"
#include "Core/QNMoveTaskItem.h"
#include "TaskTestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>
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

}  // namespace
