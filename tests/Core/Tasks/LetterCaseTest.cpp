// Names that differ only in letter case: a task never writes two of them
// into one folder, whichever way the item goes (a transfer, or the drive's
// own copy or move), leaves the second out and names it in the task's end
// report without stopping the rest; it merges a folder into a namesake of
// another case only where the drive refused the name for it, and puts no
// file onto a folder whose name differs from it only in case. The local disk
// here tells case apart; the fake drive is told to fold case as a FAT stick
// does.
#include "Core/QNCopyTask.h"
#include "Core/QNCopyTaskItem.h"
#include "Core/QNMoveTask.h"
#include "Core/QNMoveTaskItem.h"
#include "TaskTestSupport.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <gtest/gtest.h>

using namespace TaskTest;
using Op = QNFakeRemoteHandler::Op;

namespace {

class LetterCase : public TaskFixture {
protected:
    // The destination drive, backed by path("dest") holding tree.
    QNDriveConfigPtr destination(const QMap<QString, QByteArray> &tree, bool foldsCase) {
        QDir().mkpath(path("dest"));
        writeTree(path("dest"), tree);
        QNFakeRemoteHandler::setFoldsCase(foldsCase, path("dest"));
        return QNFakeRemoteHandler::makeDriveConfig(path("dest"));
    }
    void fresh() {
        QNFakeRemoteHandler::resetBehaviours();
        dir = VNTest::makeTempDir();
    }
};

QString text(const VNErrorPtr &error) {
    return error ? error->localizedDescription() : QString();
}

const QString kClash = QStringLiteral("differs from it only in letter case");

// The files below root (folders left out).
QStringList filesIn(const QString &root) {
    QStringList files;
    for (const QString &entry : listTree(root))
        if (!entry.endsWith('/'))
            files.append(entry);
    return files;
}

}  // namespace

TEST_F(LetterCase, ANameTheTaskWroteInAnotherCaseIsNotWrittenAgainAndStaysAtItsSource) {
    struct Row {
        const char *what;
        QMap<QString, QByteArray> tree;
        bool foldsCase;
        bool refused;
    };
    const std::vector<Row> rows{
        {"whole move", {{"Sub/Notes.txt", "first"}, {"Other/notes.txt", "second"}}, true, false},
        {"folders differing in case, drive folds case", {{"Sub/Notes.txt", "first"}, {"sub/notes.txt", "second"}},
         true, true},
        {"folders differing in case, drive tells case apart",
         {{"Sub/Notes.txt", "first"}, {"sub/notes.txt", "second"}}, false, true},
        {"files differing in case, drive folds case", {{"Sub/Notes.txt", "first"}, {"Sub/notes.txt", "second"}},
         true, true},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        fresh();
        writeTree(path("src/dir"), row.tree);
        auto dest = destination({}, row.foldsCase);
        auto task = std::make_shared<QNMoveTask>();
        auto [error, doc, cancelled] =
            runOne(task, std::make_shared<QNMoveTaskItem>(localDrive(), dest, localDocument(path("src/dir")),
                                                          driveDocument("/", true)));
        // Left out is not a failure: the item ends without an error.
        EXPECT_FALSE(error) << text(error).toStdString();
        EXPECT_FALSE(task->canceled());
        const QString report = task->leftOut().join('\n');
        if (!row.refused) {
            EXPECT_TRUE(report.isEmpty()) << report.toStdString();
            EXPECT_EQ(listTree(path("dest")), (QStringList{"dir/", "dir/Other/", "dir/Other/notes.txt", "dir/Sub/",
                                                           "dir/Sub/Notes.txt"}));
            EXPECT_EQ(listTree(path("src")), QStringList{});
            continue;
        }
        EXPECT_TRUE(report.contains(kClash)) << report.toStdString();
        // One of the two names arrives whole and leaves its source (the
        // rest of the tree goes on); the other stays where it was.
        const QStringList arrived = filesIn(path("dest/dir")), stayed = filesIn(path("src/dir"));
        EXPECT_EQ(arrived.size(), 1) << arrived.join(' ').toStdString();
        EXPECT_EQ(stayed.size(), 1) << stayed.join(' ').toStdString();
        if (arrived.size() != 1 || stayed.size() != 1)
            continue;
        EXPECT_EQ(arrived.first().compare(stayed.first(), Qt::CaseInsensitive), 0);
        EXPECT_NE(arrived.first(), stayed.first());
        EXPECT_EQ(VNTest::readFile(path("dest/dir/" + arrived.first())), row.tree.value(arrived.first()));
        EXPECT_EQ(VNTest::readFile(path("src/dir/" + stayed.first())), row.tree.value(stayed.first()));
    }
}

