// Inflates arbitrary bytes whole and in pieces (which must agree), and
// round-trips them through the compressor.
#include "Formats/NRDataCompressor.h"
#include "Formats/NRDataDecompressor.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > 64 * 1024)
        return 0;
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    VNErrorPtr wholeError;
    const QByteArray whole = NRDataDecompressor::uncompressData(bytes, &wholeError);

    // The same stream fed in pieces whose size the first byte chooses.
    const int piece = size > 0 ? 1 + data[0] % 13 : 1;
    auto d = NRDataDecompressor::decompressor();
    QByteArray pieces;
    VNErrorPtr pieceError;
    for (qsizetype at = 0; at < bytes.size() && !pieceError; at += piece)
        pieces += d->uncompressBytes(bytes.mid(at, piece), &pieceError);
    if (!pieceError)
        pieceError = d->finishStream();
    if (bool(wholeError) != bool(pieceError))
        abort();
    if (!wholeError && whole != pieces)
        abort();
    // Inflated output stays within what zlib can expand to; guard memory.
    if (whole.size() > 1032LL * bytes.size() * 2 + 1024)
        abort();

    VNErrorPtr e;
    const QByteArray packed = NRDataCompressor::compressData(bytes, &e);
    if (e)
        abort();
    if (!bytes.isEmpty() && NRDataDecompressor::uncompressData(packed, &e) != bytes)
        abort();
    return 0;
}
