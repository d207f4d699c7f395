// Replies written to files: moved into place only when complete, never an
// error page or a redirect body, temporary files cleaned up; resuming; gzip.
#include "Net/NetTestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QUuid>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

using namespace NetTest;

namespace {
QByteArray apacheFile(const QString &name) {
    return VNTest::readFile(apache()[QStringLiteral("files")].toString() + QLatin1Char('/') + name);
}

// Runs a request whose first attempt stalls: a time-out of two seconds
// finds the stall soon. Once the request is sent again its time-out is made
// long, so that the second attempt waits for the server's answer however
// long a busy machine takes to give it (the attempt starts counting idle
// time at once, the server's answer can take seconds); the two seconds
// leave the main thread time to see the retry on a busy machine too.
std::shared_ptr<Outcome> runTimingOutOnce(const std::shared_ptr<NRHTTPRequest> &r) {
    r->setTimeOutSeconds(2);
    r->setNumberOfTimesToRetryOnTimeout(1);
    auto outcome = std::make_shared<Outcome>();
    r->setCompletionBlock([outcome] { ++outcome->finished; });
    r->setFailedBlock([outcome] { ++outcome->failed; });
    r->startAsynchronous();
    EXPECT_TRUE(VNTest::waitUntil([&] { return r->retryCount() > 0 || outcome->done(); }, networkWaitMs));
    r->setTimeOutSeconds(networkWaitMs / 1000.0);
    EXPECT_TRUE(VNTest::waitUntil([&] { return outcome->done(); }, 2 * networkWaitMs)) << "request never ended";
    settleNetworkThread();  // a second callback would show
    return outcome;
}
}  // namespace

TEST(Download, WholeReplyMovedIntoPlace) {
    auto dir = VNTest::makeTempDir();
    const QString dest = dir->path() + QStringLiteral("/big.bin");
    VNTest::writeFile(dest, "old contents");
    auto r = NRHTTPRequest::requestWithURL(apacheURL(QStringLiteral("/files/big.bin")));
    r->setDownloadDestinationPath(dest);
    auto out = run(r);
    EXPECT_EQ(out->finished, 1);
    EXPECT_EQ(VNTest::readFile(dest), apacheFile(QStringLiteral("big.bin")));
    EXPECT_TRUE(r->responseData().isEmpty());
    EXPECT_TRUE(temporaryFiles().isEmpty()) << temporaryFiles().join(QLatin1Char(',')).toStdString();
}

TEST(Download, FailuresLeaveTheDestinationAlone) {
    auto dir = VNTest::makeTempDir();
    const QString dest = dir->path() + QStringLiteral("/keep.bin");
    VNTest::writeFile(dest, "precious");

    auto dropped = NRHTTPRequest::requestWithURL(fake(QStringLiteral("/drop?n=500000&after=200000")));
    dropped->setDownloadDestinationPath(dest);
    EXPECT_EQ(run(dropped)->failed, 1);
    EXPECT_EQ(errorCode(dropped), 1);
    EXPECT_EQ(VNTest::readFile(dest), QByteArray("precious"));
    EXPECT_TRUE(temporaryFiles().isEmpty());

    auto stalled = NRHTTPRequest::requestWithURL(fake(QStringLiteral("/stall?n=500000&wait=20")));
    stalled->setDownloadDestinationPath(dest);
    stalled->setTimeOutSeconds(1);
    EXPECT_EQ(run(stalled, networkWaitMs)->failed, 1);
    EXPECT_EQ(errorCode(stalled), 2);
    EXPECT_EQ(VNTest::readFile(dest), QByteArray("precious"));
    EXPECT_TRUE(temporaryFiles().isEmpty());

    // The server stalls far longer than the cancel takes to come.
    auto cancelled = NRHTTPRequest::requestWithURL(fake(QStringLiteral("/stall?n=500000&wait=60")));
    cancelled->setDownloadDestinationPath(dest);
    qint64 received = 0;  // some of the body is in the part file when the cancel comes
    cancelled->setBytesReceivedBlock([&](qint64 amount, qint64) { received += amount; });
    auto out = std::make_shared<Outcome>();
    cancelled->setFailedBlock([out] { ++out->failed; });
    cancelled->startAsynchronous();
    ASSERT_TRUE(VNTest::waitUntil([&] { return received > 0; }, networkWaitMs));
    cancelled->cancel();
    ASSERT_TRUE(VNTest::waitUntil([&] { return out->done(); }, networkWaitMs));
    EXPECT_EQ(errorCode(cancelled), 4);
    EXPECT_EQ(VNTest::readFile(dest), QByteArray("precious"));
    EXPECT_TRUE(VNTest::waitUntil([] { return temporaryFiles().isEmpty(); }, networkWaitMs));
}

