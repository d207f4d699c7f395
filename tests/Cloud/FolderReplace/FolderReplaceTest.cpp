// "Replace" on a folder: a copy or move onto a folder that already holds a
// folder of the same name writes into that folder. Its same-named files are
// replaced, everything else in it stays; a file clashing in the same task is
// replaced too; a move removes only what arrived. Onto an FTP account that
// removes nothing, and onto one that renames nothing either (a drop box),
// the same: what such an account keeps (a check folder, a file's temporary
// name) is named in the end report. Judged on each server's disk.
#include "../FTP/FTPPeerSupport.h"
#include "../WebDAV/WebDAVPeer.h"
#include "Core/QNCloudInterfaceFactory.h"
#include "Core/QNCopyTask.h"
#include "Core/QNCopyTaskItem.h"
#include "Core/QNMoveTask.h"
#include "Core/QNMoveTaskItem.h"
#include "Core/QNMyDocumentsHandler.h"
#include "support/TaskRun.h"
#include "support/TestSupport.h"
#include "ServerScratch.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QRegularExpression>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Where the copy goes; the source is on the local disk, but for the last
// (the drive's own copy and move, inside one WebDAV server).
enum class Destination { Local, WebDAV, FTP, SFTP, SameWebDAV, NoRemovalFTP, DropBoxFTP };

struct Row {
    Destination destination;
    bool move;
};

std::string rowName(const ::testing::TestParamInfo<Row> &info) {
    const char *names[] = {"Local", "WebDAV", "FTP", "SFTP", "SameWebDAV", "NoRemovalFTP", "DropBoxFTP"};
    return std::string(names[int(info.param.destination)]) + (info.param.move ? "Move" : "Copy");
}

