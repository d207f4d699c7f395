// The FUSE mirror the tests of one storage reached by two paths stand on:
// what is written through either path shows through the other, the two
// show different devices, and nothing is mounted once it is unmounted.
#include "support/FuseMirror.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

class FuseMirrorFixture : public ::testing::Test {
protected:
    // A test that fails mid-way leaves nothing mounted.
    void TearDown() override
    {
        if (mirror)
            mirror->unmount();
    }

    std::unique_ptr<QTemporaryDir> temp = VNTest::makeTempDir();
    std::unique_ptr<VNTest::FuseMirror> mirror;
};

dev_t deviceOf(const QString &path)
{
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_dev : dev_t(0);
}

TEST_F(FuseMirrorFixture, OneFolderAtTwoPathsUntilUnmounted)
{
    const QString share = temp->path() + QStringLiteral("/share");
    const QString mnt = temp->path() + QStringLiteral("/mnt");
    ASSERT_TRUE(VNTest::writeFile(share + QStringLiteral("/a.txt"), "written in share"));
    mirror = std::make_unique<VNTest::FuseMirror>(share, mnt);
    if (!mirror->isMounted())
        GTEST_SKIP() << mirror->whyNot().toStdString();

    EXPECT_EQ(VNTest::readFile(mnt + QStringLiteral("/a.txt")), QByteArray("written in share"));
    ASSERT_TRUE(VNTest::writeFile(mnt + QStringLiteral("/sub/b.txt"), "written in mnt"));
    EXPECT_EQ(VNTest::readFile(share + QStringLiteral("/sub/b.txt")), QByteArray("written in mnt"));
    EXPECT_NE(deviceOf(share + QStringLiteral("/a.txt")), deviceOf(mnt + QStringLiteral("/a.txt")));

    // A mount that cannot be made says why.
    const VNTest::FuseMirror refused(temp->path() + QStringLiteral("/missing"), temp->path() + QStringLiteral("/mnt2"));
    EXPECT_FALSE(refused.isMounted());
    EXPECT_FALSE(refused.whyNot().isEmpty());

    EXPECT_TRUE(mirror->unmount());
    EXPECT_FALSE(mirror->isMounted());
    EXPECT_FALSE(QFileInfo::exists(mnt + QStringLiteral("/a.txt")));
    EXPECT_EQ(VNTest::readFile(share + QStringLiteral("/sub/b.txt")), QByteArray("written in mnt"));
}

}  // namespace
