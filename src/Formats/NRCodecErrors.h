#pragma once

#include "Platform/VNError.h"

#include <QString>

// The errors of the gzip codec, shared by the compressor and decompressor.
// verb is "Decompression" or "Compression".
namespace NRCodecErrors {

QString domain();  // "NRHTTPRequestErrorDomain"
constexpr qint64 codecErrorCode = 11;

VNErrorPtr zlibFailed(const QString &verb, int zlibCode);
VNErrorPtr cannotCreate(const QString &verb, const QString &source, const QString &destination);
// The destination is the source file itself (refused before either is touched).
VNErrorPtr sameFile(const QString &verb, const QString &source);
VNErrorPtr sourceMissing(const QString &verb, const QString &source);
VNErrorPtr cannotRead(const QString &verb, const QString &source, const QString &underlying);
VNErrorPtr cannotWrite(const QString &verb, const QString &source, const QString &destination,
                       const QString &underlying);

// The user-info key under which the file error behind a read or write
// failure is kept (as text).
QString underlyingErrorKey();

// Size of the pieces a file-to-file conversion reads.
constexpr qint64 filePieceSize = 262144;

}  // namespace NRCodecErrors
