// Downloads and uploads through the local-folder handler: chunks, progress,
// cancel, and failures that must never look like success.
#include "LocalTestHelpers.h"

#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

QByteArray pattern(qint64 size) {
    QByteArray data(size, Qt::Uninitialized);
    for (qint64 i = 0; i < size; ++i) data[i] = static_cast<char>((i * 31 + 7) & 0xff);
    return data;
}

}  // namespace

TEST(LocalTransfer, EmptyFile) {
    auto dir = VNTest::makeTempDir();
    VNTest::writeFile(dir->path() + "/empty", "");
    auto handler = makeLocalHandler();
    DocumentAnswer a;
    auto dest = QNDocument::withPath(dir->path() + "/copy");
    handler->download(QNDocument::withPath(dir->path() + "/empty"), dest, a.progressCallback(), a.callback());
    ASSERT_TRUE(a.wait());
    EXPECT_FALSE(a.error);
    EXPECT_EQ(a.document, dest);
    EXPECT_EQ(a.progress, std::vector<double>{1.0});
    EXPECT_TRUE(QFileInfo::exists(dir->path() + "/copy"));
    EXPECT_EQ(QFileInfo(dir->path() + "/copy").size(), 0);
}

TEST(LocalTransfer, ExactlyOneChunk) {
    auto dir = VNTest::makeTempDir();
    VNTest::writeFile(dir->path() + "/one", pattern(65536));
    auto handler = makeLocalHandler();
    DocumentAnswer a;
    handler->download(QNDocument::withPath(dir->path() + "/one"), QNDocument::withPath(dir->path() + "/out"),
                      a.progressCallback(), a.callback());
    ASSERT_TRUE(a.wait());
    EXPECT_FALSE(a.error);
    EXPECT_EQ(a.progress, (std::vector<double>{1.0, 1.0}));
    EXPECT_EQ(VNTest::readFile(dir->path() + "/out"), pattern(65536));
}

TEST(LocalTransfer, ProgressAtChunkBoundaries) {
    auto dir = VNTest::makeTempDir();
    const qint64 size = 3 * 65536 + 100;
    VNTest::writeFile(dir->path() + "/src.bin", pattern(size));
    auto handler = makeLocalHandler();
    DocumentAnswer a;
    auto dest = QNDocument::withPath(dir->path() + "/dst.bin");
    dest->setDisplayName("stale");
    handler->download(QNDocument::withPath(dir->path() + "/src.bin"), dest, a.progressCallback(), a.callback());
    ASSERT_TRUE(a.wait());
    EXPECT_FALSE(a.error);
    EXPECT_FALSE(a.answeredOnMain);
    ASSERT_EQ(a.progress.size(), 5u);
    for (int i = 0; i < 3; ++i) EXPECT_DOUBLE_EQ(a.progress[i], double((i + 1) * 65536) / double(size));
    EXPECT_DOUBLE_EQ(a.progress[3], 1.0);
    EXPECT_DOUBLE_EQ(a.progress[4], 1.0);
    EXPECT_EQ(VNTest::readFile(dir->path() + "/dst.bin"), pattern(size));
    EXPECT_EQ(dest->displayName(), "dst.bin");
    EXPECT_EQ(folderEntries(dir->path()), (QStringList{"dst.bin", "src.bin"}));  // nothing left over
}

TEST(LocalTransfer, ExistingTargetIsReplacedWhole) {
    auto dir = VNTest::makeTempDir();
    VNTest::writeFile(dir->path() + "/src", "new contents");
    VNTest::writeFile(dir->path() + "/dst", QByteArray(200000, 'o'));
    auto handler = makeLocalHandler();
    DocumentAnswer a;
    handler->download(QNDocument::withPath(dir->path() + "/src"), QNDocument::withPath(dir->path() + "/dst"), nullptr,
                      a.callback());
    ASSERT_TRUE(a.wait());
    EXPECT_FALSE(a.error);
    EXPECT_EQ(VNTest::readFile(dir->path() + "/dst"), "new contents");
}

