#include "Net/NRSessionCredentialStore.h"

#include <algorithm>

namespace {

bool sameOrigin(const QUrl &a, const QUrl &b) {
    return a.host().compare(b.host(), Qt::CaseInsensitive) == 0 && a.port() == b.port() &&
           a.scheme().compare(b.scheme(), Qt::CaseInsensitive) == 0;
}

// How many whole leading path segments two URLs share ("/a/b/c" and
// "/a/b/d" share two).
int sharedPathSegments(const QUrl &a, const QUrl &b) {
    const QString pa = a.path(), pb = b.path();
    const qsizetype n = std::min(pa.size(), pb.size());
    int segments = 0;
    for (qsizetype i = 0; i < n; ++i) {
        if (pa[i] != pb[i])
            break;
        if (pa[i] == QLatin1Char('/') && i > 0)
            ++segments;
    }
    return segments;
}

}  // namespace

NRSessionCredentialStore &NRSessionCredentialStore::shared() {
    static NRSessionCredentialStore *store = new NRSessionCredentialStore();
    return *store;
}

void NRSessionCredentialStore::store(const NRSessionCredentialEntry &entry) {
    if (!entry.credentials)
        return;
    std::lock_guard lock(m_mutex);
    // One entry per credentials object, and one per protection space and
    // user: thousands of requests leave one entry, not thousands, and a new
    // password for a user replaces the old one.
    std::erase_if(m_entries, [&](const NRSessionCredentialEntry &e) {
        return e.credentials == entry.credentials ||
               (sameOrigin(e.url, entry.url) && e.scheme == entry.scheme && e.realm == entry.realm &&
                e.realm.isNull() == entry.realm.isNull() && e.credentials->username == entry.credentials->username &&
                e.credentials->domain == entry.credentials->domain);
    });
    m_entries.push_back(entry);
    if (m_entries.size() > maximumEntries)
        m_entries.erase(m_entries.begin(), m_entries.begin() + (m_entries.size() - maximumEntries));
}

NRSessionCredentialStore &NRSessionCredentialStore::sharedProxy() {
    static NRSessionCredentialStore *store = new NRSessionCredentialStore();
    return *store;
}

QUrl NRSessionCredentialStore::proxyKey(const QString &host, int port) {
    QUrl key;
    key.setScheme(QStringLiteral("proxy"));
    key.setHost(host.toLower());
    key.setPort(port);
    key.setPath(QStringLiteral("/"));
    return key;
}

void NRSessionCredentialStore::remove(const NRCredentialsPtr &credentials) {
    if (!credentials)
        return;
    std::lock_guard lock(m_mutex);
    auto it = std::find_if(m_entries.begin(), m_entries.end(),
                           [&](const NRSessionCredentialEntry &e) { return e.credentials == credentials; });
    if (it != m_entries.end())
        m_entries.erase(it);
}

bool NRSessionCredentialStore::find(const QUrl &url, const QString &realm, const QString &username,
                                    const QString &password, NRSessionCredentialEntry *out,
                                    const QString &scheme) const {
    std::lock_guard lock(m_mutex);
    const NRSessionCredentialEntry *best = nullptr;
    int bestShared = -1;
    for (const NRSessionCredentialEntry &e : m_entries) {
        if (!sameOrigin(e.url, url))
            continue;
        if (!realm.isNull() && !e.realm.isNull() && e.realm != realm)
            continue;
        if (!scheme.isEmpty() && e.scheme.compare(scheme, Qt::CaseInsensitive) != 0)
            continue;
        if (!username.isEmpty() && !password.isEmpty() &&
            (e.credentials->username != username || e.credentials->password != password))
            continue;
        if (e.url == url) {
            *out = e;
            return true;
        }
        const int shared = sharedPathSegments(e.url, url);
        if (shared > bestShared) {
            best = &e;
            bestShared = shared;
        }
    }
    if (best) {
        *out = *best;
        return true;
    }
    return false;
}

void NRSessionCredentialStore::clear() {
    std::lock_guard lock(m_mutex);
    m_entries.clear();
}

size_t NRSessionCredentialStore::count() const {
    std::lock_guard lock(m_mutex);
    return m_entries.size();
}
