// Handler operations against the folder-backed fake drive.
#include "Core/Fakes/QNFakeRemoteHandler.h"
#include "Core/LocalDrive/LocalTestHelpers.h"
#include "Core/QNCloudInterfaceFactory.h"
#include "Core/QNDownloadOperation.h"
#include "Core/QNListDocumentsOperation.h"
#include "Core/QNLoginOperation.h"
#include "Core/QNRemoveOperation.h"
#include "Core/QNRenameOperation.h"
#include "Core/QNUploadOperation.h"
#include "Platform/VNDispatch.h"
#include "Platform/VNOperationQueue.h"
#include "support/TestSupport.h"

#include <QFileInfo>
#include <gtest/gtest.h>

using Fake = QNFakeRemoteHandler;

namespace {

class HandlerOperations : public ::testing::Test {
protected:
    void SetUp() override {
        QNCloudInterfaceFactory::registerCoreHandlers();
        Fake::registerWithFactory();
        Fake::resetBehaviours();
        m_dir = VNTest::makeTempDir();
        root = m_dir->path() + "/remote";
        local = m_dir->path() + "/local";
        ASSERT_TRUE(VNTest::writeFile(root + "/docs/a.txt", "alpha"));
        ASSERT_TRUE(VNTest::writeFile(root + "/docs/b.txt", QByteArray(10000, 'b')));
        ASSERT_TRUE(VNTest::writeFile(local + "/up.txt", "upload me"));
        drive = Fake::makeDriveConfig(root);
    }
    void TearDown() override { Fake::resetBehaviours(); }

    static void setMode(Fake::Op op, Fake::Mode mode, int delayMs = 0) {
        Fake::Behaviour b;
        b.mode = mode;
        b.delayMs = delayMs;
        b.failMessage = "quota exceeded";
        Fake::setBehaviour(op, b);
    }

    // Runs an operation on a queue (so start() comes from a worker thread)
    // and waits until it has finished.
    void run(const std::shared_ptr<VNOperation> &op) {
        queue.addOperation(op);
        ASSERT_TRUE(VNTest::waitUntil([&] { return op->isFinished(); }));
    }
    std::shared_ptr<QNListDocumentsOperation> listing(const QString &folder, std::function<void()> answered) {
        return std::make_shared<QNListDocumentsOperation>(drive, QNDocument::withPath(folder, true), QString(),
                                                          [answered](QNDocumentList, QString, VNErrorPtr, bool) {
                                                              answered();
                                                          });
    }

    std::unique_ptr<QTemporaryDir> m_dir;
    QString root, local;
    QNDriveConfigPtr drive;
    VNOperationQueue queue;
};

QNDocumentPtr at(const QString &path, bool folder = false) { return QNDocument::withPath(path, folder); }

}  // namespace

TEST_F(HandlerOperations, ListingPassesTheDocumentsAndKeywordThrough) {
    QNDocumentList listed;
    QString keyword;
    run(std::make_shared<QNListDocumentsOperation>(drive, at("/docs", true), QString(""),
                                                   [&](QNDocumentList docs, QString kw, VNErrorPtr e, bool c) {
                                                       EXPECT_FALSE(e || c);
                                                       listed = docs;
                                                       keyword = kw;
                                                   }));
    ASSERT_EQ(listed.size(), 2);
    EXPECT_EQ(listed[0]->path(), "/docs/a.txt");
    EXPECT_EQ(listed[1]->size(), 10000);
    EXPECT_FALSE(keyword.isNull());
    EXPECT_EQ(Fake::offMainThreadCalls(), 0);
}

TEST_F(HandlerOperations, AHandlersErrorComesBackUnchanged) {
    setMode(Fake::Op::Upload, Fake::Mode::Fail);
    DocumentAnswer failed;
    run(std::make_shared<QNUploadOperation>(drive, at(local + "/up.txt"), at("/docs", true), nullptr,
                                            failed.callback()));
    ASSERT_TRUE(failed.error);
    EXPECT_FALSE(failed.document || failed.cancelled);
    EXPECT_EQ(failed.error->domain(), "QNFakeRemoteHandler");
    EXPECT_EQ(failed.error->userInfo().value("error").toString(), "quota exceeded");
}

