// The drive-settings form: the encoding list, which fields each kind of
// drive shows, what OK writes and what Cancel leaves alone.
#include "App/Drives/DrivesTestSupport.h"

#include <QLabel>

namespace {

class DriveConfigWindowTest : public DrivesTest {
protected:
    std::unique_ptr<QNDriveConfigWindowController> openForm(const QNDriveConfigPtr &drive) {
        auto form = std::make_unique<QNDriveConfigWindowController>();
        form->setDriveConfig(drive);
        form->window()->show();
        return form;
    }

    static QNDriveConfigPtr driveOfKind(void (QNDriveConfig::*setKind)(bool)) {
        auto d = QNDriveConfig::create();
        ((*d).*setKind)(true);
        return d;
    }

    // Which of the form's controls are shown, by object name.
    static QStringList shownControls(QNDriveConfigWindowController *f) {
        QStringList shown;
        for (QWidget *w : std::initializer_list<QWidget *>{
                 f->nameLabel(), f->name(), f->usernameLabel(), f->username(), f->passwordLabel(), f->password(),
                 f->urlLabel(), f->url(), f->characterEncodingLabel(), f->characterEncoding(), f->useSSLLabel(),
                 f->useSSL(), f->validateCertificatesLabel(), f->validateCertificates()})
            if (w->isVisible())
                shown << w->objectName();
        return shown;
    }
};

TEST_F(DriveConfigWindowTest, EachKindShowsOnlyTheFieldsItUses) {
    const QStringList nameOnly{"nameLabel", "name"};
    const QStringList credentials{"nameLabel", "name", "usernameLabel", "username", "passwordLabel", "password"};
    const QStringList ftp = credentials + QStringList{"urlLabel", "url", "characterEncodingLabel", "characterEncoding",
                                                      "useSSLLabel", "useSSL", "validateCertificatesLabel",
                                                      "validateCertificates"};
    const QStringList webdav = credentials + QStringList{"urlLabel", "url", "validateCertificatesLabel",
                                                         "validateCertificates"};
    const struct {
        void (QNDriveConfig::*kind)(bool);
        QStringList shown;
        const char *what;
    } cases[] = {
        {&QNDriveConfig::setIsDropbox, nameOnly, "Dropbox"},
        {&QNDriveConfig::setIsBox, nameOnly, "Box"},
        {&QNDriveConfig::setIsSkyDrive, nameOnly, "OneDrive"},
        {&QNDriveConfig::setIsGoogleDrive, nameOnly, "Google Drive"},
        {&QNDriveConfig::setIsGooglePhotos, nameOnly, "Picasa"},
        {&QNDriveConfig::setIsFlickr, nameOnly, "Flickr"},
        {&QNDriveConfig::setIsCopy, nameOnly, "Copy"},
        {&QNDriveConfig::setIsBitcasa, nameOnly, "Bitcasa"},
        {&QNDriveConfig::setIsOffice365, credentials, "Office 365"},
        {&QNDriveConfig::setIsSugarSync, credentials, "SugarSync"},
        {&QNDriveConfig::setIsWebDAV, webdav, "WebDAV"},
        {&QNDriveConfig::setIsFTP, ftp, "FTP"},
    };
    for (const auto &c : cases) {
        auto form = openForm(driveOfKind(c.kind));
        EXPECT_EQ(shownControls(form.get()), c.shown) << c.what;
    }
}

TEST_F(DriveConfigWindowTest, FTPEncodingRoundTripsAboveTwoToTheThirtyOne) {
    auto d = driveOfKind(&QNDriveConfig::setIsFTP);
    d->setName(QStringLiteral("FTP"));
    d->setUrl(QStringLiteral("ftp://127.0.0.1/"));
    auto form = openForm(d);
    EXPECT_EQ(form->characterEncoding()->currentIndex(), 0);
    form->characterEncoding()->setCurrentIndex(19);
    form->useSSL()->setChecked(true);
    form->validateCertificates()->setChecked(true);
    int code = -9;
    form->beginSheet(nullptr, [&code](int rc) { code = rc; });
    form->okButton()->click();
    EXPECT_EQ(code, 1);
    EXPECT_EQ(d->stringEncoding(), quint64(0x94000100u));
    EXPECT_EQ(d->stringEncodingName(), QStringLiteral("UTF-16 Little Endian"));
    EXPECT_TRUE(d->useSSL());
    EXPECT_TRUE(d->validateCertificates());
    EXPECT_TRUE(openForm(d)->useSSL()->isChecked());  // a form opened again shows it

    // Every entry of the menu comes back to itself through the stored form.
    const auto &table = QNDriveConfigWindowController::encodingTable();
    ASSERT_EQ(form->encodingNames().size(), table.size());
    for (int i = 0; i < table.size(); ++i) {
        auto drive = driveOfKind(&QNDriveConfig::setIsFTP);
        drive->setStringEncoding(table[i].number);
        auto f = openForm(drive->copyThroughArchive());
        EXPECT_EQ(f->characterEncoding()->currentIndex(), i);
    }
    // A number not in the list keeps "Detect" selected.
    auto unknown = driveOfKind(&QNDriveConfig::setIsFTP);
    unknown->setStringEncoding(0x12345678u);
    EXPECT_EQ(openForm(unknown)->characterEncoding()->currentIndex(), 0);
}

TEST_F(DriveConfigWindowTest, TheFormShowsTheDrivesValuesAndOKWritesWhatTheKindUses) {
    auto d = driveOfKind(&QNDriveConfig::setIsWebDAV);
    d->setDisplayName(QStringLiteral("Office share"));
    d->setUsername(QStringLiteral("anna"));
    d->setPassword(QStringLiteral("pw"));
    d->setUrl(QStringLiteral("https://dav.example/"));
    d->setStringEncoding(5);
    d->setValidateCertificates(true);
    auto form = openForm(d);
    EXPECT_EQ(form->name()->text(), QStringLiteral("Office share"));
    EXPECT_EQ(form->username()->text(), QStringLiteral("anna"));
    EXPECT_EQ(form->password()->text(), QStringLiteral("pw"));
    EXPECT_EQ(form->url()->text(), QStringLiteral("https://dav.example/"));
    EXPECT_TRUE(form->validateCertificates()->isChecked());
    form->name()->setText(QStringLiteral("My DAV"));
    form->url()->setText(QStringLiteral("http://127.0.0.1:8080/"));
    form->username()->setText(QStringLiteral("u"));
    form->password()->setText(QStringLiteral("p"));
    form->validateCertificates()->setChecked(false);
    form->characterEncoding()->setCurrentIndex(3);  // hidden for WebDAV: not written
    form->ok();
    EXPECT_EQ(d->displayName(), QStringLiteral("My DAV"));
    EXPECT_EQ(d->url(), QStringLiteral("http://127.0.0.1:8080/"));
    EXPECT_EQ(d->username(), QStringLiteral("u"));
    EXPECT_EQ(d->password(), QStringLiteral("p"));
    EXPECT_FALSE(d->validateCertificates());
    EXPECT_EQ(d->stringEncoding(), 5u);
    EXPECT_TRUE(d->stringEncodingName().isNull());
}

TEST_F(DriveConfigWindowTest, OAuthDriveWithEmptyNameGetsItsDefaultNameBack) {
    auto d = driveOfKind(&QNDriveConfig::setIsDropbox);
    d->setDisplayName(QStringLiteral("Work Dropbox"));
    d->setUrl(QStringLiteral("kept"));
    auto form = openForm(d);
    EXPECT_EQ(form->name()->text(), QStringLiteral("Work Dropbox"));
    form->name()->clear();
    form->ok();
    EXPECT_TRUE(d->displayName().isNull());
    // Hidden credentials come back empty, not absent; the URL is not touched.
    EXPECT_EQ(d->username(), QString(QLatin1String("")));
    EXPECT_FALSE(d->username().isNull());
    EXPECT_EQ(d->url(), QStringLiteral("kept"));
}

TEST_F(DriveConfigWindowTest, CancelAndEscapeChangeNothingAfterTyping) {
    auto d = driveOfKind(&QNDriveConfig::setIsFTP);
    d->setDisplayName(QStringLiteral("Before"));
    d->setUrl(QStringLiteral("ftp://127.0.0.1/"));
    auto form = openForm(d);
    int code = -9;
    form->beginSheet(nullptr, [&code](int rc) { code = rc; });
    form->name()->setText(QStringLiteral("After"));
    form->url()->setText(QStringLiteral("ftp://elsewhere/"));
    form->password()->setText(QStringLiteral("typed"));
    form->characterEncoding()->setCurrentIndex(7);
    form->useSSL()->setChecked(true);
    form->cancelButton()->click();
    EXPECT_EQ(code, 0);
    EXPECT_EQ(d->displayName(), QStringLiteral("Before"));
    EXPECT_EQ(d->url(), QStringLiteral("ftp://127.0.0.1/"));
    EXPECT_TRUE(d->password().isNull());
    EXPECT_EQ(d->stringEncoding(), 0u);
    EXPECT_FALSE(d->useSSL());
    // A second press after the end does nothing.
    form->ok();
    EXPECT_EQ(code, 0);
    EXPECT_EQ(d->displayName(), QStringLiteral("Before"));

    // Escape on a sheet is Cancel too.
    QWidget host;
    host.resize(600, 500);
    host.show();
    auto sheet = std::make_unique<QNDriveConfigWindowController>();
    sheet->setDriveConfig(d);
    sheet->beginSheet(&host, [&code](int rc) { code = rc; });
    ASSERT_TRUE(VNTest::waitUntil([&] { return sheet->window()->isVisible(); }));
    code = -9;
    sheet->name()->setText(QStringLiteral("typed"));
    sheet->window()->close();
    EXPECT_EQ(code, 0);
    EXPECT_EQ(d->displayName(), QStringLiteral("Before"));
    EXPECT_EQ(QNDialogService::shared().attachedSheet(&host), nullptr);
}

TEST_F(DriveConfigWindowTest, TheFTPFormShowsWhatTheAddressTakesAndRefusesAnEmptyOrMalformedOne) {
    auto d = driveOfKind(&QNDriveConfig::setIsFTP);
    auto form = openForm(d);
    EXPECT_EQ(form->url()->placeholderText(), QStringLiteral("ftp://, ftps:// or sftp://host[:port]/folder"));
    int code = -9;
    form->beginSheet(nullptr, [&code](int rc) { code = rc; });
    for (const QString &typed : {QString(), QStringLiteral("http://host/"), QStringLiteral("ftp:///folder")}) {
        SCOPED_TRACE(typed.toStdString());
        form->url()->setText(typed);
        form->okButton()->click();
        EXPECT_EQ(code, -9);  // the form stays open
        EXPECT_TRUE(d->url().isNull());
        const auto refusal = onlyPendingAlert();
        EXPECT_TRUE(refusal.alert.informativeText.contains(
            QStringLiteral("Please type the server's address as ftp://, ftps:// or sftp://host[:port]/folder")));
        QNDialogService::shared().answer(refusal.id, QNAlert::FirstButtonReturn);
    }
    form->url()->setText(QStringLiteral("myhost:2121/pub"));  // no scheme: the drive's kind gives it
    form->okButton()->click();
    EXPECT_EQ(code, 1);
    EXPECT_EQ(d->url(), QStringLiteral("myhost:2121/pub"));
}

}  // namespace
