// Downloads and uploads against Apache, checked on the server's disk; refused,
// dropped and cancelled transfers against the fake leave no file behind.
#include "WebDAVPeer.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <algorithm>
#include <gtest/gtest.h>

using namespace WebDAVPeer;

namespace {

QByteArray randomBytes(qsizetype size) {
    QByteArray data(size, Qt::Uninitialized);
    QRandomGenerator generator{quint32(size)};
    for (qsizetype i = 0; i < size; ++i)
        data[i] = char(generator.generate() & 0xff);
    return data;
}

class WebDAVTransfer : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(state().isEmpty()) << "the webdav peer is not running";
        setUpOnce();
        local = VNTest::makeTempDir();
    }

    AnswerPtr download(const QNDriveConfigPtr &config, const QString &remotePath, const QString &localPath,
                       QList<double> *progress = nullptr, qint64 knownSize = 0) {
        auto answer = std::make_shared<Answer>();
        auto document = QNDocument::withPath(remotePath);
        document->setId("source-id");
        document->setSize(knownSize);
        handlerFor(config)->download(document, QNDocument::withPath(localPath),
                                     [progress](double f) { if (progress) progress->append(f); },
                                     documentAnswer(answer));
        EXPECT_TRUE(waitForAnswer(answer, 60000));
        EXPECT_EQ(answer->count, 1);
        return answer;
    }

    AnswerPtr upload(const QNDriveConfigPtr &config, const QString &localPath, const QString &remoteFolder,
                     QList<double> *progress = nullptr) {
        auto answer = std::make_shared<Answer>();
        handlerFor(config)->upload(QNDocument::withPath(localPath), QNDocument::withPath(remoteFolder, true),
                                   [progress](double f) { if (progress) progress->append(f); },
                                   documentAnswer(answer));
        EXPECT_TRUE(waitForAnswer(answer, 60000));
        EXPECT_EQ(answer->count, 1);
        return answer;
    }

    // Only the given names in the local folder: no partial or hidden files.
    void expectLocalFolderHolds(const QStringList &names) {
        const auto entries = QDir(local->path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                                                           QDir::Name);
        EXPECT_EQ(entries, names);
    }

    static void expectMonotonicToOne(const QList<double> &progress) {
        ASSERT_FALSE(progress.isEmpty());
        for (int i = 1; i < progress.size(); ++i)
            EXPECT_GE(progress[i], progress[i - 1]);
        EXPECT_DOUBLE_EQ(progress.last(), 1.0);
    }

    std::unique_ptr<QTemporaryDir> local;
};

TEST_F(WebDAVTransfer, DownloadFromBothSharesIsByteIdenticalWithProgress) {
    const QByteArray data = randomBytes(3 * 1024 * 1024 + 17);
    struct Share { QString key, url; };
    for (const Share &share : {Share{"root_dir", url("http")}, Share{"dav_dir", url("https") + "/dav"}}) {
        const QString folder = freshFolder(share.key, "download");
        ASSERT_TRUE(VNTest::writeFile(folder + "/big file.bin", data));
        QList<double> progress;
        const QString target = local->path() + "/copy.bin";
        auto answer = download(drive(share.url), "/download/big file.bin", target, &progress);
        ASSERT_FALSE(answer->error) << answer->errorText().toStdString();
        EXPECT_FALSE(answer->cancelled);
        ASSERT_TRUE(answer->document);
        EXPECT_EQ(answer->document->path(), target);
        EXPECT_EQ(answer->document->displayName(), "copy.bin");
        EXPECT_EQ(answer->document->id(), "source-id");
        EXPECT_TRUE(VNTest::readFile(target) == data);
        expectMonotonicToOne(progress);
        expectLocalFolderHolds({"copy.bin"});
        QFile::remove(target);
    }
}

TEST_F(WebDAVTransfer, EmptyFileComesDownAsAnEmptyFile) {
    const QString folder = freshFolder("dav_dir", "download-empty");
    ASSERT_TRUE(VNTest::writeFile(folder + "/empty.txt", QByteArray()));
    const QString target = local->path() + "/empty.txt";
    ASSERT_TRUE(VNTest::writeFile(target, "old content"));
    auto answer = download(drive(url("http") + "/dav"), "/download-empty/empty.txt", target);
    ASSERT_FALSE(answer->error) << answer->errorText().toStdString();
    EXPECT_TRUE(QFileInfo(target).isFile());
    EXPECT_EQ(QFileInfo(target).size(), 0);
    expectLocalFolderHolds({"empty.txt"});
}

