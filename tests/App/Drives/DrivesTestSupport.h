#pragma once

#include "App/QNAddDriveWindowController.h"
#include "App/WebLogin/QNAuthWindowController.h"
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
#include "App/AppWindowTest.h"

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

// The drive-window tests: the FTP and WebDAV handlers, none for the web
// services, the default callback configuration, and the add-drive and
// settings windows on the main windows.
class DrivesTest : public AppWindowTest {
protected:
    void SetUp() override {
        AppWindowTest::SetUp();
        QNFTPHandler::registerHandler();
        QNWebDAVHandler::registerWithFactory();
        for (auto kind : {QNCloudInterfaceFactory::Kind::Dropbox, QNCloudInterfaceFactory::Kind::Box,
                          QNCloudInterfaceFactory::Kind::SugarSync, QNCloudInterfaceFactory::Kind::Office365})
            QNCloudInterfaceFactory::unregisterHandler(kind);
        QNCloudInterfaceFactory::unregisterHandler(QStringLiteral("instant"));
        QNOAuthCallbackMatcher::setConfig(QNOAuthCallbackMatcher::defaultConfig());
        QNAddDriveWindowController::install();
        QNDriveConfigWindowController::install();
        InstantLoginHandler::logins = 0;
    }

    void TearDown() override {
        for (const auto &r : QNDialogService::shared().pendingAlerts())
            QNDialogService::shared().answer(r.id, 0);
        sheet.reset();
        AppWindowTest::TearDown();
        QNMainWindowController::setAddDrivePresenter({});
        QNMainWindowController::setDriveSettingsPresenter({});
        QNCloudInterfaceFactory::unregisterHandler(QStringLiteral("instant"));
    }

    // Drives whose user name is "instant" log in through InstantLoginHandler.
    static void useInstantLogin() {
        QNCloudInterfaceFactory::registerHandler(
            QStringLiteral("instant"),
            [](const QNDriveConfig &c) { return c.username() == QStringLiteral("instant"); },
            [](const QNDriveConfigPtr &c) -> QNCloudInterfacePtr { return std::make_shared<InstantLoginHandler>(c); });
    }

    // An add-drive sheet on its own (no main window under it).
    QNAddDriveWindowController *openSheet() {
        sheet = std::make_unique<QNAddDriveWindowController>();
        sheet->window()->show();
        return sheet.get();
    }

    // Chooses the service's row on the sheet, fills the settings form and presses OK.
    static void addThroughForm(QNAddDriveWindowController *s, int row, const QString &name, const QString &url,
                               const QString &user, const QString &password) {
        s->tableViewSelectionDidChange(row);
        QNDriveConfigWindowController *form = s->driveConfigWindowController();
        ASSERT_NE(form, nullptr);
        form->name()->setText(name);
        form->url()->setText(url);
        form->username()->setText(user);
        form->password()->setText(password);
        form->okButton()->click();
    }

    // Waits for the sheet to be saved and closed, or for an alert.
    static bool waitForOutcome(QNAddDriveWindowController *s) {
        return VNTest::waitUntil(
            [s] { return s->isClosed() || !QNDialogService::shared().history().isEmpty(); }, 20000);
    }

    std::unique_ptr<QNAddDriveWindowController> sheet;
};
