// DAObject: writing XML, namespaces, versions, equality, copies, the kind
// registry and descriptions.
#include "DA/BaseClasses/DANamespaces.h"
#include "DA/BaseClasses/DAObject.h"
#include "DA/BaseClasses/DAObjectExtensions.h"
#include "DA/BaseClasses/DAUtilities.h"
#include "DA/BaseClasses/DAEntryBase.h"
#include "DA/BaseClasses/DAFeedBase.h"
#include "Platform/VNLog.h"

// ---- writing ----------------------------------------------------------------

DAXMLElementPtr DAObject::XMLElementWithExtensionsAndDefaultName(const QString &defaultName) const {
    QString name = m_elementName;
    if (name.isEmpty())
        name = defaultName;
    if (name.isEmpty())
        name = objectClass()->qualifiedName;
    DAXMLElementPtr element = DAXMLNode::elementWithName(name);
    for (auto it = m_namespaces.begin(); it != m_namespaces.end(); ++it)
        element->addNamespace(DAXMLNode::namespaceWithName(it.key(), it.value()));
    // A prefixed name of a class with a namespace declares it unless this
    // object already does, so the element is well-formed wherever it is
    // written; the declaration is dropped again when the element is added
    // under one that declares the same.
    QSet<QString> declared(m_namespaces.keyBegin(), m_namespaces.keyEnd());
    auto declare = [&](const QString &qualifiedName, DAClass cls) {
        const QString prefix = DAXMLNode::prefixForName(qualifiedName);
        const QString uri = cls->extensionElementURI;
        if (prefix.isEmpty() || uri.isEmpty() || declared.contains(prefix) || prefix == QLatin1String("xml"))
            return;
        declared.insert(prefix);
        element->addNamespace(DAXMLNode::namespaceWithName(prefix, uri));
    };
    if (objectClass()->isExtension() && DAXMLNode::localNameForName(name) == objectClass()->extensionElementLocalName)
        declare(name, objectClass());
    else if (objectClass()->isExtension() && objectClass()->extensionElementLocalName == QLatin1String("*"))
        declare(name, objectClass());
    for (auto it = m_attributes.begin(); it != m_attributes.end(); ++it)
        addAttributeIfNonNil(element, it.value(), it.key());
    if (hasDeclaredContentValue() && !m_contentValue.isEmpty())
        DAObjectExtensions::addStringValue(element, m_contentValue);
    if (hasDeclaredChildXMLElements()) {
        for (const DAXMLElementPtr &e : m_childXMLElements)
            element->addChild(e);
    }
    for (DAClass cls : m_extensionOrder) {
        for (const DAItemPtr &item : m_extensions.value(cls)) {
            if (auto attribute = std::dynamic_pointer_cast<DAAttribute>(item)) {
                if (attribute->stringValue().isNull())
                    continue;
                const QString value = DAUtilities::stringWithControlsFilteredForString(attribute->stringValue());
                const QString qualified = attribute->objectClass()->qualifiedName;
                declare(qualified, attribute->objectClass());
                element->addAttribute(DAXMLNode::attributeWithName(qualified, value));
            } else if (auto object = std::dynamic_pointer_cast<DAObject>(item)) {
                element->addChildTaking(object->XMLElement());
            }
        }
    }
    if (!m_shouldIgnoreUnknowns) {
        for (const DAXMLNodePtr &n : unknownChildren())
            element->addChild(n);
        for (const DAXMLNodePtr &n : unknownAttributes())
            element->addAttribute(n);
    }
    return element;
}

DAXMLDocumentPtr DAObject::XMLDocument() const {
    DAXMLElementPtr root = XMLElement();
    if (!root)
        return nullptr;
    DAXMLDocumentPtr doc = DAXMLDocument::documentTakingRootElement(std::move(root));
    doc->setVersion(QStringLiteral("1.0"));
    doc->setCharacterEncoding(QStringLiteral("UTF-8"));
    return doc;
}

