// A photo-album drive in the main window, against the album service's fake:
// the drive opens in the thumbnail view, and an album's pictures, fetched
// from the fake's media host, are what the pane shows.
#include "App/Panes/PanesTestSupport.h"
#include "App/QNImageBrowserModel.h"

#include "Cloud/QNGooglePhotosHandler.h"
#include "Cloud/QNServiceHosts.h"
#include "Cloud/WebDrives/WebDriveTestSupport.h"

#include <QBuffer>
#include <QImage>

namespace {

using WebDriveTest::Fake;

QByteArray picture(QColor color, const char *format) {
    QImage image(96, 64, QImage::Format_RGB32);
    image.fill(color);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

class PhotoThumbsTest : public PanesTest {
protected:
    void SetUp() override {
        PanesTest::SetUp();
        if (!fake.isRunning())
            FAIL() << "the photos peer did not start";
        fake.trustItsCertificate();
        QNServiceHosts::setUrl("google.accounts", fake.httpBase());
        QNServiceHosts::setUrl("google.photos", fake.httpsBase());
        QNServiceHosts::setUrl("google.docs", fake.httpsBase());
        fake.control("reset");
        QNGooglePhotosHandler::registerWithFactory();
    }

    // A signed-in drive: the sheet's redirect handed to the handler by hand.
    QNDriveConfigPtr signedInDrive() {
        auto drive = QNDriveConfig::create();
        drive->setIsGooglePhotos(true);
        drive->setName(QStringLiteral("PICASA"));
        auto handler = std::make_shared<QNGooglePhotosHandler>(drive);
        bool answered = false, ok = false;
        handler->oAuthLoginWithCompletedBlock([&](bool good, VNErrorPtr, bool) { answered = true, ok = good; });
        QString location;
        Fake::fetch(QNGooglePhotosHandler::authorizationURL().toString(), {}, &location);
        handler->processOAuthLogin(location);
        EXPECT_TRUE(VNTest::waitUntil([&] { return answered; }));
        return ok ? drive : nullptr;
    }

    static QColor centre(const QImage &image) { return image.pixelColor(image.width() / 2, image.height() / 2); }

    Fake fake{QStringLiteral("photos")};
};

}  // namespace

TEST_F(PhotoThumbsTest, TheAlbumsPicturesFromTheServiceFillTheThumbnailView) {
    const QList<std::pair<QString, QColor>> pictures = {
        {QStringLiteral("red.png"), Qt::red}, {QStringLiteral("green.jpg"), Qt::green},
        {QStringLiteral("blue.png"), Qt::blue}, {QStringLiteral("yellow.jpg"), Qt::yellow}};
    for (const auto &[name, color] : pictures) {
        const bool png = name.endsWith(QLatin1String(".png"));
        fake.control("entry", {{"album", "Empty"},
                               {"title", name},
                               {"mime", png ? "image/png" : "image/jpeg"},
                               {"b64", QString::fromLatin1(picture(color, png ? "PNG" : "JPG").toBase64())}});
    }
    const QNDriveConfigPtr drive = signedInDrive();
    ASSERT_NE(drive, nullptr);
    QNMainWindowController *w = openDrive(drive);
    ASSERT_NE(w, nullptr);
    QNMacFilesViewController *root = w->filesViewController();
    ASSERT_TRUE(VNTest::waitUntil([&] { return root->imageBrowserView()->isVisible(); })) << "a photo drive opens on its pictures";
    const int album = int(names(root->documents()).indexOf(QStringLiteral("Empty")));
    ASSERT_GE(album, 0) << names(root->documents()).join(',').toStdString();
    w->openFolder(root->documents().at(album));
    ASSERT_TRUE(waitForListing(w));
    QNMacFilesViewController *pane = w->filesViewController();
    ASSERT_EQ(pane->documents().size(), pictures.size());
    ASSERT_TRUE(VNTest::waitUntil([&] { return pane->imageBrowserView()->isVisible(); }));

    QAbstractItemModel *model = pane->imageBrowserView()->model();
    const auto shown = [&](const QString &name) {
        const int row = int(names(pane->documents()).indexOf(name));
        return model->data(model->index(row, 0), QNImageBrowserModel::PictureRole).value<QPixmap>().toImage();
    };
    // JPEG may shift a colour a little.
    const auto distance = [&](const QString &name, const QColor &color) {
        const QColor c = centre(shown(name));
        return qAbs(c.red() - color.red()) + qAbs(c.green() - color.green()) + qAbs(c.blue() - color.blue());
    };
    const auto allShown = [&] {
        for (const auto &[name, color] : pictures)
            if (shown(name).isNull() || distance(name, QColor(color)) > 24)
                return false;
        return true;
    };
    EXPECT_TRUE(VNTest::waitUntil(allShown, 20000));  // after the coalesced repaint
    for (const auto &[name, color] : pictures)
        EXPECT_LE(distance(name, QColor(color)), 24) << name.toStdString();
    // Each picture whole, in a cell of the zoom's size whatever the first one measured.
    QNImageBrowserView *view = pane->imageBrowserView();
    EXPECT_GE(view->visualRect(model->index(0, 0)).width(), view->iconSize().width());
}
