// The question before a copy into a folder that cannot be listed: where
// going on may succeed (the folder is not there yet), "Copy Anyway" and
// Cancel; where the folder's server was refused (it shows another host key
// than the one remembered), going on could only meet the refusal again, file
// by file: the question says why, offers OK alone, and nothing is copied.
#include "App/Panes/PanesTestSupport.h"

#include "../../Cloud/FTP/FTPPeerSupport.h"
#include "App/QNNameClashCheck.h"
#include "Core/QNMyDocumentsHandler.h"

#include <QWidget>
#include <atomic>

namespace {

class RemoteCopyQuestionTest : public PanesTest {
protected:
    void SetUp() override {
        PanesTest::SetUp();
        QNFTPHandler::registerHandler();
    }
};

}  // namespace

TEST_F(RemoteCopyQuestionTest, AFolderWhoseServerWasRefusedOffersNothingToGoOnWith) {
    using namespace FTPPeer;
    ASSERT_FALSE(root(Kind::SFTP).isEmpty()) << "the sshd peer is not running";
    const QString knownHosts = folder(QStringLiteral("app")) + QStringLiteral("/known_hosts");
    QNFTPHandler::setKnownHostsFile(knownHosts);
    const QByteArray stranger = "[127.0.0.1]:" + QByteArray::number(state(Kind::SFTP).value(QStringLiteral("port")).toInt()) +
                                " ssh-ed25519 AAAAC3NzaC1lZDI1NTE5AAAAIDFMIbH4lHnjBT7MrdWFQdFSqdTrTsoi6KkAEPWTWu8t\n";
    const struct {
        const char *what;
        QString folder;
        QByteArray knownHosts;  // what the program remembers of the server
        QString messageText;
        QStringList buttons;
        bool copies;  // the first button goes on with the copy
    } rows[] = {
        {"the folder is not there", QStringLiteral("/work/no such folder/"), QByteArray(),
         QStringLiteral("\u201cno such folder\u201d could not be listed"), {"Copy Anyway", "Cancel"}, true},
        {"its server's host key refused", makeScratchFolder(Kind::SFTP), stranger, QString(), {"OK"}, false},
    };
    const QString source = folder(QStringLiteral("source")) + QStringLiteral("/a.txt");
    ASSERT_TRUE(VNTest::writeFile(source, "a"));
    QWidget window;  // the pane's, which the question is a sheet of
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        [&] {  // a failing row ends here; the others still run
            ASSERT_TRUE(VNTest::writeFile(knownHosts, row.knownHosts));
            std::atomic<bool> proceeded{false};
            QNNameClashCheck::run(QNMyDocumentsHandler::makeLocalDriveConfig(), {QNDocument::withPath(source)},
                                  drive(Kind::SFTP), QNDocument::withPath(row.folder, true), false, &window,
                                  [&](const QNDocumentList &) { proceeded = true; });
            ASSERT_TRUE(VNTest::waitUntil([] { return QNDialogService::shared().pendingAlerts().size() == 1; }, 20000));
            const auto request = onlyPendingAlert();
            if (!row.messageText.isEmpty())
                EXPECT_EQ(request.alert.messageText, row.messageText);
            else
                EXPECT_TRUE(request.alert.informativeText.contains(QStringLiteral("host key"))) << request.alert.informativeText.toStdString();
            EXPECT_EQ(request.alert.buttons, row.buttons);
            QNDialogService::shared().answer(request.id, QNAlert::FirstButtonReturn);
            VNTest::spin(100);
            EXPECT_EQ(proceeded.load(), row.copies);
        }();
    }
}
