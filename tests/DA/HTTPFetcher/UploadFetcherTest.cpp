// Resumable uploads through the fake: chunk sizes, moved sessions, pause
// and resume, restarts from a known address, and unreadable media.
#include "FetchTestSupport.h"

#include "DA/HTTPFetcher/HFHTTPFetcherService.h"
#include "DA/HTTPFetcher/HFFileRangeInputStream.h"
#include "DA/HTTPFetcher/HFHTTPUploadFetcher.h"

#include <QCryptographicHash>
#include <QFile>
#include <QRandomGenerator>

using namespace FetchTest;

namespace {

constexpr quint64 kChunk = 100000;

QByteArray media(qsizetype n) {
    QByteArray out(n, Qt::Uninitialized);
    QRandomGenerator generator(7);
    for (qsizetype i = 0; i < n; ++i)
        out[i] = char(generator.generate());
    return out;
}

QString sha1(const QByteArray &data) { return QString::fromLatin1(QCryptographicHash::hash(data, QCryptographicHash::Sha1).toHex()); }

HFURLRequest createRequest(const QString &query = {}) {
    HFURLRequest request(fake(QStringLiteral("/upload/create?") + query));
    request.setValue(QStringLiteral("Bearer s3cret"), QStringLiteral("Authorization"));
    request.setValue(QStringLiteral("application/atom+xml"), QStringLiteral("Content-Type"));
    return request;
}

struct Upload {
    std::shared_ptr<HFHTTPUploadFetcher> fetcher;
    QList<QUrl> locations;
    std::shared_ptr<Result> result = std::make_shared<Result>();
    std::function<void(Upload &, const QUrl &)> onLocation;

    void begin() {
        fetcher->setLocationChangeBlock([this](const QUrl &url) {
            locations << url;
            if (onLocation)
                onLocation(*this, url);
        });
        auto r = result;
        fetcher->beginFetchWithCompletionHandler([r](const QByteArray &data, const VNErrorPtr &error) {
            ++r->calls;
            r->data = data;
            r->error = error;
        });
    }
    // Waits for the end, and a little longer: a second call would show.
    bool wait() {
        const bool ended = VNTest::waitUntil([&] { return result->calls > 0; }, 30000);
        VNTest::spin(50);
        return ended;
    }

    // The chunk PUTs of this upload, in order.
    QList<QJsonObject> puts() const {
        QList<QJsonObject> out;
        for (const auto &entry : requestsMatching(QStringLiteral("/upload/session/"))) {
            const QJsonObject o = entry.toObject();
            for (const QUrl &l : locations)
                if (!l.isEmpty() && o[QStringLiteral("path")].toString() == l.path())
                    out << o;
        }
        return out;
    }
};

QString header(const QJsonObject &entry, const char *name) {
    return entry[QStringLiteral("headers")].toObject()[QLatin1String(name)].toString();
}

}  // namespace

