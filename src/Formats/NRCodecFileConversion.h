#pragma once

#include "Platform/VNError.h"

#include <QByteArray>
#include <QString>
#include <functional>

// The file plumbing the gzip compressor and decompressor share: the source
// is read in pieces, each piece goes through the codec, and what the codec
// gives back is written to the destination (replaced).
namespace NRCodecFileConversion {

// One piece through the codec. length is 0 once the source has ended (the
// codec's chance to finish its stream); *rest unneeded set to true stops
// reading early (what follows is not part of the stream).
using PieceFunction =
    std::function<QByteArray(const char *bytes, qint64 length, VNErrorPtr *error, bool *restUnneeded)>;

// verb is "Compression" or "Decompression", for the error texts. setup runs
// once both files are known to be usable, finish after the destination has
// been flushed; an error from either fails the conversion.
bool convertFile(const QString &verb, const QString &sourcePath, const QString &destinationPath,
                 const std::function<VNErrorPtr()> &setup, const PieceFunction &piece,
                 const std::function<VNErrorPtr()> &finish, VNErrorPtr *error);

}  // namespace NRCodecFileConversion
