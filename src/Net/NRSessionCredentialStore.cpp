#include "Net/NRSessionCredentialStore.h"

#include <algorithm>

NRSessionCredentialStore &NRSessionCredentialStore::shared() {
    static NRSessionCredentialStore *store = new NRSessionCredentialStore();
    return *store;
}

void NRSessionCredentialStore::store(const NRSessionCredentialEntry &entry) {
    if (!entry.credentials)
        return;
    std::lock_guard lock(m_mutex);
    // One entry per credentials object, and one per URL and credential texts:
    // thousands of requests with the same user leave one entry, not thousands.
    std::erase_if(m_entries, [&](const NRSessionCredentialEntry &e) {
        return e.credentials == entry.credentials ||
               (e.url == entry.url && e.scheme == entry.scheme && e.credentials->sameValues(*entry.credentials));
    });
    m_entries.push_back(entry);
    if (m_entries.size() > maximumEntries)
        m_entries.erase(m_entries.begin(), m_entries.begin() + (m_entries.size() - maximumEntries));
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
                                    const QString &password, NRSessionCredentialEntry *out) const {
    std::lock_guard lock(m_mutex);
    const NRSessionCredentialEntry *close = nullptr;
    for (const NRSessionCredentialEntry &e : m_entries) {
        const bool exact = e.url == url;
        if (!exact) {
            if (close)
                continue;
            if (e.url.host().compare(url.host(), Qt::CaseInsensitive) != 0 || e.url.port() != url.port() ||
                e.url.scheme().compare(url.scheme(), Qt::CaseInsensitive) != 0)
                continue;
        }
        if (!realm.isNull() && !e.realm.isNull() && e.realm != realm)
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
