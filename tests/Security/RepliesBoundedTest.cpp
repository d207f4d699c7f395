// Replies a hostile server shapes to fill the memory or to confuse the
// reader: endless bodies, gzip bombs, error pages, compressed data handed to
// callbacks, feeds without end and uploads that never advance.
#include "HostileFake.h"

#include "Cloud/QNWebDAVHandler.h"
#include "Core/QNCloudInterfaceFactory.h"
#include "Core/QNDocument.h"
#include "Core/QNDriveConfig.h"
#include "DA/BaseClasses/DAFeedBase.h"
#include "DA/HTTPFetcher/HFErrors.h"
#include "DA/HTTPFetcher/HFHTTPFetcher.h"
#include "DA/HTTPFetcher/HFHTTPUploadFetcher.h"
#include "DA/Service/DAServiceGoogle.h"
#include "Net/NRHTTPRequest.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using Hostile::received;
using Hostile::sentBeforeHangUp;
using Hostile::url;

namespace {

constexpr quint64 kMiB = 1 << 20;

// Runs the request to its end; true when it failed.
bool runFails(const std::shared_ptr<NRHTTPRequest> &request) {
    int ended = 0;
    bool failed = false;
    request->setCompletionBlock([&] { ++ended; });
    request->setFailedBlock([&] { ++ended, failed = true; });
    request->startAsynchronous();
    EXPECT_TRUE(VNTest::waitUntil([&] { return ended > 0; }, 60000)) << "request never ended";
    return failed;
}

}  // namespace

TEST(RepliesBounded, InMemoryBodiesStopAtTheirBoundAndSaySo) {
    struct Row {
        const char *name;
        QString route;
        quint64 bound;     // 0: the request's default
        bool dataBlock;    // read through a data callback
        bool download;     // to a file
        bool tooLarge;     // fails as too large; else finishes with the first MiB kept
    };
    const Row rows[] = {
        {"endless body in memory", "endless", 0, false, false, true},
        {"gzip bomb in memory", "bomb?mib=200", 0, false, false, true},
        {"gzip bomb to a bounded data callback", "bomb?mib=200", kMiB, true, false, true},
        {"error page beside a download", "endless?status=500&mib=4", 0, false, true, false},
    };
    QTemporaryDir dir;
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        const QString tag = Hostile::tag();
        auto request = NRHTTPRequest::requestWithURL(url("a", tag + "/" + row.route));
        if (row.bound)
            request->setMaximumResponseDataSize(row.bound);
        quint64 delivered = 0;
        if (row.dataBlock)
            request->setDataReceivedBlock([&](const QByteArray &piece) { delivered += piece.size(); });
        const QString destination = dir.filePath(QStringLiteral("download"));
        if (row.download)
            request->setDownloadDestinationPath(destination);
        const bool failed = runFails(request);
        const quint64 bound = request->maximumResponseDataSize();
        if (row.tooLarge) {
            ASSERT_TRUE(failed);
            EXPECT_EQ(request->error()->code(), NRHTTPRequest::ResponseTooLargeErrorType);
            EXPECT_TRUE(request->error()->localizedDescription().contains(QLatin1String("too large")));
            EXPECT_LE(quint64(request->rawResponseData().size()), bound);
            EXPECT_LE(delivered, bound);
        } else {
            ASSERT_FALSE(failed);
            EXPECT_EQ(request->responseStatusCode(), 500);
            EXPECT_EQ(request->responseData().size(), NRHTTPRequest::keptErrorBodySize);
            EXPECT_FALSE(QFile::exists(destination));
        }
        if (row.route.startsWith(QLatin1String("endless")) && row.tooLarge)
            EXPECT_LT(sentBeforeHangUp(tag), qint64(bound + 64 * kMiB));  // the reading stopped
    }

    // A WebDAV folder listing without end.
    {
        QNCloudInterfaceFactory::registerCoreHandlers();
        QNWebDAVHandler::registerWithFactory();
        const QString tag = Hostile::tag();
        auto config = QNDriveConfig::create();
        config->setIsWebDAV(true);
        config->setUrl(url("a", tag).toString());
        auto handler = config->createCloudInterface();
        ASSERT_TRUE(handler);
        VNErrorPtr error;
        bool done = false;
        handler->listDocuments(QNDocument::withPath(QStringLiteral("/endless"), true), QString(),
                               [&](QNDocumentList, QString, VNErrorPtr e, bool) { error = e, done = true; });
        ASSERT_TRUE(VNTest::waitUntil([&] { return done; }, 60000));
        ASSERT_TRUE(error);
        EXPECT_TRUE(error->localizedDescription().contains(QLatin1String("too large")));
        EXPECT_LT(sentBeforeHangUp(tag), qint64(96 * kMiB));
    }

    // The data-API fetcher: a feed or listing past its bound, plain or inflated.
    for (const QString route : {QStringLiteral("endless"), QStringLiteral("bomb?mib=200")}) {
        SCOPED_TRACE(route.toStdString());
        const QString tag = Hostile::tag();
        auto fetcher = HFHTTPFetcher::fetcherWithURL(url("a", tag + "/" + route));
        VNErrorPtr error;
        bool done = false;
        fetcher->beginFetchWithCompletionHandler([&](const QByteArray &, const VNErrorPtr &e) { error = e, done = true; });
        ASSERT_TRUE(VNTest::waitUntil([&] { return done; }, 60000));
        ASSERT_TRUE(error);
        EXPECT_EQ(error->domain(), HFErrors::fetcherDomain());
        EXPECT_EQ(error->code(), -6);
        if (route == QLatin1String("endless"))
            EXPECT_LT(sentBeforeHangUp(tag), qint64(HFHTTPFetcher::maximumDownloadedDataSize + 32 * kMiB));
    }
}

