#pragma once

#include "App/WebLogin/QNAuthWindowController.h"
#include "Core/QNCloudInterface.h"

#include <QStringList>
#include <QTimer>
#include <QUrlQuery>
#include <QUrl>
#include <functional>
#include <memory>

// A handler that signs in on the web the way the service handlers do: it
// makes the login sheet, loads its "authorize page" (a page of the test's
// local server) and takes the code from the callback URL. It records every
// URL the sheet hands it.
class TestOAuthHandler : public QNCloudInterface {
public:
    TestOAuthHandler(QNDriveConfigPtr config, QUrl authorizePage)
        : QNCloudInterface(std::move(config)), m_authorizePage(std::move(authorizePage)) {}

    QString className() const override { return QStringLiteral("TestOAuthHandler"); }
    bool providesOAuthLogin() const override { return true; }

    std::shared_ptr<QNAuthWindowController> oAuthLoginWithCompletedBlock(QNLoginCallback completed) override {
        setOAuthLoginCompleted(std::move(completed));
        if (auto d = driveConfig())
            d->setDescription(QStringLiteral("SHOW DOCUMENTS ON THIS TEST ACCOUNT"));
        auto sheet = std::make_shared<QNAuthWindowController>();
        sheet->window();
        sheet->setCloudInterface(shared_from_this());
        sheet->loadRequest(m_authorizePage);
        return sheet;
    }

    void processOAuthLogin(const QString &callbackUrl) override {
        handedOver << callbackUrl;
        finish(callbackUrl);
    }

    // Every URL handed over (a null string for a cancel).
    QStringList handedOver;
    // When set, the outcome waits (on later turns of the event loop) until
    // it returns true: the sheet stays open and its page keeps loading.
    std::function<bool()> holdOutcomeUntil;

private:
    void finish(const QString &callbackUrl) {
        if (holdOutcomeUntil && !holdOutcomeUntil()) {
            std::weak_ptr<QNCloudInterface> weak = weak_from_this();
            QTimer::singleShot(10, [weak, callbackUrl] {
                if (auto self = std::static_pointer_cast<TestOAuthHandler>(weak.lock()))
                    self->finish(callbackUrl);
            });
            return;
        }
        QNLoginCallback completed = takeOAuthLoginCompleted();
        if (!completed)
            return;
        if (callbackUrl.isNull()) {
            completed(false, nullptr, false);
            return;
        }
        const QString code = QUrlQuery(QUrl(callbackUrl)).queryItemValue(QStringLiteral("code"));
        if (code.isEmpty()) {
            completed(false, makeError(QStringLiteral("The provider sent no code.")), false);
            return;
        }
        if (auto d = driveConfig())
            d->setToken(code);
        completed(true, nullptr, false);
    }

    QUrl m_authorizePage;
};
