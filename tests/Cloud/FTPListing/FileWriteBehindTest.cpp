// A download's bytes written from a thread of their own: every byte lands,
// in order, and a failing disk fails the download.
#include "Cloud/QNFileWriteBehind.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {

QByteArray pattern(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = char((i * 131) % 251);
    return bytes;
}

struct Pieces {
    const char *what;
    QList<qsizetype> sizes;
};

// Blocks of 64 bytes, so that pieces fall on, across and far past their edges.
TEST(FileWriteBehind, EveryByteLandsInOrderWhateverThePiecesSizes)
{
    const Pieces cases[] = {
        {"nothing", {}},
        {"less than a block", {1, 7, 20}},
        {"exactly one block", {64}},
        {"one block in two pieces", {63, 1}},
        {"across block edges", {60, 10, 60, 10, 3}},
        {"a piece of several blocks", {5, 64 * 5 + 3, 2}},
        {"many whole blocks", {64, 64, 64, 64, 64, 64}},
    };
    for (const Pieces &c : cases) {
        SCOPED_TRACE(c.what);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("out.bin"));
        const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
        ASSERT_GE(fd, 0);
        qsizetype total = 0;
        for (qsizetype size : c.sizes)
            total += size;
        const QByteArray expected = pattern(total);
        {
            QNFileWriteBehind writer(fd, 64);
            qsizetype at = 0;
            for (qsizetype size : c.sizes) {
                ASSERT_TRUE(writer.write(expected.constData() + at, size));
                at += size;
            }
            EXPECT_TRUE(writer.finish());
            EXPECT_EQ(writer.error(), 0);
        }
        ::close(fd);
        QFile written(path);
        ASSERT_TRUE(written.open(QIODevice::ReadOnly));
        EXPECT_EQ(written.readAll(), expected);
    }
}

// /dev/full refuses every write with ENOSPC, as a full disk does.
TEST(FileWriteBehind, AFullDiskFailsTheFinishWithTheDiskError)
{
    struct Case {
        const char *what;
        qsizetype size;
    } cases[] = {
        {"less than a block: only finish() writes", 10},
        {"one block: the writer thread fails", 64},
        {"many blocks", 64 * 20 + 5},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const int fd = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        {
            QNFileWriteBehind writer(fd, 64);
            const QByteArray bytes = pattern(c.size);
            bool refused = false;
            for (qsizetype at = 0; at < bytes.size() && !refused; at += 16)
                refused = !writer.write(bytes.constData() + at, qMin<qsizetype>(16, bytes.size() - at));
            EXPECT_FALSE(writer.finish());
            EXPECT_EQ(writer.error(), ENOSPC);
        }
        ::close(fd);
    }
}

TEST(FileWriteBehind, DroppedUnfinishedItWritesNoMoreAndReturns)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("out.bin"));
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    const QByteArray bytes = pattern(64 * 3 + 10);
    {
        QNFileWriteBehind writer(fd, 64);
        ASSERT_TRUE(writer.write(bytes.constData(), bytes.size()));
    }
    ::close(fd);
    // The three whole blocks were handed over and are written; the tail
    // that never made a block is not.
    EXPECT_EQ(QFileInfo(path).size(), 64 * 3);
}

}  // namespace
