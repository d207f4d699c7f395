// libFuzzer entry: any bytes as a directory listing, in a few encodings,
// line by line and as a whole buffer with detection.
#include "Cloud/QNFTPListingParser.h"
#include "Cloud/QNStringEncoding.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const char *bytes = reinterpret_cast<const char *>(data);
    QNFTPListingParser::Line line;
    QNFTPListingParser::parseLine(line, bytes, int32_t(size), 1800000000);
    if (line.namelen > 0) {
        // The name must lie inside the input.
        volatile char first = line.name[0];
        volatile char last = line.name[line.namelen - 1];
        (void)first;
        (void)last;
    }
    (void)QNFTPListingParser::dateOf(line);

    static const quint32 encodings[] = {QNStringEncoding::UTF8, QNStringEncoding::ShiftJIS,
                                        QNStringEncoding::ISO2022JP, QNStringEncoding::NonLossyASCII};
    const quint32 encodingNumber = size > 0 ? encodings[data[0] % 4] : QNStringEncoding::UTF8;
    QNStringEncoding encoding(encodingNumber);
    QByteArray buffer(bytes, qsizetype(size));
    auto result = QNFTPListingParser::parseListing(buffer, size % 2 == 0, encoding, 1800000000);
    for (const auto &item : result.items) {
        // Decoded UTF-8 names give their bytes back, valid or not (other
        // encodings may map two byte forms to one character).
        auto again = encoding.encode(item.name);
        if (encodingNumber == QNStringEncoding::UTF8 && (!again || *again != item.rawName))
            __builtin_trap();
    }
    (void)QNStringEncoding::detect(QByteArrayView(bytes, qsizetype(size)));
    return 0;
}