TEST(UploadFetcher, ChunkSizesAndTail) {
    struct Case {
        qsizetype length;
        QStringList ranges;
    } cases[] = {
        {qsizetype(kChunk + 2499), {QStringLiteral("bytes 0-102498/102499")}},
        {qsizetype(kChunk + 2500), {QStringLiteral("bytes 0-99999/102500"), QStringLiteral("bytes 100000-102499/102500")}},
        {1000, {QStringLiteral("bytes 0-999/1000")}},
    };
    auto service = HFHTTPFetcherService::make();
    for (const auto &c : cases) {
        const QByteArray data = media(c.length);
        Upload upload;
        upload.fetcher = HFHTTPUploadFetcher::uploadFetcherWithRequest(createRequest(), data, QStringLiteral("image/jpeg"), kChunk, service);
        upload.fetcher->setPostData("<entry/>");
        qint64 lastTotal = 0, expected = 0;
        upload.fetcher->setSentDataBlock([&](qint64, qint64 total, qint64 whole) {
            EXPECT_GE(total, lastTotal);
            lastTotal = total;
            expected = whole;
        });
        upload.begin();
        ASSERT_TRUE(upload.wait()) << c.length;
        EXPECT_EQ(upload.result->calls, 1);
        EXPECT_FALSE(upload.result->error);
        const QJsonObject final = json(upload.result->data);
        EXPECT_EQ(final[QStringLiteral("size")].toInt(), c.length);
        EXPECT_EQ(final[QStringLiteral("sha1")].toString(), sha1(data));
        EXPECT_EQ(upload.fetcher->statusCode(), 201);
        EXPECT_EQ(expected, c.length + 8);
        EXPECT_EQ(lastTotal, c.length + 8);
        // The address was given, then dropped at the end.
        ASSERT_EQ(upload.locations.size(), 2);
        EXPECT_TRUE(upload.locations.last().isEmpty());

        const auto puts = upload.puts();
        QStringList ranges;
        for (const auto &p : puts) {
            ranges << header(p, "Content-Range");
            EXPECT_EQ(p[QStringLiteral("method")].toString(), QStringLiteral("PUT"));
            EXPECT_EQ(header(p, "Content-Type"), QStringLiteral("image/jpeg"));
            EXPECT_TRUE(header(p, "Authorization").isEmpty()) << "a chunk carried the authorization";
        }
        EXPECT_EQ(ranges, c.ranges);
    }
}

TEST(UploadFetcher, MovedSessionPauseResumeAndRestart) {
    const QByteArray data = media(3 * kChunk);
    Upload upload;
    upload.fetcher = HFHTTPUploadFetcher::uploadFetcherWithRequest(createRequest(QStringLiteral("move=1")), data,
                                                                   QStringLiteral("image/png"), kChunk, nullptr);
    // After the first chunk the server moves the session; we pause right
    // there and resume a little later.
    upload.onLocation = [](Upload &u, const QUrl &) {
        if (u.locations.size() == 2)
            u.fetcher->pauseFetching();
    };
    upload.begin();
    ASSERT_TRUE(VNTest::waitUntil([&] { return upload.fetcher->isPaused(); }));
    VNTest::spin(100);
    EXPECT_EQ(upload.result->calls, 0);
    upload.fetcher->resumeFetching();
    ASSERT_TRUE(upload.wait());
    EXPECT_FALSE(upload.result->error);
    EXPECT_EQ(json(upload.result->data)[QStringLiteral("sha1")].toString(), sha1(data));
    QStringList seen;
    for (const auto &p : upload.puts())
        seen << p[QStringLiteral("path")].toString().section(QLatin1Char('/'), -1).left(4) + QLatin1Char(' ') + header(p, "Content-Range");
    const QString first = upload.locations[0].path().section(QLatin1Char('/'), -1).left(4);
    const QString moved = upload.locations[1].path().section(QLatin1Char('/'), -1).left(4);
    EXPECT_EQ(seen, QStringList({first + " bytes 0-99999/300000", moved + " bytes */300000", moved + " bytes 100000-199999/300000",
                                 moved + " bytes 200000-299999/300000"}));

    // A restart at a known address asks first and sends no initial request.
    auto dir = VNTest::makeTempDir();
    const QString path = dir->path() + QStringLiteral("/media.bin");
    VNTest::writeFile(path, data);
    auto starter = HFHTTPFetcher::fetcherWithRequest(HFURLRequest(fake(QStringLiteral("/upload/create"))));
    starter->setPostData("<entry/>");
    run(starter);
    const QUrl location(starter->responseHeaders().value(QStringLiteral("Location")));
    ASSERT_TRUE(location.isValid());
    auto file = std::make_shared<QFile>(path);
    ASSERT_TRUE(file->open(QIODevice::ReadOnly));
    Upload restarted;
    restarted.fetcher = HFHTTPUploadFetcher::uploadFetcherWithLocation(location, file, QStringLiteral("image/png"), kChunk, nullptr);
    restarted.locations << location;
    restarted.begin();
    ASSERT_TRUE(restarted.wait());
    EXPECT_FALSE(restarted.result->error);
    EXPECT_EQ(json(restarted.result->data)[QStringLiteral("sha1")].toString(), sha1(data));
    const auto puts = restarted.puts();
    ASSERT_EQ(puts.size(), 4);
    EXPECT_EQ(header(puts[0], "Content-Range"), QStringLiteral("bytes */300000"));
}

