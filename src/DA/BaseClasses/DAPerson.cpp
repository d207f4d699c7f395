#include "DA/BaseClasses/DAPerson.h"

#include "DA/BaseClasses/DANamespaces.h"

DA_DEFINE_ELEMENT_CLASS(DAPersonName, DAValueElementConstruct, DANamespaces::atom(), "atom", "name")
DA_DEFINE_ELEMENT_CLASS(DAPersonEmail, DAValueElementConstruct, DANamespaces::atom(), "atom", "email")
DA_DEFINE_ELEMENT_CLASS(DAPersonURI, DAValueElementConstruct, DANamespaces::atom(), "atom", "uri")
DA_DEFINE_ELEMENT_CLASS(DAPerson, DAObject, DANamespaces::atom(), "atom", "author")

DAObjectPtr DAPerson::personWithName(DAClass cls, const QString &name, const QString &email) {
    auto person = std::dynamic_pointer_cast<DAPerson>(objectOfClass(cls));
    if (person) {
        person->setName(name);
        person->setEmail(email);
    }
    return person;
}

void DAPerson::addExtensionDeclarations() {
    addExtensionDeclarationsForParent(objectClass(), {DAPersonName::staticClass(), DAPersonEmail::staticClass(),
                                             DAPersonURI::staticClass()});
}

QString DAPerson::childText(DAClass cls) const {
    auto value = std::dynamic_pointer_cast<DAValueConstruct>(objectForExtensionClass(cls));
    return value ? value->stringValue() : QString();
}

void DAPerson::setChildText(DAClass cls, const QString &value) { setObject(DAValueConstruct::valueWithString(cls, value), cls); }

QStringList DAPerson::itemsForDescription() const {
    QStringList items = DAObject::itemsForDescription();
    addDescriptionRecords(items, {{QStringLiteral("name"), name()}, {QStringLiteral("URI"), URI()}, {QStringLiteral("email"), email()}});
    return items;
}
