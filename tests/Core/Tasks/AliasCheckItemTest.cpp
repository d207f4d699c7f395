// The alias check as copy and move items meet it, on drives of one server
// (a folder-backed fake, where a link plays a folder reached two ways):
// one storage refuses, "cannot tell" lets a copy go on (every upload whole
// or nothing) and keeps a move's source, and a check folder left behind is
// named in the task's end report and never stops the copy. Judged on the
// disks.
#include "Core/QNCopyTask.h"
#include "Core/QNCopyTaskItem.h"
#include "Core/QNErrorWrapper.h"
#include "Core/QNListDocumentsOperation.h"
#include "Core/QNMoveTask.h"
#include "Core/QNMoveTaskItem.h"
#include "ScriptedRemoteHandler.h"
#include "TaskTestSupport.h"
#include "support/FuseMirror.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
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

// The check folders below root.
QStringList checkFolders(const QString &root) {
    QStringList found;
    for (const QString &entry : listTree(root))
        if (entry.contains(QLatin1String("varnello-check-")))
            found << entry;
    return found;
}

bool link(const QString &target, const QString &at) {
    return ::symlink(QFile::encodeName(target).constData(), QFile::encodeName(at).constData()) == 0;
}

class AliasCheckItem : public TaskFixture {
protected:
    // Runs the copy (or move) of from:/proj onto to:/ and hands back the task.
    Report dropProj(const QNDriveConfigPtr &from, const QNDriveConfigPtr &to, bool move, QNTaskPtr *ran = nullptr) {
        auto proj = driveDocument("/proj", true);
        auto into = driveDocument("/", true);
        QNTaskPtr task = move ? QNTaskPtr(std::make_shared<QNMoveTask>()) : QNTaskPtr(std::make_shared<QNCopyTask>());
        QNTaskItemPtr item = move ? QNTaskItemPtr(std::make_shared<QNMoveTaskItem>(from, to, proj, into))
                                  : QNTaskItemPtr(std::make_shared<QNCopyTaskItem>(from, to, proj, into));
        if (ran)
            *ran = task;
        return runOne(task, item);
    }
};