void DAObject::addAttributeIfNonNil(const DAXMLElementPtr &element, const QString &value, const QString &name) {
    if (!value.isNull())
        element->addAttribute(DAXMLNode::attributeWithName(name, DAUtilities::stringWithControlsFilteredForString(value)));
}

void DAObject::addChildWithStringValueIfNonEmpty(const DAXMLElementPtr &element, const QString &value,
                                                 const QString &name) {
    if (!value.isEmpty())
        element->addChild(DAXMLNode::elementWithName(name, DAUtilities::stringWithControlsFilteredForString(value)));
}

void DAObject::addXMLElementForObject(const DAXMLElementPtr &element, const DAObjectPtr &object) {
    if (object)
        element->addChildTaking(object->XMLElement());
}

void DAObject::addToElement(const DAXMLElementPtr &element, qint64 attributeValue, const QString &name) {
    element->addAttribute(DAXMLNode::attributeWithName(name, QString::number(attributeValue)));
}

void DAObject::addToElement(const DAXMLElementPtr &element, const QString &attributeValue, const QString &qualifiedName,
                            const QString &uri) {
    if (attributeValue.isNull())
        return;
    if (uri.isEmpty()) {
        addAttributeIfNonNil(element, attributeValue, qualifiedName);
        return;
    }
    element->addAttribute(DAXMLNode::attributeWithName(qualifiedName, uri,
                                                       DAUtilities::stringWithControlsFilteredForString(attributeValue)));
}

void DAObject::addToElement(const DAXMLElementPtr &element, const DAObjectList &objects) {
    for (const DAObjectPtr &object : objects)
        addXMLElementForObject(element, object);
}

// ---- namespaces and versions --------------------------------------------------

void DAObject::addNamespaces(const QMap<QString, QString> &namespaces) {
    for (auto it = namespaces.begin(); it != namespaces.end(); ++it)
        m_namespaces.insert(it.key(), it.value());
}

QMap<QString, QString> DAObject::completeNamespaces() const {
    DAObjectPtr p = parent();
    if (!p)
        return m_namespaces;
    QMap<QString, QString> all = p->completeNamespaces();
    for (auto it = m_namespaces.begin(); it != m_namespaces.end(); ++it)
        all.insert(it.key(), it.value());
    return all;
}

void DAObject::pruneInheritedNamespaces() {
    DAObjectPtr p = parent();
    if (!p || m_namespaces.isEmpty())
        return;
    const QMap<QString, QString> inherited = p->completeNamespaces();
    for (auto it = m_namespaces.begin(); it != m_namespaces.end();) {
        if (inherited.contains(it.key()) && inherited.value(it.key()) == it.value())
            it = m_namespaces.erase(it);
        else
            ++it;
    }
}

QMap<QString, QString> DAObject::dictionaryForElementNamespaces(const DAXMLElementPtr &element) {
    QMap<QString, QString> map;
    for (const DAXMLNodePtr &ns : element->namespaces())
        map.insert(ns->name(), ns->stringValue());
    return map;
}

QString DAObject::serviceVersion() const { return m_serviceVersion.isNull() ? defaultServiceVersion() : m_serviceVersion; }

void DAObject::setServiceVersion(const QString &version) {
    if (version != m_serviceVersion)
        m_coreProtocolVersion.clear();
    m_serviceVersion = version;
}

bool DAObject::isServiceVersionAtLeast(const QString &v) const {
    return DAUtilities::compareVersion(serviceVersion(), v) >= 0;
}

bool DAObject::isServiceVersionAtMost(const QString &v) const {
    return DAUtilities::compareVersion(serviceVersion(), v) <= 0;
}

QString DAObject::coreProtocolVersion() const {
    if (m_coreProtocolVersion.isNull())
        m_coreProtocolVersion = coreProtocolVersionForServiceVersion(serviceVersion());
    return m_coreProtocolVersion;
}

