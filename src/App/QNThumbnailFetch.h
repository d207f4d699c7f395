#pragma once

#include "Core/QNThumbnailOperation.h"

#include <functional>

// Thumbnail fetches over the project's request engine: a credential header
// goes only to the origin it was given for (a redirect elsewhere drops it),
// certificates are checked, and a reply past maximumBytes is dropped
// instead of read on. Nothing is stored: no cookies, no disk cache.
class QNThumbnailFetch {
public:
    // Thumbnails are small pictures; a reply past this is no thumbnail.
    static constexpr quint64 maximumBytes = 4ull << 20;

    // Starts the fetch (on the main thread); finished gets the body, or an
    // error for a failure or a status outside 200-299, once, on the main
    // thread. The returned function cancels the fetch; finished is then
    // not called.
    static std::function<void()> start(const QNThumbnailOperation::URLRequest &request,
                                       QNThumbnailOperation::LoadFinished finished);

    // start() as the loader of thumbnail operations; called from any thread.
    static QNThumbnailOperation::URLLoader loader();
};
