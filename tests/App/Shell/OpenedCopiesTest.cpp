// Copies made by Open and Open With outlive the pane that made them (Back,
// Home and the path bar clear the pane's temporary folder but leave them),
// and a changed copy never sent back is offered again at the next launch.
#include "ShellTestSupport.h"

#include "App/QNMacFilesViewController.h"
#include "Platform/VNTempDirectory.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

class OpenedCopiesTest : public ShellTest {
protected:
    // Alice's WebDAV drive at path on one server.
    static QNDriveConfigPtr webdav(const QString &path) {
        auto d = makeDrive(QStringLiteral("WEBDAV"));
        d->setIsWebDAV(true);
        d->setUrl(QStringLiteral("http://127.0.0.1:8080") + path);
        d->setUsername(QStringLiteral("alice"));
        return d;
    }
};

TEST_F(OpenedCopiesTest, APanesCleanUpLeavesTheCopiesOpenedInOtherApplications) {
    launch();
    auto *pane = new QNMacFilesViewController();
    const QString opened = pane->tempPath() + "/OPEN-1/letter.txt";
    const QString other = pane->tempPath() + "/OPEN-2/closed.txt";
    ASSERT_TRUE(VNTest::writeFile(opened, "being edited"));
    ASSERT_TRUE(VNTest::writeFile(other, "not opened"));
    auto document = QNDocument::withPath(opened);
    document->setDate(QFileInfo(opened).lastModified());
    delegate->addOpenedDocument(document);

    pane->clearTempPath();  // what going back from the pane does
    EXPECT_EQ(VNTest::readFile(opened), "being edited");
    EXPECT_FALSE(QFileInfo::exists(other));
    EXPECT_FALSE(QFileInfo::exists(pane->thumbTempPath()));
    delete pane;
}

TEST_F(OpenedCopiesTest, AChangedCopyTheLastRunLeftIsOfferedAtTheNextLaunch) {
    storeDrives(twoStoredDrives());
    const QNDriveConfigPtr ftp = storedDrives().at(1);
    const QString record = QNMacAppDelegate::openedDocumentsRecordPath();
    QFile::remove(record);
    launch();
    // The launch's clean-up has run (it writes the record).
    ASSERT_TRUE(VNTest::waitUntil([&] { return QFileInfo::exists(record); }, 2000));
    const QString path = VNTempDirectory::path() + "/PANE/OPEN/report.txt";
    ASSERT_TRUE(VNTest::writeFile(path, "v1"));
    auto copy = QNDocument::withPath(path);
    copy->setDate(QFileInfo(path).lastModified());
    copy->setOpenedFromDriveConfig(ftp);
    copy->setOpenedFromDocument(QNDocument::withPath("/remote/report.txt"));
    copy->setOpenedFromParentDocument(QNDocument::withPath("/remote", true));
    delegate->addOpenedDocument(copy);
    {
        // Edited in another application after the last window was closed.
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::Append));
        f.write(" edited");
        f.flush();
        ASSERT_TRUE(f.setFileTime(copy->date().addSecs(5), QFileDevice::FileModificationTime));
    }
    delegate.reset();

    launch();
    QNDocumentPtr saved;
    delegate->setSaveBackStarter([&](const QNDocumentPtr &d, QNMacAppDelegate::SaveBackDone) { saved = d; });
    ASSERT_TRUE(VNTest::waitUntil([] { return QNDialogService::shared().pendingAlerts().size() == 1; }, 2000));
    const auto question = onlyPendingAlert();
    EXPECT_EQ(question.alert.informativeText,
              QStringLiteral("report.txt was changed. Do you want to save the changes back to FTP?"));
    QNDialogService::shared().answer(question.id, QNAlert::FirstButtonReturn);
    ASSERT_TRUE(saved);
    EXPECT_EQ(saved->path(), path);
    // The drive as a pane of it holds it (the address cut to the server).
    QNDriveConfigPtr paneCopy;
    QNMainWindowController::determineRoot(ftp, &paneCopy, nullptr);
    EXPECT_EQ(saved->openedFromDriveConfig()->driveConfigId(), paneCopy->driveConfigId());
    EXPECT_EQ(saved->openedFromDocument()->path(), "/remote/report.txt");
    EXPECT_EQ(saved->openedFromParentDocument()->path(), "/remote");
}

