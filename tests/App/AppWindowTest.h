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
#include <QDir>
#include <QWidget>
#include <gtest/gtest.h>
#include <memory>

// Shared set-up of the application's window tests: dialogs answered by the
// test, discovery by a fake, the core handlers, no stored drives, no
// presenters of other tests, and a fresh application delegate on demand.
class AppWindowTest : public ::testing::Test {
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
        // Answer what is left so no sheet waits on a closed window.
        for (const auto &r : QNDialogService::shared().pendingAlerts())
            QNDialogService::shared().answer(r.id, 0);
        delegate.reset();
        // Let deferred deletions and queued blocks run before the next test.
        VNTest::spin(30);
    }

    // A delegate whose first window is open (launch runs fully).
    QNMainWindowController *launch() {
        delegate = std::make_unique<QNMacAppDelegate>();
        delegate->applicationDidFinishLaunching();
        VNTest::spin(30);
        return delegate->windowControllers().value(0);
    }

    static QNDriveConfigList storedDrives() { return QNDriveConfig::readStoredDrives().value_or(QNDriveConfigList{}); }

    static QStringList names(const QNDriveConfigList &drives) {
        QStringList n;
        for (const auto &d : drives)
            n << d->name();
        return n;
    }

    static QStringList alertTexts() {
        QStringList texts;
        for (const auto &r : QNDialogService::shared().history())
            texts << r.alert.messageText;
        return texts;
    }

    // The one pending alert (fails the test when there is not exactly one).
    static QNDialogService::Request onlyPendingAlert() {
        const auto pending = QNDialogService::shared().pendingAlerts();
        EXPECT_EQ(pending.size(), 1);
        return pending.value(0);
    }

    static bool saveShot(QWidget *widget, const QString &name) {
        QDir().mkpath(VNTest::artifactsFolder());
        const QString path = VNTest::artifactsFolder() + QLatin1Char('/') + name;
        return widget->grab().toImage().save(path);
    }

    std::unique_ptr<QNMacAppDelegate> delegate;
};
