// Bytes -> header lines of a reply -> the response, the cookies it sets, the
// upload offset of its "Range", and its body as the fetch log shows it.
#include "DA/HTTPFetcher/HFCookieStorage.h"
#include "DA/HTTPFetcher/HFHTTPFetcherLogging.h"
#include "DA/HTTPFetcher/HFHTTPUploadFetcher.h"
#include "DA/HTTPFetcher/HFURLResponse.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    const qsizetype split = input.indexOf("\r\n\r\n");
    const QByteArray head = split < 0 ? input : input.left(split);
    const QByteArray body = split < 0 ? QByteArray() : input.mid(split + 4);
    const auto response = HFURLResponse::fromHeaderLines(QUrl(QStringLiteral("http://www.example.com/a/b")), 308, head.split('\n'));
    HFCookieStorage jar;
    jar.setCookies(HFCookieStorage::cookiesOfResponse(*response));
    jar.cookiesForURL(QUrl(QStringLiteral("http://example.com/a/c")));
    const quint64 offset = HFHTTPUploadFetcher::offsetAfterRange(response->valueForHeaderField(QStringLiteral("Range")), 100000);
    if (offset > 100000)
        __builtin_trap();
    HFHTTPFetcherLogging::bodyText(body, response->valueForHeaderField(QStringLiteral("Content-Type")));
    return 0;
}