TEST(UploadFetcher, FailuresEndTheUploadOnce) {
    // A chunk error keeps the address for a later resume.
    Upload failing;
    failing.fetcher = HFHTTPUploadFetcher::uploadFetcherWithRequest(createRequest(QStringLiteral("fail=1")), media(2 * kChunk),
                                                                    QStringLiteral("image/png"), kChunk, nullptr);
    failing.begin();
    ASSERT_TRUE(failing.wait());
    EXPECT_EQ(failing.result->calls, 1);
    EXPECT_EQ(code(failing.result->error), 500);
    EXPECT_EQ(failing.locations.size(), 1);
    EXPECT_FALSE(failing.fetcher->locationURL().isEmpty());

    // No "Location", or one that is not http(s): 501, once.
    for (const QString query : {QStringLiteral("nolocation=1"), QStringLiteral("location=file:///etc/passwd")}) {
        Upload bad;
        bad.fetcher = HFHTTPUploadFetcher::uploadFetcherWithRequest(createRequest(query), media(10), QStringLiteral("image/png"), kChunk, nullptr);
        bad.begin();
        ASSERT_TRUE(bad.wait());
        EXPECT_EQ(bad.result->calls, 1) << query.toStdString();
        EXPECT_EQ(code(bad.result->error), 501) << query.toStdString();
    }

    // Media that cannot be read in full end with an error, not a short file.
    auto dir = VNTest::makeTempDir();
    const QString path = dir->path() + QStringLiteral("/shrinks.bin");
    VNTest::writeFile(path, media(2 * kChunk + 5000));
    auto file = std::make_shared<QFile>(path);
    ASSERT_TRUE(file->open(QIODevice::ReadOnly));
    Upload cut;
    cut.fetcher = HFHTTPUploadFetcher::uploadFetcherWithRequest(createRequest(), file, QStringLiteral("image/png"), kChunk, nullptr);
    QFile::resize(path, kChunk + 10);  // the file shrinks after it was measured
    cut.begin();
    ASSERT_TRUE(cut.wait());
    EXPECT_EQ(code(cut.result->error), -5);
    EXPECT_TRUE(json(cut.result->data).isEmpty());
}

TEST(UploadFetcher, FileStretchEndingEarlyIsAnError) {
    auto dir = VNTest::makeTempDir();
    const QString path = dir->path() + QStringLiteral("/short.bin");
    VNTest::writeFile(path, "0123456789");
    HFFileRangeInputStream stream(path, 4, 20);
    stream.open();
    char buffer[64];
    EXPECT_EQ(stream.read(buffer, sizeof buffer), 6);
    EXPECT_EQ(stream.read(buffer, sizeof buffer), -1);
    EXPECT_EQ(stream.streamStatus(), HFInputStream::Error);
}

TEST(UploadFetcher, OffsetAfterRange) {
    struct Case {
        const char *range;
        quint64 offset;
    } cases[] = {
        {"bytes=0-999", 1000}, {"", 0}, {"bytes=0-", 0}, {"bytes=-5", 0}, {"items=0-9", 0},
        {"bytes=0-99999999", 5000}, {"bytes=0-18446744073709551615", 5000},
    };
    for (const auto &c : cases)
        EXPECT_EQ(HFHTTPUploadFetcher::offsetAfterRange(QString::fromLatin1(c.range), 5000), c.offset) << c.range;
}
