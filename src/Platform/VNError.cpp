#include "VNError.h"

VNError::VNError(QString domain, qint64 code, QVariantMap userInfo)
    : m_domain(std::move(domain)), m_code(code), m_userInfo(std::move(userInfo)) {}

const QString &VNError::localizedDescriptionKey() {
    static const QString key = QStringLiteral("NSLocalizedDescription");
    return key;
}

QString VNError::localizedDescription() const {
    const QVariant v = m_userInfo.value(localizedDescriptionKey());
    if (v.isValid() && !v.toString().isNull())
        return v.toString();
    return QStringLiteral("The operation couldn't be completed. (%1 error %2.)").arg(m_domain).arg(m_code);
}

std::shared_ptr<VNError> VNError::make(const QString &domain, qint64 code, const QString &key,
                                       const QString &message) {
    return std::make_shared<VNError>(domain, code, QVariantMap{{key, message}});
}

std::shared_ptr<VNError> VNError::withDescription(const QString &domain, qint64 code,
                                                  const QString &description) {
    return make(domain, code, localizedDescriptionKey(), description);
}
