#include "DA/BaseClasses/DATextConstruct.h"

#include "DA/BaseClasses/DAUtilities.h"

DA_DEFINE_CLASS(DATextConstruct, DAObject)

DAObjectPtr DATextConstruct::textConstructWithString(DAClass cls, const QString &text) {
    auto object = std::dynamic_pointer_cast<DATextConstruct>(objectOfClass(cls));
    if (object)
        object->setStringValue(text);
    return object;
}

bool DATextConstruct::isTypeEqualToText(const QString &type) {
    return type.isNull() || type == QLatin1String("text") || type == QLatin1String("text/plain");
}

void DATextConstruct::addParseDeclarations() {
    addLocalAttributeDeclarations({QStringLiteral("type"), QStringLiteral("xml:lang")});
    addContentValueDeclaration();
}

bool DATextConstruct::isEqual(const DAExtensionItem &other) const {
    if (!DAObject::isEqual(other))
        return false;
    auto *o = dynamic_cast<const DATextConstruct *>(&other);
    if (!o)
        return false;
    return DAUtilities::areEqualOrBothNil(type(), o->type()) || (isTypeEqualToText(type()) && isTypeEqualToText(o->type()));
}
