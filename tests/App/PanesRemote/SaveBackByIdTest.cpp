// On drives that find their items by id (Box, Google Drive, OneDrive,
// Bitcasa, SugarSync, photo albums), against their fakes: one opened copy
// saved back twice in a row and once more after a restart (its record
// stored and read back). The upload of each save-back is a new item on the
// drive: every save succeeds, the fake then holds one document of that name
// with the newest bytes and no backup beside it, and the record (the stored
// one too) keeps the document's path and names the item now under it.
#include "App/Panes/PanesTestSupport.h"

#include "Cloud/QNGooglePhotosHandler.h"
#include "Cloud/QNServiceEndpoints.h"
#include "Cloud/QNServiceHosts.h"
#include "Cloud/QNSugarSyncHandler.h"
#include "Cloud/WebDrives/WebDriveServices.h"
#include "Core/QNTaskManager.h"

#include <QCryptographicHash>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QUuid>

namespace {

using WebDriveTest::Fake;

enum class Kind { Box, GoogleDrive, OneDrive, Bitcasa, SugarSync, Photos };

const char *kindName(Kind kind) {
    const char *names[] = {"Box", "GoogleDrive", "OneDrive", "Bitcasa", "SugarSync", "Photos"};
    return names[int(kind)];
}

QString sha1(const QByteArray &bytes) { return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha1).toHex()); }

// How the drive finds an item: its id, or (Bitcasa) its full path.
QString identityOf(const QNDocumentPtr &document) {
    if (!document)
        return QString();
    return document->id().isEmpty() ? document->fullPath() : document->id();
}

class SaveBackByIdTest : public PanesTest, public ::testing::WithParamInterface<Kind> {
protected:
    void SetUp() override {
        PanesTest::SetUp();
        const QString peer = peerName(GetParam());
        ASSERT_FALSE(VNTest::peerState(peer).isEmpty()) << "the " << peer.toStdString() << " peer is not running";
        fake = std::make_unique<Fake>(peer);
    }

    static QString peerName(Kind kind) {
        const char *peers[] = {"box", "gdrive", "onedrive", "bitcasa", "sugarsync", "photos"};
        return QString::fromLatin1(peers[int(kind)]);
    }

    // The drive signed in on its fake (reset first where the fake can be).
    void signIn(QNDriveConfigPtr &drive) {
        switch (GetParam()) {
        case Kind::Box:
            ASSERT_NO_FATAL_FAILURE(WebDriveTest::openBox(*fake, drive));
            break;
        case Kind::GoogleDrive:
            ASSERT_NO_FATAL_FAILURE(WebDriveTest::openGoogleDrive(*fake, drive));
            break;
        case Kind::OneDrive:
            ASSERT_NO_FATAL_FAILURE(WebDriveTest::openOneDrive(*fake, drive));
            break;
        case Kind::Bitcasa:
            ASSERT_NO_FATAL_FAILURE(WebDriveTest::openBitcasa(*fake, drive));
            break;
        case Kind::SugarSync: {
            const QJsonObject state = fake->state();
            NRHTTPRequest::setTestCertificateAuthorityFile(state.value("ca_file").toString());
            QNServiceEndpoints::setOverrideForTesting(state.value("host").toString(), state.value("port").toInt());
            QNSugarSyncHandler::registerWithFactory();
            drive = QNDriveConfig::create();
            drive->setIsSugarSync(true);
            drive->setUsername(state.value("user").toString());
            drive->setPassword(state.value("password").toString());
            bool answered = false, ok = false;
            drive->createCloudInterface()->login([&](bool good, VNErrorPtr, bool) { answered = true, ok = good; });
            ASSERT_TRUE(VNTest::waitUntil([&] { return answered; }, 20000));
            ASSERT_TRUE(ok);
            break;
        }
        case Kind::Photos: {
            fake->trustItsCertificate();
            QNServiceHosts::setUrl("google.accounts", fake->httpBase());
            QNServiceHosts::setUrl("google.photos", fake->httpsBase());
            QNServiceHosts::setUrl("google.docs", fake->httpsBase());
            fake->control("reset");
            QNGooglePhotosHandler::registerWithFactory();
            drive = QNDriveConfig::create();
            drive->setIsGooglePhotos(true);
            auto handler = std::make_shared<QNGooglePhotosHandler>(drive);
            bool answered = false, ok = false;
            handler->oAuthLoginWithCompletedBlock([&](bool good, VNErrorPtr, bool) { answered = true, ok = good; });
            QString location;
            Fake::fetch(QNGooglePhotosHandler::authorizationURL().toString(), {}, &location);
            handler->processOAuthLogin(location);
            ASSERT_TRUE(VNTest::waitUntil([&] { return answered; }));
            ASSERT_TRUE(ok);
            break;
        }
        }
        drive->setName(QString::fromLatin1(kindName(GetParam())).toUpper());
    }

