// libFuzzer entry: any bytes as a server's PROPFIND listing, quota
// properties, Wi-Fi disk quota answer and multi-status reply to a change. A listed entry must always stay a
// direct child of the listed folder.
#include "Cloud/QNWebDAVHandler.h"

#include <QByteArray>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const QByteArray reply(reinterpret_cast<const char *>(data), qsizetype(size));
    QNWebDAVHandler::ListingContext context;
    context.folderPath = QStringLiteral("/a/b");
    context.baseURL = QStringLiteral("http://127.0.0.1:8080/dav");
    context.isDiskCast = size % 2 == 0;
    VNErrorPtr error;
    const QNDocumentList documents = QNWebDAVHandler::parseListing(reply, context, &error);
    for (const auto &document : documents) {
        const QString path = document->path();
        if (!path.startsWith(QLatin1String("/a/b/")))
            std::abort();
        const QString name = path.mid(5);
        if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..") ||
            name.contains(QLatin1Char('/')) || name.contains(QChar(0)))
            std::abort();
    }
    qint64 available = 0, used = 0, total = 0;
    QNWebDAVHandler::parseQuotaProperties(reply, &available, &used, &error);
    QNWebDAVHandler::parseWiFiDiskQuota(reply, &used, &available, &total, &error);
    QNWebDAVHandler::multiStatusFailure(reply);
    return 0;
}
