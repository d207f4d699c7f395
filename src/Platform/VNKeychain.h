#pragma once

#include "VNError.h"

#include <QString>
#include <QStringList>
#include <optional>

// The user's desktop keyring (the Secret Service, through libsecret): small
// secrets kept for this program as generic items, each found by a service
// name and an account name. Storing an item whose service and account are
// taken replaces its secret. Every call is synchronous and may be made from
// any thread; when no keyring answers the call fails with an error of
// errorDomain() and nothing is kept. Secrets never reach the log.
class VNKeychain {
public:
    enum ErrorCode { NoKeyring = 1, Failed = 2 };

    // Stores (or replaces) the secret of (service, account) with a label
    // the keyring's own tools show.
    static bool setSecret(const QString &service, const QString &account, const QString &secret,
                          const QString &label = {}, VNErrorPtr *error = nullptr);

    // The secret of (service, account); nullopt when there is none or the
    // keyring cannot be read (then the error is filled).
    static std::optional<QString> secret(const QString &service, const QString &account,
                                         VNErrorPtr *error = nullptr);

    // Removes the item of (service, account), or every item of the service
    // when account is null. Removing what is not there succeeds.
    static bool removeSecret(const QString &service, const QString &account = QString(),
                             VNErrorPtr *error = nullptr);

    // The account names holding an item of the service (sorted).
    static QStringList accounts(const QString &service, VNErrorPtr *error = nullptr);

    static const QString &errorDomain();
};
