#include "DA/BaseClasses/DAEntryContent.h"

#include "DA/BaseClasses/DANamespaces.h"
#include "DA/BaseClasses/DAUtilities.h"

DA_DEFINE_ELEMENT_CLASS(DAEntryContent, DAObject, DANamespaces::atom(), "atom", "content")
DA_DEFINE_ELEMENT_CLASS(DAAtomContent, DAEntryContent, DANamespaces::atom(), "atom", "content")

DAObjectPtr DAEntryContent::contentWithString(DAClass cls, const QString &text) {
    auto c = std::dynamic_pointer_cast<DAEntryContent>(objectOfClass(cls));
    if (c)
        c->setStringValue(text);
    return c;
}

DAObjectPtr DAEntryContent::contentWithSourceURI(DAClass cls, const QString &uri, const QString &type) {
    auto c = std::dynamic_pointer_cast<DAEntryContent>(objectOfClass(cls));
    if (c) {
        c->setSourceURI(uri);
        c->setType(type);
    }
    return c;
}

DAObjectPtr DAEntryContent::contentWithXMLValue(DAClass cls, const DAXMLElementPtr &xml, const QString &type) {
    auto c = std::dynamic_pointer_cast<DAEntryContent>(objectOfClass(cls));
    if (c) {
        c->addChildXMLElementsDeclaration();
        c->setType(type);
        if (xml)
            c->addXMLValue(xml);
    }
    return c;
}

QUrl DAEntryContent::sourceURL() const {
    const QString src = sourceURI();
    return src.isEmpty() ? QUrl() : QUrl(src);
}

void DAEntryContent::setStringValue(const QString &text) {
    addContentValueDeclaration();
    setContentStringValue(text);
}

bool DAEntryContent::isTextType(const QString &type) {
    return type.isNull() || type == QLatin1String("text") || type.startsWith(QLatin1String("text/")) ||
           type == QLatin1String("html") || type == QLatin1String("xhtml");
}

void DAEntryContent::addParseDeclarations() {
    addLocalAttributeDeclarations({QStringLiteral("type"), QStringLiteral("xml:lang"), QStringLiteral("src")});
}

bool DAEntryContent::initWithXMLElement(const DAXMLElementPtr &element, const DAObjectPtr &parent) {
    if (!DAObject::initWithXMLElement(element, parent))
        return false;
    const QString t = type();
    if (isTextType(t)) {
        addContentValueDeclaration();
        setContentStringValue(stringValueFromElement(element));
    } else if (t.startsWith(QLatin1String("application/atom+xml;"))) {
        const DAXMLElementList children = element->childElements();
        if (children.size() == 1) {
            if (DAClass cls = objectClassForXMLElement(children.first())) {
                m_childObject = objectWithXMLElement(cls, children.first(),
                                                     std::static_pointer_cast<DAObject>(shared_from_this()));
                if (m_childObject)
                    handleParsedElement(children.first());
            }
        }
    } else if (t.startsWith(QLatin1String("application/vnd.google-earth.kml+xml"))) {
        addChildXMLElementsDeclaration();
        for (const DAXMLElementPtr &child : element->childElements()) {
            addChildXMLElement(std::static_pointer_cast<DAXMLElement>(child->copy()));
            handleParsedElement(child);
        }
    }
    return true;
}

DAXMLElementPtr DAEntryContent::XMLElement() const {
    DAXMLElementPtr element = XMLElementWithExtensionsAndDefaultName(QStringLiteral("content"));
    addXMLElementForObject(element, m_childObject);
    return element;
}

bool DAEntryContent::isEqual(const DAExtensionItem &other) const {
    if (!DAObject::isEqual(other))
        return false;
    auto *o = dynamic_cast<const DAEntryContent *>(&other);
    if (!o)
        return false;
    if (!DAUtilities::areEqualOrBothNil(type(), o->type()) && !(isTextType(type()) && isTextType(o->type())))
        return false;
    // Text held by one side only (a declared but different content) decides too.
    if (!DAUtilities::areEqualOrBothNil(stringValue(), o->stringValue()))
        return false;
    return DAUtilities::areEqualOrBothNil(m_childObject, o->m_childObject);
}

QStringList DAEntryContent::itemsForDescription() const {
    QStringList items = DAObject::itemsForDescription();
    const DAXMLElementList xml = XMLValues();
    if (!xml.isEmpty()) {
        QString text;
        for (const DAXMLElementPtr &e : xml)
            text += e->XMLString();
        items << QStringLiteral("xml:%1").arg(text);
    }
    if (m_childObject)
        items << QStringLiteral("childObject:%1").arg(QLatin1String(m_childObject->objectClass()->name));
    return items;
}

void DAEntryContent::copyInto(DAObject &target) const {
    DAObject::copyInto(target);
    static_cast<DAEntryContent &>(target).m_childObject = m_childObject ? m_childObject->copy() : nullptr;
}
