// Handler operations against the folder-backed fake drive.
#include "Core/Fakes/QNFakeRemoteHandler.h"
#include "Core/QNCloudInterfaceFactory.h"
#include "Core/QNCopyOperation.h"
#include "Core/QNCreateFolderOperation.h"
#include "Core/QNDownloadOperation.h"
#include "Core/QNLinkOperation.h"
#include "Core/QNListDocumentsOperation.h"
#include "Core/QNLoginOperation.h"
#include "Core/QNMoveOperation.h"
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

    // Runs an operation on a queue (so start() comes from a worker thread)
    // and waits until it has finished.
    void run(const std::shared_ptr<VNOperation> &op) {
        queue.addOperation(op);
        ASSERT_TRUE(VNTest::waitUntil([&] { return op->isFinished(); }));
    }

    std::unique_ptr<QTemporaryDir> m_dir;
    QString root, local;
    QNDriveConfigPtr drive;
    VNOperationQueue queue;
};

}  // namespace

TEST_F(HandlerOperations, ListAnswersOnceWithTheFolder) {
    int answers = 0;
    QNDocumentList listed;
    QString keyword;
    auto op =
        std::make_shared<QNListDocumentsOperation>(drive, QNDocument::withPath("/docs", true), QString(""),
                                                   [&](QNDocumentList docs, QString kw, VNErrorPtr e, bool cancelled) {
                                                       ++answers;
                                                       EXPECT_FALSE(e);
                                                       EXPECT_FALSE(cancelled);
                                                       listed = docs;
                                                       keyword = kw;
                                                   });
    EXPECT_TRUE(op->isAsynchronous());
    EXPECT_TRUE(op->cloudInterface());
    run(op);
    EXPECT_EQ(answers, 1);
    ASSERT_EQ(listed.size(), 2);
    EXPECT_EQ(listed[0]->path(), "/docs/a.txt");
    EXPECT_EQ(listed[1]->size(), 10000);
    EXPECT_FALSE(keyword.isNull());
    EXPECT_EQ(Fake::callCount(Fake::Op::List), 1);
    EXPECT_EQ(Fake::offMainThreadCalls(), 0);  // started from a worker, called on the main thread
}

TEST_F(HandlerOperations, TransfersReportProgressAndResults) {
    std::vector<double> progress;
    QNDocumentPtr result;
    auto dest = QNDocument::withPath(local + "/b-copy.txt");
    run(std::make_shared<QNDownloadOperation>(
        drive, QNDocument::withPath("/docs/b.txt"), dest, [&](double f) { progress.push_back(f); },
        [&](QNDocumentPtr d, VNErrorPtr e, bool cancelled) {
            EXPECT_FALSE(e);
            EXPECT_FALSE(cancelled);
            result = d;
        }));
    EXPECT_EQ(result, dest);
    EXPECT_EQ(VNTest::readFile(local + "/b-copy.txt"), QByteArray(10000, 'b'));
    ASSERT_GE(progress.size(), 2u);
    EXPECT_DOUBLE_EQ(progress.back(), 1.0);

    result.reset();
    run(std::make_shared<QNUploadOperation>(drive, QNDocument::withPath(local + "/up.txt"),
                                            QNDocument::withPath("/docs", true), nullptr,
                                            [&](QNDocumentPtr d, VNErrorPtr e, bool) {
                                                EXPECT_FALSE(e);
                                                result = d;
                                            }));
    ASSERT_TRUE(result);
    EXPECT_EQ(result->path(), "/docs/up.txt");
    EXPECT_EQ(VNTest::readFile(root + "/docs/up.txt"), "upload me");
}