// The version's leading integer: "2.0" is 2, not an unreadable 0.
bool DAObject::isCoreProtocolVersion1() const {
    return DAUtilities::longLongValueForString(coreProtocolVersion()) < 2;
}

DAClass DAObject::classOrSurrogateForClass(DAClass cls) const {
    for (const DAObject *o = this; o;) {
        auto it = o->m_surrogates.constFind(cls);
        if (it != o->m_surrogates.constEnd())
            return it.value();
        DAObjectPtr p = o->parent();
        o = p.get();
    }
    return cls;
}

// ---- equality and copies ------------------------------------------------------

bool DAObject::isEqual(const DAExtensionItem &otherItem) const {
    if (this == &otherItem)
        return true;
    auto *other = dynamic_cast<const DAObject *>(&otherItem);
    if (!other || !other->objectClass()->isSubclassOf(objectClass()))
        return false;
    // Extensions: each class's list element by element.
    if (m_extensions.size() != other->m_extensions.size())
        return false;
    for (auto it = m_extensions.begin(); it != m_extensions.end(); ++it) {
        auto o = other->m_extensions.constFind(it.key());
        if (o == other->m_extensions.constEnd() || o->size() != it->size())
            return false;
        for (qsizetype i = 0; i < it->size(); ++i) {
            const DAItemPtr &a = it->at(i), &b = o->at(i);
            if (a != b && !(a && b && a->isEqual(*b)))
                return false;
        }
    }
    const QStringList ignored = attributesIgnoredForEquality();
    if (ignored.isEmpty()) {
        if (m_attributes != other->m_attributes)
            return false;
    } else {
        for (const QString &name : m_attributeDeclarations) {
            if (name.startsWith(QLatin1Char(' ')) || ignored.contains(name))
                continue;
            if (!DAUtilities::areEqualOrBothNil(m_attributes.value(name), other->m_attributes.value(name)))
                return false;
        }
    }
    if (hasDeclaredContentValue() && !DAUtilities::areEqualOrBothNil(m_contentValue, other->m_contentValue))
        return false;
    if (hasDeclaredChildXMLElements()) {
        if (m_childXMLElements.size() != other->m_childXMLElements.size())
            return false;
        for (qsizetype i = 0; i < m_childXMLElements.size(); ++i) {
            if (!m_childXMLElements[i]->isEqual(*other->m_childXMLElements[i]))
                return false;
        }
    }
    return m_namespaces == other->m_namespaces;
}

void DAObject::copyInto(DAObject &t) const {
    t.m_elementName = m_elementName;
    t.m_serviceVersion = m_serviceVersion;
    t.m_namespaces = m_namespaces;
    // The target's own set-up (a new entry's kind category) must not
    // survive: a copy holds the source's extensions and nothing else.
    t.m_extensions.clear();
    t.m_extensionOrder = m_extensionOrder;
    t.m_singleExtensions = m_singleExtensions;
    for (auto it = m_extensions.begin(); it != m_extensions.end(); ++it) {
        QList<DAItemPtr> copies;
        for (const DAItemPtr &item : *it) {
            DAItemPtr c = item ? item->copyItem() : nullptr;
            if (auto child = std::dynamic_pointer_cast<DAObject>(c))
                child->m_parent.reset();
            copies.append(c);
        }
        t.m_extensions.insert(it.key(), copies);
    }
    t.m_attributes = m_attributes;
    t.m_attributeDeclarations = m_attributeDeclarations;
    if (hasDeclaredContentValue())
        t.m_contentValue = m_contentValue;
    if (hasDeclaredChildXMLElements()) {
        for (const DAXMLElementPtr &e : m_childXMLElements)
            t.m_childXMLElements.append(std::static_pointer_cast<DAXMLElement>(e->copy()));
    }
    t.m_shouldIgnoreUnknowns = m_shouldIgnoreUnknowns;
    if (!m_shouldIgnoreUnknowns) {
        for (const DAXMLNodePtr &n : unknownChildren())
            t.m_unknownChildren.append(n->copy());
        for (const DAXMLNodePtr &n : unknownAttributes())
            t.m_unknownAttributes.append(n->copy());
    }
}

