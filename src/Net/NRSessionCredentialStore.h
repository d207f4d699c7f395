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
// An entry stands for one protection space of a server: its origin, scheme
// and realm, and the user name answering there; storing an entry replaces
// the one of the same space and user (and any entry holding the same
// credentials object). Beyond maximumEntries the oldest entries go.
class NRSessionCredentialStore {
public:
    static NRSessionCredentialStore &shared();
    // The proxies' credentials, each entry under the URL "proxy://host:port".
    static NRSessionCredentialStore &sharedProxy();
    static QUrl proxyKey(const QString &host, int port);
    static constexpr size_t maximumEntries = 64;

    void store(const NRSessionCredentialEntry &entry);
    // Removes the entry holding this very credentials object.
    void remove(const NRCredentialsPtr &credentials);
    // The best entry for a request of the same origin: an exact URL match,
    // else the first stored entry of the same host, port and scheme.
    // Entries of another realm or scheme (when the request knows them) or of
    // other credentials (when the request has its own) are skipped.
    bool find(const QUrl &url, const QString &realm, const QString &username, const QString &password,
              NRSessionCredentialEntry *out, const QString &scheme = QString()) const;
    void clear();
    size_t count() const;

private:
    mutable std::recursive_mutex m_mutex;
    std::vector<NRSessionCredentialEntry> m_entries;
};
