// The namesake check as a copy or move item meets it, on two drives of one
// server (A holds /proj, B holds /proj too): where the check folder may be
// left behind it is looked for and removed, and one that stays is named
// with its folder in the item's error; a check that cannot tell fails the
// item; one that cannot be made at all lets a copy go on, every upload of
// it under a temporary name, and nothing else.
#include "Core/QNCopyTask.h"
#include "Core/QNCopyTaskItem.h"
#include "Core/QNErrorWrapper.h"
#include "Core/QNMoveTask.h"
#include "Core/QNMoveTaskItem.h"
#include "TaskTestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace TaskTest;
using Op = QNFakeRemoteHandler::Op;
using Mode = QNFakeRemoteHandler::Mode;

namespace {

enum class Kind { FTP, WebDAV };

// A drive of the server "h" backed by root.
QNDriveConfigPtr serverDrive(const QString &root, Kind kind = Kind::FTP) {
    auto drive = QNFakeRemoteHandler::makeDriveConfig(root);
    drive->setUrl(QStringLiteral("fake://h") + QDir(root).absolutePath());
    if (kind == Kind::FTP)
        drive->setIsFTP(true);
    else
        drive->setIsWebDAV(true);
    return drive;
}

QString text(const VNErrorPtr &error) {
    return error ? QNErrorWrapper(error).localizedDescription() : QString();
}

// The check folders below root, by name.
QStringList checkFolders(const QString &root) {
    QStringList found;
    for (const QString &entry : VNTest::listTree(root))
        if (entry.contains(QLatin1String("varnello-check-")))
            found << entry.section(QLatin1Char('/'), -2, -2);
    return found;
}

class AliasCheckItem : public TaskFixture {
protected:
    // Runs the copy (or move) of A:/proj onto B:/, where /proj is.
    Report dropProj(const QNDriveConfigPtr &a, const QNDriveConfigPtr &b, bool move) {
        auto proj = driveDocument("/proj", true);
        auto into = driveDocument("/", true);
        QNTaskPtr task = move ? QNTaskPtr(std::make_shared<QNMoveTask>()) : QNTaskPtr(std::make_shared<QNCopyTask>());
        QNTaskItemPtr item = move ? QNTaskItemPtr(std::make_shared<QNMoveTaskItem>(a, b, proj, into))
                                  : QNTaskItemPtr(std::make_shared<QNCopyTaskItem>(a, b, proj, into));
        return runOne(task, item);
    }
};

// Each moment at which the check folder may stay: the item's error names it
// and the folder holding it; where it could go after all, nothing stays.
TEST_F(AliasCheckItem, ACheckFolderThatStaysIsNamedWithItsFolderInTheItemsError) {
    enum class Moment { SourceUnlisted, Itself, ReplyLost, Cancelled };
    struct Row {
        const char *name;
        Moment moment;
        bool removalRefused;
        const char *because;  // a part of the error besides the check folder; "" for none
    };
    const Row rows[] = {
        {"the source could not be listed", Moment::SourceUnlisted, true, "could not be listed"},
        {"the namesake is the folder itself", Moment::Itself, true, "is that folder itself"},
        {"its creation's answer was lost", Moment::ReplyLost, false, ""},
        {"its creation's answer was lost, and it cannot be removed", Moment::ReplyLost, true, ""},
        {"the task was cancelled", Moment::Cancelled, true, ""},
    };
    int n = 0;
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        QNFakeRemoteHandler::resetBehaviours();
        const QString a = path(QStringLiteral("a%1").arg(n));
        const QString b = path(QStringLiteral("b%1").arg(n++));
        writeTree(a, {{"proj/f.txt", "f"}});
        if (row.moment == Moment::Itself) {
            QDir().mkpath(b);
            const bool linked =
                ::symlink(QFile::encodeName(a + "/proj").constData(), QFile::encodeName(b + "/proj").constData()) == 0;
            EXPECT_TRUE(linked) << "the link could not be made";
            if (!linked)
                continue;
        } else {
            writeTree(b, {{"proj/g.txt", "g"}});
        }
        if (row.removalRefused)
            setMode(Op::Remove, Mode::Fail, b);
        if (row.moment == Moment::SourceUnlisted)
            setMode(Op::List, Mode::Fail, a);
        if (row.moment == Moment::ReplyLost)
            setMode(Op::CreateFolder, Mode::FailAfterWork, b);

        Report report;
        if (row.moment == Moment::Cancelled) {
            // The source's listing (after the destination's) is held until
            // the test's cancel lets it go, however slow the machine.
            setMode(Op::List, Mode::AnswerAfterCancel, a);
            const int listingsBefore = QNFakeRemoteHandler::callCount(Op::List);
            auto task = std::make_shared<QNCopyTask>();
            auto item = std::make_shared<QNCopyTaskItem>(serverDrive(a), serverDrive(b), driveDocument("/proj", true),
                                                         driveDocument("/", true));
            auto reports = watchItem(item);
            task->addTaskItem(item);
            manager->addTask(task);
            EXPECT_TRUE(VNTest::waitUntil(
                [&] { return QNFakeRemoteHandler::callCount(Op::List) - listingsBefore == 2; }, 20000));
            task->cancel();
            EXPECT_TRUE(waitForCompletion(task, 30000)) << "the task never ended";
            EXPECT_EQ(reports->count(), 1);
            if (reports->count())
                report = reports->first();
        } else {
            report = dropProj(serverDrive(a), serverDrive(b), false);
        }
        const VNErrorPtr error = std::get<0>(report);
        const QStringList left = checkFolders(b + "/proj");
        EXPECT_EQ(left.size(), row.removalRefused ? 1 : 0) << left.join(' ').toStdString();
        if (!row.removalRefused) {
            EXPECT_FALSE(error) << text(error).toStdString();
            EXPECT_EQ(VNTest::readFile(b + "/proj/f.txt"), QByteArray("f"));  // told apart: merged
            continue;
        }
        EXPECT_TRUE(error) << "the check folder was left without a word";
        const QString said = text(error);
        if (!left.isEmpty())
            EXPECT_TRUE(said.contains(QStringLiteral("\u201c%1\u201d could not be removed from \u201c/proj\u201d")
                                          .arg(left.first())))
                << said.toStdString();
        if (*row.because)
            EXPECT_TRUE(said.contains(QLatin1String(row.because))) << said.toStdString();
        EXPECT_EQ(VNTest::readFile(a + "/proj/f.txt"), QByteArray("f"));
    }
}

