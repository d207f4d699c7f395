// The namesake check as a copy or move item meets it, on two drives of one
// server (A holds /proj, B holds /proj too): where the check folder may be
// left behind it is looked for and removed, and one that stays is named
// with its folder in the item's error; a check that cannot tell fails the
// item; one that cannot be made at all lets a copy or move go on, every
// upload of it under a temporary name, where the drive can upload so.
#include "Core/QNCopyTask.h"
#include "Core/QNCopyTaskItem.h"
#include "Core/QNErrorWrapper.h"
#include "Core/QNMoveTask.h"
#include "Core/QNMoveTaskItem.h"
#include "Core/QNRemoveOperation.h"
#include "ScriptedRemoteHandler.h"
#include "TaskTestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include "Platform/VNOperationQueue.h"
#include <gtest/gtest.h>
#include <unistd.h>

using namespace TaskTest;
using Op = QNFakeRemoteHandler::Op;
using Mode = QNFakeRemoteHandler::Mode;

namespace {

enum class Kind { FTP, WebDAV, SMB };

// A drive of the server "h" backed by root.
QNDriveConfigPtr serverDrive(const QString &root, Kind kind = Kind::FTP) {
    auto drive = QNFakeRemoteHandler::makeDriveConfig(root);
    drive->setUrl(QStringLiteral("fake://h") + QDir(root).absolutePath());
    drive->setIsFTP(kind == Kind::FTP);
    drive->setIsWebDAV(kind == Kind::WebDAV);
    drive->setIsSMB(kind == Kind::SMB);  // uploads straight onto the name
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

// Each moment at which a check folder may stay: the item's error names it
// and the folder holding it; where it could go after all, nothing stays.
// The checks of the folder it is dropped onto and of the folders merged
// below the dropped one end once the tree is listed; a check folder of them
// left when the copy has ended by then (another part of it failed
// meanwhile) is named in the task's end report.
TEST_F(AliasCheckItem, ACheckFolderThatStaysIsNamedWithItsFolderInTheItemsError) {
    enum class Moment { SourceUnlisted, Itself, ReplyLost, Cancelled, TreeCancelled, CopyEnded };
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
        {"the task was cancelled during the tree's check", Moment::TreeCancelled, true, ""},
        {"the copy had ended during the tree's checks", Moment::CopyEnded, true, ""},
    };
    int n = 0;
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        QNFakeRemoteHandler::resetBehaviours();
        ScriptedRemoteHandler::reset();
        const QString a = path(QStringLiteral("a%1").arg(n));
        const QString b = path(QStringLiteral("b%1").arg(n++));
        const bool tree = row.moment == Moment::TreeCancelled || row.moment == Moment::CopyEnded;
        writeTree(a, {{"proj/f.txt", "f"}, {"proj/sub/x.txt", "x"}});
        if (row.moment == Moment::Itself) {
            QDir().mkpath(b);
            const bool linked =
                ::symlink(QFile::encodeName(a + "/proj").constData(), QFile::encodeName(b + "/proj").constData()) == 0;
            EXPECT_TRUE(linked) << "the link could not be made";
            if (!linked)
                continue;
        } else if (row.moment == Moment::CopyEnded) {
            // A folder where the tree has a file: that file's copy fails,
            // and with it the whole copy.
            writeTree(b, {{"proj/g.txt", "g"}, {"proj/sub/x.txt/", ""}});
        } else {
            writeTree(b, {{"proj/g.txt", "g"}, {"proj/sub/", ""}});
        }
        if (row.removalRefused && row.moment != Moment::CopyEnded) {
            // The dropped folder's own check folder goes, and the one in the
            // folder it is dropped onto; the tree's stay.
            QNFakeRemoteHandler::Behaviour refusing;
            refusing.mode = Mode::Fail;
            refusing.answersFirst = tree ? 2 : 0;
            QNFakeRemoteHandler::setBehaviour(Op::Remove, refusing, b);
        }
        if (row.moment == Moment::SourceUnlisted)
            setMode(Op::List, Mode::Fail, a);
        if (row.moment == Moment::ReplyLost)
            setMode(Op::CreateFolder, Mode::FailAfterWork, b);

        Report report;
        QNTaskPtr ran;
        if (row.moment == Moment::Cancelled || row.moment == Moment::TreeCancelled) {
            // A listing of the source is held until the test's cancel lets
            // it go, however slow the machine: the dropped folder's check
            // lists it once, after the destination; the copy lists proj and
            // sub, and the tree's check proj again.
            QNFakeRemoteHandler::Behaviour held;
            held.mode = Mode::AnswerAfterCancel;
            held.answersFirst = tree ? 3 : 0;
            QNFakeRemoteHandler::setBehaviour(Op::List, held, a);
            auto task = std::make_shared<QNCopyTask>();
            auto item = std::make_shared<QNCopyTaskItem>(serverDrive(a), serverDrive(b), driveDocument("/proj", true),
                                                         driveDocument("/", true));
            auto reports = watchItem(item);
            task->addTaskItem(item);
            manager->addTask(task);
            // Every listing of either drive, up to the held one: for the
            // tree, the destination, the check's two, the destination again
            // (the folder is there), proj's two, sub's three, the drop
            // target's own, then the held one.
            EXPECT_TRUE(VNTest::waitUntil([&] { return QNFakeRemoteHandler::callCount(Op::List) == (tree ? 11 : 2); },
                                          20000));
            task->cancel();
            EXPECT_TRUE(waitForCompletion(task, 30000)) << "the task never ended";
            EXPECT_EQ(reports->count(), 1);
            if (reports->count())
                report = reports->first();
            ran = task;
        } else if (row.moment == Moment::CopyEnded) {
            // The merged sub-folder's first listing fails, so its file lists
            // it again, behind the drop target's own listing: the copy ends
            // with that file's failure while the tree's checks run, and the
            // check folder in the drop target cannot be removed (the
            // dropped folder's, the first removal, can).
            ScriptedRemoteHandler::Script script;
            script.failFirstListingOf = QStringLiteral("/proj/sub");
            script.failRemovalNumber = 2;
            ScriptedRemoteHandler::setScript(script);
            auto from = ScriptedRemoteHandler::makeDriveConfig(a);
            auto to = ScriptedRemoteHandler::makeDriveConfig(b);
            from->setIsFTP(true);
            to->setIsFTP(true);
            auto task = std::make_shared<QNCopyTask>();
            report = runOne(task, std::make_shared<QNCopyTaskItem>(from, to, driveDocument("/proj", true),
                                                                   driveDocument("/", true)));
            ran = task;
        } else {
            report = dropProj(serverDrive(a), serverDrive(b), false);
        }
        const VNErrorPtr error = std::get<0>(report);
        // Below the folder merged into (the drop target's own for the row
        // whose copy ended during the drop target's check).
        const QString under = row.moment == Moment::CopyEnded ? QString() : QStringLiteral("/proj");
        const QStringList left = checkFolders(b + under);
        if (!row.removalRefused) {
            EXPECT_TRUE(left.isEmpty()) << left.join(' ').toStdString();
            EXPECT_FALSE(error) << text(error).toStdString();
            EXPECT_EQ(VNTest::readFile(b + "/proj/f.txt"), QByteArray("f"));  // told apart: merged
            continue;
        }
        EXPECT_FALSE(left.isEmpty()) << "no check folder was left: the row tests nothing";
        // Said in the item's error, or in the task's end report once the
        // copy had ended.
        const QString said = row.moment == Moment::CopyEnded ? ran->leftOut().join(QLatin1Char(' ')) : text(error);
        EXPECT_TRUE(row.moment == Moment::CopyEnded || error) << "the check folder was left without a word";
        for (const QString &folder : VNTest::listTree(b + under)) {
            if (!folder.contains(QLatin1String("varnello-check-")))
                continue;
            const QString name = folder.section(QLatin1Char('/'), -2, -2);
            QString holder = under + QStringLiteral("/") + folder.section(QLatin1Char('/'), 0, -3);
            if (holder.size() > 1 && holder.endsWith(QLatin1Char('/')))
                holder.chop(1);
            EXPECT_TRUE(said.contains(QStringLiteral("\u201c%1\u201d could not be removed from \u201c%2\u201d").arg(name, holder)))
                << said.toStdString();
        }
        if (*row.because)
            EXPECT_TRUE(said.contains(QLatin1String(row.because))) << said.toStdString();
        EXPECT_EQ(VNTest::readFile(a + "/proj/f.txt"), QByteArray("f"));
        EXPECT_EQ(VNTest::readFile(a + "/proj/sub/x.txt"), QByteArray("x"));
    }
}