TEST(CompressedReplies, DataCallbacksGetInflatedBytes) {
    QByteArray expected;
    for (int i = 0; i < 5000; ++i)
        expected += QByteArrayLiteral("compressed line ") + QByteArray::number(i) + '\n';
    auto request = NRHTTPRequest::requestWithURL(url("a", Hostile::tag() + "/gzip?n=5000"));
    QByteArray delivered;
    request->setDataReceivedBlock([&](const QByteArray &piece) { delivered += piece; });
    ASSERT_FALSE(runFails(request));
    EXPECT_TRUE(request->isResponseCompressed());
    EXPECT_EQ(delivered, expected);
}

TEST(DataAPIListing, PastTwentySevenPagesFailsNeverShort) {
    for (const int pages : {27, 28}) {
        SCOPED_TRACE(pages);
        const QString tag = Hostile::tag();
        auto service = DAServiceGoogle::make();
        service->setServiceShouldFollowNextLinks(true);
        DAObjectPtr object;
        VNErrorPtr error;
        bool done = false;
        service->fetchFeedWithURL(url("a", tag + QStringLiteral("/feed?pages=%1").arg(pages)),
                                  [&](const DAServiceTicketPtr &, const DAObjectPtr &o, const VNErrorPtr &e) {
                                      object = o, error = e, done = true;
                                  });
        ASSERT_TRUE(VNTest::waitUntil([&] { return done; }, 30000));
        EXPECT_EQ(received(tag).size(), 27);
        if (pages == 27) {
            auto feed = std::dynamic_pointer_cast<DAFeedBase>(object);
            ASSERT_TRUE(feed);
            EXPECT_EQ(feed->entries().size(), 27);
        } else {
            EXPECT_FALSE(object);
            ASSERT_TRUE(error);
            EXPECT_EQ(error->code(), -103);
        }
    }
}

TEST(ResumableUpload, A308ThatNeverAdvancesEndsTheUpload) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("media.bin"));
    ASSERT_TRUE(VNTest::writeFile(path, QByteArray(300000, 'm')));
    auto file = std::make_shared<QFile>(path);
    ASSERT_TRUE(file->open(QIODevice::ReadOnly));
    const QString tag = Hostile::tag();
    auto upload = HFHTTPUploadFetcher::uploadFetcherWithLocation(url("a", tag + "/stuck308"), file,
                                                                 QStringLiteral("image/png"), 100000, nullptr);
    VNErrorPtr error;
    int calls = 0;
    upload->beginFetchWithCompletionHandler([&](const QByteArray &, const VNErrorPtr &e) { error = e, ++calls; });
    ASSERT_TRUE(VNTest::waitUntil([&] { return calls > 0; }, 30000));
    VNTest::spin(200);  // nothing more goes out
    EXPECT_EQ(calls, 1);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), 308);
    // The query, the chunk that moved one byte on, then a few tries of the
    // chunk that moved nothing.
    EXPECT_LE(received(tag).size(), 6);
}
