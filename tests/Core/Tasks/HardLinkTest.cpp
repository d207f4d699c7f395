// A Replace onto a local tree that already holds the source's files under
// other names: hard links (cp -al, rsync --link-dest, snapshot backups) or
// links that lead to one file. Such a file is already in place: nothing is
// written, and a move removes only the source's own name, since the other
// name keeps the bytes. A link that leads through the source's own name is
// replaced with a copy before the source goes. The task ends without error
// and every file is right.
#include "Core/QNCopyTask.h"
#include "Core/QNCopyTaskItem.h"
#include "Core/QNMoveTask.h"
#include "Core/QNMoveTaskItem.h"
#include "TaskTestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace TaskTest;

namespace {

ino_t inodeOf(const QString &path) {
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_ino : 0;
}

bool hardLink(const QString &from, const QString &to) {
    QDir().mkpath(QFileInfo(to).path());
    return ::link(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
}

bool softLink(const QString &target, const QString &at) {
    QDir().mkpath(QFileInfo(at).path());
    return ::symlink(QFile::encodeName(target).constData(), QFile::encodeName(at).constData()) == 0;
}

// Writes path anew (a new file takes its name), as editors save: a hard
// link of the old one keeps the old content.
bool replaceFile(const QString &path, const QByteArray &content) {
    const QString fresh = path + QStringLiteral(".new");
    return VNTest::writeFile(fresh, content) && ::rename(QFile::encodeName(fresh).constData(),
                                                         QFile::encodeName(path).constData()) == 0;
}

class HardLinks : public TaskFixture {};

TEST_F(HardLinks, AReplaceOntoAnotherNameOfTheSameFileEndsWithoutErrorAndEveryFileIsRight) {
    enum class Tree { HardLinkedCopy, LinksToOneFile, LinkToTheSourcesFile, HardLinkedFile };
    struct Row {
        const char *name;
        Tree tree;
        bool move;
    };
    const Row rows[] = {
        {"cp -al tree, copy", Tree::HardLinkedCopy, false},
        {"cp -al tree, move", Tree::HardLinkedCopy, true},
        {"links to one file, copy", Tree::LinksToOneFile, false},
        {"links to one file, move", Tree::LinksToOneFile, true},
        {"a link to the source's file, copy", Tree::LinkToTheSourcesFile, false},
        {"a link to the source's file, move", Tree::LinkToTheSourcesFile, true},
        {"a hard-linked file dropped, copy", Tree::HardLinkedFile, false},
        {"a hard-linked file dropped, move", Tree::HardLinkedFile, true},
    };
    int n = 0;
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        const QString a = path(QStringLiteral("a%1").arg(n));
        const QString b = path(QStringLiteral("b%1").arg(n));
        const QString etc = path(QStringLiteral("etc%1").arg(n++));
        // What b/tree must hold afterwards (relative path -> content).
        QMap<QString, QByteArray> expected;
        QString unchanged;  // a file of b that must not have been written
        QString dropped = a + "/tree";
        switch (row.tree) {
        case Tree::HardLinkedCopy:
            writeTree(a, {{"tree/same.txt", "same"}, {"tree/sub/deep.txt", "deep"}, {"tree/changed.txt", "old"}});
            // b/tree is `cp -al a/tree`, then a/tree changes: one file saved
            // anew, one added.
            for (const char *file : {"same.txt", "sub/deep.txt", "changed.txt"})
                ASSERT_TRUE(hardLink(a + "/tree/" + file, b + "/tree/" + file));
            ASSERT_TRUE(replaceFile(a + "/tree/changed.txt", "new"));
            writeTree(a, {{"tree/new.txt", "added"}});
            expected = {{"same.txt", "same"}, {"sub/deep.txt", "deep"}, {"changed.txt", "new"}, {"new.txt", "added"}};
            unchanged = "same.txt";
            break;
        case Tree::LinksToOneFile:
            writeTree(etc, {{"app/cfg", "config"}});
            writeTree(a, {{"tree/x.txt", "new x"}});
            writeTree(b, {{"tree/x.txt", "old x"}});
            ASSERT_TRUE(softLink(etc + "/app/cfg", a + "/tree/cfg"));
            ASSERT_TRUE(softLink(etc + "/app/cfg", b + "/tree/cfg"));
            expected = {{"x.txt", "new x"}, {"cfg", "config"}};
            break;
        case Tree::LinkToTheSourcesFile:
            // b's namesake leads through the source's own name: replaced
            // by a copy, so that the move's removal cannot take its bytes.
            writeTree(a, {{"tree/x.txt", "x"}});
            QDir().mkpath(b + "/tree");
            ASSERT_TRUE(softLink("../../" + QFileInfo(a).fileName() + "/tree/x.txt", b + "/tree/x.txt"));
            expected = {{"x.txt", "x"}};
            break;
        case Tree::HardLinkedFile:
            writeTree(a, {{"tree/f.txt", "f"}});
            ASSERT_TRUE(hardLink(a + "/tree/f.txt", b + "/tree/f.txt"));
            dropped = a + "/tree/f.txt";
            expected = {{"f.txt", "f"}};
            unchanged = "f.txt";
            break;
        }
        const ino_t before = unchanged.isEmpty() ? 0 : inodeOf(b + "/tree/" + unchanged);
        const QStringList sourceBefore = listTree(a + "/tree");
        auto drive = localDrive();
        auto document = localDocument(dropped);
        auto into = localDocument(row.tree == Tree::HardLinkedFile ? b + "/tree" : b);
        QNTaskPtr task = row.move ? QNTaskPtr(std::make_shared<QNMoveTask>()) : QNTaskPtr(std::make_shared<QNCopyTask>());
        QNTaskItemPtr item = row.move ? QNTaskItemPtr(std::make_shared<QNMoveTaskItem>(drive, drive, document, into))
                                      : QNTaskItemPtr(std::make_shared<QNCopyTaskItem>(drive, drive, document, into));
        const auto [error, result, cancelled] = runOne(task, item);
        EXPECT_FALSE(error) << (error ? error->localizedDescription().toStdString() : std::string());
        EXPECT_FALSE(cancelled);
        for (auto it = expected.cbegin(); it != expected.cend(); ++it)
            EXPECT_EQ(VNTest::readFile(b + "/tree/" + it.key()), it.value()) << it.key().toStdString();
        if (!unchanged.isEmpty())
            EXPECT_EQ(inodeOf(b + "/tree/" + unchanged), before) << "written again: " << unchanged.toStdString();
        if (row.tree == Tree::LinksToOneFile) {
            EXPECT_TRUE(QFileInfo(b + "/tree/cfg").isSymLink());
            EXPECT_EQ(VNTest::readFile(etc + "/app/cfg"), QByteArray("config"));
        }
        if (row.tree == Tree::LinkToTheSourcesFile)
            EXPECT_FALSE(QFileInfo(b + "/tree/x.txt").isSymLink());
        // A copy leaves the source as it was; a move takes it all.
        if (row.move)
            EXPECT_FALSE(QFileInfo::exists(dropped)) << listTree(a).join(' ').toStdString();
        else
            EXPECT_EQ(listTree(a + "/tree"), sourceBefore);
    }
}

}  // namespace