TEST(Download, ErrorRepliesStayInTheResponseDataNeverOverTheDestination) {
    auto dir = VNTest::makeTempDir();
    const QString dest = dir->path() + QStringLiteral("/keep.bin");
    for (int code : {404, 500, 403}) {
        VNTest::writeFile(dest, "precious");
        auto r = NRHTTPRequest::requestWithURL(fake(QStringLiteral("/status?code=%1").arg(code)));
        r->setDownloadDestinationPath(dest);
        EXPECT_EQ(run(r)->finished, 1) << code;  // an HTTP status is no failure
        EXPECT_EQ(r->responseStatusCode(), code);
        EXPECT_EQ(r->responseData(), QByteArray("status body")) << code;
        EXPECT_EQ(VNTest::readFile(dest), QByteArray("precious")) << code;
        QFile::remove(dest);
        auto none = NRHTTPRequest::requestWithURL(fake(QStringLiteral("/status?code=%1").arg(code)));
        none->setDownloadDestinationPath(dest);
        run(none);
        EXPECT_FALSE(QFile::exists(dest)) << code;
    }
    EXPECT_TRUE(temporaryFiles().isEmpty());
}

namespace {
// Makes a folder immutable (root on ext4): nothing in it can be deleted.
bool setImmutable(const QString &folder, bool on) {
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY);
    if (fd < 0)
        return false;
    int flags = 0;
    bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
    ok = ok && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    ::close(fd);
    return ok;
}
}  // namespace

TEST(Download, TemporaryFileThatCannotBeDeletedFailsWithCode8) {
    QTemporaryDir base(QDir::tempPath() + QStringLiteral("/varnello-immutable-XXXXXX"));
    const QString locked = base.path() + QStringLiteral("/locked");
    ASSERT_TRUE(QDir().mkpath(locked));
    const QString temporary = locked + QStringLiteral("/download.part");
    VNTest::writeFile(temporary, "");
    if (!setImmutable(locked, true))
        GTEST_SKIP() << "immutable folders need root on ext4";
    auto r = NRHTTPRequest::requestWithURL(fake(QStringLiteral("/gzip?n=5000")));
    r->setDownloadDestinationPath(base.path() + QStringLiteral("/out.bin"));
    r->setTemporaryFileDownloadPath(temporary);
    const auto out = run(r);
    setImmutable(locked, false);
    EXPECT_EQ(out->failed, 1);
    EXPECT_EQ(errorCode(r), 8);
    ASSERT_TRUE(r->error());
    EXPECT_EQ(r->error()->localizedDescription(), QStringLiteral("Failed to delete file at path '%1'").arg(temporary));
}

TEST(Download, RedirectBodyNeverLands) {
    auto dir = VNTest::makeTempDir();
    const QString dest = dir->path() + QStringLiteral("/r.bin");
    auto r = NRHTTPRequest::requestWithURL(fake(QStringLiteral("/redirect?code=302&to=/bytes%3Fn%3D777")));
    r->setDownloadDestinationPath(dest);
    run(r);
    EXPECT_EQ(r->responseStatusCode(), 200);
    EXPECT_EQ(VNTest::readFile(dest), pattern(777));
}

TEST(Download, ResumesAPartialFile) {
    auto dir = VNTest::makeTempDir();
    const QString dest = dir->path() + QStringLiteral("/resumed.bin");
    const QString partial = VNTempDirectory::path() + QStringLiteral("/partial-download");
    const QByteArray whole = pattern(400000);
    VNTest::writeFile(partial, whole.left(150000));
    auto r = NRHTTPRequest::requestWithURL(fake(QStringLiteral("/range?n=400000")));
    r->setDownloadDestinationPath(dest);
    r->setTemporaryFileDownloadPath(partial);
    r->setAllowResumeForFileDownloads(true);
    qint64 grown = 0;
    r->setDownloadSizeIncrementedBlock([&](qint64 a) { grown += a; });
    run(r);
    EXPECT_EQ(r->responseStatusCode(), 206);
    EXPECT_EQ(r->partialDownloadSize(), 150000u);
    EXPECT_EQ(grown, 400000);
    EXPECT_EQ(VNTest::readFile(dest), whole);
    EXPECT_FALSE(QFile::exists(partial));
}

