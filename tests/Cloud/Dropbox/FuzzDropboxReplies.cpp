// libFuzzer entry: any bytes as the service's replies: a metadata listing,
// account information and a token answer. A listed entry must always stay a
// direct child of the listed folder.
#include "Cloud/DropboxSDK/Classes/DXAccountInfo.h"
#include "Cloud/DropboxSDK/Classes/DXMetadata.h"
#include "Cloud/DropboxSDK/Classes/OA1/OA1URLRequestParameter.h"
#include "Cloud/QNDropboxHandler.h"
#include "Formats/DXJsonExtensions.h"
#include "Platform/VNLog.h"

#include <QByteArray>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    VNLog::setQuiet(true);
    const QByteArray reply(reinterpret_cast<const char *>(data), qsizetype(size));
    const DXJsonValue json = JSONValue(reply);
    const DXMetadata folder(json);
    for (const DXMetadata &entry : folder.contents()) {
        const auto document = QNDropboxHandler::documentFromMetadata(entry, QStringLiteral("/a/B"));
        if (!document)
            continue;
        const QString path = document->path();
        if (!path.startsWith(QLatin1String("/a/b/"), Qt::CaseInsensitive))
            std::abort();
        const QString name = path.mid(5);
        if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..") ||
            name.contains(QLatin1Char('/')) || name.contains(QChar(0)))
            std::abort();
    }
    DXAccountInfo info(json);
    (void)info.totalBytes();
    const auto pairs = OA1URLRequestParameter::parameterDictionaryFromString(QString::fromUtf8(reply));
    (void)pairs.size();
    (void)OA1URLRequestParameter::parametersFromString(QString::fromUtf8(reply));
    return 0;
}