// A check folder that cannot be removed (an account that removes nothing)
// is named with its folder in the end report; the copy goes on and merges,
// and a move shown apart takes its source away. One whose creation's answer
// was lost is looked for and removed: nothing stays, and as nothing was
// shown, a copy goes on and a move keeps its source.
TEST_F(AliasCheckItem, ACheckFolderThatStaysIsNamedAndNeverStopsTheCopy) {
    enum class Fault { RemovalRefused, CreationAnswerLost };
    struct Row {
        const char *name;
        Fault fault;
        bool move;
        bool sourceGoes;
    };
    const Row rows[] = {
        {"copy, the destination removes nothing", Fault::RemovalRefused, false, false},
        {"move, the destination removes nothing", Fault::RemovalRefused, true, true},
        {"copy, a creation's answer lost", Fault::CreationAnswerLost, false, false},
        {"move, a creation's answer lost", Fault::CreationAnswerLost, true, false},
    };
    int n = 0;
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        QNFakeRemoteHandler::resetBehaviours();
        const QString a = path(QStringLiteral("a%1").arg(n));
        const QString b = path(QStringLiteral("b%1").arg(n++));
        writeTree(a, {{"proj/f.txt", "f"}, {"proj/sub/x.txt", "x"}});
        writeTree(b, {{"proj/g.txt", "g"}, {"proj/sub/", ""}});
        if (row.fault == Fault::RemovalRefused)
            setMode(Op::Remove, Mode::Fail, b);
        else
            setMode(Op::CreateFolder, Mode::FailAfterWork, b);
        QNTaskPtr task;
        const auto [error, document, cancelled] = dropProj(serverDrive(a), serverDrive(b), row.move, &task);
        EXPECT_FALSE(cancelled);
        EXPECT_FALSE(error) << text(error).toStdString();
        EXPECT_EQ(VNTest::readFile(b + "/proj/f.txt"), QByteArray("f"));
        EXPECT_EQ(VNTest::readFile(b + "/proj/sub/x.txt"), QByteArray("x"));
        EXPECT_EQ(VNTest::readFile(b + "/proj/g.txt"), QByteArray("g"));
        EXPECT_EQ(QFileInfo::exists(a + "/proj/f.txt"), !row.sourceGoes);
        EXPECT_TRUE(checkFolders(a).isEmpty()) << checkFolders(a).join(' ').toStdString();
        const QStringList left = checkFolders(b);
        const QString said = task->leftOut().join(QLatin1Char(' '));
        if (row.fault == Fault::CreationAnswerLost) {
            EXPECT_TRUE(left.isEmpty()) << left.join(' ').toStdString();
            continue;
        }
        EXPECT_FALSE(left.isEmpty()) << "no check folder was left: the row tests nothing";
        for (const QString &entry : left) {
            const QString name = entry.section(QLatin1Char('/'), -2, -2);
            QString holder = QStringLiteral("/") + entry.section(QLatin1Char('/'), 0, -3);
            if (holder.size() > 1 && holder.endsWith(QLatin1Char('/')))
                holder.chop(1);
            EXPECT_TRUE(said.contains(QStringLiteral("\u201c%1\u201d could not be removed from \u201c%2\u201d").arg(name, holder)))
                << said.toStdString();
        }
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
        const QString at = b + "/proj/" + row.linkName;
        const bool linked = link(a + "/proj/" + row.target, at);
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
        EXPECT_TRUE(QFileInfo(at).isSymLink());
        EXPECT_TRUE(checkFolders(a).isEmpty()) << checkFolders(a).join(' ').toStdString();
        EXPECT_EQ(QNFakeRemoteHandler::callCount(Op::Upload), 0);
    }
}

// A folder where it cannot be told whether what it lands in is a folder of
// it (a server that leaves the check folders out of every listing): a copy
// goes on, writing each file whole or not at all; a move copies too and
// keeps its source, which the end report says. Never is a source removed on
// an absence.
TEST_F(AliasCheckItem, AFolderItCannotBeToldOfIsCopiedAndAMovedOneStays) {
    int n = 0;
    for (const bool namesake : {true, false})
        for (const bool move : {false, true}) {
            SCOPED_TRACE(std::string(move ? "move" : "copy") + (namesake ? ", onto a namesake" : ", no namesake"));
            QNFakeRemoteHandler::resetBehaviours();
            QNFakeRemoteHandler::setHiddenNamePrefix(QStringLiteral("varnello-check-"));
            const QString a = path(QStringLiteral("hidden-a%1").arg(n));
            const QString b = path(QStringLiteral("hidden-b%1").arg(n++));
            writeTree(a, {{"proj/f.txt", "f"}, {"proj/sub/h.txt", "h"}});
            if (namesake)
                writeTree(b, {{"proj/g.txt", "g"}});
            else
                QDir().mkpath(b);
            QNTaskPtr task;
            const auto [error, document, cancelled] = dropProj(serverDrive(a), serverDrive(b), move, &task);
            EXPECT_FALSE(cancelled);
            EXPECT_FALSE(error) << text(error).toStdString();
            EXPECT_EQ(VNTest::readFile(b + "/proj/f.txt"), QByteArray("f"));
            EXPECT_EQ(VNTest::readFile(b + "/proj/sub/h.txt"), QByteArray("h"));
            EXPECT_EQ(listTree(a + "/proj").join(' ').toStdString(), std::string("f.txt sub/ sub/h.txt"));
            const QString said = task->leftOut().join(QLatin1Char(' '));
            EXPECT_EQ(said.contains(QLatin1String("could not be told")), move) << said.toStdString();
            EXPECT_TRUE(checkFolders(a).isEmpty() && checkFolders(b).isEmpty());
        }
}

