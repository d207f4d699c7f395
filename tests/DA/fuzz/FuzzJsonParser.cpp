// Parses arbitrary bytes as JSON; whatever parses must write back and parse
// again to an equal tree.
#include "DA/JSON/DAJsonParser.h"
#include "DA/JSON/DAJsonWriter.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    DAJsonParser parser;
    DXJsonValue value = parser.fragmentWithData(bytes);
    if (value.isUndefined() == parser.errorTrace().isEmpty())
        abort();  // a failure always says why, a success never has a trace
    VNErrorPtr error;
    if (parser.objectWithString(QString::fromUtf8(bytes), &error).isUndefined() && !error)
        abort();
    DAJsonParser unlimited;
    unlimited.setMaxDepth(0);
    unlimited.fragmentWithData(bytes);

    if (value.isUndefined())
        return 0;
    DAJsonWriter writer;
    const QByteArray written = writer.dataWithFragment(value);
    if (written.isNull())
        abort();
    DXJsonValue again = parser.fragmentWithData(written);
    if (!(again == value))
        abort();
    writer.setHumanReadable(true);
    writer.setSortKeys(true);
    const QString readable = writer.stringWithFragment(value);
    if (readable.isNull() || !(parser.fragmentWithString(readable) == value))
        abort();
    return 0;
}
