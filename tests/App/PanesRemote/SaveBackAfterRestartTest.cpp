// A document opened from a WebDAV drive whose address has a path (the real
// Apache server of the tests), changed in another application after the
// program ended: the next launch asks "Document change detected", and Save
// puts the change on the server's disk. And on FTP, SFTP and WebDAV drives,
// one opened copy saved back twice in a row and once more after a restart
// (its record stored and read back): each Save puts the change on the
// server's disk, and the record keeps the document's own path. The same on
// FTP and SFTP for a name that is not UTF-8 ("caf\xE9.txt"), on a drive set
// to UTF-8 (the opened copy is "caf\uFFFD.txt") and on one set to detect
// (its folder's listing read in a single-byte encoding: "café.txt", which
// the process after the restart has not guessed yet): the application is
// handed the copy the open made, and each Save lands on the server's own
// bytes of the name, with no backup or second name left.
#include "App/Panes/PanesTestSupport.h"

#include "Cloud/FTP/FTPPeerSupport.h"
#include "Cloud/QNFTPEncodingMemory.h"
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
    pane->openDocument(pane->documents().first(), [](const QString &, QString *) { return true; });
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

struct Row {
    const char *name;
    Server server;
    QByteArray document;  // its name's bytes on the server's disk
    quint64 encoding;     // the drive's; 0 detects
};

class SaveBackAgainTest : public PanesTest, public ::testing::WithParamInterface<Row> {
protected:
    void SetUp() override {
        PanesTest::SetUp();
        QNWebDAVHandler::registerWithFactory();
        QNFTPHandler::registerHandler();
        QNFTPHandler::setKnownHostsFile(temp->path() + QStringLiteral("/app/known_hosts"));
    }

    // A drive on a fresh folder of the server holding the row's document;
    // onDisk gets the folder on the server's disk.
    static QNDriveConfigPtr serverDrive(const Row &row, QString *onDisk) {
        const Server server = row.server;
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
        if (row.document != "letter.txt" &&
            ::rename(QFile::encodeName(*onDisk + QStringLiteral("/letter.txt")).constData(),
                     (QFile::encodeName(*onDisk) + '/' + row.document).constData()) != 0)
            return nullptr;
        auto drive = FTPPeer::drive(kind);
        drive->setStringEncoding(row.encoding);
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
    const QByteArray document = GetParam().document;
    QNMainWindowController *w = openDrive(drive);
    ASSERT_NE(w, nullptr);
    QNMacFilesViewController *pane = w->filesViewController();
    ASSERT_EQ(pane->documents().size(), 1);
    QString launched;
    pane->openDocument(pane->documents().first(), [&](const QString &path, QString *) {
        launched = path;
        return true;
    });
    ASSERT_TRUE(VNTest::waitUntil([&] { return delegate->openedDocuments().size() == 1; }, 20000));
    const QNDocumentPtr opened = delegate->openedDocuments().first();
    const QString copy = opened->path();
    // The application is handed the very copy the open made.
    EXPECT_EQ(launched.toStdString(), copy.toStdString());
    EXPECT_EQ(VNTest::readFile(launched), "first draft\n");
    const QString itemPath = opened->openedFromDocument()->path();
    ASSERT_TRUE(itemPath.endsWith(QLatin1Char('/') + pane->documents().first()->displayName())) << itemPath.toStdString();
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
            QNFTPEncodingMemory::clear();  // what a new process knows of the drives' encodings
            VNTest::spin(30);
        }
        const QDateTime changed = first.addSecs(save.secondsLater);
        changeOpenedCopy(copy, save.text, changed);
        if (save.afterARestart)
            launch();  // the record read back offers the change
        else
            delegate->applicationDidBecomeActive();
        EXPECT_TRUE(saveWhenAsked(changed)) << "no question, or the save-back did not succeed";
        EXPECT_TRUE(VNTest::waitUntil([&] { return VNTest::readOnDisk(onDisk, document) == save.text; }, 20000))
            << VNTest::readOnDisk(onDisk, document).toStdString();
        EXPECT_EQ(VNTest::namesOnDisk(onDisk).join(',').toStdString(), document.toStdString());
        EXPECT_TRUE(alertTexts().filter(QStringLiteral("rror")).isEmpty()) << alertTexts().join(", ").toStdString();
        if (!delegate->openedDocuments().isEmpty())
            EXPECT_EQ(delegate->openedDocuments().first()->openedFromDocument()->path().toStdString(),
                      itemPath.toStdString());
        EXPECT_EQ(recordedItems().join(QLatin1Char(',')).toStdString(), itemPath.toStdString());
        QNDialogService::shared().clearHistory();
    }
}

INSTANTIATE_TEST_SUITE_P(
    EachServer, SaveBackAgainTest,
    ::testing::Values(Row{"FTP", Server::FTP, "letter.txt", 0}, Row{"SFTP", Server::SFTP, "letter.txt", 0},
                      Row{"WebDAV", Server::WebDAV, "letter.txt", 0},
                      Row{"FTPNameNotUtf8", Server::FTP, "caf\xE9.txt", 4},
                      Row{"SFTPNameNotUtf8", Server::SFTP, "caf\xE9.txt", 4},
                      Row{"FTPNameNotUtf8Detected", Server::FTP, "caf\xE9.txt", 0},
                      Row{"SFTPNameNotUtf8Detected", Server::SFTP, "caf\xE9.txt", 0}),
    [](const ::testing::TestParamInfo<Row> &info) { return std::string(info.param.name); });

}  // namespace
