#include "DA/HTTPFetcher/HFErrors.h"

#include "Net/NRHTTPRequestInternal.h"

#include <curl/curl.h>

namespace HFErrors {

const QString &fetcherDomain() {
    static const QString domain = QStringLiteral("org.varnello.HFHTTPFetcher");
    return domain;
}

const QString &statusDomain() {
    static const QString domain = QStringLiteral("org.varnello.HTTPStatus");
    return domain;
}

const QString &urlDomain() {
    static const QString domain = QStringLiteral("org.varnello.URLError");
    return domain;
}

VNErrorPtr fetcherError(qint64 code, const QString &description) {
    QVariantMap info;
    if (!description.isEmpty())
        info.insert(VNError::localizedDescriptionKey(), description);
    return std::make_shared<VNError>(fetcherDomain(), code, info);
}

VNErrorPtr statusError(qint64 status, const QByteArray &data) {
    QVariantMap info;
    if (!data.isEmpty())
        info.insert(QStringLiteral("data"), data);
    return std::make_shared<VNError>(statusDomain(), status, info);
}

VNErrorPtr urlErrorForCurl(int curlCode, const QString &detail) {
    qint64 code;
    switch (curlCode) {
    case CURLE_OPERATION_TIMEDOUT: code = URLTimedOut; break;
    case CURLE_URL_MALFORMAT: code = URLBadURL; break;
    case CURLE_UNSUPPORTED_PROTOCOL: code = URLUnsupportedURL; break;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY: code = URLCannotFindHost; break;
    case CURLE_COULDNT_CONNECT: code = URLCannotConnectToHost; break;
    case CURLE_TOO_MANY_REDIRECTS: code = URLHTTPTooManyRedirects; break;
    case CURLE_ABORTED_BY_CALLBACK: code = URLCancelled; break;
    case CURLE_READ_ERROR: code = URLCannotReadBody; break;
    case CURLE_BAD_CONTENT_ENCODING: code = URLCannotDecodeContentData; break;
    case CURLE_WEIRD_SERVER_REPLY: code = URLBadServerResponse; break;
    default:
        // The request engine's list of TLS failures; the rest (send and
        // receive errors, cut bodies, empty replies) is a lost connection.
        code = NRHTTPRequestInternal::isSSLError(curlCode) ? URLSecureConnectionFailed : URLNetworkConnectionLost;
        break;
    }
    QString text = QString::fromUtf8(curl_easy_strerror(CURLcode(curlCode)));
    if (!detail.isEmpty())
        text += QStringLiteral(": ") + detail;
    QVariantMap info{{VNError::localizedDescriptionKey(), text}};
    return std::make_shared<VNError>(urlDomain(), code, info);
}

}  // namespace HFErrors
