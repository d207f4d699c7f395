// Removing and moving folder trees on the file-server drives, judged on the
// server's disk: a tree with sub-folders goes whole, a link is removed as
// itself and never its target's contents, a link back to an ancestor
// does not make a copy run forever, a folder holding a name no listing
// line shows is kept, and so is the second of two names this computer
// cannot tell apart.
#include "Core/QNMyDocumentsHandler.h"
#include "FTPPeerSupport.h"

#include "Core/QNCloudInterfaceFactory.h"
#include "Core/QNCopyTask.h"
#include "Core/QNCopyTaskItem.h"
#include "Core/QNMoveTask.h"
#include "Core/QNMoveTaskItem.h"
#include "Core/QNRemoveTaskItem.h"
#include "Core/QNTaskManager.h"
#include "Core/QNUtils.h"
#include "support/TaskRun.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace FTPPeer;

namespace {

class FTPMoveRemove : public ::testing::TestWithParam<Kind> {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(root(GetParam()).isEmpty()) << "the test peer is not running";
        QNCloudInterfaceFactory::registerCoreHandlers();
        QNFTPHandler::registerHandler();
        temp = VNTest::makeTempDir();
        QNFTPHandler::setKnownHostsFile(temp->path() + QStringLiteral("/app/known_hosts"));
        manager = std::make_shared<QNTaskManager>();
        drive = FTPPeer::drive(GetParam());
        scratch = makeScratchFolder(GetParam());
        onDisk = root(GetParam()) + scratch;
    }

    // Files (and links: "name" -> "target") written straight onto the
    // server's disk below the scratch folder, owned by the test account.
    void writeTree(const QMap<QString, QByteArray> &files, const QMap<QString, QString> &links = {})
    {
        for (auto it = files.begin(); it != files.end(); ++it)
            VNTest::writeFile(onDisk + it.key(), it.value());
        for (auto it = links.begin(); it != links.end(); ++it)
            ASSERT_EQ(::symlink(QFile::encodeName(it.value()).constData(),
                                QFile::encodeName(onDisk + it.key()).constData()),
                      0);
        struct stat owner {};
        ASSERT_EQ(::stat(QFile::encodeName(root(GetParam())).constData(), &owner), 0);
        QDirIterator all(onDisk, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                         QDirIterator::Subdirectories);
        while (all.hasNext())
            (void)::lchown(QFile::encodeName(all.next()).constData(), owner.st_uid, owner.st_gid);
    }

    // The scratch folder's entry of that name, as the drive lists it.
    QNDocumentPtr listed(const QString &name)
    {
        const Answer answer = list(drive, scratch);
        EXPECT_FALSE(answer.error) << answer.text().toStdString();
        return find(answer.documents, name);
    }

    // A move of the folder into a fresh folder of this computer, out.
    VNTest::ItemRun moveHere(const QNDocumentPtr &folder, const QString &out)
    {
        QDir().mkpath(out);
        return VNTest::runItem(std::make_shared<QNMoveTask>(),
                               std::make_shared<QNMoveTaskItem>(drive, QNMyDocumentsHandler::makeLocalDriveConfig(),
                                                                folder, QNDocument::withPath(out, true)),
                               120000, manager);
    }

    std::unique_ptr<QTemporaryDir> temp;
    std::shared_ptr<QNTaskManager> manager;
    QNDriveConfigPtr drive;
    QString scratch;
    QString onDisk;
};

TEST_P(FTPMoveRemove, RemovingAFolderWithSubfoldersRemovesTheWholeTree)
{
    writeTree({{QStringLiteral("a/x.txt"), "x"}, {QStringLiteral("a/b/y.txt"), "y"}, {QStringLiteral("a/b/c/z.txt"), "z"}});
    auto folder = listed(QStringLiteral("a"));
    ASSERT_TRUE(folder);
    const auto run = VNTest::runItem(std::make_shared<QNTask>(), std::make_shared<QNRemoveTaskItem>(drive, folder),
                                     120000, manager);
    ASSERT_TRUE(run.completed);
    EXPECT_FALSE(run.error) << run.error->localizedDescription().toStdString();
    EXPECT_FALSE(QFileInfo::exists(onDisk + QStringLiteral("a")));
}