    // The folders the test folder goes into, from the drive's top.
    static QStringList parentNames(Kind kind) {
        if (kind == Kind::Bitcasa)
            return {QStringLiteral("Bitcasa Infinite Drive")};
        if (kind == Kind::SugarSync)
            return {QStringLiteral("Sync Folder")};
        return {};
    }

    static QNDocumentPtr listedNamed(const QNDriveConfigPtr &drive, const QNDocumentPtr &folder, const QString &name) {
        QNDocumentPtr found;
        bool answered = false;
        drive->createCloudInterface()->listDocuments(folder, QString(),
                                                     [&](QNDocumentList documents, QString, VNErrorPtr, bool) {
                                                         for (const auto &d : documents)
                                                             if (d->displayName() == name)
                                                                 found = d;
                                                         answered = true;
                                                     });
        EXPECT_TRUE(VNTest::waitUntil([&] { return answered; }, 20000));
        return found;
    }

    // A fresh folder holding letter (first bytes), made through the drive.
    void seed(const QNDriveConfigPtr &drive, const QString &letter, const QByteArray &first) {
        QNDocumentPtr parent = QNDocument::withPath(QStringLiteral("/"), true);
        for (const QString &name : parentNames(GetParam())) {
            parent = listedNamed(drive, parent, name);
            ASSERT_TRUE(parent) << name.toStdString();
        }
        folderName = QStringLiteral("saveback-") + QUuid::createUuid().toString(QUuid::WithoutBraces).left(8);
        auto made = WebDriveTest::run(drive, [&](auto h, auto cb) { h->createFolder(folderName, parent, cb); });
        ASSERT_FALSE(made.error) << WebDriveTest::errorText(made.error).toStdString();
        ASSERT_TRUE(made.document);
        folder = made.document;
        const QString source = temp->path() + QStringLiteral("/seed/") + letter;
        ASSERT_TRUE(VNTest::writeFile(source, first));
        auto up = WebDriveTest::run(drive, [&](auto h, auto cb) { h->upload(QNDocument::withPath(source), folder, {}, cb); });
        ASSERT_FALSE(up.error) << WebDriveTest::errorText(up.error).toStdString();
    }

    // The files of the test folder as the fake holds them: "name sha1", sorted.
    QStringList filesOnTheDrive() const {
        QStringList files;
        const QString prefix = QLatin1Char('/') + (parentNames(GetParam()) << folderName).join(QLatin1Char('/')) +
                               QLatin1Char('/');
        switch (GetParam()) {
        case Kind::Photos:
            for (const QJsonValue &v : QJsonDocument::fromJson(fake->control("photos")).array())
                if (v.toObject().value("album").toString() == folderName)
                    files << v.toObject().value("title").toString() + QLatin1Char(' ') + v.toObject().value("sha1").toString();
            break;
        case Kind::SugarSync: {
            // Written by the fake at each change.
            const QString file =
                QFileInfo(fake->state().value("counts_file").toString()).dir().filePath(QStringLiteral("contents.json"));
            const QJsonObject contents = QJsonDocument::fromJson(VNTest::readFile(file)).object();
            for (auto it = contents.begin(); it != contents.end(); ++it)
                if (it.key().startsWith(prefix))
                    files << it.key().mid(prefix.size()) + QLatin1Char(' ') + it.value().toString();
            break;
        }
        default: {
            const QJsonObject tree = fake->tree();
            for (auto it = tree.begin(); it != tree.end(); ++it)
                if (it.key().startsWith(prefix) && !it.value().toObject().value("is_dir").toBool())
                    files << it.key().mid(prefix.size()) + QLatin1Char(' ') + it.value().toObject().value("sha1").toString();
        }
        }
        files.sort();
        return files;
    }

    // Opens the folder of that name in the window's top pane.
    static bool openNamed(QNMainWindowController *w, const QString &name) {
        QNMacFilesViewController *pane = w->filesViewController();
        const qsizetype at = pane ? names(pane->documents()).indexOf(name) : -1;
        if (at < 0)
            return false;
        w->openFolder(pane->documents().at(at));
        return waitForListing(w, 20000);
    }



    // The drive item of the stored record's entry (of this test's copy).
    static QJsonObject recordedItem(const QString &copy) {
        QFile f(QNMacAppDelegate::openedDocumentsRecordPath());
        if (!f.open(QIODevice::ReadOnly))
            return {};
        for (const QJsonValue &v : QJsonDocument::fromJson(f.readAll()).array())
            if (v.toObject().value("path").toString() == copy)
                return v.toObject().value("item").toObject();
        return {};
    }

