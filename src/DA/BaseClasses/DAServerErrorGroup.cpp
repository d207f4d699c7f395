#include "DA/BaseClasses/DAServerErrorGroup.h"

#include "DA/BaseClasses/DANamespaces.h"
#include "DA/XML/DAXMLDocument.h"

#include <QStringList>

QList<DAServerErrorPtr> DAServerErrorGroup::serverErrorsWithData(const QByteArray &data) {
    QList<DAServerErrorPtr> errors;
    DAXMLDocumentPtr document = DAXMLDocument::documentWithData(data);
    if (!document || !document->rootElement())
        return errors;
    for (const DAXMLElementPtr &e : document->rootElement()->elementsForLocalName(QStringLiteral("error"), DANamespaces::data()))
        errors.append(std::make_shared<DAServerError>(e));
    return errors;
}

DAServerErrorGroupPtr DAServerErrorGroup::groupWithData(const QByteArray &data) {
    QList<DAServerErrorPtr> errors = serverErrorsWithData(data);
    if (errors.isEmpty())
        return nullptr;
    auto group = std::make_shared<DAServerErrorGroup>();
    group->setErrors(errors);
    return group;
}

QString DAServerErrorGroup::description() const {
    QStringList items;
    for (const DAServerErrorPtr &e : m_errors)
        items << e->description();
    return QStringLiteral("DAServerErrorGroup %1: {errors: (%2)}").arg(quintptr(this), 0, 16).arg(items.join(QStringLiteral(", ")));
}

bool DAServerErrorGroup::isEqual(const DAServerErrorGroup &other) const {
    if (this == &other)
        return true;
    if (m_errors.size() != other.m_errors.size())
        return false;
    for (qsizetype i = 0; i < m_errors.size(); ++i) {
        if (!m_errors[i]->isEqual(*other.m_errors[i]))
            return false;
    }
    return true;
}

DAServerErrorGroupPtr DAServerErrorGroup::copy() const {
    auto group = std::make_shared<DAServerErrorGroup>();
    for (const DAServerErrorPtr &e : m_errors)
        group->m_errors.append(e->copy());
    return group;
}