// Below the dropped folder, a folder merged into its namesake is looked at
// too, whichever spelling the namesake has, against every folder of the
// copied tree: on a server that folds case and shows a link as a plain
// folder, dst/proj/sub (or dst/proj/SUB) is a link to src/proj/sub, or
// dst/proj/latest a link to src/proj/v2, another folder of the tree.
// Merging into it would write files onto the tree's own (latest/app.js over
// v2/app.js), and a move would then remove them, the only copies. Each row
// fails the item naming it before any file is written, and nothing is lost.
TEST_F(AliasCheckItem, AMergedSubFolderThatIsAFolderOfTheCopiedTreeIsRefusedWhateverItsSpelling) {
    struct Row {
        const char *name;
        const char *linkName;  // the namesake's spelling at the destination
        const char *target;    // the folder of the tree it leads to
        bool move;
        const char *because;
    };
    const Row rows[] = {
        {"same spelling, copy", "sub", "sub", false, "is that folder itself"},
        {"same spelling, move", "sub", "sub", true, "is that folder itself"},
        {"another case, copy", "SUB", "sub", false, "is that folder itself"},
        {"another case, move", "SUB", "sub", true, "is that folder itself"},
        {"another folder of the tree, copy", "latest", "v2", false, "is its own folder \u201c/proj/v2\u201d"},
        {"another folder of the tree, move", "latest", "v2", true, "is its own folder \u201c/proj/v2\u201d"},
        {"a deeper folder of the tree, move", "latest", "deep/v1", true, "is its own folder \u201c/proj/deep/v1\u201d"},
    };
    int n = 0;
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        QNFakeRemoteHandler::resetBehaviours();
        const QString a = path(QStringLiteral("fold-a%1").arg(n));
        const QString b = path(QStringLiteral("fold-b%1").arg(n++));
        writeTree(a, {{"proj/a.txt", "a"},
                      {"proj/sub/only.txt", "the only copy"},
                      {"proj/latest/app.js", "latest"},
                      {"proj/v2/app.js", "v2"},
                      {"proj/deep/v1/app.js", "v1"}});
        writeTree(b, {{"proj/c.txt", "c"}});
        const QString link = b + "/proj/" + row.linkName;
        const bool linked = ::symlink(QFile::encodeName(a + "/proj/" + row.target).constData(),
                                      QFile::encodeName(link).constData()) == 0;
        EXPECT_TRUE(linked) << "the link could not be made";
        if (!linked)
            continue;
        QNFakeRemoteHandler::setFoldsCase(true, b);

        const auto [error, document, cancelled] = dropProj(serverDrive(a), serverDrive(b), row.move);
        EXPECT_FALSE(cancelled);
        EXPECT_TRUE(error) << "merged into the tree: " << listTree(a).join(' ').toStdString();
        // What became of the files comes before why, where a cut headline still shows it.
        EXPECT_TRUE(text(error).contains(QString::fromUtf8(row.because)) &&
                    text(error).contains(QLatin1String(row.linkName)) &&
                    text(error).section(QLatin1Char(':'), 0, 0).contains(QLatin1String("written or removed")))
            << text(error).toStdString();
        EXPECT_EQ(VNTest::readFile(a + "/proj/sub/only.txt"), QByteArray("the only copy"));
        EXPECT_EQ(VNTest::readFile(a + "/proj/a.txt"), QByteArray("a"));
        EXPECT_EQ(VNTest::readFile(a + "/proj/latest/app.js"), QByteArray("latest"));
        EXPECT_EQ(VNTest::readFile(a + "/proj/v2/app.js"), QByteArray("v2"));
        EXPECT_EQ(VNTest::readFile(a + "/proj/deep/v1/app.js"), QByteArray("v1"));
        EXPECT_EQ(VNTest::readFile(b + "/proj/c.txt"), QByteArray("c"));
        EXPECT_TRUE(QFileInfo(link).isSymLink());
        EXPECT_TRUE(checkFolders(a).isEmpty()) << checkFolders(a).join(' ').toStdString();
        EXPECT_EQ(QNFakeRemoteHandler::callCount(Op::Upload), 0);
    }
}

