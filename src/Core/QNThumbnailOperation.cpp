#include "Core/QNThumbnailOperation.h"

#include "Platform/VNDispatch.h"

namespace {

std::mutex &defaultLoaderMutex() {
    static std::mutex m;
    return m;
}

QNThumbnailOperation::URLLoader &defaultLoaderSlot() {
    static QNThumbnailOperation::URLLoader *loader = new QNThumbnailOperation::URLLoader;
    return *loader;
}

}  // namespace

struct QNThumbnailOperation::Claim {
    std::mutex mutex;
    std::shared_ptr<QNThumbnailOperation> operation;
};

QNThumbnailOperation::QNThumbnailOperation(URLRequest urlRequest, CompletedBlock completedBlock, URLLoader loader)
    : m_urlRequest(std::move(urlRequest)),
      m_loader(loader ? std::move(loader) : defaultURLLoader()),
      m_operationQueue(std::make_unique<VNOperationQueue>(QStringLiteral("QNThumbnailOperation"))),
      m_completed(std::move(completedBlock)) {
    m_operationQueue->setMaxConcurrentOperationCount(1);
}

QNThumbnailOperation::~QNThumbnailOperation() = default;

void QNThumbnailOperation::setDefaultURLLoader(URLLoader loader) {
    std::lock_guard lock(defaultLoaderMutex());
    defaultLoaderSlot() = std::move(loader);
}

QNThumbnailOperation::URLLoader QNThumbnailOperation::defaultURLLoader() {
    std::lock_guard lock(defaultLoaderMutex());
    return defaultLoaderSlot();
}

std::shared_ptr<QNThumbnailOperation> QNThumbnailOperation::claimAnswer(const std::shared_ptr<Claim> &claim) {
    std::lock_guard lock(claim->mutex);
    return std::move(claim->operation);
}

QNThumbnailOperation::CompletedBlock QNThumbnailOperation::takeCompleted() {
    std::lock_guard lock(m_mutex);
    CompletedBlock out = std::move(m_completed);
    m_completed = nullptr;
    return out;
}

void QNThumbnailOperation::start() {
    if (!VNDispatch::isMainThread()) {
        auto self = shared_from_this();
        VNDispatch::mainAsync([self] { self->start(); });
        return;
    }
    if (m_started || isFinished())
        return;
    m_started = true;
    if (isCancelled()) {
        setFinished(true);
        if (auto cb = takeCompleted())
            cb(QByteArray(), nullptr);
        return;
    }
    setExecuting(true);
    auto claim = std::make_shared<Claim>();
    claim->operation = std::static_pointer_cast<QNThumbnailOperation>(shared_from_this());
    {
        std::lock_guard lock(m_mutex);
        m_claim = claim;
    }
    if (!m_loader) {
        auto error = VNError::make(QStringLiteral("QNThumbnailOperation"), 42, QStringLiteral("error"),
                                   QStringLiteral("No way to load %1.").arg(m_urlRequest.url.toDisplayString()));
        m_operationQueue->addOperation([claim, error] {
            if (auto op = claimAnswer(claim)) {
                if (auto cb = op->takeCompleted())
                    cb(QByteArray(), error);
                op->setFinished(true);
            }
        });
        return;
    }
    // The loader answers on any thread; the answer runs on our own queue.
    std::weak_ptr<Claim> weakClaim = claim;
    VNOperationQueue *queue = m_operationQueue.get();
    auto cancelLoad = m_loader(m_urlRequest, [weakClaim, queue](QByteArray data, VNErrorPtr error) {
        auto claim = weakClaim.lock();
        if (!claim)
            return;  // already answered (cancelled) and gone
        std::shared_ptr<QNThumbnailOperation> op;
        {
            std::lock_guard lock(claim->mutex);
            op = claim->operation;
        }
        if (!op)
            return;
        queue->addOperation([claim, data, error] {
            if (auto op = claimAnswer(claim)) {
                if (auto cb = op->takeCompleted())
                    cb(data, error);
                op->setFinished(true);
            }
        });
    });
    std::lock_guard lock(m_mutex);
    m_cancelLoad = std::move(cancelLoad);
}

void QNThumbnailOperation::cancel() {
    markCancelled();
    if (!VNDispatch::isMainThread()) {
        auto self = shared_from_this();
        VNDispatch::mainAsync([self] { self->cancel(); });
        return;
    }
    if (!isExecuting())
        return;
    std::shared_ptr<Claim> claim;
    std::function<void()> cancelLoad;
    {
        std::lock_guard lock(m_mutex);
        claim = m_claim;
        cancelLoad = std::move(m_cancelLoad);
        m_cancelLoad = nullptr;
    }
    m_operationQueue->cancelAllOperations();
    if (cancelLoad)
        cancelLoad();
    if (!claim)
        return;
    if (auto op = claimAnswer(claim)) {
        if (auto cb = op->takeCompleted())
            cb(QByteArray(), nullptr);
        op->setFinished(true);
    }
}
