#include "Formats/NRCodecErrors.h"

namespace NRCodecErrors {

QString domain() { return QStringLiteral("NRHTTPRequestErrorDomain"); }

QString underlyingErrorKey() { return QStringLiteral("NSUnderlyingError"); }

static VNErrorPtr describe(const QString &text, const QString &underlying = QString()) {
    QVariantMap info{{VNError::localizedDescriptionKey(), text}};
    if (!underlying.isNull())
        info.insert(underlyingErrorKey(), underlying);
    return std::make_shared<VNError>(domain(), codecErrorCode, info);
}

VNErrorPtr zlibFailed(const QString &verb, int zlibCode) {
    return describe(QStringLiteral("%1 of data failed with code %2").arg(verb).arg(zlibCode));
}

VNErrorPtr cannotCreate(const QString &verb, const QString &source, const QString &destination) {
    return describe(QStringLiteral("%1 of %2 failed because we were to create a file at %3")
                        .arg(verb, source, destination));
}

VNErrorPtr sameFile(const QString &verb, const QString &source) {
    return describe(QStringLiteral("%1 of %2 failed because the destination is the source file itself").arg(verb, source));
}

VNErrorPtr sourceMissing(const QString &verb, const QString &source) {
    return describe(QStringLiteral("%1 of %2 failed the file does not exist").arg(verb, source));
}

VNErrorPtr cannotRead(const QString &verb, const QString &source, const QString &underlying) {
    return describe(QStringLiteral("%1 of %2 failed because we were unable to read from the source data file")
                        .arg(verb, source),
                    underlying);
}

VNErrorPtr cannotWrite(const QString &verb, const QString &source, const QString &destination,
                       const QString &underlying) {
    return describe(
        QStringLiteral("%1 of %2 failed because we were unable to write to the destination data file at %3")
            .arg(verb, source, destination),
        underlying);
}

}  // namespace NRCodecErrors
