#include "App/QNThumbnailFetch.h"

#include "Net/NRHTTPRequest.h"
#include "Platform/VNDispatch.h"

#include <atomic>

std::function<void()> QNThumbnailFetch::start(const QNThumbnailOperation::URLRequest &request,
                                              QNThumbnailOperation::LoadFinished finished) {
    auto fetch = NRHTTPRequest::requestWithURL(request.url);
    for (const auto &header : request.headers)
        fetch->addRequestHeader(QString::fromLatin1(header.first), QString::fromUtf8(header.second));
    fetch->setMaximumResponseDataSize(maximumBytes);
    fetch->setUseCookiePersistence(false);
    fetch->setDownloadCache(nullptr);
    // The blocks are released after the last callback: holding the request is no cycle.
    std::weak_ptr<NRHTTPRequest> weak = fetch;
    fetch->setCompletionBlock([weak, finished] {
        auto done = weak.lock();
        if (!done)
            return;
        const int status = done->responseStatusCode();
        if (status >= 200 && status < 300) {
            finished(done->responseData(), nullptr);
            return;
        }
        // An error page is no picture.
        finished(QByteArray(), VNError::make(QStringLiteral("QNThumbnailOperation"), status, QStringLiteral("error"),
                                             QStringLiteral("%1 (%2)").arg(done->responseStatusMessage()).arg(status)));
    });
    fetch->setFailedBlock([weak, finished] {
        auto failed = weak.lock();
        finished(QByteArray(), failed ? failed->error() : nullptr);
    });
    fetch->startAsynchronous();
    return [weak] {
        if (auto running = weak.lock())
            running->clearDelegatesAndCancel();
    };
}

QNThumbnailOperation::URLLoader QNThumbnailFetch::loader() {
    return [](const QNThumbnailOperation::URLRequest &request, QNThumbnailOperation::LoadFinished finished) {
        // The engine's requests are built on the main thread.
        auto cancelled = std::make_shared<std::atomic<bool>>(false);
        auto cancelFetch = std::make_shared<std::function<void()>>();
        VNDispatch::mainAsync([request, finished, cancelled, cancelFetch] {
            if (*cancelled) {
                finished(QByteArray(), nullptr);
                return;
            }
            *cancelFetch = start(request, finished);
        });
        return std::function<void()>([cancelled, cancelFetch] {
            *cancelled = true;
            VNDispatch::mainAsync([cancelFetch] {
                if (*cancelFetch)
                    (*cancelFetch)();
            });
        });
    };
}
