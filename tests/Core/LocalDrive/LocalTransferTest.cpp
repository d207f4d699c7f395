// Downloads and uploads through the local-folder handler: chunks, progress,
// long names, cancel, and failures that must never look like success.
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

constexpr qint64 kChunk = 65536;

}  // namespace

TEST(LocalTransfer, FilesArriveWholeWithProgressAtChunkBoundaries) {
    const qint64 odd = 3 * kChunk + 100;
    struct Case {
        qint64 size;
        std::vector<double> progress;
    };
    const std::vector<Case> cases{
        {0, {1.0}},
        {kChunk, {1.0, 1.0}},
        {odd, {double(kChunk) / odd, double(2 * kChunk) / odd, double(3 * kChunk) / odd, 1.0, 1.0}},
    };
    for (const auto &c : cases) {
        auto dir = VNTest::makeTempDir();
        VNTest::writeFile(dir->path() + "/src.bin", pattern(c.size));
        VNTest::writeFile(dir->path() + "/dst.bin", QByteArray(200000, 'o'));  // replaced whole
        auto handler = makeLocalHandler();
        DocumentAnswer a;
        auto dest = QNDocument::withPath(dir->path() + "/dst.bin");
        dest->setDisplayName("stale");
        handler->download(QNDocument::withPath(dir->path() + "/src.bin"), dest, a.progressCallback(), a.callback());
        ASSERT_TRUE(a.wait());
        EXPECT_FALSE(a.error);
        EXPECT_FALSE(a.answeredOnMain);
        EXPECT_EQ(a.document, dest);
        EXPECT_EQ(dest->displayName(), "dst.bin");
        ASSERT_EQ(a.progress.size(), c.progress.size()) << c.size;
        for (size_t i = 0; i < c.progress.size(); ++i)
            EXPECT_DOUBLE_EQ(a.progress[i], c.progress[i]);
        EXPECT_EQ(VNTest::readFile(dir->path() + "/dst.bin"), pattern(c.size));
        EXPECT_EQ(folderEntries(dir->path()), (QStringList{"dst.bin", "src.bin"}));  // nothing left over
    }
}

TEST(LocalTransfer, UploadIntoAFolderKeepsTheNameUpToTheFileSystemsLongest) {
    // 255 bytes is the most a name may have: the hidden partial file must fit too.
    const QString multiByte = QString(127, QChar(0xe9)) + QLatin1Char('x');
    ASSERT_EQ(QFile::encodeName(multiByte).size(), 255);
    for (const QString &name : {QStringLiteral("report.pdf"), QString(251, QLatin1Char('n')) + ".bin", multiByte}) {
        auto dir = VNTest::makeTempDir();
        VNTest::writeFile(dir->path() + "/from/" + name, pattern(1000));
        QDir(dir->path()).mkdir("to");
        auto handler = makeLocalHandler();
        DocumentAnswer a;
        auto folder = QNDocument::withPath(dir->path() + "/to", true);
        folder->setDisplayName("stale");
        handler->upload(QNDocument::withPath(dir->path() + "/from/" + name), folder, a.progressCallback(),
                        a.callback());
        ASSERT_TRUE(a.wait());
        EXPECT_FALSE(a.error) << a.error->localizedDescription().toStdString();
        EXPECT_EQ(a.document, folder);  // the folder document comes back
        EXPECT_EQ(folder->displayName(), "to");
        EXPECT_EQ(VNTest::readFile(dir->path() + "/to/" + name), pattern(1000));
        EXPECT_EQ(folderEntries(dir->path() + "/to"), QStringList{name});
    }
}

TEST(LocalTransfer, WhatCannotBeCopiedFailsAndWritesNothing) {
    auto dir = VNTest::makeTempDir();
    const QString root = dir->path();
    VNTest::writeFile(root + "/src", "data");
    VNTest::writeFile(root + "/secret", "x");
    QFile::setPermissions(root + "/secret", QFileDevice::WriteOwner);
    VNTest::writeFile(root + "/dst/keep.txt", "keep");
    QDir(root).mkdir("folder");
    QDir(root).mkdir("to");
    ASSERT_EQ(::mkfifo(QFile::encodeName(root + "/pipe").constData(), 0600), 0);
    const QStringList before = folderEntries(root);
    struct Case {
        bool upload;
        QString source, destination;
    };
    std::vector<Case> cases{
        {false, "/missing", "/out"},
        {false, "/folder", "/out"},
        {false, "/pipe", "/out"},  // refused without hanging
        {false, "/src", "/no/such/folder/out"},
        {false, "/src", "/dst"},  // a folder is never replaced
        {true, "/src", "/missing"},
        {true, "/..", "/to"},  // an unsafe name
    };
    if (::geteuid() != 0)
        cases.push_back({false, "/secret", "/out"});  // root reads everything
    for (const auto &c : cases) {
        auto handler = makeLocalHandler();
        DocumentAnswer a;
        auto source = QNDocument::withPath(root + c.source);
        auto destination = QNDocument::withPath(root + c.destination, c.upload);
        if (c.upload)
            handler->upload(source, destination, a.progressCallback(), a.callback());
        else
            handler->download(source, destination, a.progressCallback(), a.callback());
        ASSERT_TRUE(a.wait());
        ASSERT_TRUE(a.error) << c.source.toStdString() << " -> " << c.destination.toStdString();
        EXPECT_EQ(a.error->domain(), "QNMyDocumentsHandler");
        EXPECT_EQ(a.error->code(), 42);
        EXPECT_FALSE(a.error->userInfo().value("error").toString().isEmpty());
        EXPECT_FALSE(a.document || a.cancelled);
    }
    EXPECT_EQ(folderEntries(root), before);
    EXPECT_EQ(VNTest::readFile(root + "/dst/keep.txt"), "keep");
    EXPECT_TRUE(folderEntries(root + "/to").isEmpty());
}

TEST(LocalTransfer, CancelLeavesNoFileUnderTheTargetName) {
    auto dir = VNTest::makeTempDir();
    const qint64 size = 64 * kChunk;
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
    EXPECT_FALSE(a.error || a.document);
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

TEST(LocalTransfer, ACopyTakesTheSourcesPermissionsAndAReplacedFileKeepsItsOwn) {
    auto dir = VNTest::makeTempDir();
    const QString source = dir->path() + "/private.txt";
    VNTest::writeFile(source, "secret");
    VNTest::writeFile(dir->path() + "/replaced.txt", "old");
    ASSERT_EQ(::chmod(QFile::encodeName(source).constData(), 0600), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(dir->path() + "/replaced.txt").constData(), 0640), 0);
    auto handler = makeLocalHandler();
    for (const auto &[target, mode] : {std::pair{"/new.txt", 0600}, {"/replaced.txt", 0640}}) {
        DocumentAnswer a;
        handler->download(QNDocument::withPath(source), QNDocument::withPath(dir->path() + target),
                          a.progressCallback(), a.callback());
        ASSERT_TRUE(a.wait());
        ASSERT_FALSE(a.error) << target;
        struct stat info {};
        ASSERT_EQ(::stat(QFile::encodeName(dir->path() + target).constData(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, mode_t(mode)) << target;
        EXPECT_EQ(VNTest::readFile(dir->path() + target), "secret");
    }
}
