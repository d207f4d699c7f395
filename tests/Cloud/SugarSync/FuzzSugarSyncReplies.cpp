// libFuzzer entry: any bytes as a SugarSync folder-contents page. An entry
// must always stay a direct child of the listed folder.
#include "Cloud/QNSugarSyncHandler.h"

#include <QByteArray>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const QByteArray reply(reinterpret_cast<const char *>(data), qsizetype(size));
    bool more = false;
    qint64 end = 0;
    VNErrorPtr error;
    const auto documents = QNSugarSyncHandler::parseContents(reply, QStringLiteral("/a"), &more, &end, &error);
    if (!documents)
        return 0;
    for (const auto &document : *documents) {
        const QString name = document->path().mid(3);
        if (!document->path().startsWith(QLatin1String("/a/")) || name.isEmpty() || name == QLatin1String(".") ||
            name == QLatin1String("..") || name.contains(QLatin1Char('/')) || name.contains(QChar(0)))
            std::abort();
    }
    return 0;
}
