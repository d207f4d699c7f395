// Whether a namesake is the source itself: the local disk by device and
// inode, a remote drive by a check folder made in the namesake and looked
// for in the source. Whatever the answer, the check folder does not stay;
// a step that fails makes the answer unknown (an error), never "apart".
#include "Core/QNAliasCheck.h"
#include "Core/QNCreateFolderOperation.h"
#include "Core/QNErrorWrapper.h"
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

namespace {

struct Answer {
    std::atomic<bool> done{false};
    QNAliasCheck::Outcome outcome;
    bool same = false;
    QString error;  // why it could not be told, and a check folder left
    bool cancelled = false;
};

QNAliasCheck::Finished recordInto(const std::shared_ptr<Answer> &answer) {
    return [answer](const QNAliasCheck::Outcome &outcome) {
        answer->outcome = outcome;
        answer->same = outcome.answer == QNAliasCheck::Answer::Same;
        answer->error = (outcome.why + QLatin1Char(' ') + outcome.leftOver).trimmed();
        answer->cancelled = outcome.cancelled;
        answer->done.store(true);
    };
}

std::shared_ptr<Answer> check(const QNDriveConfigPtr &sourceDrive, const QNDocumentPtr &source,
                              const QNDriveConfigPtr &namesakeDrive, const QNDocumentPtr &namesake) {
    auto answer = std::make_shared<Answer>();
    auto aliasCheck = std::make_shared<QNAliasCheck>(sourceDrive, source, namesakeDrive, namesake);
    aliasCheck->start([](const std::shared_ptr<VNOperation> &operation) { VNOperationQueue::global().addOperation(operation); },
                      recordInto(answer));
    EXPECT_TRUE(VNTest::waitUntil([answer] { return answer->done.load(); }, 20000));
    return answer;
}

class AliasCheck : public TaskFixture {};

TEST_F(AliasCheck, TellsItselfFromANamesakeAndLeavesNoCheckFolder) {
    enum class Kind { Apart, Alias, CreateRefused, MarkerNotListed, MarkerHidden, RemoveRefused, LocalApart, LocalAlias };
    using A = QNAliasCheck::Answer;
    struct Case {
        const char *name;
        Kind kind;
        A answer;
        const char *error;  // a part of the error's text, "" for none
    };
    const Case cases[] = {
        {"apart", Kind::Apart, A::Apart, ""},
        {"alias", Kind::Alias, A::Same, ""},
        {"check folder refused", Kind::CreateRefused, A::NotMade, "could not be made"},
        {"check folder not listed", Kind::MarkerNotListed, A::Unknown, "does not show in the listing"},
        {"check folder hidden from both listings", Kind::MarkerHidden, A::Unknown, "does not show in the listing"},
        {"check folder not removed", Kind::RemoveRefused, A::Apart, "could not be removed"},
        {"local apart", Kind::LocalApart, A::Apart, ""},
        {"local alias", Kind::LocalAlias, A::Same, ""},
    };
    int n = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        QNFakeRemoteHandler::resetBehaviours();
        // Two drives: the source's at a/, the namesake's at b/ (for an
        // alias, a link to a/).
        const QString a = path(QStringLiteral("a%1").arg(n));
        const QString b = path(QStringLiteral("b%1").arg(n++));
        writeTree(a, {{"proj/file.txt", "x"}});
        if (c.kind == Kind::Alias || c.kind == Kind::LocalAlias)
            ASSERT_EQ(::symlink(QFile::encodeName(a).constData(), QFile::encodeName(b).constData()), 0);
        else
            writeTree(b, {{"proj/file.txt", "x"}});
        const bool local = c.kind == Kind::LocalApart || c.kind == Kind::LocalAlias;
        auto sourceDrive = local ? localDrive() : QNFakeRemoteHandler::makeDriveConfig(a);
        auto namesakeDrive = local ? localDrive() : QNFakeRemoteHandler::makeDriveConfig(b);
        if (c.kind == Kind::CreateRefused)
            setMode(Op::CreateFolder, Mode::Fail, b);
        if (c.kind == Kind::MarkerNotListed)
            setMode(Op::List, Mode::Fail, b);
        if (c.kind == Kind::RemoveRefused)
            setMode(Op::Remove, Mode::Fail, b);
        if (c.kind == Kind::MarkerHidden)
            QNFakeRemoteHandler::setHiddenNamePrefix(QStringLiteral("varnello-check-"));
        const auto source = local ? localDocument(a + "/proj") : driveDocument("/proj", true);
        const auto namesake = local ? localDocument(b + "/proj") : driveDocument("/proj", true);
        source->setIsDirectory(true);
        namesake->setIsDirectory(true);

        const auto answer = check(sourceDrive, source, namesakeDrive, namesake);
        EXPECT_EQ(int(answer->outcome.answer), int(c.answer));
        EXPECT_FALSE(answer->cancelled);
        if (*c.error) {
            EXPECT_TRUE(answer->error.contains(QLatin1String(c.error))) << answer->error.toStdString();
        } else {
            EXPECT_TRUE(answer->error.isEmpty()) << answer->error.toStdString();
        }
        // The check folder goes; one that cannot be removed is named.
        const QStringList left = listTree(b + "/proj");
        if (c.kind == Kind::RemoveRefused) {
            ASSERT_EQ(left.size(), 2) << left.join(' ').toStdString();
            EXPECT_TRUE(answer->error.contains(left.at(1).chopped(1))) << left.join(' ').toStdString();
        } else {
            EXPECT_EQ(left.join(' ').toStdString(), std::string("file.txt"));
        }
        EXPECT_EQ(VNTest::readFile(a + "/proj/file.txt"), QByteArray("x"));
    }
}

