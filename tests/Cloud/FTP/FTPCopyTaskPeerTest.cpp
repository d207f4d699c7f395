// End to end: a copy task takes a folder tree from the local drive to each
// kind of file-server drive and back, byte for byte, through the task engine
// and the handler factory; dot files, dot folders and symbolic links included.
#include "Core/QNMyDocumentsHandler.h"
#include "FTPPeerSupport.h"

#include "Core/QNCloudInterfaceFactory.h"
#include "Core/QNCopyTask.h"
#include "Core/QNCopyTaskItem.h"
#include "Core/QNTaskManager.h"
#include "support/TaskRun.h"

#include <QDir>
#include <QFileInfo>
#include <gtest/gtest.h>


using namespace FTPPeer;

namespace {

using VNTest::compareTrees;

void writeSampleTree(const QString &root)
{
    const QMap<QString, QByteArray> tree = {
        {QStringLiteral("top.txt"), "top level\n"},
        {QStringLiteral("empty.bin"), QByteArray()},
        {QStringLiteral(".hidden"), "hidden\n"},
        {QStringLiteral(".dot folder/.inner/settings.ini"), "[dot]\n"},
        {QStringLiteral("big.bin"), randomBytes(3 * 1024 * 1024 + 16, 3)},
        {QStringLiteral("name with spaces/it's \"quoted\".txt"), "quoted\n"},
        {QString::fromUtf8("Ünïcødé/日本語.txt"), "non-ascii\n"},
        {QStringLiteral("one/two/three/deep.bin"), randomBytes(70000, 4)},
        {QStringLiteral("one/#hash ?q %41.txt"), "odd\n"},
    };
    for (auto it = tree.begin(); it != tree.end(); ++it)
        VNTest::writeFile(root + QLatin1Char('/') + it.key(), it.value());
    QDir().mkpath(root + QStringLiteral("/empty folder"));
}

VNTest::ItemRun copy(const std::shared_ptr<QNTaskManager> &manager, const QNDriveConfigPtr &from,
                     const QNDriveConfigPtr &to, const QNDocumentPtr &document, const QNDocumentPtr &destination)
{
    return VNTest::runItem(std::make_shared<QNCopyTask>(), std::make_shared<QNCopyTaskItem>(from, to, document, destination),
                           240000, manager);
}

class FTPCopyTask : public ::testing::TestWithParam<Kind> {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(root(GetParam()).isEmpty()) << "the test peer is not running";
        QNCloudInterfaceFactory::registerCoreHandlers();
        QNFTPHandler::registerHandler();
        temp = VNTest::makeTempDir();
        QNFTPHandler::setKnownHostsFile(temp->path() + QStringLiteral("/app/known_hosts"));
        manager = std::make_shared<QNTaskManager>();
    }

    std::unique_ptr<QTemporaryDir> temp;
    std::shared_ptr<QNTaskManager> manager;
};

TEST_P(FTPCopyTask, FolderTreeGoesToTheDriveAndBackByteIdentical)
{
    const Kind kind = GetParam();
    const QString source = temp->path() + QStringLiteral("/src/tree");
    writeSampleTree(source);
    auto drive = FTPPeer::drive(kind);
    const QString scratch = makeScratchFolder(kind);
    const VNTest::ItemRun up = copy(manager, QNMyDocumentsHandler::makeLocalDriveConfig(), drive, QNDocument::withPath(source, true),
                            QNDocument::withPath(scratch, true));
    ASSERT_TRUE(up.completed);
    ASSERT_FALSE(up.error) << up.error->localizedDescription().toStdString();
    EXPECT_EQ(compareTrees(source, root(kind) + scratch + QStringLiteral("tree")).toStdString(), std::string());

    // Back, starting from the folder as the drive's listing gives it.
    const Answer listed = list(drive, scratch);
    ASSERT_FALSE(listed.error) << listed.text().toStdString();
    auto tree = find(listed.documents, QStringLiteral("tree"));
    ASSERT_TRUE(tree);
    const QString back = temp->path() + QStringLiteral("/back");
    QDir().mkpath(back);
    const VNTest::ItemRun down = copy(manager, drive, QNMyDocumentsHandler::makeLocalDriveConfig(), tree, QNDocument::withPath(back, true));
    ASSERT_TRUE(down.completed);
    ASSERT_FALSE(down.error) << down.error->localizedDescription().toStdString();
    EXPECT_FALSE(down.cancelled);
    EXPECT_EQ(compareTrees(source, back + QStringLiteral("/tree")).toStdString(), std::string());
}

