// A Replace onto a local tree that already holds the source's files under
// other names: hard links (cp -al, rsync --link-dest, snapshot backups) or
// links that lead to one file. Such a file is already in place: nothing is
// written, and a move removes only the source's own name, since the other
// name keeps the bytes. A link that leads through the source's own name is
// replaced with a copy before the source goes. The task ends without error
// and every file is right.
#include "Core/QNCopyTask.h"
#include "Core/QNCopyTaskItem.h"
#include "Core/QNLocalNamesake.h"
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
        bool ready = true;  // the row's trees could be made
        switch (row.tree) {
        case Tree::HardLinkedCopy:
            writeTree(a, {{"tree/same.txt", "same"}, {"tree/sub/deep.txt", "deep"}, {"tree/changed.txt", "old"}});
            // b/tree is `cp -al a/tree`, then a/tree changes: one file saved
            // anew, one added.
            for (const char *file : {"same.txt", "sub/deep.txt", "changed.txt"})
                ready = ready && hardLink(a + "/tree/" + file, b + "/tree/" + file);
            ready = ready && replaceFile(a + "/tree/changed.txt", "new");
            writeTree(a, {{"tree/new.txt", "added"}});
            expected = {{"same.txt", "same"}, {"sub/deep.txt", "deep"}, {"changed.txt", "new"}, {"new.txt", "added"}};
            unchanged = "same.txt";
            break;
        case Tree::LinksToOneFile:
            writeTree(etc, {{"app/cfg", "config"}});
            writeTree(a, {{"tree/x.txt", "new x"}});
            writeTree(b, {{"tree/x.txt", "old x"}});
            ready = softLink(etc + "/app/cfg", a + "/tree/cfg") && softLink(etc + "/app/cfg", b + "/tree/cfg");
            expected = {{"x.txt", "new x"}, {"cfg", "config"}};
            break;
        case Tree::LinkToTheSourcesFile:
            // b's namesake leads through the source's own name: replaced
            // by a copy, so that the move's removal cannot take its bytes.
            writeTree(a, {{"tree/x.txt", "x"}});
            QDir().mkpath(b + "/tree");
            ready = softLink("../../" + QFileInfo(a).fileName() + "/tree/x.txt", b + "/tree/x.txt");
            expected = {{"x.txt", "x"}};
            break;
        case Tree::HardLinkedFile:
            writeTree(a, {{"tree/f.txt", "f"}});
            ready = hardLink(a + "/tree/f.txt", b + "/tree/f.txt");
            dropped = a + "/tree/f.txt";
            expected = {{"f.txt", "f"}};
            unchanged = "f.txt";
            break;
        }
        EXPECT_TRUE(ready) << "the row's trees could not be made";
        if (!ready)
            continue;
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

// Two names that stat to one device and inode are taken for one file only
// on solid evidence: a mount whose inode numbers are neither stable nor
// unique (some FUSE and network file systems) can give two files one
// number, and a move would then remove a file it never copied. Each row
// differs from a passing one in one condition.
TEST(LocalNamesake, OneDeviceAndInodeIsOneFileOnlyWithMoreThanOneNameOrOneCanonicalPathAndOneSize) {
    using Facts = QNLocalNamesake::FileFacts;
    const Facts hardLinked{1, 42, 2, 100, QStringLiteral("/a/tree/f.txt")};
    const Facts otherName{1, 42, 2, 100, QStringLiteral("/b/tree/f.txt")};
    const Facts linked{1, 42, 1, 100, QStringLiteral("/etc/app/cfg")};
    struct Row {
        const char *name;
        Facts source;
        Facts target;
        bool one;
    };
    const Row rows[] = {
        {"a hard link: two names, one size", hardLinked, otherName, true},
        {"two links to one file: one canonical path", linked, linked, true},
        {"another device", hardLinked, Facts{2, 42, 2, 100, otherName.canonicalPath}, false},
        {"another inode", hardLinked, Facts{1, 43, 2, 100, otherName.canonicalPath}, false},
        {"one name each, two canonical paths (numbers the mount reuses)", Facts{1, 42, 1, 100, hardLinked.canonicalPath},
         Facts{1, 42, 1, 100, otherName.canonicalPath}, false},
        {"two names, two sizes", hardLinked, Facts{1, 42, 2, 99, otherName.canonicalPath}, false},
        {"one name, one size, canonical paths unknown", Facts{1, 42, 1, 100, QString()}, Facts{1, 42, 1, 100, QString()},
         false},
        {"links to one file, two sizes", linked, Facts{1, 42, 1, 99, linked.canonicalPath}, false},
    };
    for (const Row &row : rows)
        EXPECT_EQ(QNLocalNamesake::isSurelyOneFile(row.source, row.target), row.one) << row.name;
}

// The same, as the disk is asked: two files of their own that the mount
// gives one device and inode are apart unless the rest bears it out.
TEST(LocalNamesake, TwoFilesTheMountGivesOneNumberAreApartWithoutFurtherEvidence) {
    struct Row {
        const char *name;
        nlink_t links;     // what the mount says of both
        bool sameSize;
        QNLocalNamesake::Kind kind;
    };
    const Row rows[] = {
        {"one name each", 1, true, QNLocalNamesake::Kind::Apart},
        {"two names each, one size", 2, true, QNLocalNamesake::Kind::OtherName},
        {"two names each, two sizes", 2, false, QNLocalNamesake::Kind::Apart},
    };
    const auto dir = VNTest::makeTempDir();
    int n = 0;
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        const QString source = dir->path() + QStringLiteral("/a%1/f.txt").arg(n);
        const QString target = dir->path() + QStringLiteral("/b%1/f.txt").arg(n++);
        const bool written = VNTest::writeFile(source, "the source") &&
                             VNTest::writeFile(target, row.sameSize ? "the target" : "the longer target");
        EXPECT_TRUE(written) << "the files could not be written";
        if (!written)
            continue;
        struct stat own {};
        ::stat(QFile::encodeName(source).constData(), &own);
        const auto look = [&](const QString &path, struct stat &info) {
            if (::stat(QFile::encodeName(path).constData(), &info) != 0)
                return false;
            info.st_dev = own.st_dev;
            info.st_ino = own.st_ino;
            info.st_nlink = row.links;
            return true;
        };
        EXPECT_EQ(QNLocalNamesake::of(source, target, look), row.kind);
    }
}

}  // namespace
