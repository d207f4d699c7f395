#pragma once

#include "App/QNAddDriveWindowController.h"
#include "App/QNAuthWindowController.h"
#include "App/QNDialogService.h"
#include "App/QNDriveConfigWindowController.h"
#include "App/QNMacAppDelegate.h"
#include "App/QNMainWindowController.h"
#include "App/QNOAuthCallbackMatcher.h"
#include "App/TBWindow.h"
#include "Cloud/QNFTPHandler.h"
#include "Cloud/QNWebDAVHandler.h"
#include "Core/QNCloudInterfaceFactory.h"
#include "Core/QNDriveConfig.h"
#include "Platform/VNLog.h"
#include "Platform/VNUserDefaults.h"
#include "QNFakeServiceDiscovery.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QWidget>
#include <gtest/gtest.h>
#include <memory>

// A handler whose login answers at once: ok when the drive's password is
// "right", else the usual handler error. For the add-drive steps that do
// not need a server.
class InstantLoginHandler : public QNCloudInterface {
public:
    using QNCloudInterface::QNCloudInterface;
    QString className() const override { return QStringLiteral("InstantLoginHandler"); }
    void login(QNLoginCallback completed) override {
        ++logins;
        const auto d = driveConfig();
        if (d && d->password() == QStringLiteral("right"))
            completed(true, nullptr, false);
        else
            completed(false, makeError(QStringLiteral("The password is wrong.")), false);
    }
    static inline int logins = 0;
};

// Shared set-up of the drive-window tests: dialogs answered by the test,
// discovery by a fake, the FTP and WebDAV handlers, no stored drives, the
// default callback configuration, and the add-drive and settings windows on
// the main windows.
class DrivesTest : public ::testing::Test {
protected:
    void SetUp() override {
        QNDialogService::shared().setAutomated(true);
        QNDialogService::shared().clearHistory();
        QNDialogService::shared().setModalResponder({});
        QNFakeServiceDiscovery::install();
        QNCloudInterfaceFactory::registerCoreHandlers();
        QNFTPHandler::registerHandler();
        QNWebDAVHandler::registerWithFactory();
        for (auto kind : {QNCloudInterfaceFactory::Kind::Dropbox, QNCloudInterfaceFactory::Kind::Box,
                          QNCloudInterfaceFactory::Kind::SugarSync, QNCloudInterfaceFactory::Kind::Office365})
            QNCloudInterfaceFactory::unregisterHandler(kind);
        QNCloudInterfaceFactory::unregisterHandler(QStringLiteral("instant"));
        QNOAuthCallbackMatcher::setConfig(QNOAuthCallbackMatcher::defaultConfig());
        VNUserDefaults::standard().removeObject(QNDriveConfig::storedDrivesKey());
        VNUserDefaults::standard().synchronize();
        QNMainWindowController::setDriveOpener({});
        QNAddDriveWindowController::install();
        QNDriveConfigWindowController::install();
        InstantLoginHandler::logins = 0;
    }

    void TearDown() override {
        for (const auto &r : QNDialogService::shared().pendingAlerts())
            QNDialogService::shared().answer(r.id, 0);
        sheet.reset();
        delegate.reset();
        QNMainWindowController::setAddDrivePresenter({});
        QNMainWindowController::setDriveSettingsPresenter({});
        QNCloudInterfaceFactory::unregisterHandler(QStringLiteral("instant"));
        VNTest::spin(30);
    }

    // Drives whose user name is "instant" log in through InstantLoginHandler.
    static void useInstantLogin() {
        QNCloudInterfaceFactory::registerHandler(
            QStringLiteral("instant"),
            [](const QNDriveConfig &c) { return c.username() == QStringLiteral("instant"); },
            [](const QNDriveConfigPtr &c) -> QNCloudInterfacePtr { return std::make_shared<InstantLoginHandler>(c); });
    }

    // A delegate whose first window is open.
    QNMainWindowController *launch() {
        delegate = std::make_unique<QNMacAppDelegate>();
        delegate->applicationDidFinishLaunching();
        VNTest::spin(30);
        return delegate->windowControllers().value(0);
    }

    // An add-drive sheet on its own (no main window under it).
    QNAddDriveWindowController *openSheet() {
        sheet = std::make_unique<QNAddDriveWindowController>();
        sheet->window()->show();
        return sheet.get();
    }

    // Fills the open settings form and presses OK.
    static void fillForm(QNDriveConfigWindowController *form, const QString &name, const QString &url,
                         const QString &user, const QString &password) {
        ASSERT_NE(form, nullptr);
        form->name()->setText(name);
        form->url()->setText(url);
        form->username()->setText(user);
        form->password()->setText(password);
        form->okButton()->click();
    }

    static QNDriveConfigList storedDrives() { return QNDriveConfig::readStoredDrives().value_or(QNDriveConfigList{}); }

    static QStringList alertTexts() {
        QStringList texts;
        for (const auto &r : QNDialogService::shared().history())
            texts << r.alert.messageText;
        return texts;
    }

    // Waits for the sheet to be saved and closed, or for an alert.
    static bool waitForOutcome(QNAddDriveWindowController *s) {
        return VNTest::waitUntil(
            [s] { return s->isClosed() || !QNDialogService::shared().history().isEmpty(); }, 20000);
    }

    std::unique_ptr<QNMacAppDelegate> delegate;
    std::unique_ptr<QNAddDriveWindowController> sheet;
};