// Every kind of operation cancelled before it starts answers once, as
// cancelled, and calls nothing of its drive: whoever queued it (a move
// waiting to remove its source) hears of the cancel and is not left waiting.
TEST_F(HandlerOperations, CancelledBeforeStartEveryKindAnswersOnceAsCancelled) {
    struct Row {
        const char *name;
        std::function<std::shared_ptr<VNOperation>(DocumentAnswer &)> make;
    };
    const Row rows[] = {
        {"download",
         [&](DocumentAnswer &a) {
             return std::make_shared<QNDownloadOperation>(drive, at("/docs/a.txt"), at(local + "/x"), nullptr,
                                                          a.callback());
         }},
        {"upload",
         [&](DocumentAnswer &a) {
             return std::make_shared<QNUploadOperation>(drive, at(local + "/up.txt"), at("/docs", true), nullptr,
                                                        a.callback());
         }},
        {"removal", [&](DocumentAnswer &a) { return std::make_shared<QNRemoveOperation>(drive, at("/docs/a.txt"), a.callback()); }},
        {"rename",
         [&](DocumentAnswer &a) {
             return std::make_shared<QNRenameOperation>(drive, at("/docs/a.txt"), at("/docs/c.txt"), a.callback());
         }},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        DocumentAnswer answer;
        auto op = row.make(answer);
        op->cancel();
        run(op);
        EXPECT_TRUE(VNTest::waitUntil([&] { return answer.answers.load() > 0; }, 5000));
        VNTest::spin(20);
        EXPECT_EQ(answer.answers.load(), 1);
        EXPECT_TRUE(answer.cancelled && !answer.document && !answer.error);
    }
    // The listing, with its own callback kind.
    std::atomic<int> listAnswers{0};
    auto list = listing("/", [&] { ++listAnswers; });
    list->cancel();
    run(list);
    EXPECT_TRUE(VNTest::waitUntil([&] { return listAnswers.load() > 0; }, 5000));
    EXPECT_EQ(listAnswers.load(), 1);
    for (auto op : {Fake::Op::Download, Fake::Op::Upload, Fake::Op::Remove, Fake::Op::Rename, Fake::Op::List})
        EXPECT_EQ(Fake::callCount(op), 0);
    EXPECT_FALSE(QFileInfo::exists(local + "/x"));
    EXPECT_EQ(VNTest::readFile(root + "/docs/a.txt"), QByteArray("alpha"));
}

TEST_F(HandlerOperations, CancelAnswersAtOnceWhenTheHandlerNeverDoes) {
    setMode(Fake::Op::List, Fake::Mode::NeverAnswer);
    int answers = 0;
    bool sawCancelled = false;
    auto op = std::make_shared<QNListDocumentsOperation>(drive, at("/", true), QString(),
                                                         [&](QNDocumentList docs, QString kw, VNErrorPtr e, bool c) {
                                                             ++answers;
                                                             sawCancelled = c;
                                                             EXPECT_TRUE(docs.isEmpty() && kw.isNull() && !e);
                                                         });
    queue.addOperation(op);
    ASSERT_TRUE(VNTest::waitUntil([&] { return Fake::callCount(Fake::Op::List) == 1; }));
    EXPECT_TRUE(op->isExecuting());
    op->cancel();
    EXPECT_EQ(answers, 1);
    EXPECT_TRUE(sawCancelled);
    EXPECT_TRUE(op->isFinished());
    EXPECT_EQ(Fake::cancelCount(), 1);
    queue.waitUntilAllOperationsAreFinished();
}

TEST_F(HandlerOperations, LateAnswerAfterCancelIsDroppedAndACancelAfterTheEndDoesNothing) {
    setMode(Fake::Op::Download, Fake::Mode::AnswerAfterCancel);
    DocumentAnswer late;
    auto op = std::make_shared<QNDownloadOperation>(drive, at("/docs/a.txt"), at(local + "/late.txt"), nullptr,
                                                    late.callback());
    queue.addOperation(op);
    ASSERT_TRUE(VNTest::waitUntil([&] { return Fake::callCount(Fake::Op::Download) == 1; }));
    op->cancel();  // the fake now answers with the full result
    ASSERT_TRUE(VNTest::waitUntil([&] { return late.answers.load() > 0; }));
    VNTest::spin(20);  // a second answer would show here
    EXPECT_EQ(late.answers.load(), 1);
    EXPECT_TRUE(late.cancelled);

    Fake::resetBehaviours();
    int answers = 0;
    auto done = std::make_shared<QNLoginOperation>(drive, [&](bool, VNErrorPtr, bool) { ++answers; });
    run(done);
    done->cancel();
    VNTest::spin(20);
    EXPECT_EQ(answers, 1);
    EXPECT_EQ(Fake::cancelCount(), 0);
}

