// Parses arbitrary "WWW-Authenticate" values and Content-Type texts, and
// answers whatever challenge comes out of them.
#include "Net/NRHTTPAuthentication.h"
#include "Net/NRHTTPRequest.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > 16 * 1024)
        return 0;
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    // Several header values, split where the input has line feeds.
    const QList<QByteArray> values = bytes.split('\n');
    for (const QByteArray &v : values) {
        for (const auto &c : NRHTTPAuthentication::parseChallenges(v)) {
            if (c.scheme.isEmpty())
                abort();
        }
    }
    if (auto auth = NRHTTPAuthentication::fromChallenges(values)) {
        const QByteArray header = auth->authorizationHeader({QStringLiteral("user"), QStringLiteral("pass"), {}},
                                                            QStringLiteral("GET"), "/path?q=1");
        if (header.contains('\r') || header.contains('\n'))
            abort();  // an answer never splits the request
        (void)auth->realm();
        (void)auth->isStale();
    }
    QString mime;
    QByteArray charset;
    NRHTTPRequest::parseContentType(QString::fromLatin1(bytes), &mime, &charset);
    return 0;
}
