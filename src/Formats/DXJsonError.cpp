#include "Formats/DXJsonError.h"

#include "Formats/DXJsonBase.h"

DXJsonError::DXJsonError(qint64 code, const QString &description, VNErrorPtr underlying)
    : VNError(DXJsonBase::errorDomain(), code, QVariantMap{{VNError::localizedDescriptionKey(), description}}),
      m_underlying(std::move(underlying)) {}

VNErrorPtr DXJsonError::underlyingErrorOf(const VNErrorPtr &error) {
    auto json = std::dynamic_pointer_cast<const DXJsonError>(error);
    return json ? json->underlyingError() : nullptr;
}