TEST(LocalTransfer, UploadIntoAFolderKeepsTheName) {
    auto dir = VNTest::makeTempDir();
    VNTest::writeFile(dir->path() + "/from/report.pdf", pattern(1000));
    QDir(dir->path()).mkdir("to");
    auto handler = makeLocalHandler();
    DocumentAnswer a;
    auto folder = QNDocument::withPath(dir->path() + "/to", true);
    folder->setDisplayName("stale");
    handler->upload(QNDocument::withPath(dir->path() + "/from/report.pdf"), folder, a.progressCallback(), a.callback());
    ASSERT_TRUE(a.wait());
    EXPECT_FALSE(a.error);
    EXPECT_EQ(a.document, folder);  // the folder document comes back
    EXPECT_EQ(folder->displayName(), "to");
    EXPECT_EQ(VNTest::readFile(dir->path() + "/to/report.pdf"), pattern(1000));
    EXPECT_DOUBLE_EQ(a.progress.back(), 1.0);
}

TEST(LocalTransfer, UnreadableSourceIsAnError) {
    auto dir = VNTest::makeTempDir();
    auto handler = makeLocalHandler();
    DocumentAnswer a;
    handler->download(QNDocument::withPath(dir->path() + "/missing"), QNDocument::withPath(dir->path() + "/out"),
                      a.progressCallback(), a.callback());
    ASSERT_TRUE(a.wait());
    ASSERT_TRUE(a.error);
    EXPECT_EQ(a.error->domain(), "QNMyDocumentsHandler");
    EXPECT_EQ(a.error->code(), 42);
    EXPECT_FALSE(a.error->userInfo().value("error").toString().isEmpty());
    EXPECT_FALSE(a.document);
    EXPECT_FALSE(a.cancelled);
    EXPECT_TRUE(a.progress.empty());
    EXPECT_FALSE(QFileInfo::exists(dir->path() + "/out"));
    EXPECT_TRUE(folderEntries(dir->path()).isEmpty());
}

TEST(LocalTransfer, SourceWithoutReadPermissionIsAnError) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "root reads everything";
    auto dir = VNTest::makeTempDir();
    VNTest::writeFile(dir->path() + "/secret", "x");
    QFile::setPermissions(dir->path() + "/secret", QFileDevice::WriteOwner);
    auto handler = makeLocalHandler();
    DocumentAnswer a;
    handler->download(QNDocument::withPath(dir->path() + "/secret"), QNDocument::withPath(dir->path() + "/out"),
                      nullptr, a.callback());
    ASSERT_TRUE(a.wait());
    EXPECT_TRUE(a.error);
    EXPECT_FALSE(QFileInfo::exists(dir->path() + "/out"));
}

TEST(LocalTransfer, FolderAsSourceIsAnError) {
    auto dir = VNTest::makeTempDir();
    QDir(dir->path()).mkdir("folder");
    auto handler = makeLocalHandler();
    DocumentAnswer a;
    handler->download(QNDocument::withPath(dir->path() + "/folder"), QNDocument::withPath(dir->path() + "/out"),
                      nullptr, a.callback());
    ASSERT_TRUE(a.wait());
    EXPECT_TRUE(a.error);
    EXPECT_FALSE(QFileInfo::exists(dir->path() + "/out"));
}

TEST(LocalTransfer, PipeAsSourceIsRefusedWithoutHanging) {
    auto dir = VNTest::makeTempDir();
    const QByteArray fifo = QFile::encodeName(dir->path() + "/pipe");
    ASSERT_EQ(::mkfifo(fifo.constData(), 0600), 0);
    auto handler = makeLocalHandler();
    DocumentAnswer a;
    handler->download(QNDocument::withPath(dir->path() + "/pipe"), QNDocument::withPath(dir->path() + "/out"), nullptr,
                      a.callback());
    ASSERT_TRUE(a.wait());
    EXPECT_TRUE(a.error);
    EXPECT_FALSE(QFileInfo::exists(dir->path() + "/out"));
}