TEST_F(HandlerOperations, FolderRenameCopyMoveLinkRemove) {
    QNDocumentPtr made;
    run(std::make_shared<QNCreateFolderOperation>(drive, "new", QNDocument::withPath("/", true),
                                                  [&](QNDocumentPtr d, VNErrorPtr e, bool) {
                                                      EXPECT_FALSE(e);
                                                      made = d;
                                                  }));
    ASSERT_TRUE(made);
    EXPECT_TRUE(QFileInfo(root + "/new").isDir());

    run(std::make_shared<QNCopyOperation>(drive, QNDocument::withPath("/docs/a.txt"), made,
                                          [&](QNDocumentPtr d, VNErrorPtr e, bool) { EXPECT_FALSE(e); }));
    EXPECT_EQ(VNTest::readFile(root + "/new/a.txt"), "alpha");
    run(std::make_shared<QNMoveOperation>(drive, QNDocument::withPath("/docs/b.txt"), made,
                                          [&](QNDocumentPtr d, VNErrorPtr e, bool) { EXPECT_FALSE(e); }));
    EXPECT_FALSE(QFileInfo::exists(root + "/docs/b.txt"));
    EXPECT_TRUE(QFileInfo::exists(root + "/new/b.txt"));
    run(std::make_shared<QNRenameOperation>(drive, QNDocument::withPath("/new/a.txt"),
                                            QNDocument::withPath("/new/renamed.txt"),
                                            [&](QNDocumentPtr d, VNErrorPtr e, bool) { EXPECT_FALSE(e); }));
    EXPECT_TRUE(QFileInfo::exists(root + "/new/renamed.txt"));
    QString link;
    run(std::make_shared<QNLinkOperation>(drive, QNDocument::withPath("/new/renamed.txt"),
                                          [&](QNDocumentPtr d, VNErrorPtr e, bool) {
                                              ASSERT_TRUE(d);
                                              link = d->link();
                                          }));
    EXPECT_FALSE(link.isEmpty());
    run(std::make_shared<QNRemoveOperation>(drive, made, [&](QNDocumentPtr, VNErrorPtr e, bool) { EXPECT_FALSE(e); }));
    EXPECT_FALSE(QFileInfo::exists(root + "/new"));
    bool loggedIn = false;
    run(std::make_shared<QNLoginOperation>(drive, [&](bool ok, VNErrorPtr, bool) { loggedIn = ok; }));
    EXPECT_TRUE(loggedIn);
}

TEST_F(HandlerOperations, HandlerErrorsPassThroughUnchanged) {
    Fake::Behaviour fail;
    fail.mode = Fake::Mode::Fail;
    fail.failMessage = "quota exceeded";
    Fake::setBehaviour(Fake::Op::Upload, fail);
    VNErrorPtr error;
    bool wasCancelled = true;
    run(std::make_shared<QNUploadOperation>(drive, QNDocument::withPath(local + "/up.txt"),
                                            QNDocument::withPath("/docs", true), nullptr,
                                            [&](QNDocumentPtr d, VNErrorPtr e, bool cancelled) {
                                                EXPECT_FALSE(d);
                                                error = e;
                                                wasCancelled = cancelled;
                                            }));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain(), "QNFakeRemoteHandler");
    EXPECT_EQ(error->userInfo().value("error").toString(), "quota exceeded");
    EXPECT_FALSE(wasCancelled);
}

TEST_F(HandlerOperations, CancelledBeforeStart) {
    // A download still answers (null, null, cancelled) ...
    int downloadAnswers = 0;
    auto download = std::make_shared<QNDownloadOperation>(drive, QNDocument::withPath("/docs/a.txt"),
                                                          QNDocument::withPath(local + "/x"), nullptr,
                                                          [&](QNDocumentPtr d, VNErrorPtr e, bool cancelled) {
                                                              ++downloadAnswers;
                                                              EXPECT_FALSE(d);
                                                              EXPECT_FALSE(e);
                                                              EXPECT_TRUE(cancelled);
                                                          });
    download->cancel();
    run(download);
    // ... the others finish without a word.
    int listAnswers = 0;
    auto list =
        std::make_shared<QNListDocumentsOperation>(drive, QNDocument::withPath("/", true), QString(),
                                                   [&](QNDocumentList, QString, VNErrorPtr, bool) { ++listAnswers; });
    list->cancel();
    run(list);
    VNTest::spin(50);
    EXPECT_EQ(downloadAnswers, 1);
    EXPECT_EQ(listAnswers, 0);
    EXPECT_EQ(Fake::callCount(Fake::Op::Download), 0);
    EXPECT_EQ(Fake::callCount(Fake::Op::List), 0);
    EXPECT_FALSE(QFileInfo::exists(local + "/x"));
}

