#include "Net/NRSessionCredentialStore.h"

#include <algorithm>

namespace {

bool sameOrigin(const QUrl &a, const QUrl &b) {
    return a.host().compare(b.host(), Qt::CaseInsensitive) == 0 && a.port() == b.port() &&
           a.scheme().compare(b.scheme(), Qt::CaseInsensitive) == 0;
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
    // An exact URL anywhere beats a close match (same origin) found earlier;
    // among close matches the first that fits wins.
    const NRSessionCredentialEntry *close = nullptr;
    for (const NRSessionCredentialEntry &e : m_entries) {
        const bool exact = e.url == url;
        if (!exact && (close || !sameOrigin(e.url, url)))
            continue;
        if (!realm.isNull() && !e.realm.isNull() && e.realm != realm)
            continue;
        if (!scheme.isEmpty() && e.scheme.compare(scheme, Qt::CaseInsensitive) != 0)
            continue;
        if (!username.isEmpty() && !password.isEmpty() &&
            (e.credentials->username != username || e.credentials->password != password))
            continue;
        if (exact) {
            *out = e;
            return true;
        }
        close = &e;
    }
    if (close) {
        *out = *close;
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