TEST_F(HandlerOperations, CancelFromAnotherThreadHopsToTheMainThread) {
    setMode(Fake::Op::Remove, Fake::Mode::NeverAnswer);
    DocumentAnswer a;
    auto op = std::make_shared<QNRemoveOperation>(drive, at("/docs/a.txt"), a.callback());
    queue.addOperation(op);
    ASSERT_TRUE(VNTest::waitUntil([&] { return op->isExecuting(); }));
    VNOperationQueue other;
    other.addOperation([op] { op->cancel(); });
    ASSERT_TRUE(VNTest::waitUntil([&] { return op->isFinished(); }));
    VNTest::spin(20);
    EXPECT_EQ(a.answers.load(), 1);
    EXPECT_TRUE(a.cancelled);
    EXPECT_TRUE(a.answeredOnMain);
}

TEST_F(HandlerOperations, DriveWithoutHandlerAnswersNotSupportedAndFreesTheQueue) {
    auto unknown = QNDriveConfig::create();
    unknown->setIsSpiderOak(true);
    queue.setMaxConcurrentOperationCount(1);
    VNErrorPtr error;
    QString keyword;
    auto op = std::make_shared<QNListDocumentsOperation>(unknown, at("/", true), "kw",
                                                         [&](QNDocumentList, QString kw, VNErrorPtr e, bool c) {
                                                             EXPECT_FALSE(c);
                                                             error = e;
                                                             keyword = kw;
                                                         });
    EXPECT_FALSE(op->cloudInterface());
    bool nextRan = false;
    queue.addOperation(op);
    queue.addOperation(std::make_shared<QNLoginOperation>(drive, [&](bool, VNErrorPtr, bool) { nextRan = true; }));
    ASSERT_TRUE(VNTest::waitUntil([&] { return nextRan; }));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), 42);
    EXPECT_TRUE(error->userInfo().value("error").toString().contains("SpiderOak"));
    EXPECT_EQ(keyword, "kw");
}

TEST_F(HandlerOperations, StartFromAWorkerReturnsAtOnce) {
    setMode(Fake::Op::Login, Fake::Mode::NeverAnswer);
    auto op = std::make_shared<QNLoginOperation>(drive, [](bool, VNErrorPtr, bool) {});
    std::atomic<bool> returned{false};
    VNOperationQueue worker;
    worker.addOperation([&] {
        op->start();
        returned = true;
    });
    worker.waitUntilAllOperationsAreFinished();  // the main loop is not running: start() must not wait for it
    EXPECT_TRUE(returned);
    EXPECT_EQ(Fake::callCount(Fake::Op::Login), 0);
    ASSERT_TRUE(VNTest::waitUntil([&] { return Fake::callCount(Fake::Op::Login) == 1; }));
    op->cancel();
    EXPECT_TRUE(op->isFinished());
}

// A rename lists the folder first: a name it holds (in any letter case,
// the document itself aside) is refused before the drive is asked, and so
// is every rename in a folder that cannot be listed.
TEST_F(HandlerOperations, ARenameOntoANameTheFolderHoldsIsRefusedBeforeTheDriveIsAsked) {
    struct Case {
        const char *newName;
        bool listingFails;
        const char *refusal;  // a text of the error, or null when renamed
    };
    const Case cases[] = {
        {"c.txt", false, nullptr},
        {"A.txt", false, nullptr},  // its own name in other letters
        {"b.txt", false, "An item named \u201cb.txt\u201d is already in this folder, so \u201ca.txt\u201d was not renamed."},
        {"B.TXT", false, "An item named \u201cb.txt\u201d is already in this folder"},
        {"c.txt", true, "\u201ca.txt\u201d was not renamed: its folder could not be listed"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.newName) + (c.listingFails ? " (listing fails)" : ""));
        Fake::resetBehaviours();
        if (c.listingFails)
            setMode(Fake::Op::List, Fake::Mode::Fail);
        QFile::remove(root + "/docs/c.txt");
        QFile::remove(root + "/docs/A.txt");
        ASSERT_TRUE(VNTest::writeFile(root + "/docs/a.txt", "alpha"));
        auto name = at(QStringLiteral("/docs/") + c.newName);
        name->setDisplayName(c.newName);
        DocumentAnswer answer;
        run(std::make_shared<QNRenameOperation>(drive, at("/docs/a.txt"), name, answer.callback()));
        EXPECT_EQ(answer.answers.load(), 1);
        EXPECT_EQ(Fake::callCount(Fake::Op::List), 1);
        if (!c.refusal) {
            EXPECT_FALSE(answer.error) << answer.error->localizedDescription().toStdString();
            EXPECT_EQ(Fake::callCount(Fake::Op::Rename), 1);
            EXPECT_EQ(VNTest::readFile(root + "/docs/" + c.newName), "alpha");
            continue;
        }
        ASSERT_TRUE(answer.error);
        const QString text = answer.error->userInfo().value("error").toString();
        EXPECT_TRUE(text.contains(QString::fromUtf8(c.refusal))) << text.toStdString();
        if (c.listingFails)
            EXPECT_TRUE(text.contains("quota exceeded")) << text.toStdString();  // the listing's own error
        EXPECT_EQ(Fake::callCount(Fake::Op::Rename), 0);
        EXPECT_EQ(VNTest::readFile(root + "/docs/a.txt"), "alpha");
        EXPECT_EQ(VNTest::readFile(root + "/docs/b.txt"), QByteArray(10000, 'b'));
    }
}