TEST_F(HandlerOperations, CancelAnswersAtOnceWhenTheHandlerNeverDoes) {
    Fake::Behaviour never;
    never.mode = Fake::Mode::NeverAnswer;
    Fake::setBehaviour(Fake::Op::List, never);
    int answers = 0;
    bool sawCancelled = false;
    auto op = std::make_shared<QNListDocumentsOperation>(drive, QNDocument::withPath("/", true), QString(),
                                                         [&](QNDocumentList docs, QString kw, VNErrorPtr e, bool c) {
                                                             ++answers;
                                                             sawCancelled = c;
                                                             EXPECT_TRUE(docs.isEmpty());
                                                             EXPECT_TRUE(kw.isNull());
                                                             EXPECT_FALSE(e);
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

TEST_F(HandlerOperations, LateAnswerAfterCancelIsDropped) {
    Fake::Behaviour held;
    held.mode = Fake::Mode::AnswerAfterCancel;
    Fake::setBehaviour(Fake::Op::Download, held);
    std::vector<bool> flags;
    auto op = std::make_shared<QNDownloadOperation>(drive, QNDocument::withPath("/docs/a.txt"),
                                                    QNDocument::withPath(local + "/late.txt"), nullptr,
                                                    [&](QNDocumentPtr, VNErrorPtr, bool c) { flags.push_back(c); });
    queue.addOperation(op);
    ASSERT_TRUE(VNTest::waitUntil([&] { return Fake::callCount(Fake::Op::Download) == 1; }));
    op->cancel();
    VNTest::spin(100);  // the fake now answers with the full result
    ASSERT_EQ(flags.size(), 1u);
    EXPECT_TRUE(flags[0]);
}

TEST_F(HandlerOperations, CancelFromAnotherThreadHopsToTheMainThread) {
    Fake::Behaviour never;
    never.mode = Fake::Mode::NeverAnswer;
    Fake::setBehaviour(Fake::Op::Remove, never);
    int answers = 0;
    auto op = std::make_shared<QNRemoveOperation>(drive, QNDocument::withPath("/docs/a.txt"),
                                                  [&](QNDocumentPtr, VNErrorPtr, bool c) {
                                                      EXPECT_TRUE(VNDispatch::isMainThread());
                                                      EXPECT_TRUE(c);
                                                      ++answers;
                                                  });
    queue.addOperation(op);
    ASSERT_TRUE(VNTest::waitUntil([&] { return op->isExecuting(); }));
    VNOperationQueue other;
    other.addOperation([op] { op->cancel(); });
    ASSERT_TRUE(VNTest::waitUntil([&] { return op->isFinished(); }));
    VNTest::spin(20);
    EXPECT_EQ(answers, 1);
}

TEST_F(HandlerOperations, QueueSlotIsHeldUntilTheAnswer) {
    queue.setMaxConcurrentOperationCount(1);
    Fake::Behaviour slow;
    slow.delayMs = 150;
    Fake::setBehaviour(Fake::Op::List, slow);
    std::vector<int> order;
    auto first = std::make_shared<QNListDocumentsOperation>(
        drive, QNDocument::withPath("/", true), QString(),
        [&](QNDocumentList, QString, VNErrorPtr, bool) { order.push_back(1); });
    auto second = std::make_shared<QNListDocumentsOperation>(
        drive, QNDocument::withPath("/docs", true), QString(),
        [&](QNDocumentList, QString, VNErrorPtr, bool) { order.push_back(2); });
    queue.addOperation(first);
    queue.addOperation(second);
    ASSERT_TRUE(VNTest::waitUntil([&] { return Fake::callCount(Fake::Op::List) >= 1; }));
    VNTest::spin(50);
    EXPECT_EQ(Fake::callCount(Fake::Op::List), 1);  // the second waits for the first's answer
    ASSERT_TRUE(VNTest::waitUntil([&] { return second->isFinished(); }));
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
}

TEST_F(HandlerOperations, DriveWithoutHandlerAnswersNotSupported) {
    auto unknown = QNDriveConfig::create();
    unknown->setIsSpiderOak(true);
    queue.setMaxConcurrentOperationCount(1);
    VNErrorPtr error;
    QString keyword;
    auto op = std::make_shared<QNListDocumentsOperation>(unknown, QNDocument::withPath("/", true), "kw",
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

TEST_F(HandlerOperations, CancellingAFinishedOperationDoesNothing) {
    int answers = 0;
    auto op = std::make_shared<QNLoginOperation>(drive, [&](bool, VNErrorPtr, bool) { ++answers; });
    run(op);
    op->cancel();
    VNTest::spin(20);
    EXPECT_EQ(answers, 1);
    EXPECT_EQ(Fake::cancelCount(), 0);
}

TEST_F(HandlerOperations, StartFromAWorkerReturnsAtOnce) {
    Fake::Behaviour never;
    never.mode = Fake::Mode::NeverAnswer;
    Fake::setBehaviour(Fake::Op::Login, never);
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
