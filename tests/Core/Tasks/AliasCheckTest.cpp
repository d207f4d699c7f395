// Whether a folder of one drive is a folder of another: apart only on
// evidence a stale, partial or cached listing cannot fake, one storage when
// a check folder of one side shows through the other, and otherwise
// "cannot tell". Whatever the answer, the check folders go; one that cannot
// be removed is named and changes nothing of the answer.
#include "Core/QNAliasCheck.h"
#include "Core/QNListDocumentsOperation.h"
#include "Core/QNMoveTask.h"
#include "Core/QNMoveTaskItem.h"
#include "TaskTestSupport.h"
#include "Platform/VNOperationQueue.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace TaskTest;
using Op = QNFakeRemoteHandler::Op;
using Mode = QNFakeRemoteHandler::Mode;
using A = QNAliasCheck::Answer;

namespace {

struct Answer {
    std::atomic<bool> done{false};
    QNAliasCheck::Outcome outcome;
};

std::shared_ptr<Answer> startCheck(const std::shared_ptr<QNAliasCheck> &check) {
    auto answer = std::make_shared<Answer>();
    check->start([answer](const QNAliasCheck::Outcome &outcome) {
        answer->outcome = outcome;
        answer->done.store(true);
    });
    return answer;
}

// A drive of an FTP server backed by root: two of them may be one storage.
QNDriveConfigPtr serverDrive(const QString &root) {
    auto drive = QNFakeRemoteHandler::makeDriveConfig(root);
    drive->setIsFTP(true);
    return drive;
}

// Whether anything below root is a check folder.
QStringList checkFoldersBelow(const QString &root) {
    QStringList found;
    for (const QString &entry : listTree(root))
        if (entry.contains(QLatin1String("varnello-check-")))
            found << entry;
    return found;
}

class AliasCheck : public TaskFixture {};

// Each row differs from a passing row ("apart", or "one folder by a link")
// in one condition.
TEST_F(AliasCheck, TellsApartOnlyOnEvidenceAListingCannotFake) {
    enum class Fault {
        None,
        SecondMakesNoFolder,
        FirstMakesNoFolder,
        SecondUnlisted,
        CheckFoldersHidden,  // both listings leave them out
        Capped,              // listings give only their first entries (Row::cap)
        SecondCaches,        // the second side lists from a cache that holds its own writes
        SecondKeepsFolders,  // the second side removes nothing
    };
    struct Row {
        const char *name;
        bool linked;  // b is a link to a: one storage
        bool local;   // two folders of the local disk
        QNAliasCheck::Ask ask;
        Fault fault;
        A answer;
        bool firstSideMarked;  // check folders were made on the first side
        int cap = 0;
    };
    const auto Apart = QNAliasCheck::Ask::WhetherApart;
    const auto One = QNAliasCheck::Ask::WhetherOne;
    const Row rows[] = {
        {"apart", false, false, Apart, Fault::None, A::Apart, true},
        {"one folder by a link", true, false, Apart, Fault::None, A::OneStorage, true},
        {"apart, the second side makes no folder", false, false, Apart, Fault::SecondMakesNoFolder, A::CannotTell, false},
        {"apart, the first side makes no folder", false, false, Apart, Fault::FirstMakesNoFolder, A::CannotTell, true},
        {"apart, the second side cannot be listed", false, false, Apart, Fault::SecondUnlisted, A::CannotTell, true},
        {"apart, listings leave the check folders out", false, false, Apart, Fault::CheckFoldersHidden, A::CannotTell,
         true},
        {"one folder, listings leave the check folders out", true, false, Apart, Fault::CheckFoldersHidden,
         A::CannotTell, true},
        // A folder holds "file.txt", its check folders ("varnello-check-…"), "zz.txt".
        {"apart, listings cut before the check folders", false, false, Apart, Fault::Capped, A::CannotTell, true, 1},
        {"apart, listings cut after the check folders", false, false, Apart, Fault::Capped, A::Apart, true, 3},
        // Cut between them, the side whose check folder sorts second sees the other's.
        {"one folder, listings cut between its two check folders", true, false, Apart, Fault::Capped, A::OneStorage,
         true, 2},
        {"apart, the second side lists from its cache", false, false, Apart, Fault::SecondCaches, A::Apart, true},
        {"one folder, the second side lists from its cache", true, false, Apart, Fault::SecondCaches, A::OneStorage,
         true},
        {"apart, the second side removes nothing", false, false, Apart, Fault::SecondKeepsFolders, A::Apart, true},
        {"apart on the local disk", false, true, Apart, Fault::None, A::Apart, false},
        {"one folder on the local disk", true, true, Apart, Fault::None, A::OneStorage, false},
        {"apart, asked only whether one", false, false, One, Fault::None, A::CannotTell, false},
        {"one folder, asked only whether one", true, false, One, Fault::None, A::OneStorage, false},
    };
    int n = 0;
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        [&] {  // a failing row ends here; the others still run
            QNFakeRemoteHandler::resetBehaviours();
            const QString a = path(QStringLiteral("a%1").arg(n));
            const QString b = path(QStringLiteral("b%1").arg(n++));
            writeTree(a, {{"proj/file.txt", "x"}, {"proj/zz.txt", "z"}});
            if (row.linked)
                ASSERT_EQ(::symlink(QFile::encodeName(a).constData(), QFile::encodeName(b).constData()), 0);
            else
                writeTree(b, {{"proj/file.txt", "x"}, {"proj/zz.txt", "z"}});
            auto first = row.local ? localDrive() : serverDrive(a);
            auto second = row.local ? localDrive() : serverDrive(b);
            switch (row.fault) {
            case Fault::None:
                break;
            case Fault::SecondMakesNoFolder:
                setMode(Op::CreateFolder, Mode::Fail, b);
                break;
            case Fault::FirstMakesNoFolder:
                setMode(Op::CreateFolder, Mode::Fail, a);
                break;
            case Fault::SecondUnlisted:
                setMode(Op::List, Mode::Fail, b);
                break;
            case Fault::CheckFoldersHidden:
                QNFakeRemoteHandler::setHiddenNamePrefix(QStringLiteral("varnello-check-"));
                break;
            case Fault::Capped:
                QNFakeRemoteHandler::setListingCap(row.cap);
                break;
            case Fault::SecondCaches: {
                QNFakeRemoteHandler::setCachesListings(b);
                // Listed once before the check: its cache holds the folder as it was.
                auto primed = std::make_shared<std::atomic<bool>>(false);
                auto drive = second;
                VNOperationQueue::global().addOperation(std::make_shared<QNListDocumentsOperation>(
                    drive, driveDocument("/proj", true), QString(),
                    [primed](QNDocumentList, QString, VNErrorPtr, bool) { primed->store(true); }));
                ASSERT_TRUE(VNTest::waitUntil([primed] { return primed->load(); }, 20000));
                break;
            }
            case Fault::SecondKeepsFolders:
                setMode(Op::Remove, Mode::Fail, b);
                break;
            }
            const auto here = row.local ? localDocument(a + "/proj") : driveDocument("/proj", true);
            const auto there = row.local ? localDocument(b + "/proj") : driveDocument("/proj", true);
            here->setIsDirectory(true);
            there->setIsDirectory(true);
            const int createsBefore = QNFakeRemoteHandler::callCount(Op::CreateFolder);
            auto check = std::make_shared<QNAliasCheck>(QNAliasCheck::Side{first, {here}},
                                                        QNAliasCheck::Side{second, {there}}, row.ask);
            const auto answer = startCheck(check);
            ASSERT_TRUE(VNTest::waitUntil([answer] { return answer->done.load(); }, 20000));
            EXPECT_EQ(int(answer->outcome.answer), int(row.answer)) << answer->outcome.why.toStdString();
            EXPECT_FALSE(answer->outcome.cancelled);
            if (row.answer == A::CannotTell && row.ask == Apart)
                EXPECT_FALSE(answer->outcome.why.isEmpty()) << "it does not say why it cannot tell";
            // Check folders: on the first side only where apart was to be shown
            // by them; on the local disk none (numbers tell).
            const int creates = QNFakeRemoteHandler::callCount(Op::CreateFolder) - createsBefore;
            if (row.local)
                EXPECT_EQ(creates, 0);
            else if (row.fault == Fault::None)
                EXPECT_EQ(creates, row.firstSideMarked ? 2 : 1);
            // Every check folder went, or is named.
            const QStringList left = checkFoldersBelow(b + "/proj") + (row.linked ? QStringList() : checkFoldersBelow(a + "/proj"));
            if (row.fault == Fault::SecondKeepsFolders) {
                ASSERT_EQ(left.size(), 1) << left.join(' ').toStdString();
                const QString named = answer->outcome.leftOver.join(QLatin1Char(' '));
                EXPECT_TRUE(named.contains(left.front().chopped(1)) && named.contains(QLatin1String("could not be removed")))
                    << named.toStdString();
            } else {
                EXPECT_TRUE(left.isEmpty()) << left.join(' ').toStdString();
                EXPECT_TRUE(answer->outcome.leftOver.isEmpty());
            }
            EXPECT_EQ(VNTest::readFile(a + "/proj/file.txt"), QByteArray("x"));
        }();
    }
}