TEST_F(WebDAVTransfer, RefusedOrDroppedDownloadLeavesNoFileAndKeepsAnExistingOne) {
    const QString target = local->path() + "/wanted.txt";
    struct Row {
        QString url, path, text;
    };
    const std::vector<Row> rows{
        {url("http"), "/no/such/file.txt", statusLine(404, "Not Found")},
        {fakeURL(), "/error-download/file.txt", statusLine(500, "Internal Server Error")},
        {fakeURL(), "/drop-download/file.bin", {}},
    };
    for (const Row &row : rows) {
        auto answer = download(drive(row.url), row.path, target);
        ASSERT_TRUE(answer->error) << row.path.toStdString();
        EXPECT_FALSE(answer->cancelled);
        EXPECT_FALSE(answer->document);
        if (row.text.isEmpty())
            EXPECT_EQ(answer->error->domain(), "NRHTTPRequestErrorDomain");
        else
            EXPECT_EQ(answer->errorText(), row.text);
        expectLocalFolderHolds({});
    }

    // A file already at the destination survives a refused download.
    ASSERT_TRUE(VNTest::writeFile(target, "mine"));
    auto again = download(drive(fakeURL()), "/missing-download/x", target);
    ASSERT_TRUE(again->error);
    EXPECT_EQ(VNTest::readFile(target), "mine");
    expectLocalFolderHolds({"wanted.txt"});
}

// A reply without a length: the engine has no byte counts to give until the
// end, yet the progress moves while the body arrives.
TEST_F(WebDAVTransfer, DownloadProgressMovesWithoutAContentLength) {
    QList<double> progress;
    const QString target = local->path() + "/chunked.bin";
    auto answer = download(drive(fakeURL()), "/chunked-download/file.bin", target, &progress, 24 * 65536);
    ASSERT_FALSE(answer->error) << answer->errorText().toStdString();
    EXPECT_EQ(QFileInfo(target).size(), 24 * 65536);
    const auto partial = std::count_if(progress.begin(), progress.end(), [](double f) { return f > 0 && f < 1; });
    EXPECT_GE(partial, 3) << "the progress stood still until the end";
    expectMonotonicToOne(progress);
}

TEST_F(WebDAVTransfer, CancelMidTransferAnswersOnceCancelledAndLeavesNoFile) {
    const QString source = local->path() + "/slow.bin";
    ASSERT_TRUE(VNTest::writeFile(source, randomBytes(8 * 1024 * 1024)));
    for (bool downloading : {true, false}) {
        auto handler = handlerFor(drive(fakeURL()));
        auto answer = std::make_shared<Answer>();
        QList<double> progress;
        auto record = [&progress](double f) { progress.append(f); };
        if (downloading)
            handler->download(QNDocument::withPath("/endless-download/big.bin"),
                              QNDocument::withPath(local->path() + "/big.bin"), record, documentAnswer(answer));
        else
            handler->upload(QNDocument::withPath(source), QNDocument::withPath("/slow-upload", true), record,
                            documentAnswer(answer));
        ASSERT_TRUE(VNTest::waitUntil([&] { return !progress.isEmpty() && progress.last() > 0; }, 20000));
        EXPECT_EQ(answer->count, 0);
        handler->cancel();
        ASSERT_TRUE(waitForAnswer(answer));
        VNTest::spin(200);
        EXPECT_EQ(answer->count, 1);
        EXPECT_TRUE(answer->cancelled);
        EXPECT_FALSE(answer->document);
        EXPECT_LT(progress.last(), 1.0);
        // The download hands the engine's cancel error along with the flag.
        EXPECT_EQ(answer->error ? answer->error->code() : 0, downloading ? 4 : 0);
        expectLocalFolderHolds({"slow.bin"});  // the source stays
    }
}

TEST_F(WebDAVTransfer, UploadToBothSharesLandsOnTheServerDisk) {
    const QByteArray data = randomBytes(2 * 1024 * 1024 + 5);
    const QString source = local->path() + QString::fromUtf8("/up lo#ad ü.bin");
    ASSERT_TRUE(VNTest::writeFile(source, data));
    struct Share { QString key, url; };
    for (const Share &share : {Share{"root_dir", url("https")}, Share{"dav_dir", url("http") + "/dav"}}) {
        const QString folder = freshFolder(share.key, "upload");
        QList<double> progress;
        auto answer = upload(drive(share.url), source, "/upload", &progress);
        ASSERT_FALSE(answer->error) << answer->errorText().toStdString();
        ASSERT_TRUE(answer->document);
        EXPECT_EQ(answer->document->path(), "/upload");
        EXPECT_TRUE(VNTest::readFile(folder + QString::fromUtf8("/up lo#ad ü.bin")) == data);
        expectMonotonicToOne(progress);
    }
}

TEST_F(WebDAVTransfer, RefusedUploadsAreNeverReportedAsStored) {
    const QString source = local->path() + "/note.txt";
    ASSERT_TRUE(VNTest::writeFile(source, "note"));
    auto full = upload(drive(fakeURL()), source, "/refuse-upload");
    ASSERT_TRUE(full->error);
    EXPECT_EQ(full->errorText(), statusLine(507, "Insufficient Storage"));
    EXPECT_FALSE(full->document);

    auto noFolder = upload(drive(url("http")), source, "/no-such-folder");
    ASSERT_TRUE(noFolder->error);
    EXPECT_EQ(noFolder->errorText(), statusLine(409, "Conflict"));

    auto noFile = upload(drive(url("http")), local->path() + "/absent.txt", "/");
    ASSERT_TRUE(noFile->error);
    EXPECT_FALSE(QFile::exists(text("root_dir") + "/absent.txt"));
}

}  // namespace
