#pragma once

#include "Net/NRCredentials.h"
#include "Net/NRHTTPAuthentication.h"

#include <QUrl>
#include <mutex>
#include <vector>

// A server credential entry of this process's session: the authentication
// that was answered (null for Basic credentials sent before any challenge),
// the credentials, the URL of the request that authenticated, the scheme and
// the realm when known.
struct NRSessionCredentialEntry {
    NRHTTPAuthenticationPtr authentication;
    NRCredentialsPtr credentials;
    QUrl url;
    QString scheme;
    QString realm;  // null when unknown
};

// The session's server credentials, shared by every request of the process.
// Entries are found by URL (exact, else same scheme, host and port), and
// identified by their credentials object. The store is bounded: an entry for
// the same URL with the same credential texts replaces the older one, and
// beyond maximumEntries the oldest entries go.
class NRSessionCredentialStore {
public:
    static NRSessionCredentialStore &shared();
    static constexpr size_t maximumEntries = 64;

    void store(const NRSessionCredentialEntry &entry);
    // Removes the entry holding this very credentials object.
    void remove(const NRCredentialsPtr &credentials);
    // The best entry for a request: an exact URL match wins over an entry of
    // the same scheme, host and port; entries of another realm (when the
    // realm is known) or of other credentials (when the request has its
    // own) are skipped.
    bool find(const QUrl &url, const QString &realm, const QString &username, const QString &password,
              NRSessionCredentialEntry *out) const;
    void clear();
    size_t count() const;

private:
    mutable std::recursive_mutex m_mutex;
    std::vector<NRSessionCredentialEntry> m_entries;
};
