#pragma once

#include "App/QNDialogService.h"
#include "App/QNMacAppDelegate.h"
#include "App/QNMainWindowController.h"
#include "App/TBWindow.h"
#include "Core/QNCloudInterfaceFactory.h"
#include "Core/QNDriveConfig.h"
#include "Platform/VNUserDefaults.h"
#include "QNFakeServiceDiscovery.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QWidget>
#include <gtest/gtest.h>
#include <memory>

// Shared set-up of the application's window tests: dialogs answered by the
// test, discovery by a fake, no stored drives, a fresh application delegate.
class ShellTest : public ::testing::Test {
protected:
    void SetUp() override {
        QNDialogService::shared().setAutomated(true);
        QNDialogService::shared().clearHistory();
        QNDialogService::shared().setModalResponder({});
        QNFakeServiceDiscovery::install();
        QNCloudInterfaceFactory::registerCoreHandlers();
        VNUserDefaults::standard().removeObject(QNDriveConfig::storedDrivesKey());
        VNUserDefaults::standard().synchronize();
        QNMainWindowController::setAddDrivePresenter({});
        QNMainWindowController::setDriveSettingsPresenter({});
        QNMainWindowController::setDriveOpener({});
    }

    void TearDown() override {
        delegate.reset();
        // Let deferred deletions and queued blocks run before the next test.
        VNTest::spin(20);
    }

    // A delegate whose first window is open (launch runs fully).
    QNMainWindowController *launch() {
        delegate = std::make_unique<QNMacAppDelegate>();
        delegate->applicationDidFinishLaunching();
        VNTest::spin(30);
        return delegate->windowControllers().value(0);
    }

    static QNDriveConfigPtr makeDrive(const QString &name, const QString &displayName, const QString &description,
                                      const QString &image) {
        auto d = QNDriveConfig::create();
        d->setName(name);
        d->setDisplayName(displayName);
        d->setDescription(description);
        d->setImage(image);
        return d;
    }

    // Two stored drives: a Dropbox account and an FTP server.
    static QNDriveConfigList twoStoredDrives() {
        auto dropbox = makeDrive(QStringLiteral("DROPBOX"), QString(), QStringLiteral("SHOW DOCUMENTS ON THIS DROPBOX ACCOUNT"),
                                 QStringLiteral("icon_dropbox.pdf"));
        dropbox->setIsDropbox(true);
        dropbox->setUserId(QStringLiteral("1001"));
        auto ftp = makeDrive(QStringLiteral("FTP"), QStringLiteral("Office FTP"),
                             QStringLiteral("SHOW DOCUMENTS ON THIS FTP ACCOUNT"), QStringLiteral("icon_ftp.pdf"));
        ftp->setIsFTP(true);
        ftp->setUrl(QStringLiteral("ftp://127.0.0.1:2121/"));
        ftp->setUsername(QStringLiteral("user"));
        return {dropbox, ftp};
    }

    static void storeDrives(const QNDriveConfigList &drives) {
        ASSERT_TRUE(QNDriveConfig::writeStoredDrives(drives));
    }

    static QNDriveConfigList storedDrives() { return QNDriveConfig::readStoredDrives().value_or(QNDriveConfigList{}); }

    static QStringList names(const QNDriveConfigList &drives) {
        QStringList n;
        for (const auto &d : drives)
            n << d->name();
        return n;
    }

    // The one pending alert (fails the test when there is not exactly one).
    static QNDialogService::Request onlyPendingAlert() {
        const auto pending = QNDialogService::shared().pendingAlerts();
        EXPECT_EQ(pending.size(), 1);
        return pending.value(0);
    }

    std::unique_ptr<QNMacAppDelegate> delegate;
};
