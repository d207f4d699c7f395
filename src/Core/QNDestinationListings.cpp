#include "Core/QNDestinationListings.h"

bool QNDestinationListings::await(const QString &key, QNDestinationListingBlock block) {
    std::unique_lock lock(m_mutex);
    auto found = m_entries.find(key);
    if (found == m_entries.end()) {
        m_entries[key].waiting.push_back(std::move(block));
        return true;
    }
    if (!found->known) {
        found->waiting.push_back(std::move(block));
        return false;
    }
    auto listing = found->listing;
    auto error = found->error;
    lock.unlock();
    block(listing, error, false);
    return false;
}

void QNDestinationListings::finish(const QString &key, std::shared_ptr<const QNDocumentList> listing,
                                   VNErrorPtr error, bool cancelled) {
    std::vector<QNDestinationListingBlock> waiting;
    {
        std::lock_guard lock(m_mutex);
        auto found = m_entries.find(key);
        if (found == m_entries.end())
            return;
        waiting.swap(found->waiting);
        if (cancelled) {
            m_entries.erase(found);
        } else {
            found->known = true;
            found->listing = listing;
            found->error = error;
        }
    }
    for (const auto &block : waiting)
        block(listing, error, cancelled);
}
