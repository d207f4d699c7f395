// Copies and moves inside one WebDAV server onto a name the target folder
// already holds, against Apache, nginx and lighttpd: the call fails naming
// the existing item, and neither side changes on the server's disk.
#include "../WebDAV/WebDAVPeer.h"
#include "Core/QNCloudInterfaceFactory.h"
#include "Core/QNCopyTask.h"
#include "Core/QNCopyTaskItem.h"
#include "Core/QNMoveTask.h"
#include "Core/QNMoveTaskItem.h"
#include "support/TaskRun.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <gtest/gtest.h>

using namespace WebDAVPeer;

namespace {

class WebDAVSameName : public ::testing::TestWithParam<const char *> {
protected:
    void SetUp() override {
        ASSERT_FALSE(state().isEmpty()) << "the webdav peer is not running";
        setUpOnce();
        QNCloudInterfaceFactory::registerCoreHandlers();
        const QJsonObject server = WebDAVPeer::server(GetParam());
        ASSERT_FALSE(server.isEmpty()) << "the webdav peer runs no " << GetParam();
        serverUrl = server.value("url").toString();
        serverDir = server.value("dir").toString();
    }

    QString serverUrl, serverDir;
};

TEST_P(WebDAVSameName, CopyAndMoveInsideTheServerNeverReplaceAnExistingItem) {
    struct Case {
        const char *method;
        bool isFolder;
    };
    for (const Case c : {Case{"COPY", true}, Case{"MOVE", true}, Case{"MOVE", false}}) {
        SCOPED_TRACE(std::string(c.method) + (c.isFolder ? " folder" : " file"));
        const QString dir = serverDir + "/same-name";
        QDir(dir).removeRecursively();
        const QString name = c.isFolder ? "tree" : "note.txt";
        const QString keptFile = c.isFolder ? "/dst/tree/kept.txt" : "/dst/note.txt";
        const QString sourceFile = c.isFolder ? "/src/tree/new.txt" : "/src/note.txt";
        ASSERT_TRUE(VNTest::writeFile(dir + keptFile, "kept"));
        ASSERT_TRUE(VNTest::writeFile(dir + sourceFile, "new"));
        const auto source = QNDocument::withPath("/same-name/src/" + name, c.isFolder);
        const auto target = QNDocument::withPath("/same-name/dst", true);

        auto answer = std::make_shared<Answer>();
        auto handler = handlerFor(drive(serverUrl));
        if (QByteArray(c.method) == "COPY")
            handler->localCopy(source, target, documentAnswer(answer));
        else
            handler->localMove(source, target, documentAnswer(answer));
        ASSERT_TRUE(waitForAnswer(answer, 30000));
        EXPECT_EQ(answer->count, 1);
        ASSERT_TRUE(answer->error);
        EXPECT_TRUE(answer->error->localizedDescription().contains("/same-name/dst/" + name))
            << answer->error->localizedDescription().toStdString();
        EXPECT_EQ(VNTest::readFile(dir + keptFile), "kept");
        EXPECT_EQ(VNTest::readFile(dir + sourceFile), "new");
        EXPECT_EQ(VNTest::listTree(dir + "/dst").size(), c.isFolder ? 2 : 1) << VNTest::listTree(dir + "/dst").join(' ').toStdString();
    }
}

// A file dropped onto a folder of its name on the same drive: a server may
// take the drive's own copy or move "without overwriting" as one into that
// folder (lighttpd answers 204 and writes dst/Y/Y). The task looks at the
// destination first: the item fails naming the folder, which keeps what it
// held, and the file stays at its source.
TEST_P(WebDAVSameName, AFileOntoAFolderOfItsNameInsideTheServerIsNeitherPutIntoItNorRemoved) {
    for (const bool move : {false, true}) {
        SCOPED_TRACE(move ? "move" : "copy");
        const QString dir = serverDir + "/file-onto-folder";
        QDir(dir).removeRecursively();
        ASSERT_TRUE(VNTest::writeFile(dir + "/dst/Y/inside.txt", "inside"));
        ASSERT_TRUE(VNTest::writeFile(dir + "/src/Y", "a file called Y"));
        const auto config = drive(serverUrl);
        const auto source = QNDocument::withPath("/file-onto-folder/src/Y", false);
        const auto target = QNDocument::withPath("/file-onto-folder/dst", true);
        QNTaskPtr task = move ? QNTaskPtr(std::make_shared<QNMoveTask>()) : QNTaskPtr(std::make_shared<QNCopyTask>());
        QNTaskItemPtr item = move ? QNTaskItemPtr(std::make_shared<QNMoveTaskItem>(config, config, source, target))
                                  : QNTaskItemPtr(std::make_shared<QNCopyTaskItem>(config, config, source, target));
        const auto run = VNTest::runItem(task, item, 60000);
        ASSERT_TRUE(run.completed);
        ASSERT_TRUE(run.error) << "reported as done";
        const QString text = run.error->localizedDescription();
        EXPECT_TRUE(text.contains(QStringLiteral("The file \u201cY\u201d was not copied")) &&
                    text.contains(QStringLiteral("holds a folder of that name")))
            << text.toStdString();
        EXPECT_EQ(VNTest::listTree(dir + "/dst").join(' ').toStdString(), std::string("Y/ Y/inside.txt"));
        EXPECT_EQ(VNTest::readFile(dir + "/dst/Y/inside.txt"), "inside");
        EXPECT_EQ(VNTest::readFile(dir + "/src/Y"), "a file called Y");
    }
}

std::string familyName(const ::testing::TestParamInfo<const char *> &info) {
    return info.param;
}

INSTANTIATE_TEST_SUITE_P(Families, WebDAVSameName, ::testing::Values("apache", "nginx", "lighttpd"), familyName);

}  // namespace