TEST(Download, EmptyReplyThroughAGivenTemporaryFile) {
    // Nothing is ever written to the temporary file: the destination still
    // becomes an empty file, and the temporary path is left clean.
    auto dir = VNTest::makeTempDir();
    const QString dest = dir->path() + QStringLiteral("/empty.bin");
    VNTest::writeFile(dest, "old contents");
    const QString temporary = VNTempDirectory::path() + QStringLiteral("/empty-download");
    auto r = NRHTTPRequest::requestWithURL(apacheURL(QStringLiteral("/files/empty.bin")));
    r->setDownloadDestinationPath(dest);
    r->setTemporaryFileDownloadPath(temporary);
    auto out = run(r);
    EXPECT_EQ(out->finished, 1) << (r->error() ? r->error()->localizedDescription().toStdString() : "");
    EXPECT_EQ(r->responseStatusCode(), 200);
    EXPECT_TRUE(QFile::exists(dest));
    EXPECT_TRUE(VNTest::readFile(dest).isEmpty());
    EXPECT_FALSE(QFile::exists(temporary));

    // Resuming allowed and nothing kept yet: the same.
    const QString fresh = dir->path() + QStringLiteral("/fresh.bin");
    auto resumable = NRHTTPRequest::requestWithURL(apacheURL(QStringLiteral("/files/empty.bin")));
    resumable->setDownloadDestinationPath(fresh);
    resumable->setTemporaryFileDownloadPath(temporary);
    resumable->setAllowResumeForFileDownloads(true);
    EXPECT_EQ(run(resumable)->finished, 1);
    EXPECT_TRUE(QFile::exists(fresh));
    EXPECT_TRUE(VNTest::readFile(fresh).isEmpty());
    EXPECT_FALSE(QFile::exists(temporary));

    // A HEAD request has no body to save: the destination stays as it was.
    auto head = NRHTTPRequest::requestWithURL(apacheURL(QStringLiteral("/files/1k.bin")));
    head->setRequestMethod(QStringLiteral("HEAD"));
    head->setDownloadDestinationPath(dest);
    VNTest::writeFile(dest, "kept");
    head->setTemporaryFileDownloadPath(temporary);
    EXPECT_EQ(run(head)->finished, 1);
    EXPECT_EQ(VNTest::readFile(dest), QByteArray("kept"));
    EXPECT_FALSE(QFile::exists(temporary));
    EXPECT_TRUE(temporaryFiles().isEmpty()) << temporaryFiles().join(QLatin1Char(',')).toStdString();

    // A folder that cannot be written (a file stands in its place): the
    // empty reply fails with the write error rather than report a file.
    VNTest::writeFile(dir->path() + QStringLiteral("/plain"), "a file");
    auto unwritable = NRHTTPRequest::requestWithURL(apacheURL(QStringLiteral("/files/empty.bin")));
    unwritable->setDownloadDestinationPath(dir->path() + QStringLiteral("/plain/empty.bin"));
    EXPECT_EQ(run(unwritable)->failed, 1);
    EXPECT_EQ(errorCode(unwritable), NRHTTPRequest::FileManagementError);
}

TEST(Download, A416BodyIsNeverAppended) {
    auto dir = VNTest::makeTempDir();
    const QString dest = dir->path() + QStringLiteral("/done.bin");
    const QString partial = VNTempDirectory::path() + QStringLiteral("/complete-download");
    const QByteArray whole = pattern(1000);
    VNTest::writeFile(partial, whole);
    auto r = NRHTTPRequest::requestWithURL(fake(QStringLiteral("/range?n=1000")));
    r->setDownloadDestinationPath(dest);
    r->setTemporaryFileDownloadPath(partial);
    r->setAllowResumeForFileDownloads(true);
    run(r);
    EXPECT_EQ(r->responseStatusCode(), 416);
    EXPECT_EQ(VNTest::readFile(partial), whole);
    EXPECT_FALSE(QFile::exists(dest));
    QFile::remove(partial);
}

