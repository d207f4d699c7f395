#include "DA/BaseClasses/DAServerError.h"

#include "DA/BaseClasses/DANamespaces.h"

#include <QStringList>

QString DAServerError::errorStringForParentElement(const DAXMLElementPtr &parent, const QString &childName) {
    if (!parent)
        return QString();
    const DAXMLElementList children = parent->elementsForLocalName(childName, DANamespaces::data());
    if (children.isEmpty())
        return QString();
    return children.first()->stringValue();
}

DAServerError::DAServerError(const DAXMLElementPtr &e)
    : m_domain(errorStringForParentElement(e, QStringLiteral("domain"))),
      m_code(errorStringForParentElement(e, QStringLiteral("code"))),
      m_internalReason(errorStringForParentElement(e, QStringLiteral("internalReason"))),
      m_extendedHelpURI(errorStringForParentElement(e, QStringLiteral("extendedHelp"))),
      m_sendReportURI(errorStringForParentElement(e, QStringLiteral("sendReport"))) {}

QString DAServerError::summary() const {
    // An absent domain or code is written as an empty text.
    QString text = QStringLiteral("%1 error %2").arg(m_domain, m_code);
    if (!m_internalReason.isEmpty())
        text += QStringLiteral(": \"%1\"").arg(m_internalReason);
    return text;
}

QString DAServerError::description() const {
    QStringList items;
    auto add = [&](const char *label, const QString &value) {
        if (!value.isNull())
            items << QStringLiteral("%1=\"%2\"").arg(QLatin1String(label), value);
    };
    add("domain", m_domain);
    add("code", m_code);
    add("reason", m_internalReason);
    add("help", m_extendedHelpURI);
    add("report", m_sendReportURI);
    return QStringLiteral("DAServerError %1: {%2}").arg(quintptr(this), 0, 16).arg(items.join(QLatin1Char(' ')));
}

bool DAServerError::isEqual(const DAServerError &o) const {
    auto same = [](const QString &a, const QString &b) { return a.isNull() == b.isNull() && a == b; };
    return this == &o || (same(m_domain, o.m_domain) && same(m_code, o.m_code) &&
                          same(m_internalReason, o.m_internalReason) &&
                          same(m_extendedHelpURI, o.m_extendedHelpURI) && same(m_sendReportURI, o.m_sendReportURI));
}
