#include "Formats/DXJsonBase.h"

#include "Formats/DXJsonError.h"

QString DXJsonBase::errorDomain() { return QStringLiteral("org.vostrelin.JSON.ErrorDomain"); }

void DXJsonBase::addError(int code, const QString &description) {
    VNErrorPtr previous = m_errorTrace.isEmpty() ? nullptr : m_errorTrace.last();
    m_errorTrace.append(std::make_shared<DXJsonError>(code, description, previous));
}

bool DXJsonBase::enterContainer() {
    ++m_depth;
    const quint64 limit = (m_maxDepth == 0 || m_maxDepth > hardDepthLimit) ? hardDepthLimit : m_maxDepth;
    if (m_depth > limit) {
        addError(7, QStringLiteral("Nested too deep"));
        return false;
    }
    return true;
}

QString DXJsonBase::describeTrace(const QList<VNErrorPtr> &trace) {
    QStringList parts;
    for (const VNErrorPtr &e : trace)
        parts.append(QStringLiteral("%1 (code %2)").arg(e->localizedDescription()).arg(e->code()));
    return QStringLiteral("(") + parts.join(QStringLiteral("; ")) + QStringLiteral(")");
}

QString DXJsonBase::errorTraceDescription() const { return describeTrace(m_errorTrace); }