// A server that shows the check folder in neither listing cannot tell the
// two folders apart, nor, where the destination holds no namesake, whether
// the folder dropped onto is a folder of the copied one: the item fails,
// and nothing is written or removed (the folder made for the copy goes).
TEST_F(AliasCheckItem, ACheckFolderHiddenFromBothListingsFailsTheItem) {
    int n = 0;
    for (const bool namesake : {true, false})
        for (const bool move : {false, true}) {
            SCOPED_TRACE(std::string(move ? "move" : "copy") + (namesake ? ", onto a namesake" : ", no namesake"));
            QNFakeRemoteHandler::resetBehaviours();
            QNFakeRemoteHandler::setHiddenNamePrefix(QStringLiteral("varnello-check-"));
            const QString a = path(QStringLiteral("hidden-a%1").arg(n));
            const QString b = path(QStringLiteral("hidden-b%1").arg(n++));
            writeTree(a, {{"proj/f.txt", "f"}});
            if (namesake)
                writeTree(b, {{"proj/g.txt", "g"}});
            else
                QDir().mkpath(b);
            const auto [error, document, cancelled] = dropProj(serverDrive(a), serverDrive(b), move);
            EXPECT_FALSE(cancelled);
            EXPECT_TRUE(error) << "copied as if told apart";
            EXPECT_TRUE(text(error).contains(QLatin1String("does not show in the listing")) &&
                        text(error).contains(QLatin1String("could not be told")))
                << text(error).toStdString();
            EXPECT_EQ(listTree(b).join(' ').toStdString(), std::string(namesake ? "proj/ proj/g.txt" : ""));
            EXPECT_EQ(listTree(a + "/proj").join(' ').toStdString(), std::string("f.txt"));
        }
}

