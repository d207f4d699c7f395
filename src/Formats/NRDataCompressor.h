#pragma once

#include "Platform/VNError.h"

#include <QByteArray>
#include <QString>
#include <memory>

struct z_stream_s;

// Deflates bytes into a gzip stream: piece by piece, a whole buffer at once,
// or a file into another file. One object owns one zlib stream (default
// compression level, gzip wrapper).
//
// Errors are in "NRHTTPRequestErrorDomain" with code 11.
class NRDataCompressor {
public:
    NRDataCompressor();
    ~NRDataCompressor();
    NRDataCompressor(const NRDataCompressor &) = delete;
    NRDataCompressor &operator=(const NRDataCompressor &) = delete;

    // A new compressor with its stream set up (when zlib refuses, the object
    // is simply not ready).
    static std::unique_ptr<NRDataCompressor> compressor();

    VNErrorPtr setupStream();
    VNErrorPtr closeStream();
    bool streamReady() const { return m_ready; }

    // Deflates one piece; shouldFinish ends the gzip stream with this piece.
    // An empty piece gives a null array and no error, except when it
    // finishes the stream: then the gzip end is written (so the output is
    // always a complete gzip stream, the empty one included). A failure gives
    // a null array and sets *error (when given). After the stream has
    // finished, further pieces produce nothing.
    QByteArray compressBytes(const char *bytes, qsizetype length, VNErrorPtr *error = nullptr,
                             bool shouldFinish = false);
    QByteArray compressBytes(const QByteArray &piece, VNErrorPtr *error = nullptr,
                             bool shouldFinish = false) {
        return compressBytes(piece.constData(), piece.size(), error, shouldFinish);
    }
    bool streamFinished() const { return m_finished; }

    // The whole buffer as one gzip stream. An empty buffer gives a null
    // array and no error.
    static QByteArray compressData(const QByteArray &data, VNErrorPtr *error = nullptr);

    // Deflates the file at sourcePath into destinationPath (replaced; a
    // destination that is the source file itself is refused).
    static bool compressDataFromFile(const QString &sourcePath, const QString &destinationPath,
                                     VNErrorPtr *error = nullptr);

    static VNErrorPtr deflateError(int zlibCode);

private:
    std::unique_ptr<z_stream_s> m_stream;
    bool m_ready = false;
    bool m_finished = false;
};
