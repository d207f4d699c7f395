#pragma once

#include "Platform/VNError.h"

// An error of the JSON parser or writer ("org.vostrelin.JSON.ErrorDomain").
// Each error of a trace but the first holds the one raised just before it
// as its underlying error, so the last error of a trace leads back to the
// innermost cause.
class DXJsonError : public VNError {
public:
    DXJsonError(qint64 code, const QString &description, VNErrorPtr underlying);

    const VNErrorPtr &underlyingError() const { return m_underlying; }

    // The underlying error of any error that is a DXJsonError, else null.
    static VNErrorPtr underlyingErrorOf(const VNErrorPtr &error);

private:
    VNErrorPtr m_underlying;
};