// Below the dropped folder, a folder merged into its namesake is looked at
// too, whichever spelling the namesake has: on a server that folds case and
// shows a link as a plain folder, dst/proj/sub (or dst/proj/SUB) is a link
// to src/proj/sub. Merging sub into itself would write its files onto
// themselves, and a move would then remove them, the only copies. Each row
// fails the item naming it, and nothing is lost.
TEST_F(AliasCheckItem, AMergedSubFolderThatIsTheCopiedOnesOwnIsRefusedWhateverItsSpelling) {
    struct Row {
        const char *name;
        const char *linkName;  // the namesake's spelling at the destination
        bool move;
    };
    const Row rows[] = {
        {"same spelling, copy", "sub", false},
        {"same spelling, move", "sub", true},
        {"another case, copy", "SUB", false},
        {"another case, move", "SUB", true},
    };
    int n = 0;
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        QNFakeRemoteHandler::resetBehaviours();
        const QString a = path(QStringLiteral("fold-a%1").arg(n));
        const QString b = path(QStringLiteral("fold-b%1").arg(n++));
        writeTree(a, {{"proj/a.txt", "a"}, {"proj/sub/only.txt", "the only copy"}});
        writeTree(b, {{"proj/c.txt", "c"}});
        const QString link = b + "/proj/" + row.linkName;
        const bool linked =
            ::symlink(QFile::encodeName(a + "/proj/sub").constData(), QFile::encodeName(link).constData()) == 0;
        EXPECT_TRUE(linked) << "the link could not be made";
        if (!linked)
            continue;
        QNFakeRemoteHandler::setFoldsCase(true, b);

        const auto [error, document, cancelled] = dropProj(serverDrive(a), serverDrive(b), row.move);
        EXPECT_FALSE(cancelled);
        EXPECT_TRUE(error) << "merged into itself: " << listTree(a).join(' ').toStdString();
        EXPECT_TRUE(text(error).contains(QLatin1String("is that folder itself"))) << text(error).toStdString();
        // What became of the files comes before why, where a cut headline still shows it.
        EXPECT_TRUE(text(error).section(QLatin1Char(':'), 0, 0).contains(QLatin1String("nothing was written or removed")))
            << text(error).toStdString();
        EXPECT_EQ(VNTest::readFile(a + "/proj/sub/only.txt"), QByteArray("the only copy"));
        EXPECT_EQ(VNTest::readFile(a + "/proj/a.txt"), QByteArray("a"));
        EXPECT_EQ(VNTest::readFile(b + "/proj/c.txt"), QByteArray("c"));
        EXPECT_TRUE(QFileInfo(link).isSymLink());
        EXPECT_TRUE(checkFolders(a).isEmpty()) << checkFolders(a).join(' ').toStdString();
    }
}

