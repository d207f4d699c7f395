#include "Formats/NRCodecFileConversion.h"

#include "Formats/NRCodecErrors.h"

#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

namespace NRCodecFileConversion {

namespace {

// Whether both paths name one existing file: the same path spelt another way,
// a symbolic or a hard link.
bool sameFile(const QString &a, const QString &b) {
    struct stat sa {}, sb {};
    return ::stat(QFile::encodeName(a).constData(), &sa) == 0 && ::stat(QFile::encodeName(b).constData(), &sb) == 0 &&
           sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

}  // namespace

bool convertFile(const QString &verb, const QString &sourcePath, const QString &destinationPath,
                 const std::function<VNErrorPtr()> &setup, const PieceFunction &piece,
                 const std::function<VNErrorPtr()> &finish, VNErrorPtr *error) {
    auto fail = [&](VNErrorPtr e) {
        if (error)
            *error = std::move(e);
        return false;
    };
    if (error)
        *error = nullptr;

    // Opening the destination empties it: were it the source, the data
    // would be gone before a byte of it was read.
    if (sameFile(sourcePath, destinationPath))
        return fail(NRCodecErrors::sameFile(verb, sourcePath));
    QFile destination(destinationPath);
    if (!destination.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return fail(NRCodecErrors::cannotCreate(verb, sourcePath, destinationPath));
    if (!QFileInfo::exists(sourcePath))
        return fail(NRCodecErrors::sourceMissing(verb, sourcePath));

    if (VNErrorPtr e = setup())
        return fail(e);
    QFile source(sourcePath);
    if (!source.open(QIODevice::ReadOnly))
        return fail(NRCodecErrors::cannotRead(verb, sourcePath, source.errorString()));

    QByteArray buffer(NRCodecErrors::filePieceSize, Qt::Uninitialized);
    for (;;) {
        const qint64 n = source.read(buffer.data(), buffer.size());
        if (n < 0)
            return fail(NRCodecErrors::cannotRead(verb, sourcePath, source.errorString()));
        // A short read is taken as the end only when the next read confirms
        // it: the end is the zero-length read.
        VNErrorPtr e;
        bool restUnneeded = false;
        const QByteArray out = piece(buffer.constData(), n, &e, &restUnneeded);
        if (e)
            return fail(e);
        if (!out.isEmpty() && destination.write(out) != out.size())
            return fail(NRCodecErrors::cannotWrite(verb, sourcePath, destinationPath, destination.errorString()));
        if (n == 0 || restUnneeded)
            break;
    }
    source.close();
    if (!destination.flush())
        return fail(NRCodecErrors::cannotWrite(verb, sourcePath, destinationPath, destination.errorString()));
    destination.close();
    if (VNErrorPtr e = finish())
        return fail(e);
    return true;
}

}  // namespace NRCodecFileConversion
