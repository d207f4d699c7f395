// A document opened from a WebDAV drive whose address has a path (the real
// Apache server of the tests), changed in another application after the
// program ended: the next launch asks "Document change detected", and Save
// puts the change on the server's disk. And on FTP, SFTP and WebDAV drives,
// one opened copy saved back twice in a row and once more after a restart
// (its record stored and read back): each Save puts the change on the
// server's disk, and the record keeps the document's own path.
#include "App/Panes/PanesTestSupport.h"

#include "Cloud/FTP/FTPPeerSupport.h"
#include "Cloud/QNFTPHandler.h"
#include "Cloud/QNWebDAVHandler.h"
#include "Core/QNTaskManager.h"

#include <QJsonArray>
#include <QJsonDocument>
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

enum class Server { FTP, SFTP, WebDAV };

class SaveBackAgainTest : public PanesTest, public ::testing::WithParamInterface<Server> {
protected:
    void SetUp() override {
        PanesTest::SetUp();
        QNWebDAVHandler::registerWithFactory();
        QNFTPHandler::registerHandler();
        QNFTPHandler::setKnownHostsFile(temp->path() + QStringLiteral("/app/known_hosts"));
    }

    // A drive on a fresh folder of the server holding letter.txt; onDisk
    // gets the folder on the server's disk.
    static QNDriveConfigPtr serverDrive(Server server, QString *onDisk) {
        const QString name = QStringLiteral("again-") + QUuid::createUuid().toString(QUuid::WithoutBraces).left(8);
        if (server == Server::WebDAV) {
            const QJsonObject state = VNTest::peerState(QStringLiteral("webdav"));
            if (state.isEmpty())
                return nullptr;
            *onDisk = state.value(QStringLiteral("root_dir")).toString() + QLatin1Char('/') + name;
            if (!VNTest::writeFile(*onDisk + QStringLiteral("/letter.txt"), "first draft\n"))
                return nullptr;
            QFile::setPermissions(*onDisk, QFileDevice::Permissions(0x7777));  // the server's user writes here
            QFile::setPermissions(*onDisk + QStringLiteral("/letter.txt"), QFileDevice::Permissions(0x6666));
            QString url = state.value(QStringLiteral("http_url")).toString();
            if (!url.endsWith(QLatin1Char('/')))
                url += QLatin1Char('/');
            auto drive = QNDriveConfig::create();
            drive->setIsWebDAV(true);
            drive->setName(QStringLiteral("WEBDAV"));
            drive->setUrl(url + name + QLatin1Char('/'));
            drive->setUsername(state.value(QStringLiteral("user")).toString());
            drive->setPassword(state.value(QStringLiteral("password")).toString());
            return drive;
        }
        const auto kind = server == Server::FTP ? FTPPeer::Kind::FTP : FTPPeer::Kind::SFTP;
        if (FTPPeer::root(kind).isEmpty())
            return nullptr;
        const QString folder = FTPPeer::makeScratchFolder(kind);  // "/work/t-x/"
        *onDisk = FTPPeer::root(kind) + folder;
        onDisk->chop(1);
        FTPPeer::writeServerFile(kind, folder + QStringLiteral("letter.txt"), "first draft\n");
        auto drive = FTPPeer::drive(kind);
        drive->setName(QString::fromLatin1(FTPPeer::kindName(kind)));
        QString url = drive->url();
        if (!url.endsWith(QLatin1Char('/')))
            url += QLatin1Char('/');
        drive->setUrl(url + folder.mid(1));
        return drive;
    }



    // The drive paths of the items the opened-documents record names.
    static QStringList recordedItems() {
        QFile f(QNMacAppDelegate::openedDocumentsRecordPath());
        QStringList paths;
        if (!f.open(QIODevice::ReadOnly))
            return paths;
        for (const QJsonValue &v : QJsonDocument::fromJson(f.readAll()).array()) {
            const QJsonObject item = v.toObject().value(QStringLiteral("item")).toObject();
            if (!item.isEmpty())  // a copy of an earlier test keeps only its own path
                paths << item.value(QStringLiteral("path")).toString();
        }
        return paths;
    }
};

TEST_P(SaveBackAgainTest, TwoSavesInARowAndOneAfterARestartEachReachTheServer) {
    QString onDisk;
    const QNDriveConfigPtr drive = serverDrive(GetParam(), &onDisk);
    ASSERT_NE(drive, nullptr) << "the peer is not running";
    QNMainWindowController *w = openDrive(drive);
    ASSERT_NE(w, nullptr);
    QNMacFilesViewController *pane = w->filesViewController();
    ASSERT_EQ(names(pane->documents()), QStringList{"letter.txt"});
    pane->openDocument(pane->documents().first(), [](const QString &) { return true; });
    ASSERT_TRUE(VNTest::waitUntil([&] { return delegate->openedDocuments().size() == 1; }, 20000));
    const QNDocumentPtr opened = delegate->openedDocuments().first();
    const QString copy = opened->path();
    const QString itemPath = opened->openedFromDocument()->path();
    ASSERT_TRUE(itemPath.endsWith(QStringLiteral("/letter.txt"))) << itemPath.toStdString();
    const QString onServer = onDisk + QStringLiteral("/letter.txt");
    const QDateTime first = opened->date();

    struct Save {
        const char *what;
        QByteArray text;
        int secondsLater;
        bool afterARestart;
    };
    for (const Save &save : {Save{"the first save", "second draft\n", 5, false},
                             Save{"the second save in a row", "third draft\n", 10, false},
                             Save{"a save after a restart", "fourth draft, after the restart\n", 15, true}}) {
        SCOPED_TRACE(save.what);
        if (save.afterARestart) {
            delegate.reset();
            VNTest::spin(30);
        }
        const QDateTime changed = first.addSecs(save.secondsLater);
        changeOpenedCopy(copy, save.text, changed);
        if (save.afterARestart)
            launch();  // the record read back offers the change
        else
            delegate->applicationDidBecomeActive();
        EXPECT_TRUE(saveWhenAsked(changed)) << "no question, or the save-back did not succeed";
        EXPECT_TRUE(VNTest::waitUntil([&] { return VNTest::readFile(onServer) == save.text; }, 20000))
            << VNTest::readFile(onServer).toStdString();
        EXPECT_EQ(QDir(onDisk).entryList(QDir::Files).join(QLatin1Char(',')).toStdString(), "letter.txt");
        EXPECT_TRUE(alertTexts().filter(QStringLiteral("rror")).isEmpty()) << alertTexts().join(", ").toStdString();
        if (!delegate->openedDocuments().isEmpty())
            EXPECT_EQ(delegate->openedDocuments().first()->openedFromDocument()->path().toStdString(),
                      itemPath.toStdString());
        EXPECT_EQ(recordedItems().join(QLatin1Char(',')).toStdString(), itemPath.toStdString());
        QNDialogService::shared().clearHistory();
    }
}

std::string serverName(const ::testing::TestParamInfo<Server> &info) {
    const char *names[] = {"FTP", "SFTP", "WebDAV"};
    return names[int(info.param)];
}

INSTANTIATE_TEST_SUITE_P(EachServer, SaveBackAgainTest, ::testing::Values(Server::FTP, Server::SFTP, Server::WebDAV),
                         serverName);

}  // namespace