// A cancel at any step: the request under way runs to its answer, then
// every check folder made goes, and the check answers once, cancelled.
TEST_F(AliasCheck, ACancelAtEachStepAnswersCancelledOnceAndLeavesNoCheckFolder) {
    struct Row {
        const char *name;
        Op held;          // the kind of request held when the cancel comes
        int answerFirst;  // requests of that kind answered before the held one
    };
    const Row rows[] = {
        {"before it starts", Op::Login, -1},
        {"while its first check folder is made", Op::CreateFolder, 0},
        {"while its second check folder is made", Op::CreateFolder, 1},
        {"while the first side is listed", Op::List, 0},
        {"while the second side is listed", Op::List, 1},
    };
    int n = 0;
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        [&] {  // a failing row ends here; the others still run
            QNFakeRemoteHandler::resetBehaviours();
            const QString a = path(QStringLiteral("a%1").arg(n));
            const QString b = path(QStringLiteral("b%1").arg(n++));
            writeTree(a, {{"proj/file.txt", "x"}});
            writeTree(b, {{"proj/file.txt", "x"}});
            QNFakeRemoteHandler::Behaviour held;
            held.mode = Mode::HeldUntilReleased;
            held.answersFirst = std::max(row.answerFirst, 0);
            if (row.answerFirst >= 0)
                QNFakeRemoteHandler::setBehaviour(row.held, held);
            auto check = std::make_shared<QNAliasCheck>(
                QNAliasCheck::Side{serverDrive(a), {driveDocument("/proj", true)}},
                QNAliasCheck::Side{serverDrive(b), {driveDocument("/proj", true)}});
            if (row.answerFirst < 0)
                check->cancel();
            auto answers = std::make_shared<std::atomic<int>>(0);
            auto answer = std::make_shared<Answer>();
            check->start([answer, answers](const QNAliasCheck::Outcome &outcome) {
                answer->outcome = outcome;
                ++*answers;
                answer->done.store(true);
            });
            if (row.answerFirst >= 0) {
                ASSERT_TRUE(VNTest::waitUntil([] { return QNFakeRemoteHandler::heldCallCount() == 1; }, 20000));
                check->cancel();
                EXPECT_FALSE(answer->done.load()) << "it answered with a request still out";
                QNFakeRemoteHandler::releaseHeldCalls();
                QNFakeRemoteHandler::resetBehaviours();  // the clean-up's requests go through
            }
            ASSERT_TRUE(VNTest::waitUntil([answer] { return answer->done.load(); }, 20000));
            EXPECT_TRUE(answer->outcome.cancelled);
            EXPECT_TRUE(checkFoldersBelow(a).isEmpty() && checkFoldersBelow(b).isEmpty())
                << (checkFoldersBelow(a) + checkFoldersBelow(b)).join(' ').toStdString();
            VNTest::spin(50);
            EXPECT_EQ(answers->load(), 1);
        }();
    }
}

