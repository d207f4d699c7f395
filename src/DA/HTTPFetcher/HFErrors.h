#pragma once

#include "Platform/VNError.h"

#include <QByteArray>
#include <QString>

// Error domains and codes of the fetchers and of their URL loading.
namespace HFErrors {
// Fetch set-up and challenge failures (-1, -2, -3).
const QString &fetcherDomain();
// HTTP statuses outside 0..299 (the status is the code; -4 for a full disk).
const QString &statusDomain();
// Transport failures, in the platform's URL-loading codes.
const QString &urlDomain();

enum URLErrorCode {
    URLCancelled = -999,
    URLBadURL = -1000,
    URLTimedOut = -1001,
    URLUnsupportedURL = -1002,
    URLCannotFindHost = -1003,
    URLCannotConnectToHost = -1004,
    URLNetworkConnectionLost = -1005,
    URLHTTPTooManyRedirects = -1007,
    URLBadServerResponse = -1011,
    URLCannotDecodeContentData = -1016,
    URLFileDoesNotExist = -1100,
    URLCannotReadBody = -1103,  // the request body stream failed
    URLSecureConnectionFailed = -1200,
};

VNErrorPtr fetcherError(qint64 code, const QString &description = {});
// A status error; the body goes to user info "data" when non-empty.
VNErrorPtr statusError(qint64 status, const QByteArray &data = {});
// Maps a libcurl result to the URL-loading codes above.
VNErrorPtr urlErrorForCurl(int curlCode, const QString &detail);
}  // namespace HFErrors