// Gives every entry below path to the owner of owner (the FTP peers' account).
void chownTree(const QString &path, const QString &owner) {
    struct stat info {};
    if (::stat(QFile::encodeName(owner).constData(), &info) != 0)
        return;
    QDirIterator all(path, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (all.hasNext())
        (void)::lchown(QFile::encodeName(all.next()).constData(), info.st_uid, info.st_gid);
}

struct Outcome {
    bool ended = false;
    QStringList errors;
    QString report;  // the task's end report
};

// Runs one task holding an item for each document, to its end.
Outcome run(bool move, const QNDriveConfigPtr &from, const QNDriveConfigPtr &to, const QNDocumentList &documents,
            const QNDocumentPtr &into) {
    QNTaskPtr task = move ? QNTaskPtr(std::make_shared<QNMoveTask>()) : QNTaskPtr(std::make_shared<QNCopyTask>());
    auto outcome = std::make_shared<Outcome>();
    auto mutex = std::make_shared<std::mutex>();
    for (const auto &document : documents) {
        QNTaskItemPtr item = move ? QNTaskItemPtr(std::make_shared<QNMoveTaskItem>(from, to, document, into))
                                  : QNTaskItemPtr(std::make_shared<QNCopyTaskItem>(from, to, document, into));
        item->registerListenerForTaskItemCompletedBlock(
            QStringLiteral("test"), [outcome, mutex](VNErrorPtr error, QNDocumentPtr, bool) {
                std::lock_guard lock(*mutex);
                if (error)
                    outcome->errors << error->localizedDescription();
            });
        task->addTaskItem(item);
    }
    const bool ended = VNTest::runTask(task);
    std::lock_guard lock(*mutex);
    Outcome out = *outcome;
    out.ended = ended;
    out.report = task->leftOut().join(QLatin1Char('\n'));
    return out;
}

// The entries below onDisk but what an account that removes nothing keeps
// (a check folder, a file's temporary name), each of which must be named in
// the end report, and only such an account may keep.
QStringList keptOutOf(const QString &onDisk, const QString &report, bool removesNothing) {
    QStringList rest;
    for (const QString &entry : VNTest::listTree(onDisk)) {
        const QString name = QString(entry).remove(QRegularExpression(QStringLiteral("/$"))).section(QLatin1Char('/'), -1);
        if (!entry.contains(QLatin1String("varnello-check-")) && !name.contains(QLatin1String(".part-"))) {
            rest << entry;
            continue;
        }
        EXPECT_TRUE(removesNothing && report.contains(name)) << entry.toStdString() << " left unnamed in: "
                                                             << report.toStdString();
    }
    return rest;
}

class FolderReplace : public ::testing::TestWithParam<Row> {
protected:
    void SetUp() override {
        temp = VNTest::makeTempDir();
        ServerScratch::setUpHandlers(*temp);
        sourceDrive = QNMyDocumentsHandler::makeLocalDriveConfig();
        source = temp->path() + QStringLiteral("/source");
        sourceOnDisk = source;
        switch (GetParam().destination) {
        case Destination::Local:
            drive = QNMyDocumentsHandler::makeLocalDriveConfig();
            drivePath = temp->path() + QStringLiteral("/destination");
            onDisk = drivePath;
            break;
        case Destination::WebDAV:
        case Destination::SameWebDAV: {
            const QString name = QStringLiteral("folder-replace-") + (GetParam().move ? "move" : "copy") +
                                 (GetParam().destination == Destination::SameWebDAV ? "-inside" : "");
            ASSERT_FALSE(WebDAVPeer::state().isEmpty()) << "the webdav peer did not start";
            drive = WebDAVPeer::drive(WebDAVPeer::url(QStringLiteral("http")));
            onDisk = WebDAVPeer::freshFolder(QStringLiteral("root_dir"), name);
            drivePath = QLatin1Char('/') + name;
            if (GetParam().destination == Destination::SameWebDAV) {
                sourceDrive = drive;
                source = drivePath + QStringLiteral("/source");
                sourceOnDisk = onDisk + QStringLiteral("/source");
                drivePath += QStringLiteral("/destination");
                onDisk += QStringLiteral("/destination");
            }
            break;
        }
        case Destination::FTP:
        case Destination::SFTP:
        case Destination::NoRemovalFTP:
        case Destination::DropBoxFTP: {
            const Destination destination = GetParam().destination;
            const auto kind = destination == Destination::FTP            ? FTPPeer::Kind::FTP
                              : destination == Destination::SFTP         ? FTPPeer::Kind::SFTP
                              : destination == Destination::NoRemovalFTP ? FTPPeer::Kind::NoRemovalFTP
                                                                         : FTPPeer::Kind::DropBoxFTP;
            ASSERT_FALSE(FTPPeer::root(kind).isEmpty()) << "the test peer did not start";
            drive = FTPPeer::drive(kind);
            drivePath = FTPPeer::makeScratchFolder(kind);
            onDisk = FTPPeer::root(kind) + drivePath;
            owner = FTPPeer::root(kind);
            break;
        }
        }
    }

    bool removesNothing() const {
        return GetParam().destination == Destination::NoRemovalFTP || GetParam().destination == Destination::DropBoxFTP;
    }

    std::unique_ptr<QTemporaryDir> temp;
    QNDriveConfigPtr sourceDrive;
    QString source;        // the folder holding what is copied, as its drive names it
    QString sourceOnDisk;  // the same folder on disk
    QNDriveConfigPtr drive;
    QString drivePath;  // the destination folder as the drive names it
    QString onDisk;     // the same folder on the server's disk
    QString owner;      // a path owned by the server's account, when files must be
};

TEST_P(FolderReplace, AFolderMergesIntoItsNamesakeBesideAReplacedFile) {
    const bool move = GetParam().move;
    const QMap<QString, QByteArray> there = {
        {"tree/same.txt", "old same"},        {"tree/kept.txt", "kept"},   {"tree/sub/inner.txt", "old inner"},
        {"tree/sub/kept too.txt", "kept too"}, {"file.txt", "old file"},
    };
    const QMap<QString, QByteArray> arriving = {
        {"tree/same.txt", "new same"},     {"tree/added.txt", "added"}, {"tree/sub/inner.txt", "new inner"},
        {"tree/sub/deeper/d.txt", "deep"}, {"file.txt", "new file"},
    };
    for (auto it = there.begin(); it != there.end(); ++it)
        ASSERT_TRUE(VNTest::writeFile(onDisk + "/" + it.key(), it.value()));
    if (!owner.isEmpty())
        chownTree(onDisk, owner);
    for (auto it = arriving.begin(); it != arriving.end(); ++it)
        ASSERT_TRUE(VNTest::writeFile(sourceOnDisk + "/" + it.key(), it.value()));

    const Outcome outcome = run(move, sourceDrive, drive,
                                {QNDocument::withPath(source + "/tree", true), QNDocument::withPath(source + "/file.txt")},
                                QNDocument::withPath(drivePath, true));
    ASSERT_TRUE(outcome.ended);
    EXPECT_EQ(outcome.errors.join('\n').toStdString(), std::string());

    QMap<QString, QByteArray> expected = there;
    for (auto it = arriving.begin(); it != arriving.end(); ++it)
        expected.insert(it.key(), it.value());
    // What the account keeps is named in the end report, and is all it keeps.
    QStringList files;
    for (const QString &entry : keptOutOf(onDisk, outcome.report, removesNothing()))
        if (QFileInfo(onDisk + "/" + entry).isFile())
            files << entry;
    EXPECT_EQ(files.join(' ').toStdString(), QStringList(expected.keys()).join(' ').toStdString());
    for (auto it = expected.begin(); it != expected.end(); ++it)
        EXPECT_EQ(VNTest::readFile(onDisk + "/" + it.key()), it.value()) << it.key().toStdString();
    // A move takes the source away once it has arrived; a copy leaves it.
    EXPECT_EQ(QFileInfo::exists(sourceOnDisk + "/tree"), !move);
    EXPECT_EQ(QFileInfo::exists(sourceOnDisk + "/file.txt"), !move);
}

// A file of the folder's name is neither replaced by the folder nor written
// into: the item fails naming what is in the way (the server's own answer to
// the folder's creation does not), and both stay as they were.
TEST_P(FolderReplace, AFolderOntoAFileOfItsNameFailsNamingTheFileAndBothStay) {
    ASSERT_TRUE(VNTest::writeFile(onDisk + "/tree", "a file called tree"));
    if (!owner.isEmpty())
        chownTree(onDisk, owner);
    ASSERT_TRUE(VNTest::writeFile(sourceOnDisk + "/tree/inside.txt", "inside"));

    const Outcome outcome = run(GetParam().move, sourceDrive, drive, {QNDocument::withPath(source + "/tree", true)},
                                QNDocument::withPath(drivePath, true));
    ASSERT_TRUE(outcome.ended);
    EXPECT_TRUE(outcome.errors.join('\n').contains(QStringLiteral("\u201ctree\u201d was not copied")) &&
                outcome.errors.join('\n').contains(QStringLiteral("holds a file of that name")))
        << outcome.errors.join('\n').toStdString();
    EXPECT_EQ(VNTest::readFile(onDisk + "/tree"), QByteArray("a file called tree"));
    EXPECT_EQ(VNTest::readFile(sourceOnDisk + "/tree/inside.txt"), QByteArray("inside"));
}

// The mirror: a file is not put in the place of a folder of its name, on
// its own or inside a folder merged into its namesake. The item fails
// before anything is sent, naming the folder; the folder keeps what it held
// and a move removes no source.
TEST_P(FolderReplace, AFileOntoAFolderOfItsNameFailsNamingTheFolderAndBothStay) {
    ASSERT_TRUE(VNTest::writeFile(onDisk + "/proj/inside.txt", "inside"));
    ASSERT_TRUE(VNTest::writeFile(onDisk + "/tree/sub/deep.txt", "deep"));
    if (!owner.isEmpty())
        chownTree(onDisk, owner);
    ASSERT_TRUE(VNTest::writeFile(sourceOnDisk + "/proj", "a file called proj"));
    ASSERT_TRUE(VNTest::writeFile(sourceOnDisk + "/tree/sub", "a file called sub"));

    // One task each: a task stops at its first failed item.
    QString reports;
    for (const char *name : {"proj", "tree"}) {
        const Outcome outcome = run(GetParam().move, sourceDrive, drive,
                                    {QNDocument::withPath(source + "/" + name, QLatin1String(name) == "tree")},
                                    QNDocument::withPath(drivePath, true));
        ASSERT_TRUE(outcome.ended);
        const QString errors = outcome.errors.join('\n');
        EXPECT_TRUE(errors.contains(QStringLiteral("The file \u201c%1\u201d was not copied")
                                        .arg(QLatin1String(name) == "tree" ? "sub" : name)) &&
                    errors.contains(QStringLiteral("holds a folder of that name, which a file does not replace")))
            << name << ": " << errors.toStdString();
        reports += outcome.report + QLatin1Char('\n');
    }
    EXPECT_EQ(keptOutOf(onDisk, reports, removesNothing()).join(' ').toStdString(),
              std::string("proj/ proj/inside.txt tree/ tree/sub/ tree/sub/deep.txt"));
    EXPECT_EQ(VNTest::readFile(onDisk + "/proj/inside.txt"), QByteArray("inside"));
    EXPECT_EQ(VNTest::readFile(onDisk + "/tree/sub/deep.txt"), QByteArray("deep"));
    EXPECT_EQ(VNTest::readFile(sourceOnDisk + "/proj"), QByteArray("a file called proj"));
    EXPECT_EQ(VNTest::readFile(sourceOnDisk + "/tree/sub"), QByteArray("a file called sub"));
}

// A link of the folder's name at the destination is not written through:
// the copy would land in whatever folder the link leads to. The item fails
// naming the link; that folder keeps what it held and the source stays.
// (Only drives whose listings tell links apart.)
class FolderOntoALink : public FolderReplace {};

TEST_P(FolderOntoALink, AFolderOntoALinkOfItsNameFailsNamingTheLinkAndWritesNothingBehindIt) {
    ASSERT_TRUE(VNTest::writeFile(onDisk + "/elsewhere/old.txt", "old"));
    ASSERT_EQ(::symlink("elsewhere", QFile::encodeName(onDisk + "/tree").constData()), 0);
    if (!owner.isEmpty())
        chownTree(onDisk, owner);
    ASSERT_TRUE(VNTest::writeFile(sourceOnDisk + "/tree/new.txt", "new"));

    const Outcome outcome = run(GetParam().move, sourceDrive, drive, {QNDocument::withPath(source + "/tree", true)},
                                QNDocument::withPath(drivePath, true));
    ASSERT_TRUE(outcome.ended);
    const QString errors = outcome.errors.join('\n');
    EXPECT_TRUE(errors.contains(QStringLiteral("The folder \u201ctree\u201d was not copied")) &&
                errors.contains(QStringLiteral("holds a link of that name")))
        << errors.toStdString();
    // The refusal stops the whole task before anything is sent: a move says
    // first that nothing was moved (the text names only the one folder).
    EXPECT_EQ(errors.startsWith(QStringLiteral("Nothing was moved. ")), GetParam().move) << errors.toStdString();
    EXPECT_EQ(VNTest::listTree(onDisk + "/elsewhere").join(' ').toStdString(), std::string("old.txt"));
    EXPECT_TRUE(QFileInfo(onDisk + "/tree").isSymLink());
    EXPECT_EQ(VNTest::readFile(sourceOnDisk + "/tree/new.txt"), QByteArray("new"));
}

INSTANTIATE_TEST_SUITE_P(Drives, FolderOntoALink,
                         ::testing::Values(Row{Destination::Local, false}, Row{Destination::Local, true},
                                           Row{Destination::FTP, false}, Row{Destination::FTP, true},
                                           Row{Destination::SFTP, false}, Row{Destination::SFTP, true}),
                         rowName);

INSTANTIATE_TEST_SUITE_P(Drives, FolderReplace,
                         ::testing::Values(Row{Destination::Local, false}, Row{Destination::Local, true},
                                           Row{Destination::WebDAV, false}, Row{Destination::WebDAV, true},
                                           Row{Destination::FTP, false}, Row{Destination::FTP, true},
                                           Row{Destination::SFTP, false}, Row{Destination::SFTP, true},
                                           Row{Destination::SameWebDAV, false}, Row{Destination::SameWebDAV, true},
                                           Row{Destination::NoRemovalFTP, false}, Row{Destination::NoRemovalFTP, true},
                                           Row{Destination::DropBoxFTP, false}, Row{Destination::DropBoxFTP, true}),
                         rowName);

}  // namespace