// A server that makes no check folder: a copy or a move goes on, every file
// of it asked to go up under a temporary name (FTP, SFTP and WebDAV can; a
// move's last look before it removes its source covers the rest); onto a
// drive that cannot, it fails saying why. Where the check is made, the
// upload is a plain one.
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
        {"FTP move", Kind::FTP, true, false, ""},
        {"WebDAV copy", Kind::WebDAV, false, false, ""},
        {"WebDAV move", Kind::WebDAV, true, false, ""},
        {"WebDAV copy, the check made", Kind::WebDAV, false, true, ""},
        {"SMB move", Kind::SMB, true, false, "Nothing was moved. The file \u201cx.txt\u201d was not moved"},
        {"SMB copy", Kind::SMB, false, false, "writes straight onto the name"},
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
        // A move that went on took its source away.
        EXPECT_EQ(QFileInfo::exists(a + "/x.txt"), !row.move || *row.because);
        if (!*row.because) {
            EXPECT_FALSE(error) << text(error).toStdString();
            EXPECT_EQ(VNTest::readFile(b + "/x.txt"), QByteArray("new"));
            EXPECT_EQ(QNFakeRemoteHandler::callCount(Op::Upload), 1);
            EXPECT_EQ(QNFakeRemoteHandler::temporaryNameUploadCount(), row.checkMade ? 0 : 1);
            continue;
        }
        EXPECT_TRUE(error) << "replaced without a check";
        EXPECT_EQ(VNTest::readFile(a + "/x.txt"), QByteArray("new"));
        EXPECT_TRUE(text(error).contains(QLatin1String("could not be made")) &&
                    text(error).contains(QString::fromUtf8(row.because)))
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

