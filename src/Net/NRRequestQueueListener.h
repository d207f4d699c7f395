#pragma once

#include <QMap>
#include <QString>
#include <QtGlobal>

class NRHTTPRequest;

// What a request tells the queue it was added to (besides its delegate and
// blocks). Called on the main thread.
class NRRequestQueueListener {
public:
    virtual ~NRRequestQueueListener() = default;
    virtual void requestStarted(NRHTTPRequest *request) = 0;
    virtual void requestDidReceiveResponseHeaders(NRHTTPRequest *request, const QMap<QString, QString> &headers) = 0;
    virtual void requestFinished(NRHTTPRequest *request) = 0;
    virtual void requestFailed(NRHTTPRequest *request) = 0;
    virtual void requestDidReceiveBytes(NRHTTPRequest *request, qint64 bytes) = 0;
    virtual void requestDidSendBytes(NRHTTPRequest *request, qint64 bytes) = 0;
    virtual void requestIncrementDownloadSizeBy(NRHTTPRequest *request, qint64 amount) = 0;
    virtual void requestIncrementUploadSizeBy(NRHTTPRequest *request, qint64 amount) = 0;
};
