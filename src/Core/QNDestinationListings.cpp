#include "Core/QNDestinationListings.h"

bool QNDestinationListings::await(const QString &key, QNDestinationListingBlock block) {
    return m_answers.await(key, [block = std::move(block)](const Listed &listed) {
        block(listed.listing, listed.error, listed.cancelled);
    });
}

void QNDestinationListings::finish(const QString &key, std::shared_ptr<const QNListing> listing,
                                   VNErrorPtr error, bool cancelled) {
    m_answers.finish(key, {std::move(listing), std::move(error), cancelled}, !cancelled);
}
