#pragma once

#include "Platform/VNError.h"
#include "Platform/VNOperation.h"
#include "Platform/VNOperationQueue.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QUrl>
#include <functional>
#include <memory>
#include <mutex>

// Loads one URL (a thumbnail image) as an asynchronous operation. The loading
// itself is injected: the user interface hands in its network loader once
// (setDefaultURLLoader) or per operation; tests hand in their own.
//
// The answer (data, error) comes exactly once: the loader's answer, on the
// operation's own one-at-a-time queue, or (null, null) when the operation is
// cancelled while executing or before it starts, on the main thread (where
// start() and cancel() do their work); a later answer is dropped.
// The HTTP status is not examined (the loader decides what is an error).
class QNThumbnailOperation : public VNOperation {
public:
    struct URLRequest {
        QUrl url;
        QList<QPair<QByteArray, QByteArray>> headers;
    };
    using CompletedBlock = std::function<void(QByteArray data, VNErrorPtr error)>;
    using LoadFinished = std::function<void(QByteArray data, VNErrorPtr error)>;
    // Starts loading the request and calls finished once, on any thread;
    // returns a function that cancels the load (may be empty).
    using URLLoader = std::function<std::function<void()>(const URLRequest &request, LoadFinished finished)>;

    // With loader empty, the default loader is used (an error answer when
    // there is none).
    QNThumbnailOperation(URLRequest urlRequest, CompletedBlock completedBlock, URLLoader loader = {});
    ~QNThumbnailOperation() override;

    static void setDefaultURLLoader(URLLoader loader);
    static URLLoader defaultURLLoader();

    bool isAsynchronous() const override { return true; }
    void start() override;
    void cancel() override;
    QString description() const override { return QStringLiteral("QNThumbnailOperation"); }

    const URLRequest &urlRequest() const { return m_urlRequest; }
    VNOperationQueue &operationQueue() { return *m_operationQueue; }

private:
    struct Claim;
    static std::shared_ptr<QNThumbnailOperation> claimAnswer(const std::shared_ptr<Claim> &claim);
    CompletedBlock takeCompleted();

    URLRequest m_urlRequest;
    URLLoader m_loader;
    std::unique_ptr<VNOperationQueue> m_operationQueue;
    std::mutex m_mutex;
    CompletedBlock m_completed;
    std::shared_ptr<Claim> m_claim;
    std::function<void()> m_cancelLoad;
    bool m_started = false;  // main thread only
};