TEST_F(LetterCase, AFolderGoesIntoANamesakeOfAnotherCaseOnlyWhereTheDriveRefusedItsNameForIt) {
    struct Row {
        const char *what;
        bool foldsCase;
        bool creationRefused;  // for another reason than a name in the way
        QStringList expected;
        bool fails;
    };
    const std::vector<Row> rows{
        {"drive folds case", true, false, {"Sub/", "Sub/a.txt", "Sub/keep.txt"}, false},
        {"drive tells case apart", false, false, {"Sub/", "Sub/keep.txt", "sub/", "sub/a.txt"}, false},
        {"drive tells case apart, refuses the folder", false, true, {"Sub/", "Sub/keep.txt"}, true},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        fresh();
        writeTree(path("src/sub"), {{"a.txt", "a"}});
        auto dest = destination({{"Sub/keep.txt", "keep"}}, row.foldsCase);
        if (row.creationRefused)
            setMode(Op::CreateFolder, QNFakeRemoteHandler::Mode::Fail, path("dest"));
        auto [error, doc, cancelled] =
            runOne(std::make_shared<QNCopyTask>(),
                   std::make_shared<QNCopyTaskItem>(localDrive(), dest, localDocument(path("src/sub")),
                                                    driveDocument("/", true)));
        EXPECT_EQ(bool(error), row.fails) << text(error).toStdString();
        if (row.fails && error)  // the drive's own refusal
            EXPECT_EQ(error->domain(), QStringLiteral("QNFakeRemoteHandler")) << text(error).toStdString();
        EXPECT_EQ(listTree(path("dest")), row.expected);
        EXPECT_EQ(VNTest::readFile(path("dest/Sub/keep.txt")), QByteArray("keep"));
    }
}

TEST_F(LetterCase, AFileDoesNotGoOntoAFolderWhoseNameDiffersOnlyInCaseOnADriveThatTellsCaseApart) {
    struct Row {
        const char *folder;
        bool inTheWay;
    };
    for (const Row &row : {Row{"Other", false}, Row{"notes.txt", true}, Row{"Notes.txt", true}}) {
        SCOPED_TRACE(row.folder);
        fresh();
        writeTree(path("src"), {{"notes.txt", "n"}});
        const QString folder = QString::fromUtf8(row.folder);
        auto dest = destination({{folder + "/inside.txt", "keep"}}, false);
        auto [error, doc, cancelled] =
            runOne(std::make_shared<QNCopyTask>(),
                   std::make_shared<QNCopyTaskItem>(localDrive(), dest, localDocument(path("src/notes.txt")),
                                                    driveDocument("/", true)));
        QStringList expected{folder + "/", folder + "/inside.txt"};
        if (row.inTheWay) {
            EXPECT_TRUE(text(error).contains(QStringLiteral("holds a folder of that name"))) << text(error).toStdString();
        } else {
            EXPECT_FALSE(error) << text(error).toStdString();
            expected.append("notes.txt");
        }
        EXPECT_EQ(listTree(path("dest")), expected);
        EXPECT_EQ(VNTest::readFile(path("dest/" + folder + "/inside.txt")), QByteArray("keep"));
    }
}

// Two dropped files whose names differ only in case, onto one folder of a
// drive that folds case and copies or moves them itself: the first goes, the
// second is not written over it. Left out and named, it stays at its source,
// and the task goes on. Each way of the item claims the name for itself.
TEST_F(LetterCase, TwinsTheDriveCopiesOrMovesItselfAreNotWrittenOverEachOther) {
    struct Row {
        const char *what;
        bool move;
        bool foldsCase;
    };
    const std::vector<Row> rows{
        {"the drive's own copy, drive folds case", false, true},
        {"the drive's own move, drive folds case", true, true},
        {"the drive's own copy, drive tells case apart", false, false},
        {"the drive's own move, drive tells case apart", true, false},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        fresh();
        auto drive = destination({{"a/Notes.txt", "first"}, {"b/notes.txt", "second"}, {"dest/", ""}}, row.foldsCase);
        QNTaskPtr task = row.move ? QNTaskPtr(std::make_shared<QNMoveTask>()) : std::make_shared<QNCopyTask>();
        std::vector<std::shared_ptr<ItemReports>> reports;
        for (const char *twin : {"/a/Notes.txt", "/b/notes.txt"}) {
            auto source = driveDocument(QString::fromUtf8(twin), false, 5);
            QNTaskItemPtr item = row.move ? QNTaskItemPtr(std::make_shared<QNMoveTaskItem>(
                                                drive, drive, source, driveDocument("/dest", true)))
                                          : std::make_shared<QNCopyTaskItem>(drive, drive, source,
                                                                             driveDocument("/dest", true));
            reports.push_back(watchItem(item));
            task->addTaskItem(item);
        }
        EXPECT_TRUE(runTask(manager, task)) << row.what;
        // The first is done; the second hears it was left out, no failure.
        for (size_t i = 0; i < reports.size(); ++i) {
            EXPECT_EQ(reports[i]->count(), 1) << row.what;
            if (!reports[i]->count())
                continue;
            const VNErrorPtr error = std::get<0>(reports[i]->first());
            if (i == 0)
                EXPECT_FALSE(error) << row.what << ": " << text(error).toStdString();
            else
                EXPECT_TRUE(QNTaskItem::isLeftOut(error)) << row.what << ": " << text(error).toStdString();
        }
        EXPECT_FALSE(task->canceled()) << row.what;
        const QString report = task->leftOut().join('\n');
        EXPECT_TRUE(report.contains("\u201cnotes.txt\u201d") && report.contains(kClash)) << report.toStdString();
        // The first arrived whole; the second went nowhere.
        EXPECT_EQ(listTree(path("dest/dest")), QStringList{"Notes.txt"}) << row.what;
        EXPECT_EQ(VNTest::readFile(path("dest/dest/Notes.txt")), QByteArray("first")) << row.what;
        EXPECT_EQ(VNTest::readFile(path("dest/b/notes.txt")), QByteArray("second")) << row.what;
        EXPECT_EQ(QFileInfo::exists(path("dest/a/Notes.txt")), !row.move) << row.what;
        // The drive was asked once, for the first.
        EXPECT_EQ(QNFakeRemoteHandler::callCount(row.move ? Op::LocalMove : Op::LocalCopy), 1) << row.what;
    }
}
