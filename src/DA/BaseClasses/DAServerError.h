#pragma once

#include "DA/XML/DAXMLElement.h"

#include <QString>
#include <memory>

class DAServerError;
using DAServerErrorPtr = std::shared_ptr<DAServerError>;

// One "error" element of a data-API server's error document.
class DAServerError {
public:
    DAServerError() = default;
    // Reads the five fields from an "error" element; missing ones are empty.
    explicit DAServerError(const DAXMLElementPtr &errorElement);

    // The text of the first child of that local name in the data-API
    // namespace, or empty.
    static QString errorStringForParentElement(const DAXMLElementPtr &parent, const QString &childName);

    const QString &domain() const { return m_domain; }
    void setDomain(const QString &value) { m_domain = value; }
    const QString &code() const { return m_code; }
    void setCode(const QString &value) { m_code = value; }
    const QString &internalReason() const { return m_internalReason; }
    void setInternalReason(const QString &value) { m_internalReason = value; }
    const QString &extendedHelpURI() const { return m_extendedHelpURI; }
    void setExtendedHelpURI(const QString &value) { m_extendedHelpURI = value; }
    const QString &sendReportURI() const { return m_sendReportURI; }
    void setSendReportURI(const QString &value) { m_sendReportURI = value; }

    // "<domain> error <code>", then ": \"<reason>\"" when there is a reason.
    QString summary() const;
    QString description() const;

    bool isEqual(const DAServerError &other) const;
    DAServerErrorPtr copy() const { return std::make_shared<DAServerError>(*this); }

private:
    QString m_domain, m_code, m_internalReason, m_extendedHelpURI, m_sendReportURI;
};
