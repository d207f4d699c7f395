#pragma once

#include "DA/HTTPFetcher/HFHTTPFetcher.h"

#include <QList>
#include <QPair>
#include <QString>
#include <memory>

// Builds the ClientLogin sign-in request: a form POST of the account, the
// password, the caller's name, the service code and the account type to
// "<scheme>://<domain>/accounts/ClientLogin" (http only for a loopback test
// server with a port), with retry on.
class DAAuthenticationFetcher {
public:
    using Parameters = QList<QPair<QString, QString>>;
    // Null without a username or a password. An empty domain means the
    // provider's sign-in host; an absent account type "HOSTED_OR_GOOGLE".
    static std::shared_ptr<HFHTTPFetcher> authTokenFetcher(const QString &username, const QString &password,
                                                           const QString &service, const QString &source,
                                                           const QString &signInDomain, const QString &accountType,
                                                           const Parameters &additionalParameters = {},
                                                           const Parameters &customHeaders = {});
    static QString defaultSignInDomain() { return QStringLiteral("www.google.com"); }
};
