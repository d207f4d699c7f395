// Copies and moves inside one WebDAV server onto a name the target folder
// already holds, against Apache, nginx and lighttpd: the call fails naming
// the existing item, and neither side changes on the server's disk.
#include "../WebDAV/WebDAVPeer.h"
#include "Core/QNCloudInterfaceFactory.h"
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

std::string familyName(const ::testing::TestParamInfo<const char *> &info) {
    return info.param;
}

INSTANTIATE_TEST_SUITE_P(Families, WebDAVSameName, ::testing::Values("apache", "nginx", "lighttpd"), familyName);

}  // namespace
