// A HEAD request made for another request (as a queue makes one to learn a
// GET's size before it starts): it speaks only through its main request.
#include "Net/NetTestSupport.h"

#include "Net/NRFormDataRequest.h"
#include "Net/NRNetworkThread.h"
#include "Net/NRWebPageRequest.h"

using namespace NetTest;

TEST(HEADForMainRequest, SpeaksOnlyThroughItsMainRequest) {
    struct Row {
        const char *name;
        const char *path;
        bool allowCompressedResponse;
        int mainErrorCode;      // 0: the main request did not fail
        quint64 storedLength;   // the main request's contentLength afterwards
        qint64 sizeGrowth;      // what the main request's download size grew by
        bool mainStaysAccurate;
    };
    const Row rows[] = {
        {"length stored on the main request", "/bytes?n=5000", true, 0, 5000, 5000, true},
        {"through a redirect", "/redirect?code=302&to=/bytes%3Fn%3D7000", true, 0, 7000, 7000, true},
        {"20 compressed bytes", "/gzip?n=0", true, 0, 0, 1, false},
        {"20 bytes, compression not allowed", "/gzip?n=0", false, 0, 20, 20, true},
        {"21 bytes", "/bytes?n=21", true, 0, 21, 21, true},
        {"no length", "/nolength?n=10", true, 0, 0, 1, false},
        {"failure passed on", "/nohead?n=10", true, 1, 0, 0, true},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        auto main = NRHTTPRequest::requestWithURL(fake(QString::fromLatin1(row.path)));
        main->setAllowCompressedResponse(row.allowCompressedResponse);
        int mainFinished = 0, mainFailed = 0;
        qint64 mainSize = 0;
        main->setCompletionBlock([&] { ++mainFinished; });
        main->setFailedBlock([&] { ++mainFailed; });
        main->setDownloadSizeIncrementedBlock([&](qint64 amount) { mainSize += amount; });

        auto head = main->HEADRequest();
        QStringList headHeard;
        head->setStartedBlock([&] { headHeard << QStringLiteral("started"); });
        head->setHeadersReceivedBlock([&](const QMap<QString, QString> &) { headHeard << QStringLiteral("headers"); });
        head->setRequestRedirectedBlock([&] { headHeard << QStringLiteral("redirected"); });
        head->setCompletionBlock([&] { headHeard << QStringLiteral("finished"); });
        head->setFailedBlock([&] { headHeard << QStringLiteral("failed"); });
        head->setBytesReceivedBlock([&](qint64, qint64) { headHeard << QStringLiteral("bytes"); });
        head->startAsynchronous();
        ASSERT_TRUE(VNTest::waitUntil([&] { return head->isFinished(); }));
        NRNetworkThread::serveEventsUntil([] { return true; });  // what it handed over before

        EXPECT_EQ(headHeard, QStringList());
        EXPECT_EQ(mainFinished, 0);
        EXPECT_EQ(mainFailed, row.mainErrorCode ? 1 : 0);
        EXPECT_EQ(errorCode(main), row.mainErrorCode);
        EXPECT_EQ(main->contentLength(), row.storedLength);
        EXPECT_EQ(mainSize, row.sizeGrowth);
        EXPECT_EQ(main->showAccurateProgress(), row.mainStaysAccurate);
    }
}

// Cancelling the HEAD request cancels what it was made for: the main request
// fails with code 4 and says it is cancelled, when its failed callback runs.
TEST(HEADForMainRequest, CancelledHEADCancelsItsMainRequest) {
    auto main = NRHTTPRequest::requestWithURL(fake(QStringLiteral("/silent?wait=5")));
    bool cancelledWhenFailed = false;
    int mainFailed = 0;
    main->setFailedBlock([&] {
        ++mainFailed;
        cancelledWhenFailed = main->isCancelled();
    });
    auto head = main->HEADRequest();
    head->startAsynchronous();
    head->cancel();
    ASSERT_TRUE(VNTest::waitUntil([&] { return head->isFinished() && mainFailed > 0; }));
    EXPECT_EQ(errorCode(main), 4);
    EXPECT_EQ(mainFailed, 1);
    EXPECT_TRUE(cancelledWhenFailed);
}

// The HEAD request is of its main request's own kind.
TEST(HEADForMainRequest, IsOfItsMainRequestsKind) {
    const QUrl url = fake(QStringLiteral("/bytes?n=1"));
    auto form = NRFormDataRequest::requestWithURL(url);
    auto page = NRWebPageRequest::requestWithURL(url);
    EXPECT_TRUE(std::dynamic_pointer_cast<NRFormDataRequest>(form->HEADRequest()));
    EXPECT_TRUE(std::dynamic_pointer_cast<NRWebPageRequest>(page->HEADRequest()));
}
