#include "Formats/NRDataDecompressor.h"

#include "Formats/NRCodecErrors.h"
#include "Formats/NRCodecFileConversion.h"

#include <algorithm>
#include <zlib.h>

static const QString kVerb = QStringLiteral("Decompression");

NRDataDecompressor::NRDataDecompressor() : m_stream(std::make_unique<z_stream_s>()) {}

NRDataDecompressor::~NRDataDecompressor() {
    if (m_ready)
        closeStream();
}

std::unique_ptr<NRDataDecompressor> NRDataDecompressor::decompressor() {
    auto d = std::make_unique<NRDataDecompressor>();
    d->setupStream();
    return d;
}

VNErrorPtr NRDataDecompressor::inflateError(int zlibCode) { return NRCodecErrors::zlibFailed(kVerb, zlibCode); }

VNErrorPtr NRDataDecompressor::setupStream() {
    if (m_ready)
        return nullptr;
    *m_stream = z_stream_s{};
    m_stream->zalloc = Z_NULL;
    m_stream->zfree = Z_NULL;
    m_stream->opaque = Z_NULL;
    m_stream->avail_in = 0;
    m_stream->next_in = Z_NULL;
    // 15 window bits plus 32: a gzip or a zlib header is recognised by itself.
    const int rc = inflateInit2(m_stream.get(), 15 + 32);
    if (rc != Z_OK)
        return inflateError(rc);
    m_ready = true;
    m_phase = Phase::Start;
    m_gzipMembers = false;
    m_pendingMagic.clear();
    m_totalOutput = 0;
    m_outputLimitExceeded = false;
    return nullptr;
}

VNErrorPtr NRDataDecompressor::closeStream() {
    if (!m_ready)
        return nullptr;
    m_ready = false;
    const int rc = inflateEnd(m_stream.get());
    if (rc != Z_OK)
        return inflateError(rc);
    return nullptr;
}

bool NRDataDecompressor::streamComplete() const {
    return m_phase == Phase::BetweenMembers || m_phase == Phase::Trailing;
}

VNErrorPtr NRDataDecompressor::finishStream() const {
    // Data went in but the member it belongs to never ended: the stream was
    // cut short. zlib calls that state Z_BUF_ERROR.
    if (m_phase == Phase::InMember)
        return inflateError(Z_BUF_ERROR);
    return nullptr;
}

