// Names that differ only in letter case: a task never writes two of them
// into one folder, merges a folder into a namesake of another case only
// where the drive refused the name for it, and puts no file onto a folder
// whose name differs from it only in case. The local disk here tells case
// apart; the fake drive is told to fold case as a FAT stick does.
#include "Core/QNCopyTask.h"
#include "Core/QNCopyTaskItem.h"
#include "Core/QNMoveTask.h"
#include "Core/QNMoveTaskItem.h"
#include "TaskTestSupport.h"
#include "support/TestSupport.h"

#include <QDir>
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
        auto [error, doc, cancelled] =
            runOne(std::make_shared<QNMoveTask>(),
                   std::make_shared<QNMoveTaskItem>(localDrive(), dest, localDocument(path("src/dir")),
                                                    driveDocument("/", true)));
        if (!row.refused) {
            EXPECT_FALSE(error) << text(error).toStdString();
            EXPECT_EQ(listTree(path("dest")), (QStringList{"dir/", "dir/Other/", "dir/Other/notes.txt", "dir/Sub/",
                                                           "dir/Sub/Notes.txt"}));
            EXPECT_EQ(listTree(path("src")), QStringList{});
            continue;
        }
        EXPECT_TRUE(text(error).contains("differs from it only in letter case")) << text(error).toStdString();
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
        if (row.fails)  // the drive's own refusal
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
            ASSERT_TRUE(error);
            EXPECT_TRUE(text(error).contains(QStringLiteral("holds a folder of that name"))) << text(error).toStdString();
        } else {
            EXPECT_FALSE(error) << text(error).toStdString();
            expected.append("notes.txt");
        }
        EXPECT_EQ(listTree(path("dest")), expected);
        EXPECT_EQ(VNTest::readFile(path("dest/" + folder + "/inside.txt")), QByteArray("keep"));
    }
}
