#pragma once

#include "Core/QNAnswerOnce.h"
#include "Core/QNDocument.h"
#include "Core/QNListing.h"
#include "Platform/VNError.h"

#include <QString>
#include <functional>
#include <memory>

// What a listing of a destination folder answered: the documents (null when
// it failed or was cancelled), the error, whether it was cancelled.
using QNDestinationListingBlock =
    std::function<void(std::shared_ptr<const QNListing> listing, VNErrorPtr error, bool cancelled)>;

// The listings of the destination folders of one task, each asked for once:
// the files dropped loose onto one folder all look at the same listing
// instead of listing the folder once per file.
class QNDestinationListings {
public:
    // Calls block with the listing of the folder at key once it is known.
    // Answers true when the caller is the first to ask: it must list the
    // folder and hand the answer to finish().
    bool await(const QString &key, QNDestinationListingBlock block);
    // Hands the answer to everyone waiting for it. A listing that was
    // cancelled is not kept (the next ask lists again); a failed one is,
    // and each waiter goes on without it.
    void finish(const QString &key, std::shared_ptr<const QNListing> listing, VNErrorPtr error, bool cancelled);

private:
    struct Listed {
        std::shared_ptr<const QNListing> listing;
        VNErrorPtr error;
        bool cancelled = false;
    };
    QNAnswerOnce<Listed> m_answers;
};