// A server that shows the check folder in neither listing cannot tell the
// two folders apart: the item fails, and nothing is written or removed.
TEST_F(AliasCheckItem, ACheckFolderHiddenFromBothListingsFailsTheItem) {
    for (const bool move : {false, true}) {
        SCOPED_TRACE(move ? "move" : "copy");
        QNFakeRemoteHandler::resetBehaviours();
        QNFakeRemoteHandler::setHiddenNamePrefix(QStringLiteral("varnello-check-"));
        const QString a = path(move ? "move-a" : "copy-a");
        const QString b = path(move ? "move-b" : "copy-b");
        writeTree(a, {{"proj/f.txt", "f"}});
        writeTree(b, {{"proj/g.txt", "g"}});
        const auto [error, document, cancelled] = dropProj(serverDrive(a), serverDrive(b), move);
        EXPECT_FALSE(cancelled);
        EXPECT_TRUE(error) << "copied as if told apart";
        EXPECT_TRUE(text(error).contains(QLatin1String("does not show in the listing")) &&
                    text(error).contains(QLatin1String("could not be told")))
            << text(error).toStdString();
        EXPECT_EQ(listTree(b + "/proj").join(' ').toStdString(), std::string("g.txt"));
        EXPECT_EQ(listTree(a + "/proj").join(' ').toStdString(), std::string("f.txt"));
    }
}

