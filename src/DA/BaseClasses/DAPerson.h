#pragma once

#include "DA/BaseClasses/DAValueConstruct.h"

DA_DECLARE_ELEMENT(DAPersonName, DAValueElementConstruct)
DA_DECLARE_ELEMENT(DAPersonEmail, DAValueElementConstruct)
DA_DECLARE_ELEMENT(DAPersonURI, DAValueElementConstruct)

// An Atom person: name, e-mail address and URI as child elements.
class DAPerson : public DAObject {
    DA_CLASS(DAPerson)
public:
    static DAObjectPtr personWithName(DAClass cls, const QString &name, const QString &email);

    QString name() const { return childText(DAPersonName::staticClass()); }
    void setName(const QString &v) { setChildText(DAPersonName::staticClass(), v); }
    QString email() const { return childText(DAPersonEmail::staticClass()); }
    void setEmail(const QString &v) { setChildText(DAPersonEmail::staticClass(), v); }
    QString URI() const { return childText(DAPersonURI::staticClass()); }
    void setURI(const QString &v) { setChildText(DAPersonURI::staticClass(), v); }
    QString nameLang() const { return stringValueForAttribute(QStringLiteral("xml:lang")); }
    void setNameLang(const QString &v) { setStringValue(v, QStringLiteral("xml:lang")); }

    void addExtensionDeclarations() override;
    void addParseDeclarations() override { addLocalAttributeDeclarations({QStringLiteral("xml:lang")}); }
    QStringList itemsForDescription() const override;

private:
    QString childText(DAClass cls) const;
    void setChildText(DAClass cls, const QString &value);
};
using DAPersonPtr = std::shared_ptr<DAPerson>;