QByteArray NRDataDecompressor::uncompressBytes(const char *bytes, qsizetype length, VNErrorPtr *error) {
    if (error)
        *error = nullptr;
    if (length <= 0 || !bytes)
        return QByteArray();
    auto fail = [&](int rc) {
        if (error)
            *error = inflateError(rc);
        return QByteArray();
    };
    if (!m_ready)
        return fail(Z_STREAM_ERROR);
    if (m_phase == Phase::Trailing)
        return QByteArray("");
    if (m_outputLimitExceeded)
        return fail(Z_MEM_ERROR);

    // A piece that starts right after a member may hold only part of the next
    // member's magic; such bytes wait in m_pendingMagic and are fed again.
    QByteArray joined;
    const char *in = bytes;
    qsizetype left = length;
    if (!m_pendingMagic.isEmpty()) {
        joined = m_pendingMagic + QByteArray::fromRawData(bytes, length);
        m_pendingMagic.clear();
        in = joined.constData();
        left = joined.size();
    }

    // Output grows geometrically so that highly compressed input costs
    // linear time, and always by at least one byte's worth of room.
    QByteArray out;
    qsizetype produced = 0;
    // With a limit the buffer never grows past one byte more than is still
    // allowed: that byte tells an overflow from an exact fit.
    const qsizetype allowed = m_outputLimit > 0 ? qsizetype(m_outputLimit - m_totalOutput) + 1 : -1;
    auto capped = [allowed](qsizetype size) { return allowed < 0 ? size : std::min(size, allowed); };
    out.resize(capped(std::max<qsizetype>(left + left / 2, 256)));

    while (left > 0) {
        if (m_phase == Phase::Start) {
            m_gzipMembers = static_cast<unsigned char>(in[0]) == 0x1f;
            m_phase = Phase::InMember;
        } else if (m_phase == Phase::BetweenMembers) {
            // Another gzip member follows only when the gzip magic does;
            // anything else after the stream is ignored.
            if (static_cast<unsigned char>(in[0]) != 0x1f) {
                m_phase = Phase::Trailing;
                break;
            }
            if (left < 2) {
                m_pendingMagic = QByteArray(in, left);
                break;
            }
            if (static_cast<unsigned char>(in[1]) != 0x8b) {
                m_phase = Phase::Trailing;
                break;
            }
            const int rc = inflateReset(m_stream.get());
            if (rc != Z_OK)
                return fail(rc);
            m_phase = Phase::InMember;
        } else if (m_phase == Phase::Trailing) {
            break;
        }

        if (produced == out.size()) {
            if (allowed >= 0 && produced >= allowed) {
                m_outputLimitExceeded = true;
                return fail(Z_MEM_ERROR);
            }
            out.resize(capped(out.size() + std::max<qsizetype>(out.size(), left / 2 + 1)));
        }
        const qsizetype room = std::min<qsizetype>(out.size() - produced, 1 << 30);
        const uInt chunkIn = static_cast<uInt>(std::min<qsizetype>(left, 1 << 30));
        m_stream->next_in = reinterpret_cast<Bytef *>(const_cast<char *>(in));
        m_stream->avail_in = chunkIn;
        m_stream->next_out = reinterpret_cast<Bytef *>(out.data() + produced);
        m_stream->avail_out = static_cast<uInt>(room);

        const int rc = inflate(m_stream.get(), Z_NO_FLUSH);
        const qsizetype consumed = chunkIn - m_stream->avail_in;
        produced += room - m_stream->avail_out;
        in += consumed;
        left -= consumed;

        if (rc == Z_STREAM_END) {
            m_phase = m_gzipMembers ? Phase::BetweenMembers : Phase::Trailing;
            continue;
        }
        if (rc == Z_OK)
            continue;
        if (rc == Z_BUF_ERROR && m_stream->avail_out == 0)
            continue;  // only out of room: the buffer grows on the next turn
        return fail(rc);
    }

    if (allowed >= 0 && produced >= allowed) {
        m_outputLimitExceeded = true;
        return fail(Z_MEM_ERROR);
    }
    m_totalOutput += produced;
    out.resize(produced);
    return out;
}

QByteArray NRDataDecompressor::uncompressData(const QByteArray &data, VNErrorPtr *error, qint64 outputLimit) {
    if (error)
        *error = nullptr;
    if (data.isEmpty())
        return QByteArray();
    NRDataDecompressor d;
    if (VNErrorPtr e = d.setupStream()) {
        if (error)
            *error = e;
        return QByteArray();
    }
    d.setOutputLimit(outputLimit);
    VNErrorPtr e;
    QByteArray out = d.uncompressBytes(data, &e);
    if (!e)
        e = d.finishStream();
    if (e) {
        if (error)
            *error = e;
        return QByteArray();
    }
    return out;
}

bool NRDataDecompressor::uncompressDataFromFile(const QString &sourcePath, const QString &destinationPath,
                                                VNErrorPtr *error) {
    NRDataDecompressor codec;
    return NRCodecFileConversion::convertFile(
        kVerb, sourcePath, destinationPath, [&] { return codec.setupStream(); },
        [&](const char *bytes, qint64 length, VNErrorPtr *e, bool *restUnneeded) {
            QByteArray out = codec.uncompressBytes(bytes, length, e);
            // The rest of the file is not part of the stream.
            *restUnneeded = codec.m_phase == Phase::Trailing;
            return out;
        },
        [&] {
            if (VNErrorPtr e = codec.finishStream())
                return e;
            return codec.closeStream();
        },
        error);
}