// A server that makes no check folder: a copy goes on, every file of it
// asked to go up under a temporary name (FTP, SFTP and WebDAV can); a move
// fails saying why. Where the check is made, the upload is a plain one.
TEST_F(AliasCheckItem, WhereTheCheckFolderCannotBeMadeOnlyACopyWithTemporaryNamesGoesOn) {
    struct Row {
        const char *name;
        Kind kind;
        bool move;
        bool checkMade;
        const char *because;  // "" when it goes on
    };
    const Row rows[] = {
        {"FTP copy", Kind::FTP, false, false, ""},
        {"FTP move", Kind::FTP, true, false, "was not moved: moving it could remove the only copy"},
        {"WebDAV copy", Kind::WebDAV, false, false, ""},
        {"WebDAV move", Kind::WebDAV, true, false, "was not moved: moving it could remove the only copy"},
        {"WebDAV copy, the check made", Kind::WebDAV, false, true, ""},
    };
    int n = 0;
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        QNFakeRemoteHandler::resetBehaviours();
        const QString a = path(QStringLiteral("na%1").arg(n));
        const QString b = path(QStringLiteral("nb%1").arg(n++));
        writeTree(a, {{"x.txt", "new"}});
        writeTree(b, {{"x.txt", "old"}});
        if (!row.checkMade)
            setMode(Op::CreateFolder, Mode::Fail, b);
        auto from = serverDrive(a, row.kind);
        auto to = serverDrive(b, row.kind);
        auto file = driveDocument("/x.txt", false, 3);
        auto into = driveDocument("/", true);
        QNTaskPtr task =
            row.move ? QNTaskPtr(std::make_shared<QNMoveTask>()) : QNTaskPtr(std::make_shared<QNCopyTask>());
        QNTaskItemPtr item = row.move ? QNTaskItemPtr(std::make_shared<QNMoveTaskItem>(from, to, file, into))
                                      : QNTaskItemPtr(std::make_shared<QNCopyTaskItem>(from, to, file, into));
        const auto [error, document, cancelled] = runOne(task, item);
        EXPECT_FALSE(cancelled);
        EXPECT_EQ(VNTest::readFile(a + "/x.txt"), QByteArray("new"));
        if (!*row.because) {
            EXPECT_FALSE(error) << text(error).toStdString();
            EXPECT_EQ(VNTest::readFile(b + "/x.txt"), QByteArray("new"));
            EXPECT_EQ(QNFakeRemoteHandler::callCount(Op::Upload), 1);
            EXPECT_EQ(QNFakeRemoteHandler::temporaryNameUploadCount(), row.checkMade ? 0 : 1);
            continue;
        }
        EXPECT_TRUE(error) << "replaced without a check";
        EXPECT_TRUE(text(error).contains(QLatin1String("could not be made")) &&
                    text(error).contains(QLatin1String(row.because)))
            << text(error).toStdString();
        EXPECT_EQ(VNTest::readFile(b + "/x.txt"), QByteArray("old"));
        EXPECT_EQ(QNFakeRemoteHandler::callCount(Op::Upload), 0);
    }
}

// A folder merged into its namesake where the check folder cannot be made:
// every file of its tree goes up under a temporary name, below a folder
// merged in turn too, and one new to the destination as well; where the
// check is made, none does.
TEST_F(AliasCheckItem, WhereTheCheckFolderCannotBeMadeEveryFileOfTheMergedTreeGoesUpUnderATemporaryName) {
    for (const bool checkMade : {false, true}) {
        SCOPED_TRACE(checkMade ? "the check made" : "the check not made");
        QNFakeRemoteHandler::resetBehaviours();
        const QString a = path(checkMade ? "tree-made-a" : "tree-a");
        const QString b = path(checkMade ? "tree-made-b" : "tree-b");
        writeTree(a, {{"proj/f.txt", "f new"}, {"proj/sub/g.txt", "g new"}, {"proj/h.txt", "h"}});
        writeTree(b, {{"proj/f.txt", "f old"}, {"proj/sub/g.txt", "g old"}});
        if (!checkMade)
            setMode(Op::CreateFolder, Mode::Fail, b);
        const auto [error, document, cancelled] =
            dropProj(serverDrive(a, Kind::WebDAV), serverDrive(b, Kind::WebDAV), false);
        EXPECT_FALSE(cancelled);
        EXPECT_FALSE(error) << text(error).toStdString();
        EXPECT_EQ(VNTest::readFile(b + "/proj/f.txt"), QByteArray("f new"));
        EXPECT_EQ(VNTest::readFile(b + "/proj/sub/g.txt"), QByteArray("g new"));
        EXPECT_EQ(VNTest::readFile(b + "/proj/h.txt"), QByteArray("h"));
        EXPECT_EQ(QNFakeRemoteHandler::callCount(Op::Upload), 3);
        EXPECT_EQ(QNFakeRemoteHandler::temporaryNameUploadCount(), checkMade ? 0 : 3);
    }
}

}  // namespace