// a/l -> ../keep and a/up -> .. : the copy follows l (keep is outside the
// tree) and not up (it leads back to the folder holding a), which the
// task's end report names; the move removes l as the link itself and keeps
// a, which still holds up.
TEST_P(FTPMoveRemove, MoveOfAFolderWithLinksNeverRemovesWhatTheyLeadTo)
{
    writeTree({{QStringLiteral("a/x.txt"), "x"}, {QStringLiteral("keep/k.txt"), "k"}},
              {{QStringLiteral("a/l"), QStringLiteral("../keep")}, {QStringLiteral("a/up"), QStringLiteral("..")}});
    auto folder = listed(QStringLiteral("a"));
    ASSERT_TRUE(folder);
    const QString out = temp->path() + QStringLiteral("/out");
    QDir().mkpath(out);
    const auto run = VNTest::runItem(std::make_shared<QNMoveTask>(),
                                     std::make_shared<QNMoveTaskItem>(drive, QNMyDocumentsHandler::makeLocalDriveConfig(), folder,
                                                                      QNDocument::withPath(out, true)),
                                     120000, manager);
    ASSERT_TRUE(run.completed);
    EXPECT_FALSE(run.error) << run.error->localizedDescription().toStdString();
    EXPECT_TRUE(run.leftOut.join(' ').contains(QStringLiteral("\u201cup\u201d"))) << run.leftOut.join(' ').toStdString();
    EXPECT_EQ(VNTest::readFile(onDisk + QStringLiteral("keep/k.txt")), QByteArray("k"));
    EXPECT_EQ(VNTest::readFile(out + QStringLiteral("/a/l/k.txt")), QByteArray("k"));
    EXPECT_FALSE(QFileInfo::exists(out + QStringLiteral("/a/up")));
    EXPECT_FALSE(QFileInfo::exists(onDisk + QStringLiteral("a/x.txt")));
    EXPECT_FALSE(QFileInfo(onDisk + QStringLiteral("a/l")).isSymLink());
    EXPECT_TRUE(QFileInfo(onDisk + QStringLiteral("a/up")).isSymLink());

    // Removing a folder that holds a link removes the link, not what is behind it.
    writeTree({{QStringLiteral("b/y.txt"), "y"}}, {{QStringLiteral("b/l"), QStringLiteral("../keep")}});
    const auto removal = VNTest::runItem(std::make_shared<QNTask>(),
                                         std::make_shared<QNRemoveTaskItem>(drive, listed(QStringLiteral("b"))),
                                         120000, manager);
    ASSERT_TRUE(removal.completed);
    EXPECT_FALSE(removal.error) << removal.error->localizedDescription().toStdString();
    EXPECT_FALSE(QFileInfo::exists(onDisk + QStringLiteral("b")));
    EXPECT_EQ(VNTest::readFile(onDisk + QStringLiteral("keep/k.txt")), QByteArray("k"));
}

// A name holding a line break is listed as it stands, so its line breaks in
// two: the first half names "." (no entry), and the second is a line no
// format reads, or one that names nothing. The move copies the rest,
// removes only that, and keeps the folder with the name in it without
// failing; its end report names the folder and why.
TEST_P(FTPMoveRemove, AMoveKeepsAFolderHoldingANameTheListingCannotShow)
{
    struct Row {
        const char *name;
        QString folder;
        QString unlisted;  // the name's second half after ".\n"
    };
    const Row rows[] = {{"a line no format reads", QStringLiteral("a"), QStringLiteral("stray")},
                        {"a line with an empty name", QStringLiteral("b"),
                         QStringLiteral("-rw-r--r--   1 u g 1 Jan  1  2020 ")}};
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        const QString unlisted = row.folder + QStringLiteral("/.\n") + row.unlisted;
        writeTree({{row.folder + QStringLiteral("/x.txt"), "x"}, {unlisted, "s"}});
        auto folder = listed(row.folder);
        ASSERT_TRUE(folder);
        const QString out = temp->path() + QStringLiteral("/out-") + row.folder;
        const auto run = moveHere(folder, out);
        EXPECT_TRUE(run.completed) << row.name;
        EXPECT_FALSE(run.error) << row.name << ": " << run.error->localizedDescription().toStdString();
        const QString report = run.leftOut.join('\n');
        EXPECT_TRUE(report.startsWith(QStringLiteral("An entry of \u201c")) &&
                    report.contains(QLatin1Char('/') + row.folder +
                                    QStringLiteral("\u201d was not moved: the server lists it in a line this drive "
                                                   "cannot read")))
            << report.toStdString();
        EXPECT_EQ(VNTest::readFile(onDisk + unlisted), QByteArray("s"));
        EXPECT_FALSE(QFileInfo::exists(onDisk + row.folder + QStringLiteral("/x.txt")));
        EXPECT_EQ(VNTest::readFile(out + QLatin1Char('/') + row.folder + QStringLiteral("/x.txt")), QByteArray("x"));
    }
}