// A cancel at any step of the check, or of the drop target's: the check
// folder goes all the same, the task ends only once it has gone, and
// nothing is moved.
TEST_F(AliasCheck, ACancelDuringTheCheckLeavesNoCheckFolder) {
    struct Case {
        const char *name;
        Op slowOp;        // the step held until the cancel comes
        Mode mode;
        int callsBefore;  // its calls made when the cancel comes
    };
    // Listings: the destination, then the source, then the namesake again.
    // The check folder's creation is done, its answer held by the cancel.
    // Then the folder dropped onto gets one, which stands while the tree is
    // listed: the destination again (the folder is there), the folder
    // merged into, then the source.
    const Case cases[] = {
        {"while making it", Op::CreateFolder, Mode::AnswerAfterCancel, 1},
        {"while listing the source", Op::List, Mode::Answer, 2},
        {"while confirming it", Op::List, Mode::Answer, 3},
        {"while the drop target's stands", Op::List, Mode::Answer, 6},
    };
    int n = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        QNFakeRemoteHandler::resetBehaviours();
        const QString root = path(QStringLiteral("root%1").arg(n++));
        writeTree(root, {{"a/proj/f.txt", "x"}, {"b/proj/g.txt", "y"}});
        // One FTP drive: its folders may be one by a link.
        auto drive = QNFakeRemoteHandler::makeDriveConfig(root);
        drive->setIsFTP(true);
        setMode(c.slowOp, c.mode, root, 1500);
        const int callsAtStart = QNFakeRemoteHandler::callCount(c.slowOp);
        auto task = std::make_shared<QNMoveTask>();
        task->addTaskItem(std::make_shared<QNMoveTaskItem>(drive, drive, driveDocument("/a/proj", true),
                                                           driveDocument("/b", true)));
        manager->addTask(task);
        ASSERT_TRUE(VNTest::waitUntil(
            [&] { return QNFakeRemoteHandler::callCount(c.slowOp) - callsAtStart == c.callsBefore; }, 20000));
        task->cancel();
        ASSERT_TRUE(waitForCompletion(task, 30000)) << "the task never ended";
        EXPECT_EQ(listTree(root + "/b").join(' ').toStdString(), std::string("proj/ proj/g.txt"));
        EXPECT_EQ(listTree(root + "/a/proj").join(' ').toStdString(), std::string("f.txt"));
    }
}

// A step that the cancel caught on the queue never answers: the check
// removes its folder itself, outside the queue, and answers as cancelled.
TEST_F(AliasCheck, AStepCancelledOnTheQueueStillRemovesTheCheckFolder) {
    writeTree(path("a"), {{"proj/file.txt", "x"}});
    writeTree(path("b"), {{"proj/file.txt", "x"}});
    auto sourceDrive = QNFakeRemoteHandler::makeDriveConfig(path("a"));
    auto namesakeDrive = QNFakeRemoteHandler::makeDriveConfig(path("b"));
    auto source = driveDocument("/proj", true);
    auto namesake = driveDocument("/proj", true);
    auto answer = std::make_shared<Answer>();
    auto aliasCheck = std::make_shared<QNAliasCheck>(sourceDrive, source, namesakeDrive, namesake);
    // The marker is made; the listing after it is held on a queue.
    auto held = std::make_shared<std::shared_ptr<VNOperation>>();
    aliasCheck->start(
        [held](const std::shared_ptr<VNOperation> &operation) {
            if (dynamic_cast<QNCreateFolderOperation *>(operation.get()))
                VNOperationQueue::global().addOperation(operation);
            else
                *held = operation;
        },
        recordInto(answer));
    ASSERT_TRUE(VNTest::waitUntil([held] { return *held != nullptr; }, 20000));
    ASSERT_EQ(listTree(path("b/proj")).size(), 2);  // the check folder is there
    (*held)->cancel();
    aliasCheck->taskWasCancelled();
    ASSERT_TRUE(VNTest::waitUntil([answer] { return answer->done.load(); }, 20000));
    EXPECT_TRUE(answer->cancelled);
    EXPECT_FALSE(answer->same);
    EXPECT_EQ(listTree(path("b/proj")).join(' ').toStdString(), std::string("file.txt"));
    held->reset();  // the held step's callback holds the check, whose queue holds the step
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