    std::unique_ptr<Fake> fake;
    QString folderName;
    QNDocumentPtr folder;
};

TEST_P(SaveBackByIdTest, TwoSavesInARowAndOneAfterARestartEachReplaceTheDocument) {
    QNDriveConfigPtr drive;
    ASSERT_NO_FATAL_FAILURE(signIn(drive));
    ASSERT_TRUE(drive);
    const QString letter = GetParam() == Kind::Photos ? QStringLiteral("letter.jpg") : QStringLiteral("letter.txt");
    const QByteArray first = "first draft\n";
    ASSERT_NO_FATAL_FAILURE(seed(drive, letter, first));
    ASSERT_EQ(filesOnTheDrive(), QStringList{letter + QLatin1Char(' ') + sha1(first)});

    QNMainWindowController *w = openDrive(drive);
    ASSERT_NE(w, nullptr);
    const QStringList way = parentNames(GetParam()) << folderName;
    for (const QString &name : way)
        ASSERT_TRUE(openNamed(w, name)) << name.toStdString() << " is not listed";
    QNMacFilesViewController *pane = w->filesViewController();
    ASSERT_EQ(names(pane->documents()), QStringList{letter});
    pane->openDocument(pane->documents().first(), [](const QString &, QString *) { return true; });
    ASSERT_TRUE(VNTest::waitUntil([&] { return delegate->openedDocuments().size() == 1; }, 20000));
    const QNDocumentPtr opened = delegate->openedDocuments().first();
    const QString copy = opened->path();
    const QString itemPath = opened->openedFromDocument()->path();
    ASSERT_EQ(VNTest::readFile(copy), first);
    const QDateTime firstDate = opened->date();

    struct Save {
        const char *what;
        QByteArray text;
        int secondsLater;
        bool afterARestart;
    };
    for (const Save &save : {Save{"the first save", "second draft, a little longer\n", 5, false},
                             Save{"the second save in a row", "third draft\n", 10, false},
                             Save{"a save after a restart", "fourth draft, after the restart\n", 15, true}}) {
        SCOPED_TRACE(save.what);
        if (save.afterARestart) {
            delegate.reset();
            VNTest::spin(30);
        }
        const QDateTime changed = firstDate.addSecs(save.secondsLater);
        changeOpenedCopy(copy, save.text, changed);
        if (save.afterARestart)
            launch();  // the stored record read back offers the change
        else
            delegate->applicationDidBecomeActive();
        EXPECT_TRUE(saveWhenAsked(changed)) << "no question, or the save-back did not succeed: "
                                            << alertTexts().join(", ").toStdString();
        EXPECT_TRUE(alertTexts().filter(QStringLiteral("rror")).isEmpty()) << alertTexts().join(", ").toStdString();
        // One document of that name, with the newest bytes; no backup.
        EXPECT_EQ(filesOnTheDrive().join(QLatin1Char('\n')).toStdString(),
                  (letter + QLatin1Char(' ') + sha1(save.text)).toStdString());
        // The record keeps the document's path and names the item under it,
        // in memory and as stored.
        const QNDocumentPtr now = listedNamed(drive, folder, letter);
        EXPECT_FALSE(identityOf(now).isEmpty());
        const QNDocumentList openedNow = delegate->openedDocuments();
        EXPECT_EQ(openedNow.size(), 1);
        if (!openedNow.isEmpty()) {
            const QNDocumentPtr recorded = openedNow.first()->openedFromDocument();
            EXPECT_EQ(recorded ? recorded->path().toStdString() : std::string(), itemPath.toStdString());
            EXPECT_EQ(identityOf(recorded).toStdString(), identityOf(now).toStdString());
        }
        const QJsonObject stored = recordedItem(copy);
        EXPECT_EQ(stored.value("path").toString().toStdString(), itemPath.toStdString());
        const QString storedIdentity = stored.value("id").toString().isEmpty() ? stored.value("fullPath").toString()
                                                                                : stored.value("id").toString();
        EXPECT_EQ(storedIdentity.toStdString(), identityOf(now).toStdString());
        QNDialogService::shared().clearHistory();
    }
}

std::string kindParamName(const ::testing::TestParamInfo<Kind> &info) { return kindName(info.param); }

INSTANTIATE_TEST_SUITE_P(EachDrive, SaveBackByIdTest,
                         ::testing::Values(Kind::Box, Kind::GoogleDrive, Kind::OneDrive, Kind::Bitcasa, Kind::SugarSync,
                                           Kind::Photos),
                         kindParamName);

}  // namespace