// A move between two folders of one drive that may be one by a link,
// cancelled at each step of its checks: the check folders go, the task
// ends only once they have gone, and nothing is moved.
TEST_F(AliasCheck, AMoveCancelledDuringItsChecksLeavesNoCheckFolderAndMovesNothing) {
    struct Row {
        const char *name;
        Op slowOp;        // the step held until the cancel comes
        int callsBefore;  // its calls made when the cancel comes
    };
    // Listings: the destination, then the pair check's two, then (the
    // folder being there) the destination again, the folder merged into,
    // the source: the drop target's check folder stands meanwhile.
    const Row rows[] = {
        {"while the pair check makes its first check folder", Op::CreateFolder, 1},
        {"while the pair check lists the source", Op::List, 2},
        {"while the pair check lists the destination", Op::List, 3},
        {"while the drop target's check folder stands", Op::List, 6},
    };
    int n = 0;
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        [&] {  // a failing row ends here; the others still run
            QNFakeRemoteHandler::resetBehaviours();
            const QString root = path(QStringLiteral("root%1").arg(n++));
            writeTree(root, {{"a/proj/f.txt", "x"}, {"b/proj/g.txt", "y"}});
            auto drive = QNFakeRemoteHandler::makeDriveConfig(root);
            drive->setIsFTP(true);
            setMode(row.slowOp, Mode::Answer, root, 1500);
            const int callsAtStart = QNFakeRemoteHandler::callCount(row.slowOp);
            auto task = std::make_shared<QNMoveTask>();
            task->addTaskItem(std::make_shared<QNMoveTaskItem>(drive, drive, driveDocument("/a/proj", true),
                                                               driveDocument("/b", true)));
            manager->addTask(task);
            ASSERT_TRUE(VNTest::waitUntil(
                [&] { return QNFakeRemoteHandler::callCount(row.slowOp) - callsAtStart == row.callsBefore; }, 20000));
            task->cancel();
            ASSERT_TRUE(waitForCompletion(task, 30000)) << "the task never ended";
            EXPECT_EQ(listTree(root + "/b").join(' ').toStdString(), std::string("proj/ proj/g.txt"));
            EXPECT_EQ(listTree(root + "/a").join(' ').toStdString(), std::string("proj/ proj/f.txt"));
        }();
    }
}