TEST_F(HandlerOperations, ARenameCancelledWhileItsFolderIsListedSendsNothing) {
    setMode(Fake::Op::List, Fake::Mode::NeverAnswer);
    DocumentAnswer answer;
    auto op = std::make_shared<QNRenameOperation>(drive, at("/docs/a.txt"), at("/docs/c.txt"), answer.callback());
    queue.addOperation(op);
    ASSERT_TRUE(VNTest::waitUntil([&] { return Fake::callCount(Fake::Op::List) == 1; }));
    op->cancel();
    ASSERT_TRUE(VNTest::waitUntil([&] { return op->isFinished(); }));
    VNTest::spin(50);
    EXPECT_EQ(answer.answers.load(), 1);
    EXPECT_TRUE(answer.cancelled);
    EXPECT_EQ(Fake::callCount(Fake::Op::Rename), 0);
    EXPECT_TRUE(QFileInfo::exists(root + "/docs/a.txt"));
}

// Every answer comes while the operation still holds its queue slot: what
// the answer queues (a move's next step, a check folder's removal) is there
// before its queue, and the task waiting on it, is seen empty. A row per way
// an operation answers.
TEST_F(HandlerOperations, AnOperationAnswersBeforeItsQueueSlotIsFreed) {
    enum class Way { HandlerAnswers, CancelledWhileRunning, CancelledBeforeStart, NoHandler };
    struct Row {
        const char *name;
        Way way;
    };
    const Row rows[] = {
        {"the handler answers", Way::HandlerAnswers},
        {"cancelled while running", Way::CancelledWhileRunning},
        {"cancelled before it starts", Way::CancelledBeforeStart},
        {"its drive has no handler", Way::NoHandler},
    };
    auto unknown = QNDriveConfig::create();
    unknown->setIsSpiderOak(true);
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        [&] {  // a failing row ends here; the others still run
            Fake::resetBehaviours();
            ASSERT_TRUE(VNTest::writeFile(root + "/docs/a.txt", "alpha"));
            if (row.way == Way::CancelledWhileRunning)
                setMode(Fake::Op::Remove, Fake::Mode::NeverAnswer);
            std::atomic<int> answers{0};
            std::atomic<int> queuedAtAnswer{-1};
            auto op = std::make_shared<QNRemoveOperation>(row.way == Way::NoHandler ? unknown : drive, at("/docs/a.txt"),
                                                          [&](QNDocumentPtr, VNErrorPtr, bool) {
                                                              queuedAtAnswer = queue.operationCount();
                                                              ++answers;
                                                          });
            if (row.way == Way::CancelledBeforeStart)
                op->cancel();
            queue.addOperation(op);
            if (row.way == Way::CancelledWhileRunning) {
                ASSERT_TRUE(VNTest::waitUntil([] { return Fake::callCount(Fake::Op::Remove) == 1; }));
                op->cancel();
            }
            ASSERT_TRUE(VNTest::waitUntil([&] { return op->isFinished(); }));
            EXPECT_EQ(answers.load(), 1);
            EXPECT_EQ(queuedAtAnswer.load(), 1) << "the operation answered after it had left its queue";
            queue.waitUntilAllOperationsAreFinished();
        }();
    }
}