// What identifies the item on its drive beyond its path (its id, and the
// full path, edit URL, resource id, sha1 and address some drives find it
// by) comes back from the record with the changed copy.
TEST_F(OpenedCopiesTest, TheItemsIdentityComesBackFromTheRecord) {
    storeDrives({webdav(QStringLiteral("/one/"))});
    const QString path = VNTempDirectory::path() + "/PANE/OPEN/report.txt";
    ASSERT_TRUE(VNTest::writeFile(path, "edited"));
    const QDateTime opened = QFileInfo(path).lastModified().addSecs(-5);
    const QJsonObject item{{"path", "/one/report.txt"},       {"id", "item-7"},
                           {"fullPath", "/f1/f7"},            {"editURL", "https://drive.example/edit/7"},
                           {"gdResourceId", "file:7"},        {"sha1", "abc7"},
                           {"url", "https://drive.example/7.txt"}};
    QJsonObject entry{{"path", path},
                      {"date", double(opened.toMSecsSinceEpoch())},
                      {"drive", QStringLiteral("WebDAV|http://127.0.0.1:8080/one/|alice||")},
                      {"item", item},
                      {"folder", QJsonObject{{"path", "/one"}, {"id", "folder-1"}, {"fullPath", "/f1"}}}};
    QFile record(QNMacAppDelegate::openedDocumentsRecordPath());
    ASSERT_TRUE(record.open(QIODevice::WriteOnly | QIODevice::Truncate));
    record.write(QJsonDocument(QJsonArray{entry}).toJson());
    record.close();

    launch();
    QNDocumentPtr saved;
    delegate->setSaveBackStarter([&](const QNDocumentPtr &d, QNMacAppDelegate::SaveBackDone) { saved = d; });
    ASSERT_TRUE(VNTest::waitUntil([] { return QNDialogService::shared().pendingAlerts().size() == 1; }, 2000));
    QNDialogService::shared().answer(onlyPendingAlert().id, QNAlert::FirstButtonReturn);
    ASSERT_TRUE(saved);
    const QNDocumentPtr from = saved->openedFromDocument();
    EXPECT_EQ(from->path(), "/one/report.txt");
    EXPECT_EQ(from->id(), "item-7");
    EXPECT_EQ(from->fullPath(), "/f1/f7");
    EXPECT_EQ(from->editURL(), "https://drive.example/edit/7");
    EXPECT_EQ(from->gdResourceId(), "file:7");
    EXPECT_EQ(from->sha1(), "abc7");
    EXPECT_EQ(from->url(), QUrl("https://drive.example/7.txt"));
    EXPECT_EQ(saved->openedFromParentDocument()->id(), "folder-1");
    EXPECT_EQ(saved->openedFromParentDocument()->fullPath(), "/f1");
    QFile::remove(path);
}

