#include "Formats/NRDataCompressor.h"

#include "Formats/NRCodecErrors.h"
#include "Formats/NRCodecFileConversion.h"

#include <algorithm>
#include <zlib.h>

static const QString kVerb = QStringLiteral("Compression");

NRDataCompressor::NRDataCompressor() : m_stream(std::make_unique<z_stream_s>()) {}

NRDataCompressor::~NRDataCompressor() {
    if (m_ready)
        closeStream();
}

std::unique_ptr<NRDataCompressor> NRDataCompressor::compressor() {
    auto c = std::make_unique<NRDataCompressor>();
    c->setupStream();
    return c;
}

VNErrorPtr NRDataCompressor::deflateError(int zlibCode) { return NRCodecErrors::zlibFailed(kVerb, zlibCode); }

VNErrorPtr NRDataCompressor::setupStream() {
    if (m_ready)
        return nullptr;
    *m_stream = z_stream_s{};
    m_stream->zalloc = Z_NULL;
    m_stream->zfree = Z_NULL;
    m_stream->opaque = Z_NULL;
    // 15 window bits plus 16: a gzip wrapper around the deflate data.
    const int rc = deflateInit2(m_stream.get(), Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
    if (rc != Z_OK)
        return deflateError(rc);
    m_ready = true;
    m_finished = false;
    return nullptr;
}

VNErrorPtr NRDataCompressor::closeStream() {
    if (!m_ready)
        return nullptr;
    m_ready = false;
    const int rc = deflateEnd(m_stream.get());
    // A stream closed before it finished reports Z_DATA_ERROR; that is a
    // caller's choice (cancel), not a failure of the codec.
    if (rc != Z_OK && rc != Z_DATA_ERROR)
        return deflateError(rc);
    return nullptr;
}

QByteArray NRDataCompressor::compressBytes(const char *bytes, qsizetype length, VNErrorPtr *error,
                                           bool shouldFinish) {
    if (error)
        *error = nullptr;
    auto fail = [&](int rc) {
        if (error)
            *error = deflateError(rc);
        return QByteArray();
    };
    if (length < 0 || (length > 0 && !bytes))
        return fail(Z_STREAM_ERROR);
    if (length == 0 && !shouldFinish)
        return QByteArray();
    if (!m_ready)
        return fail(Z_STREAM_ERROR);
    if (m_finished)
        return QByteArray("");

    QByteArray out;
    qsizetype produced = 0;
    out.resize(std::max<qsizetype>(length / 2, 256));
    const char *in = bytes;
    qsizetype left = length;
    const int flush = shouldFinish ? Z_FINISH : Z_NO_FLUSH;

    for (;;) {
        if (produced == out.size())
            out.resize(out.size() + std::max<qsizetype>(out.size(), length / 2 + 1));
        const qsizetype room = std::min<qsizetype>(out.size() - produced, 1 << 30);
        const uInt chunkIn = static_cast<uInt>(std::min<qsizetype>(left, 1 << 30));
        m_stream->next_in = reinterpret_cast<Bytef *>(const_cast<char *>(in));
        m_stream->avail_in = chunkIn;
        m_stream->next_out = reinterpret_cast<Bytef *>(out.data() + produced);
        m_stream->avail_out = static_cast<uInt>(room);
        // The last slice of a huge piece finishes; earlier ones only feed.
        const bool lastSlice = chunkIn == left;
        const int rc = deflate(m_stream.get(), lastSlice ? flush : Z_NO_FLUSH);
        const qsizetype consumed = chunkIn - m_stream->avail_in;
        produced += room - m_stream->avail_out;
        in += consumed;
        left -= consumed;

        if (rc == Z_STREAM_END) {
            m_finished = true;
            break;
        }
        if (rc != Z_OK && rc != Z_BUF_ERROR)
            return fail(rc);
        if (rc == Z_BUF_ERROR && m_stream->avail_out != 0 && left == 0)
            break;  // no progress possible (never expected with room left)
        if (m_stream->avail_out == 0)
            continue;  // it filled all the room offered: there may be more
        if (left > 0)
            continue;
        if (flush == Z_FINISH)
            continue;  // keep going until the stream's end is written
        break;
    }
    out.resize(produced);
    return out;
}

QByteArray NRDataCompressor::compressData(const QByteArray &data, VNErrorPtr *error) {
    if (error)
        *error = nullptr;
    if (data.isEmpty())
        return QByteArray();
    NRDataCompressor c;
    if (VNErrorPtr e = c.setupStream()) {
        if (error)
            *error = e;
        return QByteArray();
    }
    return c.compressBytes(data, error, true);
}

bool NRDataCompressor::compressDataFromFile(const QString &sourcePath, const QString &destinationPath,
                                            VNErrorPtr *error) {
    NRDataCompressor codec;
    return NRCodecFileConversion::convertFile(
        kVerb, sourcePath, destinationPath, [&] { return codec.setupStream(); },
        [&](const char *bytes, qint64 length, VNErrorPtr *e, bool *) {
            // The zero-length piece at the end of the file finishes the stream.
            return codec.compressBytes(bytes, length, e, length == 0);
        },
        [&] { return codec.closeStream(); }, error);
}
