// Exactly one answer when a cancel and the handler's answer race.
#include "Core/Operations/OperationTestSupport.h"
#include "Core/QNCloudInterfaceFactory.h"
#include "Core/QNDownloadOperation.h"
#include "Core/QNMyDocumentsHandler.h"
#include "Platform/VNDispatch.h"
#include "Platform/VNOperationQueue.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QRandomGenerator>
#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>

namespace {

void busyWaitMicroseconds(int us) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(us);
    while (std::chrono::steady_clock::now() < until) {
    }
}

// Answers from a worker thread after a short random delay; its cancel() may
// answer too (as cancelled), from yet another thread.
class RacingHandler : public QNCloudInterface {
public:
    using QNCloudInterface::QNCloudInterface;
    void download(QNDocumentPtr, QNDocumentPtr destPath, QNProgressCallback progress,
                  QNDocumentCallback completed) override {
        setDownloadCompleted(completed);
        auto self = shared_from_this();
        const int delay = QRandomGenerator::global()->bounded(60);
        VNDispatch::globalAsync([self, destPath, progress, delay, this] {
            busyWaitMicroseconds(delay);
            if (progress)
                progress(1.0);
            if (auto cb = takeDownloadCompleted())
                cb(destPath, nullptr, false);
        });
    }
    void cancel() override {
        QNCloudInterface::cancel();
        if (QRandomGenerator::global()->bounded(2) == 0)
            return;
        auto self = shared_from_this();
        VNDispatch::globalAsync([self, this] {
            if (auto cb = takeDownloadCompleted())
                cb(nullptr, nullptr, true);
        });
    }
};

class OperationRaces : public ::testing::Test {
protected:
    void SetUp() override {
        QNCloudInterfaceFactory::registerCoreHandlers();
        QNCloudInterfaceFactory::registerHandler(
            "racing", [](const QNDriveConfig &c) { return c.url() == "race://"; },
            [](const QNDriveConfigPtr &c) { return std::make_shared<RacingHandler>(c); });
    }
    void TearDown() override { QNCloudInterfaceFactory::unregisterHandler("racing"); }
};

}  // namespace

TEST_F(OperationRaces, ThousandCancelAnswerRacesDeliverOnce) {
    auto drive = QNDriveConfig::create();
    drive->setUrl("race://");
    constexpr int kRuns = 1000;
    std::vector<std::atomic<int>> answers(kRuns);
    std::vector<std::shared_ptr<QNDownloadOperation>> ops;
    for (int i = 0; i < kRuns; ++i) {
        auto op = std::make_shared<QNDownloadOperation>(
            drive, QNDocument::withPath("/f"), QNDocument::withPath("/l"), nullptr,
            [&answers, i](QNDocumentPtr d, VNErrorPtr, bool c) {
                answers[i].fetch_add(1);
                EXPECT_FALSE(c && d);
            });
        ops.push_back(op);
        op->start();  // on the main thread: the handler is called at once
        busyWaitMicroseconds(QRandomGenerator::global()->bounded(60));
        op->cancel();
    }
    ASSERT_TRUE(waitUntilAllFinished(ops));
    VNTest::spin(100);  // let any late answer arrive (and be dropped)
    for (int i = 0; i < kRuns; ++i) ASSERT_EQ(answers[i].load(), 1) << "run " << i;
}

TEST_F(OperationRaces, LocalDownloadCancelledMidTransferAnswersOnceAsCancelled) {
    auto dir = VNTest::makeTempDir();
    VNTest::writeFile(dir->path() + "/big.bin", QByteArray(32 << 20, 'z'));
    auto drive = QNMyDocumentsHandler::makeLocalDriveConfig();
    std::atomic<int> progressCalls{0};
    std::atomic<int> answers{0};
    std::atomic<bool> sawCancelled{false};
    // The first progress report holds the worker until the cancel is in, so
    // the handler's own cancelled answer comes after the operation's.
    std::atomic<bool> cancelSent{false};
    auto op = std::make_shared<QNDownloadOperation>(
        drive, QNDocument::withPath(dir->path() + "/big.bin"), QNDocument::withPath(dir->path() + "/copy.bin"),
        [&](double) {
            if (progressCalls.fetch_add(1) == 0)
                while (!cancelSent.load())
                    std::this_thread::yield();
        },
        [&](QNDocumentPtr d, VNErrorPtr e, bool c) {
            answers.fetch_add(1);
            sawCancelled = c && !d && !e;
        });
    VNOperationQueue queue;
    queue.addOperation(op);
    ASSERT_TRUE(VNTest::waitUntil([&] { return progressCalls.load() > 0; }));
    op->cancel();
    cancelSent = true;
    ASSERT_TRUE(op->isFinished());
    queue.waitUntilAllOperationsAreFinished();
    VNTest::spin(100);
    EXPECT_EQ(answers.load(), 1);
    EXPECT_TRUE(sawCancelled.load());
    EXPECT_LT(progressCalls.load(), 3);
    ASSERT_TRUE(VNTest::waitUntil([&] { return QDir(dir->path()).entryList(QDir::Files | QDir::Hidden).size() == 1; }));
    EXPECT_EQ(QDir(dir->path()).entryList(QDir::Files | QDir::Hidden), QStringList{"big.bin"});
}