// Every name below root that a move's look leaves behind for a while.
QStringList setAsideOrCheck(const QString &root) {
    QStringList found;
    for (const QString &entry : listTree(root))
        if (entry.contains(QLatin1String("varnello-moving-")) || entry.contains(QLatin1String("varnello-check-")))
            found << entry;
    return found;
}

// The last look before a move removes its source, on two drives of one
// server: a loose file is looked for through its folders (a check folder
// made in its folder and looked for in the destination), a folder, or a
// file whose folder cannot hold a check folder, is set aside and the
// destination listed again. Where the destination is the source itself
// (b is a link to a, and the server hides the file's name from the check
// before the copy), the source stays whole under its own name and the
// move fails naming it; apart, the source goes. Whatever fails on the way,
// the source stays (under its own name, or said where), judged on the disk.
TEST_F(AliasCheckItem, AMoveLooksAtItsCopyOnceMoreAndRemovesItsSourceOnlyWhenTheCopyIsElsewhere) {
    enum class Fault { None, RenameRefused, RenameReplyLost, LookFails, RemovalFails, PutBackFails };
    enum class Storage { Apart, OneByLink, Overlaid };
    struct Row {
        const char *name;
        Storage storage;
        bool folder;
        bool noCheckFolder;  // the source's folder cannot hold a check folder
        Fault fault;
        const char *because;  // a part of the error; "" when the move is done
        bool keptUnderItsName;
    };
    const Row rows[] = {
        {"apart, a file", Storage::Apart, false, false, Fault::None, "", false},
        {"apart, a file, no check folder", Storage::Apart, false, true, Fault::None, "", false},
        {"one storage, a file", Storage::OneByLink, false, false, Fault::None, "is that file itself", true},
        {"one storage, a file, no check folder", Storage::OneByLink, false, true, Fault::None, "is that file itself",
         true},
        {"apart, a folder", Storage::Apart, true, false, Fault::None, "", false},
        // The destination shows what the source's folder holds beside the
        // copy: the set-aside name showing is enough.
        {"overlaid, a file set aside", Storage::Overlaid, false, true, Fault::None, "is that file itself", true},
        {"apart, a folder, its setting aside refused", Storage::Apart, true, false, Fault::RenameRefused,
         "could not be set aside", true},
        {"apart, a folder, its setting aside answered lost", Storage::Apart, true, false, Fault::RenameReplyLost,
         "could not be set aside", true},
        {"apart, a file set aside, the look fails", Storage::Apart, false, true, Fault::LookFails,
         "could not be listed to check", true},
        {"apart, a file, its removal fails", Storage::Apart, false, false, Fault::RemovalFails, "refused", true},
        {"apart, a folder, its removal fails", Storage::Apart, true, false, Fault::RemovalFails, "refused", true},
        {"one storage, a file set aside, its name not given back", Storage::OneByLink, false, true,
         Fault::PutBackFails, "is now", false},
    };
    int n = 0;
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        QNFakeRemoteHandler::resetBehaviours();
        ScriptedRemoteHandler::reset();
        const QString a = path(QStringLiteral("guard-a%1").arg(n));
        const QString b = path(QStringLiteral("guard-b%1").arg(n++));
        writeTree(a, {{"x.txt", "the only copy"}, {"proj/f.txt", "f"}, {"proj/sub/g.txt", "g"}});
        if (row.storage == Storage::OneByLink) {
            const bool linked = ::symlink(QFile::encodeName(a).constData(), QFile::encodeName(b).constData()) == 0;
            EXPECT_TRUE(linked) << "the link could not be made";
            if (!linked)
                continue;
            // Unseen by the check before the copy, which would refuse it.
            QNFakeRemoteHandler::setHiddenNamePrefix(QStringLiteral("x."));
        } else {
            QDir().mkpath(b);
        }
        auto from = serverDrive(a);
        auto to = serverDrive(b, Kind::WebDAV);
        if (row.storage == Storage::Overlaid) {
            from = ScriptedRemoteHandler::makeDriveConfig(a);
            from->setUrl(QStringLiteral("fake://h") + QDir(a).absolutePath());
            from->setIsFTP(true);
            to = ScriptedRemoteHandler::makeDriveConfig(b);
            to->setUrl(QStringLiteral("fake://h") + QDir(b).absolutePath());
            to->setIsWebDAV(true);
            ScriptedRemoteHandler::Script script;
            script.overlayRoot = b;
            script.overlayFrom = a;
            ScriptedRemoteHandler::setScript(script);
        }
        if (row.noCheckFolder) {
            // Refused in the source's folder; the copy makes nothing there.
            QNFakeRemoteHandler::Behaviour refused;
            refused.mode = Mode::Fail;
            QNFakeRemoteHandler::setBehaviour(Op::CreateFolder, refused, a);
        }
        if (row.fault == Fault::RenameRefused)
            setMode(Op::Rename, Mode::Fail, a);
        if (row.fault == Fault::RenameReplyLost)
            setMode(Op::Rename, Mode::FailAfterWork, a);
        if (row.fault == Fault::LookFails) {
            // The copy's own listing of the destination answers; the look fails.
            QNFakeRemoteHandler::Behaviour failing;
            failing.mode = Mode::Fail;
            failing.answersFirst = 1;
            QNFakeRemoteHandler::setBehaviour(Op::List, failing, b);
        }
        if (row.fault == Fault::RemovalFails) {
            // A loose file's check folder goes first; the source's removal fails.
            QNFakeRemoteHandler::Behaviour failing;
            failing.mode = Mode::Fail;
            failing.answersFirst = row.folder ? 0 : 1;
            QNFakeRemoteHandler::setBehaviour(Op::Remove, failing, a);
        }
        if (row.fault == Fault::PutBackFails) {
            QNFakeRemoteHandler::Behaviour failing;
            failing.mode = Mode::Fail;
            failing.answersFirst = 1;  // set aside, but not given its name back
            QNFakeRemoteHandler::setBehaviour(Op::Rename, failing, a);
        }
        auto source = row.folder ? driveDocument("/proj", true) : driveDocument("/x.txt", false, 13);
        auto task = std::make_shared<QNMoveTask>();
        auto item = std::make_shared<QNMoveTaskItem>(from, to, source, driveDocument("/", true));
        const auto [error, document, cancelled] = runOne(task, item);
        QNFakeRemoteHandler::setHiddenNamePrefix(QString());
        const QString said = text(error);
        EXPECT_FALSE(cancelled);
        // The copy is whole where it went (one storage: it is the source).
        if (row.storage == Storage::Apart)
            EXPECT_EQ(VNTest::readFile(b + (row.folder ? "/proj/sub/g.txt" : "/x.txt")),
                      QByteArray(row.folder ? "g" : "the only copy"));
        const QString left = row.folder ? a + "/proj/sub/g.txt" : a + "/x.txt";
        const QStringList setAside = listTree(a).filter(QStringLiteral("varnello-moving-"));
        EXPECT_EQ(listTree(a).filter(QStringLiteral("varnello-check-")), QStringList());
        if (!*row.because) {
            EXPECT_FALSE(error) << said.toStdString();
            EXPECT_FALSE(QFileInfo::exists(left)) << "the source stayed";
            EXPECT_TRUE(setAside.isEmpty()) << setAside.join(' ').toStdString();
            continue;
        }
        EXPECT_TRUE(said.contains(QLatin1String(row.because))) << said.toStdString();
        EXPECT_TRUE(said.contains(row.folder ? QStringLiteral("proj") : QStringLiteral("x.txt\u201d")))
            << said.toStdString();
        if (row.keptUnderItsName) {
            EXPECT_EQ(VNTest::readFile(left), QByteArray(row.folder ? "g" : "the only copy"));
            EXPECT_TRUE(setAside.isEmpty()) << setAside.join(' ').toStdString();
        } else {
            // Not given its name back: the error says where it is, and it is there whole.
            EXPECT_EQ(setAside.size(), 1) << listTree(a).join(' ').toStdString();
            if (!setAside.isEmpty()) {
                EXPECT_TRUE(said.contains(QLatin1Char('/') + setAside.first())) << said.toStdString();
                EXPECT_EQ(VNTest::readFile(a + QLatin1Char('/') + setAside.first()), QByteArray("the only copy"));
            }
        }
    }
}