// Most FTP servers, the peer's vsftpd too, leave names starting with a dot
// out of a plain listing; a folder copied off the drive must come whole.
TEST_P(FTPCopyTask, DotFilesAndDotFoldersComeAlongFromTheDrive)
{
    const Kind kind = GetParam();
    auto drive = FTPPeer::drive(kind);
    const Answer listed = list(drive, QStringLiteral("/dotted/"));
    ASSERT_FALSE(listed.error) << listed.text().toStdString();
    QStringList names = namesOf(listed.documents);
    names.sort();
    EXPECT_EQ(names, (QStringList{QStringLiteral(".config"), QStringLiteral(".profile"), QStringLiteral("visible.txt")}));
    auto config = find(listed.documents, QStringLiteral(".config"));
    ASSERT_TRUE(config);
    EXPECT_TRUE(config->isDirectory());

    const Answer top = list(drive, QStringLiteral("/"));
    ASSERT_FALSE(top.error) << top.text().toStdString();
    auto dotted = find(top.documents, QStringLiteral("dotted"));
    ASSERT_TRUE(dotted);
    const QString back = temp->path() + QStringLiteral("/back");
    QDir().mkpath(back);
    const VNTest::ItemRun down = copy(manager, drive, QNMyDocumentsHandler::makeLocalDriveConfig(), dotted, QNDocument::withPath(back, true));
    ASSERT_TRUE(down.completed);
    ASSERT_FALSE(down.error) << down.error->localizedDescription().toStdString();
    EXPECT_FALSE(down.cancelled);
    EXPECT_EQ(compareTrees(root(kind) + QStringLiteral("/dotted"), back + QStringLiteral("/dotted")).toStdString(),
              std::string());
    EXPECT_TRUE(QFileInfo::exists(back + QStringLiteral("/dotted/.config/.deeper/.secret")));
}

// Symbolic links copy as what they point at (a folder link only when it
// leads out of the tree; one left out is named in the task's end report,
// without an error); a link to nothing fails the task with its name, as any
// unreadable item does.
TEST_P(FTPCopyTask, LinksCopyAsTheirTargetsAndADanglingOneFailsByName)
{
    const Kind kind = GetParam();
    auto drive = FTPPeer::drive(kind);
    const Answer top = list(drive, QStringLiteral("/"));
    ASSERT_FALSE(top.error) << top.text().toStdString();
    const QString back = temp->path() + QStringLiteral("/back");
    QDir().mkpath(back);

    const VNTest::ItemRun links = copy(manager, drive, QNMyDocumentsHandler::makeLocalDriveConfig(), find(top.documents, QStringLiteral("links")),
                               QNDocument::withPath(back, true));
    ASSERT_TRUE(links.completed);
    // The link left out is named; all else arrives.
    EXPECT_FALSE(links.error) << links.error->localizedDescription().toStdString();
    EXPECT_TRUE(links.leftOut.join('\n').contains(QStringLiteral("\u201cfolder link\u201d in \u201c/links\u201d was not copied")))
        << links.leftOut.join('\n').toStdString();
    const QString drv = root(kind) + QStringLiteral("/links/");
    const QString got = back + QStringLiteral("/links/");
    EXPECT_FALSE(QFileInfo(got + QStringLiteral("file link.txt")).isSymLink());
    EXPECT_EQ(VNTest::readFile(got + QStringLiteral("file link.txt")), VNTest::readFile(drv + QStringLiteral("real.txt")));
    // A link to a folder of the tree being copied is not followed: that
    // folder arrives once, as itself.
    EXPECT_FALSE(QFileInfo::exists(got + QStringLiteral("folder link")));
    EXPECT_EQ(VNTest::readFile(got + QStringLiteral("real folder/inside.txt")),
              VNTest::readFile(drv + QStringLiteral("real folder/inside.txt")));
    EXPECT_EQ(compareTrees(root(kind) + QStringLiteral("/docs"), got + QStringLiteral("absolute folder link")).toStdString(),
              std::string());

    const VNTest::ItemRun broken = copy(manager, drive, QNMyDocumentsHandler::makeLocalDriveConfig(), find(top.documents, QStringLiteral("broken")),
                                QNDocument::withPath(back, true));
    ASSERT_TRUE(broken.completed);
    ASSERT_TRUE(broken.error);
    EXPECT_TRUE(broken.error->localizedDescription().contains(QStringLiteral("dangling.txt")))
        << broken.error->localizedDescription().toStdString();
    // Nothing lost on the drive, nothing cut left here.
    EXPECT_TRUE(QFileInfo::exists(root(kind) + QStringLiteral("/broken/whole.txt")));
    EXPECT_FALSE(QFileInfo::exists(back + QStringLiteral("/broken/dangling.txt")));
}

INSTANTIATE_TEST_SUITE_P(AllKinds, FTPCopyTask,
                         ::testing::Values(Kind::FTP, Kind::FTPS, Kind::ActiveFTP, Kind::SFTP),
                         [](const ::testing::TestParamInfo<Kind> &info) { return std::string(kindName(info.param)); });

}  // namespace
