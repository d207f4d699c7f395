#pragma once

#include <QString>
#include <memory>

// A user name, password and (for NTLM) account domain. Session stores keep
// them behind shared pointers: an entry is identified by its credentials
// object, not by the texts inside.
struct NRCredentials {
    QString username;
    QString password;
    QString domain;

    bool sameValues(const NRCredentials &other) const {
        return username == other.username && password == other.password && domain == other.domain;
    }
};

using NRCredentialsPtr = std::shared_ptr<const NRCredentials>;
