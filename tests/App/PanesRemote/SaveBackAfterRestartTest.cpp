// A document opened from a WebDAV drive whose address has a path (the real
// Apache server of the tests), changed in another application after the
// program ended: the next launch asks "Document change detected", and Save
// puts the change on the server's disk.
#include "App/Panes/PanesTestSupport.h"

#include "Cloud/QNWebDAVHandler.h"
#include "Core/QNTaskManager.h"

#include <QUuid>

namespace {

class SaveBackAfterRestartTest : public PanesTest {
protected:
    void SetUp() override {
        PanesTest::SetUp();
        QNWebDAVHandler::registerWithFactory();
    }
};

TEST_F(SaveBackAfterRestartTest, AChangedCopyFromAWebDAVDriveWithAPathGoesBackAfterTheNextLaunch) {
    const QJsonObject state = VNTest::peerState(QStringLiteral("webdav"));
    ASSERT_FALSE(state.isEmpty()) << "the WebDAV peer is not running";
    const QString name = QStringLiteral("saveback-") + QUuid::createUuid().toString(QUuid::WithoutBraces).left(8);
    const QString onDisk = state.value(QStringLiteral("root_dir")).toString() + QLatin1Char('/') + name;
    ASSERT_TRUE(VNTest::writeFile(onDisk + QStringLiteral("/letter.txt"), "first draft\n"));
    // Writable for the server's user (the save-back renames and uploads).
    QFile::setPermissions(onDisk, QFileDevice::Permissions(0x7777));
    QString url = state.value(QStringLiteral("http_url")).toString();
    if (!url.endsWith(QLatin1Char('/')))
        url += QLatin1Char('/');
    auto drive = QNDriveConfig::create();
    drive->setIsWebDAV(true);
    drive->setName(QStringLiteral("WEBDAV"));
    drive->setUrl(url + name + QLatin1Char('/'));
    drive->setUsername(state.value(QStringLiteral("user")).toString());
    drive->setPassword(state.value(QStringLiteral("password")).toString());

    QNMainWindowController *w = openDrive(drive);
    ASSERT_NE(w, nullptr);
    QNMacFilesViewController *pane = w->filesViewController();
    ASSERT_EQ(names(pane->documents()), QStringList{"letter.txt"});
    pane->openDocument(pane->documents().first(), [](const QString &) { return true; });
    ASSERT_TRUE(VNTest::waitUntil([&] { return delegate->openedDocuments().size() == 1; }, 20000));
    const QNDocumentPtr opened = delegate->openedDocuments().first();
    const QString copy = opened->path();
    ASSERT_EQ(VNTest::readFile(copy), "first draft\n");

    // The program ends; the copy is edited afterwards.
    delegate.reset();
    VNTest::spin(30);
    ASSERT_TRUE(VNTest::writeFile(copy, "second draft, after the restart\n"));
    {
        QFile f(copy);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        ASSERT_TRUE(f.setFileTime(opened->date().addSecs(5), QFileDevice::FileModificationTime));
    }

    launch();
    ASSERT_TRUE(VNTest::waitUntil([] { return QNDialogService::shared().pendingAlerts().size() == 1; }, 5000))
        << "no save-back question after the launch";
    const auto question = onlyPendingAlert();
    EXPECT_EQ(question.alert.messageText, QStringLiteral("Document change detected"));
    EXPECT_EQ(question.alert.informativeText,
              QStringLiteral("letter.txt was changed. Do you want to save the changes back to WebDAV?"));
    QNDialogService::shared().answer(question.id, QNAlert::FirstButtonReturn);
    EXPECT_TRUE(VNTest::waitUntil(
        [&] { return VNTest::readFile(onDisk + QStringLiteral("/letter.txt")) == "second draft, after the restart\n"; },
        20000))
        << VNTest::readFile(onDisk + QStringLiteral("/letter.txt")).toStdString();
    // The dated backup went once the upload was whole.
    ASSERT_TRUE(VNTest::waitUntil([&] { return delegate->taskManager()->tasks().isEmpty(); }, 20000));
    EXPECT_EQ(QDir(onDisk).entryList(QDir::Files), QStringList{"letter.txt"});
    EXPECT_TRUE(alertTexts().filter(QStringLiteral("rror")).isEmpty()) << alertTexts().join(", ").toStdString();
}

}  // namespace
