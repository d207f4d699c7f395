#pragma once

#include <QtGlobal>

class NRHTTPRequest;

// An object told of a request's upload or download progress. Every method
// is optional (the defaults do nothing). Called on the main thread.
class NRProgressDelegate {
public:
    virtual ~NRProgressDelegate() = default;
    virtual void setMaxValue(double) {}
    // The fraction done, 0 to 1.
    virtual void setDoubleValue(double) {}
    virtual void didReceiveBytes(NRHTTPRequest *, qint64) {}
    virtual void didSendBytes(NRHTTPRequest *, qint64) {}
    virtual void incrementDownloadSizeBy(NRHTTPRequest *, qint64) {}
    virtual void incrementUploadSizeBy(NRHTTPRequest *, qint64) {}
};
