// The platform pieces of the application: every image name the program asks
// for ships, one running instance with new windows for later launches, and
// notices that fall back to an alert without a desktop service.
#include "ShellTestSupport.h"

#include "App/QNApplicationStyle.h"
#include "App/QNImageLibrary.h"
#include "App/QNNotificationCenter.h"
#include "App/QNSingleInstance.h"
#include "Core/QNUtils.h"

#include <QApplication>
#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <QLocalServer>
#include <QStyleFactory>
#include <QUuid>
#include <atomic>
#include <thread>

TEST(ImageLibrary, EveryNameTheProgramAsksForResolves) {
    const QStringList named = {
        "drive-add", "drive-diskcast", "drive-webdav", "drive-office365", "drive-bitcasa", "file-file-large",
        "drag-badge", "path-home", "path-arrow", "path-drive", "path-folder", "image-folder",
        "button-resize-top-vertical", "button-resize-top-vertical-pressed", "button-resize-bottom-vertical",
        "button-resize-bottom-vertical-pressed", "button-delete", "button-back", "button-list", "button-thumbnails",
        "button-quicklook", "button-create-folder", "window-close", "window-minimize", "window-zoom",
        "window-close-rollover", "window-close-inactive", "file-folder", "file-file"};
    for (const QString &name : named)
        EXPECT_TRUE(QNImageLibrary::hasImage(name)) << name.toStdString();
    // The old drive icon names, through their new names.
    const QStringList old = {"icon_my_documents.pdf", "icon_dropbox.pdf", "icon_box.pdf", "icon_skydrive.pdf",
                             "icon_google_drive.pdf", "icon_sugarsync.pdf", "icon_copy.pdf", "icon_evernote.pdf",
                             "icon_spideroak.pdf", "icon_picasa.pdf", "icon_flickr.pdf", "icon_webdav.pdf",
                             "icon_ftp.pdf", "icon_smb.pdf", "icon_mac.pdf", "icon_office365.pdf"};
    for (const QString &name : old)
        EXPECT_TRUE(QNImageLibrary::hasImage(QNUtils::redesignImageFor(name))) << name.toStdString();
    EXPECT_FALSE(QNImageLibrary::imageNamed(QStringLiteral("drive-dropbox.png")).isNull());
    // A name we do not ship still gives an image.
    EXPECT_FALSE(QNImageLibrary::hasImage(QStringLiteral("no-such-image")));
    EXPECT_FALSE(QNImageLibrary::imageNamed(QStringLiteral("no-such-image")).isNull());
}

// Read as PNG files without asking the image plugins: each image is the
// file's own picture, as a pixmap left to guess the format gives it.
TEST(ImageLibrary, EachImageIsItsFilesPicture) {
    for (const QString &name : QNImageLibrary::imageNames()) {
        const QPixmap expected(QStringLiteral(":/images/%1.png").arg(name));
        ASSERT_FALSE(expected.isNull()) << name.toStdString();
        EXPECT_EQ(QNImageLibrary::imageNamed(name).toImage(), expected.toImage()) << name.toStdString();
    }
}

// The overflow arrows the style gives as icons made when first drawn look
// as the platform style's own; other icons come from it as they are.
TEST(ApplicationStyle, DeferredIconsDrawAsThePlatformStylesOwn) {
    std::unique_ptr<QStyle> platform(QStyleFactory::create(QApplication::style()->name()));
    QNApplicationStyle style(QStyleFactory::create(QApplication::style()->name()));
    for (const QStyle::StandardPixmap which :
         {QStyle::SP_ToolBarHorizontalExtensionButton, QStyle::SP_ToolBarVerticalExtensionButton,
          QStyle::SP_DialogOkButton, QStyle::SP_DirIcon}) {
        SCOPED_TRACE(int(which));
        const QIcon ours = style.standardIcon(which);
        const QIcon theirs = platform->standardIcon(which);
        EXPECT_EQ(ours.isNull(), theirs.isNull());
        for (const int side : {8, 16, 32})
            EXPECT_EQ(ours.pixmap(side, side).toImage(), theirs.pixmap(side, side).toImage()) << side;
    }
}

TEST(SingleInstance, AStaleSocketFromADeadInstanceIsTakenOver) {
    const QString name = QStringLiteral("varnello-test-") + QUuid::createUuid().toString(QUuid::Id128);
    {
        QLocalServer stale;
        ASSERT_TRUE(stale.listen(name));
        stale.setMaxPendingConnections(0);
        // Left as a dead instance would leave it: the file stays after close on some systems.
    }
    QNSingleInstance instance(name);
    EXPECT_TRUE(instance.listen());
}

class SingleInstanceWindows : public ShellTest {};

TEST_F(SingleInstanceWindows, ASecondLaunchWithNoWindowShownOpensANewWindowInTheRunningInstance) {
    launch();
    const QString name = QStringLiteral("varnello-test-") + QUuid::createUuid().toString(QUuid::Id128);
    QNSingleInstance running(name);
    EXPECT_FALSE(QNSingleInstance(name).notifyRunningInstance(300));  // nobody runs yet
    ASSERT_TRUE(running.listen());
    delegate->attachSingleInstance(&running);
    delegate->windowControllers()[0]->window()->close();  // no window shown: the later launch opens one
    std::atomic<bool> answered{false};
    // The later launch blocks on its side; the running one answers from its loop.
    std::thread launchAgain([&] { answered = QNSingleInstance(name).notifyRunningInstance(3000); });
    EXPECT_TRUE(VNTest::waitUntil([&] { return delegate->windowControllers().size() == 2; }, 5000));
    VNTest::waitUntil([&] { return answered.load(); }, 3000);
    launchAgain.join();
    EXPECT_TRUE(answered.load());
    EXPECT_EQ(delegate->windowControllers()[1]->window()->windowTitle(), QStringLiteral("Varnello - Home"));
    EXPECT_NE(QNSingleInstance::serverNameFor(QStringLiteral("/a")), QNSingleInstance::serverNameFor(QStringLiteral("/b")));
}

class Notifications : public ShellTest {
protected:
    void TearDown() override {
        QNNotificationCenter::shared().setBackend(&QNNotificationCenter::desktopBackend);
        ShellTest::TearDown();
    }
};

TEST_F(Notifications, GoToTheDesktopServiceOrFallBackToAnAlert) {
    QString shown;
    QNNotificationCenter::shared().setBackend([&](const QString &t, const QString &x) {
        shown = t + QLatin1Char('|') + x;
        return true;
    });
    EXPECT_TRUE(QNNotificationCenter::shared().deliverNotification(QStringLiteral("Varnello"), QStringLiteral("Links copied")));
    EXPECT_EQ(shown, QStringLiteral("Varnello|Links copied"));
    EXPECT_TRUE(QNDialogService::shared().history().isEmpty());

    // No desktop service running: the alert instead.
    QNNotificationCenter::shared().setBackend([](const QString &, const QString &) { return false; });
    EXPECT_FALSE(QNNotificationCenter::shared().deliverNotification(QStringLiteral("Varnello"), QStringLiteral("Links copied")));
    ASSERT_EQ(QNDialogService::shared().history().size(), 1);
    const auto alert = QNDialogService::shared().history().first();
    EXPECT_TRUE(alert.modal);
    EXPECT_EQ(alert.alert.messageText, QStringLiteral("Varnello"));
    EXPECT_EQ(alert.alert.informativeText, QStringLiteral("Links copied"));
    EXPECT_EQ(alert.alert.buttons, QStringList{QStringLiteral("OK")});
}