// "caf\xE9.txt" and "caf\xE8.txt" on a drive set to UTF-8 differ only in
// bytes the encoding cannot read, and this computer stores both as
// "caf\uFFFD.txt": a move here takes one, and the other stays at its source,
// named in the task's end report (both went onto the one local file, and
// both sources were removed: the bytes of one were gone).
TEST_P(FTPMoveRemove, AMoveHereTakesOneOfTwoNamesThisComputerStoresAlikeAndKeepsTheOther)
{
    const QByteArray names[] = {"caf\xE9.txt", "caf\xE8.txt"}, bytes[] = {"e9", "e8"};
    writeTree({{QStringLiteral("c/e9"), bytes[0]}, {QStringLiteral("c/e8"), bytes[1]}});
    for (int i = 0; i < 2; ++i)
        ASSERT_EQ(::rename(QFile::encodeName(onDisk + QStringLiteral("c/") + QString::fromLatin1(bytes[i])).constData(),
                           (QFile::encodeName(onDisk) + "c/" + names[i]).constData()),
                  0);
    drive->setStringEncoding(4);
    auto folder = listed(QStringLiteral("c"));
    ASSERT_TRUE(folder);
    const QString out = temp->path() + QStringLiteral("/out");
    const auto run = moveHere(folder, out);
    ASSERT_TRUE(run.completed);
    EXPECT_FALSE(run.error) << run.error->localizedDescription().toStdString();
    EXPECT_TRUE(run.leftOut.join(' ').contains(QStringLiteral("stores under the same name")))
        << run.leftOut.join(' ').toStdString();
    // Here the bytes of one; on the server the other, under its own name.
    const QList<QByteArray> here = VNTest::namesOnDisk(out + QStringLiteral("/c"));
    ASSERT_EQ(here.join(',').toStdString(), "caf\xEF\xBF\xBD.txt");
    const int moved = VNTest::readOnDisk(out + QStringLiteral("/c"), here.first()) == bytes[0] ? 0 : 1;
    EXPECT_EQ(VNTest::readOnDisk(out + QStringLiteral("/c"), here.first()), bytes[moved]);
    EXPECT_EQ(VNTest::namesOnDisk(onDisk + QStringLiteral("c")).join(',').toStdString(), names[1 - moved].toStdString());
    EXPECT_EQ(VNTest::readOnDisk(onDisk + QStringLiteral("c"), names[1 - moved]), bytes[1 - moved]);
}

// "caf\xE9.txt" on a drive set to UTF-8 arrives here as "caf\uFFFD.txt",
// as the copy means it to: moved loose, or in a folder merged into its
// earlier copy here, it is moved (its source goes), and the move's last
// look at the copy does not take the name this computer gave it for a copy
// that vanished with the source.
TEST_P(FTPMoveRemove, AMoveHereOfANameNotUtf8IsDoneLooseOrInAMergedFolder)
{
    struct Row {
        const char *name;
        bool inFolder;  // the folder "m" holding it, merged into "m" here
    };
    const Row rows[] = {{"loose", false}, {"in a merged folder", true}};
    int n = 0;
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        const QString folder = QStringLiteral("n%1/").arg(n);
        const QString out = temp->path() + QStringLiteral("/out%1").arg(n++);
        writeTree({{folder + QStringLiteral("m/e9"), "e9"}});
        const int renamed = ::rename(QFile::encodeName(onDisk + folder + QStringLiteral("m/e9")).constData(),
                                     (QFile::encodeName(onDisk + folder) + "m/caf\xE9.txt").constData());
        EXPECT_EQ(renamed, 0) << row.name;
        drive->setStringEncoding(4);
        QDir().mkpath(out + QStringLiteral("/m"));
        const Answer listing = list(drive, scratch + folder + (row.inFolder ? QString() : QStringLiteral("m/")));
        EXPECT_FALSE(listing.error) << row.name << ": " << listing.text().toStdString();
        QNDocumentPtr item;
        for (const auto &document : listing.documents)
            if (row.inFolder ? document->isDirectory() && QNUtils::nameOf(*document) == QLatin1String("m")
                             : !document->isDirectory())
                item = document;
        EXPECT_TRUE(item) << row.name << ": not listed";
        if (renamed != 0 || !item)
            continue;
        const auto run = VNTest::runItem(
            std::make_shared<QNMoveTask>(),
            std::make_shared<QNMoveTaskItem>(drive, QNMyDocumentsHandler::makeLocalDriveConfig(), item,
                                             QNDocument::withPath(row.inFolder ? out : out + QStringLiteral("/m"), true)),
            120000, manager);
        EXPECT_TRUE(run.completed) << row.name;
        EXPECT_FALSE(run.error) << row.name << ": " << run.error->localizedDescription().toStdString();
        EXPECT_EQ(VNTest::readOnDisk(out + QStringLiteral("/m"), "caf\xEF\xBF\xBD.txt"), QByteArray("e9")) << row.name;
        EXPECT_EQ(VNTest::namesOnDisk(onDisk + folder + QStringLiteral("m")).join(',').toStdString(), "")
            << row.name << ": the source stayed";
    }
}

INSTANTIATE_TEST_SUITE_P(FileServers, FTPMoveRemove, ::testing::Values(Kind::FTP, Kind::SFTP),
                         [](const ::testing::TestParamInfo<Kind> &info) { return std::string(kindName(info.param)); });

}  // namespace