TEST(Download, GzipInMemory) {
    auto r = NRHTTPRequest::requestWithURL(apacheURL(QStringLiteral("/files/text.txt")));
    run(r);
    EXPECT_TRUE(r->isResponseCompressed());
    EXPECT_LT(r->rawResponseData().size(), apacheFile(QStringLiteral("text.txt")).size() / 10);
    EXPECT_EQ(r->responseData(), apacheFile(QStringLiteral("text.txt")));

    auto onTheFly = NRHTTPRequest::requestWithURL(fake(QStringLiteral("/gzip?n=300000")));
    onTheFly->setShouldWaitToInflateCompressedResponses(false);
    run(onTheFly);
    EXPECT_EQ(onTheFly->responseData(), pattern(300000));

    auto notAsked = NRHTTPRequest::requestWithURL(apacheURL(QStringLiteral("/files/text.txt")));
    notAsked->setAllowCompressedResponse(false);
    run(notAsked);
    EXPECT_FALSE(notAsked->isResponseCompressed());
    EXPECT_EQ(notAsked->rawResponseData(), apacheFile(QStringLiteral("text.txt")));
}

TEST(Download, GzipToFile) {
    auto dir = VNTest::makeTempDir();
    for (bool wait : {true, false}) {
        const QString dest = dir->path() + (wait ? QStringLiteral("/a.txt") : QStringLiteral("/b.txt"));
        auto r = NRHTTPRequest::requestWithURL(apacheURL(QStringLiteral("/files/text.txt")));
        r->setDownloadDestinationPath(dest);
        r->setShouldWaitToInflateCompressedResponses(wait);
        EXPECT_EQ(run(r)->finished, 1);
        EXPECT_EQ(VNTest::readFile(dest), apacheFile(QStringLiteral("text.txt")));
    }
    EXPECT_TRUE(temporaryFiles().isEmpty());
}

TEST(Download, BrokenGzip) {
    // In memory the request finishes and the body reads as nothing.
    auto memory = NRHTTPRequest::requestWithURL(fake(QStringLiteral("/badgzip")));
    EXPECT_EQ(run(memory)->finished, 1);
    EXPECT_TRUE(memory->responseData().isNull());

    auto dir = VNTest::makeTempDir();
    const QString dest = dir->path() + QStringLiteral("/g.bin");
    VNTest::writeFile(dest, "precious");
    for (const QString route : {QStringLiteral("/badgzip"), QStringLiteral("/truncgzip?n=100000")}) {
        for (bool wait : {true, false}) {
            auto r = NRHTTPRequest::requestWithURL(fake(route));
            r->setDownloadDestinationPath(dest);
            r->setShouldWaitToInflateCompressedResponses(wait);
            EXPECT_EQ(run(r)->failed, 1) << route.toStdString() << wait;
            EXPECT_EQ(errorCode(r), 11) << route.toStdString() << wait;
            EXPECT_EQ(VNTest::readFile(dest), QByteArray("precious"));
        }
    }
    EXPECT_TRUE(temporaryFiles().isEmpty()) << temporaryFiles().join(QLatin1Char(',')).toStdString();
}

TEST(Download, CompressedRequestBody) {
    auto r = NRHTTPRequest::requestWithURL(fake(QStringLiteral("/echo")));
    r->setRequestMethod(QStringLiteral("PUT"));
    r->setShouldCompressRequestBody(true);
    r->setPostBody(QByteArray(10000, 'z'));
    run(r);
    const QJsonObject e = echoOf(r);
    EXPECT_EQ(e[QStringLiteral("headers")].toObject()[QStringLiteral("Content-Encoding")].toString(), QStringLiteral("gzip"));
    EXPECT_LT(e[QStringLiteral("length")].toInt(), 1000);
    EXPECT_EQ(r->postLength(), e[QStringLiteral("length")].toInt());
}

