#pragma once

#include "Platform/VNError.h"

#include <QByteArray>
#include <QString>
#include <memory>

struct z_stream_s;

// Inflates gzip (or zlib) encoded bytes: piece by piece as a reply arrives,
// a whole buffer at once, or a file into another file. One object owns one
// zlib stream. A gzip stream made of several members (concatenated gzip
// files) is decoded member after member; bytes after the last member that do
// not start another member are ignored.
//
// Errors are in "NRHTTPRequestErrorDomain" with code 11.
class NRDataDecompressor {
public:
    NRDataDecompressor();
    ~NRDataDecompressor();
    NRDataDecompressor(const NRDataDecompressor &) = delete;
    NRDataDecompressor &operator=(const NRDataDecompressor &) = delete;

    // A new decompressor with its stream set up (when zlib refuses, the
    // object is simply not ready).
    static std::unique_ptr<NRDataDecompressor> decompressor();

    // Sets the inflate stream up; nothing when already ready.
    VNErrorPtr setupStream();
    // Ends the inflate stream; nothing when not ready.
    VNErrorPtr closeStream();
    bool streamReady() const { return m_ready; }

    // Inflates one piece of the stream and returns what it produced. An
    // empty piece gives a null array and no error; a failure gives a null
    // array and sets *error (when given). After the stream has ended,
    // further pieces produce nothing.
    QByteArray uncompressBytes(const char *bytes, qsizetype length, VNErrorPtr *error = nullptr);
    QByteArray uncompressBytes(const QByteArray &piece, VNErrorPtr *error = nullptr) {
        return uncompressBytes(piece.constData(), piece.size(), error);
    }

    // The most bytes the stream may produce in all (0: no limit). Past it
    // uncompressBytes() fails and outputLimitExceeded() tells why: a small
    // compressed reply must not be able to fill the memory.
    void setOutputLimit(qint64 bytes) { m_outputLimit = bytes; }
    bool outputLimitExceeded() const { return m_outputLimitExceeded; }
    qint64 totalOutput() const { return m_totalOutput; }

    // True once at least one complete member was decoded and no member is
    // half read: the point at which the input may end.
    bool streamComplete() const;
    // Call when the input has ended: an error when the compressed stream was
    // cut short (data was fed but its last member never ended).
    VNErrorPtr finishStream() const;

    // The whole buffer in one call; a truncated stream is an error. An
    // empty buffer gives a null array and no error.
    // With an output limit (0: none), a buffer inflating past it is an error.
    static QByteArray uncompressData(const QByteArray &data, VNErrorPtr *error = nullptr, qint64 outputLimit = 0);

    // Inflates the file at sourcePath into destinationPath (replaced; a
    // destination that is the source file itself is refused). A truncated
    // stream is an error; the partly written destination stays.
    static bool uncompressDataFromFile(const QString &sourcePath, const QString &destinationPath,
                                       VNErrorPtr *error = nullptr);

    // The error every failing zlib call of the decompressor gives.
    static VNErrorPtr inflateError(int zlibCode);

private:
    enum class Phase { Start, InMember, BetweenMembers, Trailing };

    std::unique_ptr<z_stream_s> m_stream;
    bool m_ready = false;
    Phase m_phase = Phase::Start;
    bool m_gzipMembers = false;  // the stream began with a gzip header
    QByteArray m_pendingMagic;   // start of what may be the next member
    qint64 m_outputLimit = 0;
    qint64 m_totalOutput = 0;
    bool m_outputLimitExceeded = false;
};
