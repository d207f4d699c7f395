#pragma once

#include <QString>
#include <QVariantMap>
#include <memory>

// An error value: a domain, a numeric code and a user-info map. Every
// failure in the program travels as one of these (a null pointer is "no
// error"). Subclasses may describe themselves differently.
class VNError {
public:
    VNError(QString domain, qint64 code, QVariantMap userInfo = {});
    virtual ~VNError() = default;

    const QString &domain() const { return m_domain; }
    qint64 code() const { return m_code; }
    const QVariantMap &userInfo() const { return m_userInfo; }

    // The text shown to the user: the user-info entry under
    // localizedDescriptionKey() when there is one, else a generic text
    // naming the domain and code.
    virtual QString localizedDescription() const;

    static const QString &localizedDescriptionKey();

    // Shorthand for the common shape: domain, code and a message under the
    // given user-info key.
    static std::shared_ptr<VNError> make(const QString &domain, qint64 code, const QString &key,
                                         const QString &message);
    static std::shared_ptr<VNError> withDescription(const QString &domain, qint64 code,
                                                    const QString &description);

private:
    QString m_domain;
    qint64 m_code;
    QVariantMap m_userInfo;
};

using VNErrorPtr = std::shared_ptr<const VNError>;