// A download that stalls half-way and is tried once more: the file is the
// server's bytes exactly, continued where the server honours the Range,
// else written again from its start; a part that does not start where the
// file ends, or comes without a 206, is never appended, nor a part of
// another version of the file.
TEST(Download, ATimedOutDownloadTriedAgainIsByteExact) {
    struct Row {
        const char *name;
        int serverRanges;  // 0 ignores Range, 1 honours it, 2 answers 206 from the start, 3 answers 200 with a Content-Range
        bool allowResume;
        quint64 resumedFrom;
        bool fails = false;
        const char *validator = "etag";  // what names the version: etag, date, weak (W/ ETag and date) or none
        bool changed = false;            // the file changed between the attempts
    };
    constexpr int size = 300000;
    const Row rows[] = {
        {"server continues the range", 1, true, size / 2},
        {"server sends the whole body again", 0, true, 0},
        {"resuming not allowed", 1, false, 0},
        {"server sends a part from elsewhere", 2, true, size / 2, true},
        {"server sends the whole body with a Content-Range", 3, true, 0},
        {"file changed, named by its ETag", 1, true, 0, false, "etag", true},
        {"file changed, named by its date", 1, true, 0, false, "date", true},
        {"weak ETag: the date names it", 1, true, size / 2, false, "weak"},
        {"nothing names the version", 1, true, size / 2, false, "none"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        auto dir = VNTest::makeTempDir();
        const QString dest = dir->path() + QStringLiteral("/stalled.bin");
        const QString key = QUuid::createUuid().toString(QUuid::WithoutBraces);
        auto r = NRHTTPRequest::requestWithURL(fake(QStringLiteral("/stallonce?key=%1&n=%2&ranges=%3&wait=15&validator=%4&changed=%5")
                                                        .arg(key)
                                                        .arg(size)
                                                        .arg(row.serverRanges)
                                                        .arg(QLatin1String(row.validator))
                                                        .arg(row.changed ? 1 : 0)));
        r->setDownloadDestinationPath(dest);
        r->setAllowResumeForFileDownloads(row.allowResume);
        // The size and the bytes counted end equal: what the stalled attempt
        // counted is taken back when the download is sent again.
        qint64 sizeCounted = 0, bytesCounted = 0;
        r->setDownloadSizeIncrementedBlock([&](qint64 amount) { sizeCounted += amount; });
        r->setBytesReceivedBlock([&](qint64 amount, qint64) { bytesCounted += amount; });
        auto outcome = runTimingOutOnce(r);
        EXPECT_EQ(r->retryCount(), 1);
        EXPECT_EQ(r->partialDownloadSize(), row.resumedFrom);
        if (row.fails) {
            EXPECT_EQ(outcome->failed, 1);
            EXPECT_EQ(errorCode(r), 8);
            EXPECT_FALSE(QFile::exists(dest));
            // The part file stays for a later resume.
            EXPECT_EQ(QFileInfo(r->temporaryFileDownloadPath()).size(), size / 2);
            QFile::remove(r->temporaryFileDownloadPath());
            continue;
        }
        EXPECT_EQ(outcome->finished, 1);
        EXPECT_EQ(sizeCounted, size);
        EXPECT_EQ(bytesCounted, size);
        QByteArray expected = pattern(size);
        if (row.changed)
            for (char &b : expected)
                b = char((uchar(b) + 7) % 251);
        const QByteArray written = VNTest::readFile(dest);
        EXPECT_EQ(written.size(), size);
        EXPECT_TRUE(written == expected);
        EXPECT_TRUE(temporaryFiles().isEmpty()) << temporaryFiles().join(QLatin1Char(',')).toStdString();
    }
}

// Body bytes handed to a data callback are never handed over twice: a
// request that stalls after some is not tried again, it times out. Bytes
// only inflated to be kept (a gzip reply in memory) are no such bytes.
TEST(Download, ATimeOutAfterDataWasHandedOverIsNotTriedAgain) {
    struct Row {
        const char *name;
        bool dataCallback;
        bool gzip;
        bool retried;
    };
    constexpr int size = 300000;
    const Row rows[] = {
        {"handed to a data callback", true, false, false},
        {"gzip, handed to a data callback", true, true, false},
        {"gzip, kept in memory", false, true, true},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        auto r = NRHTTPRequest::requestWithURL(fake(QStringLiteral("/stallonce?key=%1&n=%2&wait=15&gzip=%3")
                                                        .arg(QUuid::createUuid().toString(QUuid::WithoutBraces))
                                                        .arg(size)
                                                        .arg(row.gzip ? 1 : 0)));
        QByteArray received;
        if (row.dataCallback)
            r->setDataReceivedBlock([&](const QByteArray &piece) { received += piece; });
        auto outcome = runTimingOutOnce(r);
        if (row.retried) {
            EXPECT_EQ(outcome->finished, 1);
            EXPECT_EQ(r->retryCount(), 1);
            EXPECT_TRUE(r->responseData() == pattern(size)) << r->responseData().size();
            continue;
        }
        EXPECT_EQ(outcome->failed, 1);
        EXPECT_EQ(errorCode(r), 2);
        EXPECT_EQ(r->retryCount(), 0);
        EXPECT_FALSE(received.isEmpty());
        EXPECT_TRUE(pattern(size).startsWith(received)) << received.size();
        if (!row.gzip)
            EXPECT_EQ(received.size(), size / 2);
    }
}