DAItemPtr DAObject::copyItem() const {
    DAObjectPtr target = objectOfClass(objectClass());
    copyInto(*target);
    return target;
}

// ---- kind registry --------------------------------------------------------------

namespace {

QString braced(const QString &scheme, const QString &term) {
    return QStringLiteral("{\"%1\":\"%2\"}").arg(scheme, term.isNull() ? QString() : term);
}

}  // namespace

void DAObject::registerClass(QHash<QString, DAClass> &map, DAClass cls, const QString &scheme, const QString &term) {
    const DAClass existing = classForCategory(map, scheme, term);
    if (existing && existing != cls) {
        // A programming error: two classes claim one kind.
        const QString message = QStringLiteral("%1 registration conflicts with %2")
                                    .arg(QLatin1String(cls->name), QLatin1String(existing->name));
        VNLog::log(message);
        Q_ASSERT_X(false, "DAObject", qPrintable(message));
    }
    const QString key = (scheme.isNull() || scheme == DANamespaces::kindScheme()) ? term : braced(scheme, term);
    map.insert(key, cls);
}

DAClass DAObject::classForCategory(const QHash<QString, DAClass> &map, const QString &scheme, const QString &term) {
    if (!term.isNull()) {
        if (DAClass c = map.value(term))
            return c;
    }
    if (!scheme.isNull()) {
        if (DAClass c = map.value(braced(scheme, term)))
            return c;
        if (DAClass c = map.value(braced(scheme, QString())))
            return c;
    }
    return nullptr;
}

QHash<QString, DAClass> &DAObject::entryRegistry() {
    static QHash<QString, DAClass> map;
    return map;
}

QHash<QString, DAClass> &DAObject::feedRegistry() {
    static QHash<QString, DAClass> map;
    return map;
}

DAClass DAObject::registeredClassForElement(const DAXMLElementPtr &element, bool feed) {
    const QHash<QString, DAClass> &map = feed ? feedRegistry() : entryRegistry();
    if (DAXMLNodePtr kind = element->attributeForLocalName(QStringLiteral("kind"), DANamespaces::data())) {
        if (DAClass c = classForCategory(map, QString(), kind->stringValue()))
            return c;
    }
    DAXMLElementList categories = element->elementsForLocalName(QStringLiteral("category"), DANamespaces::atom());
    if (categories.isEmpty() && element->resolvePrefixForNamespaceURI(DANamespaces::atom()).isNull())
        categories = element->elementsForName(QStringLiteral("category"));
    for (const DAXMLElementPtr &category : categories) {
        DAXMLNodePtr scheme = category->attributeForName(QStringLiteral("scheme"));
        DAXMLNodePtr term = category->attributeForName(QStringLiteral("term"));
        if (!scheme && !term)
            continue;
        if (DAClass c = classForCategory(map, scheme ? scheme->stringValue() : QString(),
                                         term ? term->stringValue() : QString()))
            return c;
    }
    return nullptr;
}

DAClass DAObject::objectClassForXMLElement(const DAXMLElementPtr &element) const {
    const QString local = element->localName();
    const bool isFeed = local == QLatin1String("feed"), isEntry = local == QLatin1String("entry");
    if (!isFeed && !isEntry)
        return nullptr;
    if (DAClass c = registeredClassForElement(element, isFeed))
        return c;
    if (isFeed)
        return DAFeedBase::staticClass();
    if (DAClass c = defaultClassForEntries())
        return c;
    return DAEntryBase::staticClass();
}

// ---- descriptions -----------------------------------------------------------------