// A record names the drive a copy came from. It names the stored drive;
// records of earlier versions named the pane's copy of it, whose address
// was cut to the server: such a record is matched to the stored drive whose
// folder holds the item, when several drives share the server.
TEST_F(OpenedCopiesTest, ARecordFindsItsStoredDriveByItsKeyOrByThePanesCopyOfIt) {
    const QString server = QStringLiteral("WebDAV|http://127.0.0.1:8080|alice||");
    struct Row {
        const char *name;
        QString drive;  // as the record names it
        QString item;
        QString root;  // the root folder of the drive expected
    } rows[] = {
        {"the stored drive itself", QStringLiteral("WebDAV|http://127.0.0.1:8080/two/|alice||"),
         QStringLiteral("/two/report.txt"), QStringLiteral("/two/")},
        {"an earlier record, the item in the second drive", server, QStringLiteral("/two/report.txt"),
         QStringLiteral("/two/")},
        {"an earlier record, the item in the first drive", server, QStringLiteral("/one/report.txt"),
         QStringLiteral("/one/")},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        storeDrives({webdav(QStringLiteral("/one/")), webdav(QStringLiteral("/two/"))});
        const QString path = VNTempDirectory::path() + "/PANE/OPEN/report.txt";
        ASSERT_TRUE(VNTest::writeFile(path, "edited"));
        const QDateTime opened = QFileInfo(path).lastModified().addSecs(-5);
        QJsonObject entry{{"path", path},
                          {"date", double(opened.toMSecsSinceEpoch())},
                          {"drive", row.drive},
                          {"item", QJsonObject{{"path", row.item}, {"id", ""}}},
                          {"folder", QJsonObject{{"path", QFileInfo(row.item).path()}, {"id", ""}}}};
        QFile record(QNMacAppDelegate::openedDocumentsRecordPath());
        ASSERT_TRUE(record.open(QIODevice::WriteOnly | QIODevice::Truncate));
        record.write(QJsonDocument(QJsonArray{entry}).toJson());
        record.close();

        launch();
        QNDocumentPtr saved;
        delegate->setSaveBackStarter([&](const QNDocumentPtr &d, QNMacAppDelegate::SaveBackDone) { saved = d; });
        ASSERT_TRUE(VNTest::waitUntil([] { return QNDialogService::shared().pendingAlerts().size() == 1; }, 2000));
        QNDialogService::shared().answer(onlyPendingAlert().id, QNAlert::FirstButtonReturn);
        ASSERT_TRUE(saved);
        EXPECT_EQ(saved->openedFromDriveConfig()->url(), QStringLiteral("http://127.0.0.1:8080"));
        EXPECT_EQ(saved->openedFromDriveConfig()->initialUrlPath(), row.root);
        EXPECT_EQ(saved->openedFromDocument()->path(), row.item);
        delegate.reset();
        QFile::remove(path);
    }
}

// The record names the stored drive a pane's copy was made from, also
// beside a drive of the same server at its root.
TEST_F(OpenedCopiesTest, TheRecordNamesTheStoredDriveThePanesCopyCameFrom) {
    const QNDriveConfigList drives = {webdav(QString()), webdav(QStringLiteral("/two/"))};
    storeDrives(drives);
    const QString record = QNMacAppDelegate::openedDocumentsRecordPath();
    QFile::remove(record);
    launch();
    ASSERT_TRUE(VNTest::waitUntil([&] { return QFileInfo::exists(record); }, 2000));
    const QStringList expected = {QStringLiteral("WebDAV|http://127.0.0.1:8080|alice||"),
                                  QStringLiteral("WebDAV|http://127.0.0.1:8080/two/|alice||")};
    for (int i = 0; i < drives.size(); ++i) {
        SCOPED_TRACE(expected[i].toStdString());
        QNDriveConfigPtr paneCopy;
        QNDocumentPtr root;
        QNMainWindowController::determineRoot(drives[i], &paneCopy, &root);
        const QString path = VNTempDirectory::path() + QStringLiteral("/PANE/OPEN%1/report.txt").arg(i);
        ASSERT_TRUE(VNTest::writeFile(path, "v1"));
        auto copy = QNDocument::withPath(path);
        copy->setDate(QFileInfo(path).lastModified());
        copy->setOpenedFromDriveConfig(paneCopy);
        copy->setOpenedFromDocument(QNDocument::withPath(root->path() + QStringLiteral("report.txt")));
        copy->setOpenedFromParentDocument(root);
        delegate->addOpenedDocument(copy);
        QFile f(record);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        const QJsonArray entries = QJsonDocument::fromJson(f.readAll()).array();
        ASSERT_FALSE(entries.isEmpty());
        EXPECT_EQ(entries.last().toObject().value(QStringLiteral("drive")).toString(), expected[i]);
    }
}

}  // namespace
