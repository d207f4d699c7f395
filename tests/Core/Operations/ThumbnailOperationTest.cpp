// The thumbnail operation with injected loaders.
#include "Core/Operations/OperationTestSupport.h"
#include "Core/QNThumbnailOperation.h"
#include "Platform/VNDispatch.h"
#include "Platform/VNOperationQueue.h"
#include "support/TestSupport.h"

#include <QThread>
#include <atomic>
#include <gtest/gtest.h>

namespace {

// Answers from a background thread with the URL's text, or never.
QNThumbnailOperation::URLLoader answeringLoader(std::atomic<int> *cancels = nullptr, bool answer = true) {
    return [cancels, answer](const QNThumbnailOperation::URLRequest &request, QNThumbnailOperation::LoadFinished done) {
        if (answer)
            VNDispatch::globalAsync([request, done] { done(request.url.toString().toUtf8(), nullptr); });
        return std::function<void()>([cancels] {
            if (cancels)
                cancels->fetch_add(1);
        });
    };
}

}  // namespace

TEST(ThumbnailOperation, DeliversOnItsOwnQueue) {
    QByteArray data;
    VNErrorPtr error = VNError::make("x", 1, "error", "unset");
    std::atomic<bool> onMain{true};
    QNThumbnailOperation::URLRequest request{QUrl("https://thumbs.invalid/a.png"), {{"Authorization", "Bearer t"}}};
    auto op = std::make_shared<QNThumbnailOperation>(
        request,
        [&](QByteArray d, VNErrorPtr e) {
            data = d;
            error = e;
            onMain = VNDispatch::isMainThread();
        },
        answeringLoader());
    EXPECT_EQ(op->operationQueue().maxConcurrentOperationCount(), 1);
    VNOperationQueue queue;
    queue.addOperation(op);
    ASSERT_TRUE(VNTest::waitUntil([&] { return op->isFinished(); }));
    EXPECT_EQ(data, "https://thumbs.invalid/a.png");
    EXPECT_FALSE(error);
    EXPECT_FALSE(onMain.load());
}

TEST(ThumbnailOperation, CancelWhileLoadingAnswersNothingOnce) {
    std::atomic<int> cancels{0};
    int answers = 0;
    QNThumbnailOperation::LoadFinished keptDone;
    auto loader = [&](const QNThumbnailOperation::URLRequest &, QNThumbnailOperation::LoadFinished done) {
        keptDone = done;  // answer later, after the cancel
        return std::function<void()>([&] { cancels.fetch_add(1); });
    };
    auto op = std::make_shared<QNThumbnailOperation>(
        QNThumbnailOperation::URLRequest{QUrl("https://thumbs.invalid/b.png"), {}},
        [&](QByteArray d, VNErrorPtr e) {
            ++answers;
            EXPECT_TRUE(d.isNull());
            EXPECT_FALSE(e);
        },
        loader);
    op->start();
    EXPECT_TRUE(op->isExecuting());
    op->cancel();
    EXPECT_TRUE(op->isFinished());
    EXPECT_EQ(cancels.load(), 1);
    ASSERT_TRUE(keptDone);
    keptDone("late", nullptr);
    VNTest::spin(50);
    EXPECT_EQ(answers, 1);
}

TEST(ThumbnailOperation, DefaultLoaderIsUsedAndNoLoaderIsAnError) {
    for (bool withLoader : {true, false}) {
        QNThumbnailOperation::setDefaultURLLoader(withLoader ? answeringLoader() : QNThumbnailOperation::URLLoader());
        QByteArray data;
        VNErrorPtr error;
        auto op = std::make_shared<QNThumbnailOperation>(QNThumbnailOperation::URLRequest{QUrl("https://d.invalid/"), {}},
                                                         [&](QByteArray d, VNErrorPtr e) {
                                                             data = d;
                                                             error = e;
                                                         });
        op->start();
        ASSERT_TRUE(VNTest::waitUntil([&] { return op->isFinished(); }));
        EXPECT_EQ(bool(error), !withLoader);
        EXPECT_EQ(data, withLoader ? QByteArray("https://d.invalid/") : QByteArray());
    }
}

// Cancelled before the start, right after it, or racing the loader's answer:
// always exactly one answer, an empty one when cancelled first.
TEST(ThumbnailOperation, ManyRacesAnswerOnce) {
    constexpr int kRuns = 300;
    std::vector<std::atomic<int>> answers(kRuns);
    std::vector<std::shared_ptr<QNThumbnailOperation>> ops;
    for (int i = 0; i < kRuns; ++i) {
        const bool early = i % 10 == 0;
        auto op = std::make_shared<QNThumbnailOperation>(
            QNThumbnailOperation::URLRequest{QUrl(QStringLiteral("https://r.invalid/%1").arg(i)), {}},
            [&answers, i, early](QByteArray d, VNErrorPtr e) {
                answers[i].fetch_add(1);
                if (early)
                    EXPECT_TRUE(d.isNull() && !e);
            },
            answeringLoader());
        ops.push_back(op);
        if (early)
            op->cancel();
        op->start();
        op->cancel();
        if (early)
            EXPECT_TRUE(op->isFinished() && answers[i].load() == 1);
    }
    ASSERT_TRUE(waitUntilAllFinished(ops));
    VNTest::spin(50);
    for (int i = 0; i < kRuns; ++i) ASSERT_EQ(answers[i].load(), 1) << i;
}