// A move cancelled at each step of its sources' removal: the removal
// waiting for its turn behind other transfers, the look at the folders of a
// loose file, the setting aside, the look at the destination, the removal
// itself. The step is held (a slow server) while the task is cancelled,
// then let go. The task ends; nothing stays under a set-aside name or as a
// check folder; every source is whole under its own name, unless its
// removal had been sent (it is then moved, whole at the destination); and a
// later task runs to its end.
TEST_F(AliasCheckItem, AMoveCancelledAtEachStepOfItsRemovalEndsWithEverySourceUnderItsName) {
    enum class Step { Queued, Checking, SetAside, Looking, Removing };
    enum class From { Server, LocalDisk };
    struct Row {
        const char *name;
        From from;
        bool folder;
        Step step;
        bool noCheckFolder;  // a file is set aside, as a folder is
    };
    const Row rows[] = {
        {"from a server, files, a removal queued", From::Server, false, Step::Queued, false},
        {"from this computer, files, a removal queued", From::LocalDisk, false, Step::Queued, false},
        {"from this computer, folders, a removal queued", From::LocalDisk, true, Step::Queued, false},
        {"from a server, a file, its folders looked at", From::Server, false, Step::Checking, false},
        {"from this computer, a file, its folders looked at", From::LocalDisk, false, Step::Checking, false},
        {"from a server, a file, set aside", From::Server, false, Step::SetAside, true},
        {"from a server, a folder, set aside", From::Server, true, Step::SetAside, false},
        {"from a server, a file, the destination looked at", From::Server, false, Step::Looking, true},
        {"from a server, a folder, the destination looked at", From::Server, true, Step::Looking, false},
        {"from this computer, a folder, the destination looked at", From::LocalDisk, true, Step::Looking, false},
        {"from a server, a file, being removed", From::Server, false, Step::Removing, false},
        {"from a server, a folder, being removed", From::Server, true, Step::Removing, false},
    };
    int n = 0;
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        QNFakeRemoteHandler::resetBehaviours();
        const QString a = path(QStringLiteral("cancel-a%1").arg(n));
        const QString b = path(QStringLiteral("cancel-b%1").arg(n++));
        const bool queued = row.step == Step::Queued;
        // Three items where one's removal waits behind the others.
        const QStringList names = queued ? QStringList{"x1", "x2", "x3"} : QStringList{"x"};
        QMap<QString, QByteArray> tree;
        for (const QString &name : names) {
            if (row.folder)
                tree.insert(name + "/f.txt", name.toUtf8() + " f");
            else
                tree.insert(name + ".txt", name.toUtf8() + " only copy");
        }
        writeTree(a, tree);
        QDir().mkpath(b);
        const bool local = row.from == From::LocalDisk;
        auto from = local ? localDrive() : serverDrive(a);
        auto to = serverDrive(b, Kind::WebDAV);
        auto task = std::make_shared<QNMoveTask>();
        for (const QString &name : names) {
            const QString leaf = row.folder ? name : name + ".txt";
            auto source = local ? localDocument(a + "/" + leaf)
                                : driveDocument("/" + leaf, row.folder, row.folder ? 0 : tree.value(leaf).size());
            task->addTaskItem(std::make_shared<QNMoveTaskItem>(from, to, source, driveDocument("/", true)));
        }
        if (row.noCheckFolder)
            setMode(Op::CreateFolder, Mode::Fail, a);
        QNFakeRemoteHandler::Behaviour held;
        held.mode = Mode::HeldUntilReleased;
        std::function<bool()> atTheStep;
        const auto removalsQueued = [&task](int count) {
            int found = 0;
            for (const auto &op : task->fromQueue()->operations())
                found += !op->isExecuting() && op->description() == QLatin1String("QNMoveRemovalOperation");
            for (const auto &op : task->toQueue()->operations())
                found += !op->isExecuting() && op->description() == QLatin1String("QNMoveRemovalOperation");
            return found >= count;
        };
        switch (row.step) {
        case Step::Queued:
            if (row.from == From::Server) {
                // x1 arrives; the downloads of x2 and x3 hold the from queue.
                QNFakeRemoteHandler::Behaviour downloads;
                downloads.mode = Mode::CancelledOnCancel;
                downloads.answersFirst = 1;
                QNFakeRemoteHandler::setBehaviour(Op::Download, downloads, a);
            } else if (row.folder) {
                // x1's folder arrives; x2's upload holds the to queue.
                QNFakeRemoteHandler::Behaviour uploads;
                uploads.mode = Mode::CancelledOnCancel;
                uploads.answersFirst = 1;
                QNFakeRemoteHandler::setBehaviour(Op::Upload, uploads, b);
            } else {
                // Every file arrives; the first two removals wait for the
                // look at their folders, the third for a place.
                held.answersFirst = 1;
                QNFakeRemoteHandler::setBehaviour(Op::List, held, b);
            }
            atTheStep = [&] { return removalsQueued(1); };
            break;
        case Step::Checking:
            held.answersFirst = 1;  // the copy's own look at the destination answers
            QNFakeRemoteHandler::setBehaviour(Op::List, held, b);
            atTheStep = [] { return QNFakeRemoteHandler::heldCallCount() == 1; };
            break;
        case Step::SetAside:
            QNFakeRemoteHandler::setBehaviour(Op::Rename, held, a);
            atTheStep = [] { return QNFakeRemoteHandler::heldCallCount() == 1; };
            break;
        case Step::Looking:
            held.answersFirst = 1;
            QNFakeRemoteHandler::setBehaviour(Op::List, held, b);
            atTheStep = [] { return QNFakeRemoteHandler::heldCallCount() == 1; };
            break;
        case Step::Removing:
            held.answersFirst = row.folder ? 0 : 1;  // a loose file's check folder goes first
            QNFakeRemoteHandler::setBehaviour(Op::Remove, held, a);
            atTheStep = [] { return QNFakeRemoteHandler::heldCallCount() == 1; };
            break;
        }
        manager->addTask(task);
        EXPECT_TRUE(VNTest::waitUntil(atTheStep, 20000)) << "the step was never reached";
        task->cancel();
        // Let go of what the slow server held, each time it holds anew.
        EXPECT_TRUE(VNTest::waitUntil(
            [&] {
                QNFakeRemoteHandler::releaseHeldCalls();
                return task->completed();
            },
            20000))
            << "the task never ended";
        QNFakeRemoteHandler::resetBehaviours();
        EXPECT_EQ(setAsideOrCheck(a), QStringList());
        EXPECT_EQ(setAsideOrCheck(b), QStringList());
        for (const QString &name : names) {
            SCOPED_TRACE(name.toStdString());
            const QString leaf = row.folder ? name + "/f.txt" : name + ".txt";
            const QByteArray bytes = tree.value(leaf);
            if (row.step == Step::Removing) {
                // Sent before the cancel: it went, and its copy is whole.
                EXPECT_EQ(VNTest::readFile(b + "/" + leaf), bytes);
                EXPECT_FALSE(QFileInfo::exists(a + "/" + leaf));
            } else {
                EXPECT_EQ(VNTest::readFile(a + "/" + leaf), bytes) << "the source is not under its own name";
            }
        }
        // The task manager runs the next task to its end.
        writeTree(path(QStringLiteral("later%1").arg(n)), {{"later.txt", "later"}});
        auto later = std::make_shared<QNCopyTask>();
        later->addTaskItem(std::make_shared<QNCopyTaskItem>(
            localDrive(), to, localDocument(path(QStringLiteral("later%1/later.txt").arg(n))), driveDocument("/", true)));
        EXPECT_TRUE(runTask(manager, later, 20000)) << "a later task did not run to its end";
        EXPECT_EQ(VNTest::readFile(b + "/later.txt"), QByteArray("later"));
    }
}

}  // namespace