TEST(LocalTransfer, UnwritableDestinationIsAnError) {
    auto dir = VNTest::makeTempDir();
    VNTest::writeFile(dir->path() + "/src", "data");
    auto handler = makeLocalHandler();
    DocumentAnswer a;
    handler->download(QNDocument::withPath(dir->path() + "/src"),
                      QNDocument::withPath(dir->path() + "/no/such/folder/out"), nullptr, a.callback());
    ASSERT_TRUE(a.wait());
    ASSERT_TRUE(a.error);
    EXPECT_FALSE(a.cancelled);
    DocumentAnswer b;
    handler->upload(QNDocument::withPath(dir->path() + "/src"), QNDocument::withPath(dir->path() + "/missing", true),
                    nullptr, b.callback());
    ASSERT_TRUE(b.wait());
    EXPECT_TRUE(b.error);
}

TEST(LocalTransfer, DestinationThatIsAFolderIsNotReplaced) {
    auto dir = VNTest::makeTempDir();
    VNTest::writeFile(dir->path() + "/src", "data");
    VNTest::writeFile(dir->path() + "/dst/keep.txt", "keep");
    auto handler = makeLocalHandler();
    DocumentAnswer a;
    handler->download(QNDocument::withPath(dir->path() + "/src"), QNDocument::withPath(dir->path() + "/dst"), nullptr,
                      a.callback());
    ASSERT_TRUE(a.wait());
    EXPECT_TRUE(a.error);
    EXPECT_EQ(VNTest::readFile(dir->path() + "/dst/keep.txt"), "keep");
    EXPECT_EQ(folderEntries(dir->path()), (QStringList{"dst", "src"}));
}

TEST(LocalTransfer, CancelLeavesNoFileUnderTheTargetName) {
    auto dir = VNTest::makeTempDir();
    const qint64 size = 64 * 65536;
    VNTest::writeFile(dir->path() + "/big", pattern(size));
    VNTest::writeFile(dir->path() + "/old-target", "previous version");
    auto handler = makeLocalHandler();
    DocumentAnswer a;
    // Cancel from inside the first progress report: the next chunk stops it.
    std::atomic<bool> cancelledOnce{false};
    auto progress = [&, record = a.progressCallback()](double f) {
        record(f);
        if (!cancelledOnce.exchange(true))
            handler->cancel();
    };
    handler->download(QNDocument::withPath(dir->path() + "/big"), QNDocument::withPath(dir->path() + "/old-target"),
                      progress, a.callback());
    ASSERT_TRUE(a.wait());
    EXPECT_TRUE(a.cancelled);
    EXPECT_FALSE(a.error);
    EXPECT_FALSE(a.document);
    EXPECT_EQ(a.progress.size(), 1u);  // stopped within one chunk
    EXPECT_EQ(VNTest::readFile(dir->path() + "/old-target"), "previous version");
    EXPECT_EQ(folderEntries(dir->path()), (QStringList{"big", "old-target"}));

    DocumentAnswer b;
    auto second = makeLocalHandler();
    second->cancel();
    QDir(dir->path()).mkdir("into");
    second->upload(QNDocument::withPath(dir->path() + "/big"), QNDocument::withPath(dir->path() + "/into", true),
                   nullptr, b.callback());
    ASSERT_TRUE(b.wait());
    EXPECT_TRUE(b.cancelled);
    EXPECT_TRUE(folderEntries(dir->path() + "/into").isEmpty());
}

TEST(LocalTransfer, UploadWithAnUnsafeSourceNameIsRefused) {
    auto dir = VNTest::makeTempDir();
    QDir(dir->path()).mkdir("to");
    auto handler = makeLocalHandler();
    DocumentAnswer a;
    handler->upload(QNDocument::withPath(dir->path() + "/.."), QNDocument::withPath(dir->path() + "/to", true), nullptr,
                    a.callback());
    ASSERT_TRUE(a.wait());
    EXPECT_TRUE(a.error);
}