// A file whose namesake's folder holds no check folder (an account that
// makes no folders), so that it cannot be told whether the namesake is the
// file itself: a copy replaces it, the upload under a temporary name that
// takes the name only when whole; a move does too and keeps its source;
// onto a drive that can only write straight onto the name, it fails saying
// why. Where the check is made (and shows them apart), the upload is a
// plain one and a move takes its source.
TEST_F(AliasCheckItem, AFileItCannotBeToldOfGoesUpUnderATemporaryNameAndAMovedOneStays) {
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
        {"WebDAV move, the check made", Kind::WebDAV, true, true, ""},
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
        if (!*row.because) {
            EXPECT_FALSE(error) << text(error).toStdString();
            EXPECT_EQ(VNTest::readFile(b + "/x.txt"), QByteArray("new"));
            EXPECT_EQ(QNFakeRemoteHandler::callCount(Op::Upload), 1);
            EXPECT_EQ(QNFakeRemoteHandler::temporaryNameUploadCount(), row.checkMade ? 0 : 1);
            // A move takes its source only where the two were shown apart.
            EXPECT_EQ(QFileInfo::exists(a + "/x.txt"), !row.move || !row.checkMade);
            EXPECT_EQ(task->leftOut().join(' ').contains(QLatin1String("could not be told")), row.move && !row.checkMade)
                << task->leftOut().join(' ').toStdString();
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
// checks show the folders apart, none does.
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

// The look before a move removes its source, on two drives of one server:
// it removes only where its copy was shown to lie elsewhere. Where the
// destination is the source itself (b is a link to a, or a server that
// shows a's entries in b; the file's name hidden from the look before the
// copy, which would refuse it), the move fails naming it; where it cannot
// be told (no check folder in the source's folder, a destination that
// cannot be listed, or whose listings leave the check folders out), the
// source stays and the end report says so. A destination that lists from a
// cache holding its own writes shows its own check folder and not the
// source's: the source's folder, listed fresh, shows the destination's.
// Judged on the disks.
TEST_F(AliasCheckItem, AMoveRemovesItsSourceOnlyWhereItsCopyWasShownElsewhere) {
    enum class Fault { None, NoCheckFolderAtTheSource, LookFails, CheckFoldersHidden, DestinationCaches, RemovalFails };
    enum class Storage { Apart, OneByLink, Overlaid };
    enum class Ending { Moved, Refused, Kept, Failed };
    struct Row {
        const char *name;
        Storage storage;
        bool folder;
        Fault fault;
        Ending ending;
        const char *because;  // a part of the error or the report
    };
    const Row rows[] = {
        {"apart, a file", Storage::Apart, false, Fault::None, Ending::Moved, ""},
        {"apart, a folder", Storage::Apart, true, Fault::None, Ending::Moved, ""},
        {"one storage, a file", Storage::OneByLink, false, Fault::None, Ending::Refused, "is that file itself"},
        {"overlaid, a file", Storage::Overlaid, false, Fault::None, Ending::Refused, "is that file itself"},
        {"apart, a file, no check folder at the source", Storage::Apart, false, Fault::NoCheckFolderAtTheSource,
         Ending::Kept, "could not be told"},
        {"one storage, a file, no check folder at the source", Storage::OneByLink, false,
         Fault::NoCheckFolderAtTheSource, Ending::Kept, "could not be told"},
        {"apart, a file, the destination not listed", Storage::Apart, false, Fault::LookFails, Ending::Kept,
         "could not be listed"},
        {"apart, a folder, the destination not listed", Storage::Apart, true, Fault::LookFails, Ending::Kept,
         "could not be listed"},
        {"one storage, a file, check folders left out of the listings", Storage::OneByLink, false,
         Fault::CheckFoldersHidden, Ending::Kept, "could not be told"},
        {"apart, a file, the destination lists from its cache", Storage::Apart, false, Fault::DestinationCaches,
         Ending::Moved, ""},
        {"one storage, a file, the destination lists from its cache", Storage::OneByLink, false,
         Fault::DestinationCaches, Ending::Refused, "is that file itself"},
        {"apart, a file, its removal fails", Storage::Apart, false, Fault::RemovalFails, Ending::Failed, "refused"},
        {"apart, a folder, its removal fails", Storage::Apart, true, Fault::RemovalFails, Ending::Failed, "refused"},
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
            const bool linked = link(a, b);
            EXPECT_TRUE(linked) << "the link could not be made";
            if (!linked)
                continue;
            // Unseen by the look before the copy, which would refuse it.
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
        switch (row.fault) {
        case Fault::None:
            break;
        case Fault::NoCheckFolderAtTheSource:
            setMode(Op::CreateFolder, Mode::Fail, a);
            break;
        case Fault::LookFails: {
            // The copy's own listing of the destination answers; the look's fails.
            QNFakeRemoteHandler::Behaviour failing;
            failing.mode = Mode::Fail;
            failing.answersFirst = 1;
            QNFakeRemoteHandler::setBehaviour(Op::List, failing, b);
            break;
        }
        case Fault::CheckFoldersHidden:
            QNFakeRemoteHandler::addHiddenNamePrefix(QStringLiteral("varnello-check-"));
            break;
        case Fault::DestinationCaches:
            QNFakeRemoteHandler::setCachesListings(b);
            break;
        case Fault::RemovalFails: {
            // The check folder in the source's folder goes first; the source's removal fails.
            QNFakeRemoteHandler::Behaviour failing;
            failing.mode = Mode::Fail;
            failing.answersFirst = row.folder ? 2 : 1;  // and a folder's tree has two
            QNFakeRemoteHandler::setBehaviour(Op::Remove, failing, a);
            break;
        }
        }
        auto source = row.folder ? driveDocument("/proj", true) : driveDocument("/x.txt", false, 13);
        auto task = std::make_shared<QNMoveTask>();
        auto item = std::make_shared<QNMoveTaskItem>(from, to, source, driveDocument("/", true));
        const auto [error, document, cancelled] = runOne(task, item);
        QNFakeRemoteHandler::setHiddenNamePrefix(QString());
        const QString said = text(error) + QLatin1Char(' ') + task->leftOut().join(QLatin1Char(' '));
        EXPECT_FALSE(cancelled);
        // The copy is whole where it went (one storage: it is the source).
        if (row.storage == Storage::Apart)
            EXPECT_EQ(VNTest::readFile(b + (row.folder ? "/proj/sub/g.txt" : "/x.txt")),
                      QByteArray(row.folder ? "g" : "the only copy"));
        const QString left = row.folder ? a + "/proj/sub/g.txt" : a + "/x.txt";
        EXPECT_TRUE(checkFolders(a).isEmpty()) << checkFolders(a).join(' ').toStdString();
        if (row.storage != Storage::OneByLink)
            EXPECT_TRUE(checkFolders(b).isEmpty()) << checkFolders(b).join(' ').toStdString();
        if (row.ending == Ending::Moved) {
            EXPECT_FALSE(error) << said.toStdString();
            EXPECT_FALSE(QFileInfo::exists(left)) << "the source stayed";
            continue;
        }
        EXPECT_EQ(VNTest::readFile(left), QByteArray(row.folder ? "g" : "the only copy"));
        EXPECT_TRUE(said.contains(QLatin1String(row.because))) << said.toStdString();
        // Kept is no failure of the move: the report says it; refusing and
        // failing are.
        EXPECT_EQ(bool(error), row.ending != Ending::Kept) << said.toStdString();
        if (row.ending == Ending::Kept)
            EXPECT_EQ(task->leftOutItemCount(), 1);
    }
}

// Loose files onto their namesakes (Replace) ask one check per pair of
// folders, not one per file, before the copy and at a move's removal alike;
// two destination folders of one drive are two pairs, each answered for
// its own files: b/ is shown apart (its files' sources go), c/ is a link to
// the source's folder that holds no check folder, so that it cannot be told
// (its files' sources stay, which the report says). Each answer, taken for
// the other pair's, would lose the sources through c/ or keep b/'s.
TEST_F(AliasCheckItem, LooseFilesAskOneCheckPerPairOfFoldersEachAnsweredForItsOwnFiles) {
    QNFakeRemoteHandler::resetBehaviours();
    const QString a = path("pair-a");
    const QString b = path("pair-b");
    const QString c = path("pair-c");
    QMap<QString, QByteArray> sources, olds;
    for (int i = 0; i < 12; ++i) {
        sources.insert(QStringLiteral("f%1.txt").arg(i), QByteArray("new ") + QByteArray::number(i));
        olds.insert(QStringLiteral("f%1.txt").arg(i), "old");
    }
    writeTree(a, sources);
    writeTree(b, olds);
    ASSERT_TRUE(link(a, c));
    QNFakeRemoteHandler::setMakesNoFolderIn(c);
    auto from = serverDrive(a);
    auto to = serverDrive(path(""));
    const auto toC = [](int i) { return i == 1 || i == 10; };
    auto task = std::make_shared<QNMoveTask>();
    for (int i = 0; i < 12; ++i) {
        const QString name = QStringLiteral("f%1.txt").arg(i);
        task->addTaskItem(std::make_shared<QNMoveTaskItem>(from, to, driveDocument("/" + name, false, 5),
                                                           driveDocument(toC(i) ? "/pair-c" : "/pair-b", true)));
    }
    ASSERT_TRUE(runTask(manager, task));
    // Two pairs: two check folders for b/; for c/, one asked of c/ and refused.
    EXPECT_EQ(QNFakeRemoteHandler::callCount(Op::CreateFolder), 3);
    for (int i = 0; i < 12; ++i) {
        const QString name = QStringLiteral("f%1.txt").arg(i);
        SCOPED_TRACE(name.toStdString());
        if (toC(i)) {
            EXPECT_EQ(VNTest::readFile(a + "/" + name), sources.value(name)) << "removed through its own folder";
        } else {
            EXPECT_EQ(VNTest::readFile(b + "/" + name), sources.value(name));
            EXPECT_FALSE(QFileInfo::exists(a + "/" + name)) << "kept, as the other pair's";
        }
    }
    EXPECT_EQ(task->leftOutItemCount(), 2);
    EXPECT_EQ(task->leftOut().size(), 1) << task->leftOut().join('\n').toStdString();
    EXPECT_TRUE(checkFolders(a).isEmpty() && checkFolders(b).isEmpty());
}

// Many files replacing their namesakes, cancelled while they go: the task
// ends once the check's folders have gone, and none stays on the server.
TEST_F(AliasCheckItem, ACancelledReplaceOfManyFilesLeavesNoCheckFolder) {
    for (const bool move : {false, true}) {
        SCOPED_TRACE(move ? "move" : "copy");
        [&] {  // a failing row ends here; the others still run
            QNFakeRemoteHandler::resetBehaviours();
            const QString a = path(move ? "many-move-a" : "many-a");
            const QString b = path(move ? "many-move-b" : "many-b");
            QMap<QString, QByteArray> sources, olds;
            for (int i = 0; i < 40; ++i) {
                sources.insert(QStringLiteral("f%1.txt").arg(i), QByteArray(4096, 'n'));
                olds.insert(QStringLiteral("f%1.txt").arg(i), "old");
            }
            writeTree(a, sources);
            writeTree(b, olds);
            setMode(Op::Upload, Mode::Answer, b, 50);
            auto from = serverDrive(a);
            auto to = serverDrive(b);
            QNTaskPtr task = move ? QNTaskPtr(std::make_shared<QNMoveTask>()) : QNTaskPtr(std::make_shared<QNCopyTask>());
            for (auto it = sources.cbegin(); it != sources.cend(); ++it) {
                auto file = driveDocument("/" + it.key(), false, it.value().size());
                auto into = driveDocument("/", true);
                task->addTaskItem(move ? QNTaskItemPtr(std::make_shared<QNMoveTaskItem>(from, to, file, into))
                                       : QNTaskItemPtr(std::make_shared<QNCopyTaskItem>(from, to, file, into)));
            }
            manager->addTask(task);
            ASSERT_TRUE(VNTest::waitUntil([] { return QNFakeRemoteHandler::callCount(Op::Upload) >= 3; }, 20000));
            task->cancel();
            ASSERT_TRUE(waitForCompletion(task, 30000)) << "the task never ended";
            EXPECT_TRUE(checkFolders(a).isEmpty() && checkFolders(b).isEmpty())
                << (checkFolders(a) + checkFolders(b)).join(' ').toStdString();
            EXPECT_LE(QNFakeRemoteHandler::callCount(Op::CreateFolder), 2);
            // Every source is there (a move removes only what it copied whole).
            for (auto it = sources.cbegin(); it != sources.cend(); ++it)
                if (QFileInfo::exists(a + "/" + it.key()) == false)
                    EXPECT_EQ(VNTest::readFile(b + "/" + it.key()), it.value()) << it.key().toStdString();
        }();
    }
}

// A folder of this machine mounted again through FUSE (bindfs): one
// storage by two paths whose devices differ, so that device and inode
// cannot tell them. A folder or file moved or copied onto itself through the
// mount (Replace), or a folder into a folder of itself, is refused and every
// byte is kept; a move onto another folder through the mount goes. Judged
// on the disk.
TEST_F(AliasCheckItem, ThroughAFuseMountOfItsOwnFolderNothingIsLostAndAGenuineMoveGoes) {
    const QString share = path("share");
    const QString mnt = path("mnt");
    QDir().mkpath(share);
    VNTest::FuseMirror mirror(share, mnt);
    if (!mirror.isMounted())
        GTEST_SKIP() << mirror.whyNot().toStdString();
    struct Row {
        const char *name;
        bool move;
        const char *dropped;  // below the row's folder of share
        const char *onto;     // below the row's folder of mnt
        bool refused;
    };
    const Row rows[] = {
        {"a folder moved onto itself", true, "proj", "", true},
        {"a folder copied onto itself", false, "proj", "", true},
        {"a file moved onto itself", true, "proj/a.txt", "proj", true},
        {"a file copied onto itself", false, "proj/a.txt", "proj", true},
        {"a folder moved into a folder of itself", true, "proj", "proj/sub", true},
        {"a folder moved onto another folder", true, "proj", "other", false},
        {"a file moved onto another folder", true, "proj/a.txt", "other", false},
    };
    int n = 0;
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        const QString here = QStringLiteral("/r%1").arg(n++);
        writeTree(share + here, {{"proj/a.txt", "a"}, {"proj/sub/b.txt", "b"}, {"other/", ""}});
        const QStringList before = listTree(share + here);
        const bool folder = !QString::fromLatin1(row.dropped).endsWith(QLatin1String(".txt"));
        auto dropped = localDocument(share + here + QLatin1Char('/') + row.dropped);
        dropped->setIsDirectory(folder);
        auto onto = localDocument(QString(mnt + here + QLatin1Char('/') + row.onto).remove(QRegularExpression("/$")));
        onto->setIsDirectory(true);
        QNTaskPtr task = row.move ? QNTaskPtr(std::make_shared<QNMoveTask>()) : QNTaskPtr(std::make_shared<QNCopyTask>());
        QNTaskItemPtr item = row.move ? QNTaskItemPtr(std::make_shared<QNMoveTaskItem>(localDrive(), localDrive(), dropped, onto))
                                      : QNTaskItemPtr(std::make_shared<QNCopyTaskItem>(localDrive(), localDrive(), dropped, onto));
        const auto [error, document, cancelled] = runOne(task, item);
        EXPECT_FALSE(cancelled);
        if (row.refused) {
            EXPECT_TRUE(text(error).contains(QLatin1String("reached by another path"))) << text(error).toStdString();
            EXPECT_EQ(listTree(share + here), before);
            EXPECT_EQ(VNTest::readFile(share + here + "/proj/a.txt"), QByteArray("a"));
            EXPECT_EQ(VNTest::readFile(share + here + "/proj/sub/b.txt"), QByteArray("b"));
            continue;
        }
        EXPECT_FALSE(error) << text(error).toStdString();
        const QString arrived = share + here + "/other/" + QString::fromLatin1(row.dropped).section(QLatin1Char('/'), -1);
        EXPECT_FALSE(QFileInfo::exists(share + here + QLatin1Char('/') + row.dropped)) << "the source stayed";
        EXPECT_EQ(VNTest::readFile(folder ? arrived + "/a.txt" : arrived), QByteArray("a"));
        if (folder)
            EXPECT_EQ(VNTest::readFile(arrived + "/sub/b.txt"), QByteArray("b"));
    }
    EXPECT_TRUE(checkFolders(share).isEmpty()) << checkFolders(share).join(' ').toStdString();
}

// A move cancelled at each step of its sources' removal: the removal
// waiting for its turn behind other transfers, the check of a loose file's
// folders (its check folder being made, the destination being listed), the
// removal itself. The step is held (a slow server) while the task is
// cancelled, then let go. The task ends; no check folder stays; every
// source is whole under its own name, unless its removal had been sent (it
// is then moved, whole at the destination); and a later task runs to its
// end.
TEST_F(AliasCheckItem, AMoveCancelledAtEachStepOfItsRemovalEndsWithEverySourceUnderItsName) {
    enum class Step { Queued, Marking, Checking, Removing };
    enum class From { Server, LocalDisk };
    struct Row {
        const char *name;
        From from;
        bool folder;
        Step step;
    };
    const Row rows[] = {
        {"from a server, files, a removal queued", From::Server, false, Step::Queued},
        {"from this computer, files, a removal queued", From::LocalDisk, false, Step::Queued},
        {"from this computer, folders, a removal queued", From::LocalDisk, true, Step::Queued},
        {"from a server, a file, its folder's check folder made", From::Server, false, Step::Marking},
        {"from a server, a file, its folders looked at", From::Server, false, Step::Checking},
        {"from this computer, a file, its folders looked at", From::LocalDisk, false, Step::Checking},
        {"from a server, a file, being removed", From::Server, false, Step::Removing},
        {"from a server, a folder, being removed", From::Server, true, Step::Removing},
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
        QNFakeRemoteHandler::Behaviour held;
        held.mode = Mode::HeldUntilReleased;
        std::function<bool()> atTheStep = [] { return QNFakeRemoteHandler::heldCallCount() == 1; };
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
        case Step::Marking:
            // The destination's check folder is made; the source's is held.
            QNFakeRemoteHandler::setBehaviour(Op::CreateFolder, held, a);
            break;
        case Step::Checking:
            held.answersFirst = 1;  // the copy's own look at the destination answers
            QNFakeRemoteHandler::setBehaviour(Op::List, held, b);
            break;
        case Step::Removing:
            held.answersFirst = 1;  // the check folder in the source's folder goes first
            QNFakeRemoteHandler::setBehaviour(Op::Remove, held, a);
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
        EXPECT_EQ(checkFolders(a), QStringList());
        EXPECT_EQ(checkFolders(b), QStringList());
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