// Two drives that reach files by path may show one folder, whatever hosts
// they name and however their addresses were typed (the drive window keeps
// an address typed without a scheme as it stands): one machine has many
// names, and may serve the very folders this one mounts. Two drives of one
// web service may be one account; photo services never replace an item.
TEST(AliasCheckStorage, DrivesThatReachFilesByPathMayBeOneStorageWhateverTheHostsTheyName) {
    enum class Kind { Local, FTP, SFTP, WebDAV, Office365, Dropbox, Box, Flickr };
    struct Drive {
        const char *url;
        Kind kind;
    };
    struct Case {
        const char *name;
        Drive a, b;
        bool mayBeOne;
    };
    const Case cases[] = {
        {"both with a scheme", {"ftp://example.org/srv", Kind::FTP}, {"ftp://example.org/home/u", Kind::FTP}, true},
        {"one without", {"example.org/srv", Kind::FTP}, {"ftp://example.org/home/u", Kind::FTP}, true},
        {"both without", {"example.org/srv", Kind::FTP}, {"example.org/home/u", Kind::FTP}, true},
        {"without, user and port", {"u@Example.org:2121/srv", Kind::FTP}, {"example.org/home/u", Kind::FTP}, true},
        {"without, onto SFTP", {"example.org/srv", Kind::FTP}, {"sftp://example.org/home/u", Kind::SFTP}, true},
        {"SFTP both without", {"example.org/srv", Kind::SFTP}, {"example.org/home/u", Kind::SFTP}, true},
        {"another host", {"example.org/srv", Kind::FTP}, {"example.net/home/u", Kind::FTP}, true},
        {"one machine by two names", {"sftp://127.0.0.1/srv", Kind::SFTP}, {"sftp://localhost/srv", Kind::SFTP}, true},
        {"the local disk and SFTP", {"", Kind::Local}, {"sftp://nas.example/home/u", Kind::SFTP}, true},
        {"the local disk and FTP", {"", Kind::Local}, {"ftp://nas.example/", Kind::FTP}, true},
        {"WebDAV and the local disk", {"http://nas.example/dav", Kind::WebDAV}, {"", Kind::Local}, true},
        {"Office 365 and WebDAV on its library", {"https://contoso-my.sharepoint.com/", Kind::Office365},
         {"https://contoso-my.sharepoint.com/personal/u/Documents", Kind::WebDAV}, true},
        {"two Dropbox drives", {"", Kind::Dropbox}, {"", Kind::Dropbox}, true},
        {"Dropbox and Box", {"", Kind::Dropbox}, {"", Kind::Box}, false},
        {"Dropbox and the local disk", {"", Kind::Dropbox}, {"", Kind::Local}, false},
        {"the local disk and Flickr", {"", Kind::Local}, {"", Kind::Flickr}, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        auto make = [](const Drive &drive) {
            auto config = QNDriveConfig::create();
            config->setIsMyFiles(drive.kind == Kind::Local);
            config->setIsFTP(drive.kind == Kind::FTP || drive.kind == Kind::SFTP);
            config->setIsSFTP(drive.kind == Kind::SFTP);
            config->setIsWebDAV(drive.kind == Kind::WebDAV);
            config->setIsOffice365(drive.kind == Kind::Office365);
            config->setIsDropbox(drive.kind == Kind::Dropbox);
            config->setIsBox(drive.kind == Kind::Box);
            config->setIsFlickr(drive.kind == Kind::Flickr);
            config->setUrl(QString::fromLatin1(drive.url));
            return config;
        };
        EXPECT_EQ(QNAliasCheck::mayBeOneStorage(make(c.a), make(c.b)), c.mayBeOne);
    }
}

}  // namespace