void DAObject::addToArray(QStringList &items, const QString &name, const QString &value) const {
    if (!value.isNull())
        items << (name.isEmpty() ? value : QStringLiteral("%1:%2").arg(name, value));
}

void DAObject::addDescriptionRecords(QStringList &items, const QList<DADescriptionRecord> &records) const {
    static const QString atLeast = QStringLiteral("version>="), atMost = QStringLiteral("version<=");
    for (DADescriptionRecord record : records) {
        const bool least = record.label.startsWith(atLeast), most = record.label.startsWith(atMost);
        if (least || most) {
            const qsizetype colon = record.label.indexOf(QLatin1Char(':'));
            if (colon < 0)
                continue;
            const QString version = record.label.mid(atLeast.size(), colon - atLeast.size());
            if (least ? !isServiceVersionAtLeast(version) : !isServiceVersionAtMost(version))
                continue;
            record.label = record.label.mid(colon + 1);
        }
        const QString item = record.item();
        if (!item.isNull())
            items << item;
    }
}

QStringList DAObject::itemsForDescription() const {
    QStringList items;
    for (auto it = m_attributes.begin(); it != m_attributes.end(); ++it)
        items << QStringLiteral("%1:%2").arg(it.key(), it.value());
    if (hasDeclaredContentValue() && !m_contentValue.isNull())
        items << QStringLiteral("content:%1").arg(m_contentValue);
    if (hasDeclaredChildXMLElements() && !m_childXMLElements.isEmpty()) {
        QString xml;
        for (const DAXMLElementPtr &e : m_childXMLElements)
            xml += e->XMLString();
        items << QStringLiteral("XML:%1").arg(xml);
    }
    QStringList unknownNames;
    for (const DAXMLNodePtr &n : unknownChildren()) {
        const QString name = QStringLiteral("<%1>").arg(n->name());
        if (!unknownNames.contains(name))
            unknownNames << name;
    }
    unknownNames.sort();
    if (!unknownNames.isEmpty())
        items << QStringLiteral("unparsed:%1").arg(unknownNames.join(QLatin1Char(',')));
    QStringList attributeNames;
    for (const DAXMLNodePtr &n : unknownAttributes())
        attributeNames << n->name();
    if (!attributeNames.isEmpty())
        items << QStringLiteral("unparsedAttr:%1").arg(attributeNames.join(QLatin1Char(',')));
    return items;
}

QString DAObject::description() const {
    const QStringList items = itemsForDescription();
    const QString head = QStringLiteral("%1 %2").arg(QLatin1String(objectClass()->name)).arg(quintptr(this), 0, 16);
    return items.isEmpty() ? head : QStringLiteral("%1: {%2}").arg(head, items.join(QLatin1Char(' ')));
}

// ---- attributes as extensions -------------------------------------------------------

DAClass DAAttribute::staticClass() {
    static const DAClassInfo info("DAAttribute", nullptr, QString(), QString(), QString(),
                                  [] { return std::make_shared<DAAttribute>(); });
    return &info;
}

std::shared_ptr<DAAttribute> DAAttribute::attributeWithValue(DAClass cls, const QString &value) {
    auto attribute = std::dynamic_pointer_cast<DAAttribute>(cls->make());
    if (attribute)
        attribute->setStringValue(value);
    return attribute;
}

bool DAAttribute::isEqual(const DAExtensionItem &other) const {
    auto *o = dynamic_cast<const DAAttribute *>(&other);
    return o && DAUtilities::areEqualOrBothNil(m_value, o->m_value);
}

DAItemPtr DAAttribute::copyItem() const { return attributeWithValue(objectClass(), m_value); }

QString DAAttribute::description() const {
    return QStringLiteral("%1 %2: {%3=%4}")
        .arg(QLatin1String(objectClass()->name))
        .arg(quintptr(this), 0, 16)
        .arg(objectClass()->qualifiedName, m_value);
}
