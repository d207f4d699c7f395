#pragma once

#include "App/QNDialogService.h"
#include "App/QNImageBrowserView.h"
#include "App/QNMacAppDelegate.h"
#include "App/QNMacFilesViewController.h"
#include "App/QNMacTableView.h"
#include "App/QNMainWindowController.h"
#include "App/TBWindow.h"
#include "Core/QNCloudInterfaceFactory.h"
#include "Core/QNDriveConfig.h"
#include "Platform/VNUserDefaults.h"
#include "QNFakeServiceDiscovery.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QUrl>
#include <gtest/gtest.h>
#include <memory>

// Shared set-up of the file-pane tests: dialogs answered by the test,
// discovery by a fake, the local-folder handler, a fresh application
// delegate with one main window, and test folders on the local disk that
// stored local-folder drives point at.
class PanesTest : public ::testing::Test {
protected:
    void SetUp() override {
        QNDialogService::shared().setAutomated(true);
        QNDialogService::shared().clearHistory();
        QNFakeServiceDiscovery::install();
        QNCloudInterfaceFactory::registerCoreHandlers();
        QNMainWindowController::setDriveOpener({});
        VNUserDefaults::standard().removeObject(QNDriveConfig::storedDrivesKey());
        VNUserDefaults::standard().synchronize();
        temp = VNTest::makeTempDir();
    }

    void TearDown() override {
        // Answer what is left so no sheet waits on a closed window.
        for (const auto &r : QNDialogService::shared().pendingAlerts())
            QNDialogService::shared().answer(r.id, 0);
        delegate.reset();
        VNTest::spin(30);
    }

    // A delegate whose first window is open.
    QNMainWindowController *launch() {
        delegate = std::make_unique<QNMacAppDelegate>();
        delegate->applicationDidFinishLaunching();
        VNTest::spin(30);
        QNMainWindowController *w = delegate->windowControllers().value(0);
        if (w)
            w->window()->resize(760, 560);
        return w;
    }

    // A folder below the test's temporary folder (made with its parents).
    QString folder(const QString &relative) const {
        const QString path = temp->path() + QLatin1Char('/') + relative;
        QDir().mkpath(path);
        return path;
    }

    static void writeFile(const QString &path, qint64 size) {
        ASSERT_TRUE(VNTest::writeFile(path, QByteArray(size, 'x')));
    }

    // A stored local-folder drive whose root is the folder.
    static QNDriveConfigPtr localDrive(const QString &name, const QString &path) {
        auto d = QNDriveConfig::create();
        d->setIsMyFiles(true);
        d->setName(name);
        d->setDescription(QStringLiteral("SHOW DOCUMENTS ON THIS MAC"));
        d->setImage(QStringLiteral("icon_mydocuments.pdf"));
        d->setUrl(QUrl::fromLocalFile(path).toString());
        return d;
    }

    static void storeDrives(const QNDriveConfigList &drives) {
        ASSERT_TRUE(QNDriveConfig::writeStoredDrives(drives));
        if (QNMacAppDelegate *d = QNMacAppDelegate::shared())
            d->reloadDrives();
        VNTest::spin(30);
    }

    // Waits until the top pane has listed its folder.
    static bool waitForListing(QNMainWindowController *w, int timeoutMs = 10000) {
        return VNTest::waitUntil(
            [w] { return w->filesViewController() && !w->filesViewController()->isListing(); }, timeoutMs);
    }

    // Chooses the drive row and waits for its root folder's listing.
    static bool openRow(QNMainWindowController *w, int row) {
        w->tableViewSelectionDidChange(row);
        return waitForListing(w);
    }

    static QStringList names(const QNDocumentList &documents) {
        QStringList n;
        for (const auto &d : documents)
            n << d->displayName();
        return n;
    }

    // The path bar's button of that kind ("homeButton", "driveButton",
    // "folderButton") whose tooltip (folder name) matches, if any.
    static QPushButton *pathButton(QNMainWindowController *w, const QString &kind, const QString &folder = {}) {
        if (!w->navbarView())
            return nullptr;
        for (QPushButton *b : w->navbarView()->findChildren<QPushButton *>(kind))
            if (folder.isEmpty() || b->toolTip() == folder)
                return b;
        return nullptr;
    }

    static bool saveShot(QWidget *widget, const QString &name) {
        const QString path = VNTest::artifactsFolder() + QLatin1Char('/') + name;
        QDir().mkpath(VNTest::artifactsFolder());
        return widget->grab().toImage().save(path);
    }

    std::unique_ptr<QTemporaryDir> temp;
    std::unique_ptr<QNMacAppDelegate> delegate;
};
