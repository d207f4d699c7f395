#include "DA/BaseClasses/DAObject.h"

#include "DA/BaseClasses/DANamespaces.h"
#include "DA/BaseClasses/DAUtilities.h"
#include "Platform/VNLog.h"

#include <QLocale>

// The declarations of one parsed tree, shared by all its objects while it
// is parsed: declaring class -> (parent class -> declarations), and class
// -> attribute declarations.
class DADeclarationCache {
public:
    QHash<DAClass, QHash<DAClass, QList<DAExtensionDeclaration>>> extensions;
    QHash<DAClass, QStringList> attributes;
};

namespace {

const QString contentMarker = QStringLiteral(" __content");
const QString childXMLMarker = QStringLiteral(" __childXML");

}  // namespace

// ---- classes ----------------------------------------------------------------

DAClassInfo::DAClassInfo(const char *n, const DAClassInfo *s, QString uri, QString prefix, QString local,
                         std::function<DAItemPtr()> m)
    : name(n), super(s), extensionElementURI(std::move(uri)), extensionElementPrefix(std::move(prefix)),
      extensionElementLocalName(std::move(local)), make(std::move(m)) {
    if (extensionElementLocalName.isEmpty())
        qualifiedName = QString::fromLatin1(name);
    else if (extensionElementURI.isEmpty() || extensionElementURI == DANamespaces::atom() ||
             extensionElementPrefix.isEmpty())
        qualifiedName = extensionElementLocalName;
    else
        qualifiedName = extensionElementPrefix + QLatin1Char(':') + extensionElementLocalName;
}

bool DAClassInfo::isSubclassOf(const DAClassInfo *other) const {
    for (const DAClassInfo *c = this; c; c = c->super) {
        if (c == other)
            return true;
    }
    return false;
}

QString DAExtensionDeclaration::description() const {
    return QStringLiteral("DAExtensionDeclaration: {%1 can contain %2}%3")
        .arg(QLatin1String(parentClass->name), QLatin1String(childClass->name),
             isAttribute ? QStringLiteral(" (attribute)") : QString());
}

DAClass DAObject::staticClass() {
    static const DAClassInfo info("DAObject", nullptr, QString(), QString(), QString(),
                                  [] { return std::make_shared<DAObject>(); });
    return &info;
}

// ---- making -----------------------------------------------------------------

DAObject::DAObject() = default;
DAObject::~DAObject() = default;

DAObjectPtr DAObject::objectOfClass(DAClass cls) {
    auto object = std::dynamic_pointer_cast<DAObject>(cls->make());
    if (object)
        object->init();
    return object;
}

void DAObject::initWithServiceVersion(const QString &version) {
    setServiceVersion(version);
    init();
}

void DAObject::init() {
    m_cache = std::make_shared<DADeclarationCache>();
    m_attributeDeclarations.clear();
    addParseDeclarations();
    m_cache->attributes.insert(objectClass(), m_attributeDeclarations);
}

std::shared_ptr<DADeclarationCache> DAObject::declarationCache() const {
    if (m_cache)
        return m_cache;
    DAObjectPtr p = parent();
    return p ? p->declarationCache() : nullptr;
}

bool DAObject::initWithXMLElement(const DAXMLElementPtr &element, const DAObjectPtr &parent, const QString &version,
                                  const QHash<DAClass, DAClass> &surrogates, bool shouldIgnoreUnknowns) {
    m_serviceVersion = version;
    m_surrogates = surrogates;
    m_shouldIgnoreUnknowns = shouldIgnoreUnknowns;
    return initWithXMLElement(element, parent);
}

bool DAObject::initWithXMLElement(const DAXMLElementPtr &element, const DAObjectPtr &parent) {
    if (!element)
        return false;
    m_parent = parent;
    if (parent) {
        m_serviceVersion = parent->serviceVersion();
        m_shouldIgnoreUnknowns = parent->shouldIgnoreUnknowns();
        m_cache = parent->declarationCache();
    }
    if (!m_cache)
        m_cache = std::make_shared<DADeclarationCache>();
    m_namespaces = dictionaryForElementNamespaces(element);
    if (!m_shouldIgnoreUnknowns) {
        m_unknownChildren = element->children();
        m_unknownAttributes = element->attributes();
    }
    const DAClass cls = objectClass();
    if (!m_cache->extensions.contains(cls)) {
        m_cache->extensions.insert(cls, {});
        addExtensionDeclarations();
    }
    auto cached = m_cache->attributes.constFind(cls);
    if (cached != m_cache->attributes.constEnd()) {
        m_attributeDeclarations = cached.value();
    } else {
        addParseDeclarations();
        m_cache->attributes.insert(cls, m_attributeDeclarations);
    }

    parseExtensionsForElement(element);
    for (const DAXMLNodePtr &attribute : element->attributes()) {
        const QString name = attribute->name();
        if (m_attributeDeclarations.contains(name)) {
            m_attributes.insert(name, attribute->stringValue());
            handleParsedElement(attribute);
        }
    }
    if (hasDeclaredContentValue())
        m_contentValue = stringValueFromElement(element);
    if (hasDeclaredChildXMLElements()) {
        for (const DAXMLElementPtr &child : element->childElements()) {
            m_childXMLElements.append(std::static_pointer_cast<DAXMLElement>(child->copy()));
            handleParsedElement(child);
        }
    }
    m_elementName = element->name();
    if (parent)
        m_cache.reset();
    return true;
}

DAObjectPtr DAObject::objectWithXMLElement(DAClass cls, const DAXMLElementPtr &element, const DAObjectPtr &parent) {
    if (parent)
        cls = parent->classOrSurrogateForClass(cls);
    auto object = std::dynamic_pointer_cast<DAObject>(cls->make());
    if (!object || !object->initWithXMLElement(element, parent))
        return nullptr;
    return object;
}

// ---- declarations -----------------------------------------------------------

void DAObject::addExtensionDeclaration(DAClass parentClass, DAClass childClass, bool isAttribute) {
    if (!m_cache)
        m_cache = std::make_shared<DADeclarationCache>();
    QList<DAExtensionDeclaration> &list = m_cache->extensions[objectClass()][parentClass];
    const DAExtensionDeclaration d{parentClass, childClass, isAttribute};
    if (!list.contains(d))
        list.append(d);
}

void DAObject::addExtensionDeclarationsForParent(DAClass parentClass, std::initializer_list<DAClass> childClasses) {
    for (DAClass c : childClasses)
        addExtensionDeclaration(parentClass, c);
}

void DAObject::removeExtensionDeclaration(DAClass parentClass, DAClass childClass, bool isAttribute) {
    if (auto cache = declarationCache())
        cache->extensions[objectClass()][parentClass].removeAll(DAExtensionDeclaration{parentClass, childClass, isAttribute});
}

QList<DAExtensionDeclaration> DAObject::extensionDeclarationsForParentClass(DAClass parentClass) const {
    auto cache = declarationCache();
    return cache ? cache->extensions.value(objectClass()).value(parentClass) : QList<DAExtensionDeclaration>();
}

void DAObject::addLocalAttributeDeclarations(const QStringList &names) {
    for (const QString &n : names) {
        if (!m_attributeDeclarations.contains(n))
            m_attributeDeclarations.append(n);
    }
}

void DAObject::addContentValueDeclaration() { addLocalAttributeDeclarations({contentMarker}); }
void DAObject::addChildXMLElementsDeclaration() { addLocalAttributeDeclarations({childXMLMarker}); }
bool DAObject::hasDeclaredContentValue() const { return m_attributeDeclarations.contains(contentMarker); }
bool DAObject::hasDeclaredChildXMLElements() const { return m_attributeDeclarations.contains(childXMLMarker); }

// ---- extensions -------------------------------------------------------------

DAItemPtr DAObject::objectForExtensionClass(DAClass cls) const {
    auto it = m_extensions.constFind(cls);
    return it == m_extensions.constEnd() || it->isEmpty() ? nullptr : it->first();
}

QList<DAItemPtr> DAObject::objectsForExtensionClass(DAClass cls) const { return m_extensions.value(cls); }

namespace {

void nameIfUnnamed(const DAItemPtr &item, DAClass cls) {
    if (auto object = std::dynamic_pointer_cast<DAObject>(item)) {
        if (object->elementName().isEmpty())
            object->setElementName(cls->qualifiedName);
    }
}

}  // namespace

void DAObject::setObject(const DAItemPtr &object, DAClass cls) {
    if (!object) {
        m_extensions.remove(cls);
        m_extensionOrder.removeAll(cls);
        m_singleExtensions.remove(cls);
        return;
    }
    nameIfUnnamed(object, cls);
    if (!m_extensions.contains(cls))
        m_extensionOrder.append(cls);
    m_extensions.insert(cls, {object});
    m_singleExtensions.insert(cls);
}

void DAObject::setObjects(const QList<DAItemPtr> &objects, DAClass cls, bool removeWhenNull) {
    if (objects.isEmpty() && removeWhenNull) {
        setObject(nullptr, cls);
        return;
    }
    for (const DAItemPtr &o : objects)
        nameIfUnnamed(o, cls);
    if (!m_extensions.contains(cls))
        m_extensionOrder.append(cls);
    m_extensions.insert(cls, objects);
    m_singleExtensions.remove(cls);
}

void DAObject::addObject(const DAItemPtr &object, DAClass cls) {
    if (!object)
        return;
    nameIfUnnamed(object, cls);
    if (!m_extensions.contains(cls))
        m_extensionOrder.append(cls);
    m_extensions[cls].append(object);
    m_singleExtensions.remove(cls);
}

void DAObject::removeObject(const DAItemPtr &object, DAClass cls) {
    auto it = m_extensions.find(cls);
    if (it == m_extensions.end() || !object)
        return;
    auto equal = [&](const DAItemPtr &o) { return o == object || (o && o->isEqual(*object)); };
    if (m_singleExtensions.contains(cls)) {
        if (!it->isEmpty() && equal(it->first()))
            setObject(nullptr, cls);
        return;
    }
    // A list stays stored, even when it becomes empty, so that later
    // additions keep their place among the extensions.
    it->removeIf(equal);
}

QString DAObject::attributeValueForExtensionClass(DAClass cls) const {
    auto attribute = std::dynamic_pointer_cast<DAAttribute>(objectForExtensionClass(cls));
    return attribute ? attribute->stringValue() : QString();
}

void DAObject::setAttributeValue(const QString &value, DAClass cls) {
    setObject(value.isNull() ? nullptr : DAAttribute::attributeWithValue(cls, value), cls);
}

// ---- attributes -------------------------------------------------------------

void DAObject::setStringValue(const QString &value, const QString &attributeName) {
    if (value.isNull())
        m_attributes.remove(attributeName);
    else
        m_attributes.insert(attributeName, value);
}

namespace {

const QLocale &decimalLocale() {
    static const QLocale locale(QLocale::English, QLocale::UnitedStates);
    return locale;
}

}  // namespace

std::optional<int> DAObject::intNumberForAttribute(const QString &name) const {
    const QString text = stringValueForAttribute(name);
    if (text.isEmpty())
        return std::nullopt;
    return DAUtilities::intValueForString(text);
}

std::optional<qint64> DAObject::longLongNumberForAttribute(const QString &name) const {
    const QString text = stringValueForAttribute(name);
    if (text.isNull())
        return std::nullopt;
    return DAUtilities::longLongValueForString(text);
}

std::optional<double> DAObject::doubleNumberForAttribute(const QString &name) const {
    return DAUtilities::doubleNumberOrInfForString(stringValueForAttribute(name));
}

DADateTimePtr DAObject::dateTimeForAttribute(const QString &name) const {
    const QString text = stringValueForAttribute(name);
    return text.isEmpty() ? nullptr : DADateTime::dateTimeWithRFC3339String(text);
}

bool DAObject::boolValueForAttribute(const QString &name, bool defaultValue) const {
    const QString text = stringValueForAttribute(name);
    if (text.isNull())
        return defaultValue;
    if (defaultValue)
        return text.compare(QLatin1String("false"), Qt::CaseInsensitive) != 0;
    return text.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0;
}

void DAObject::setBoolValue(bool value, bool defaultValue, const QString &name) {
    setStringValue(value == defaultValue ? QString() : (value ? QStringLiteral("true") : QStringLiteral("false")), name);
}

void DAObject::setExplicitBoolValue(bool value, const QString &name) {
    setStringValue(value ? QStringLiteral("true") : QStringLiteral("false"), name);
}

void DAObject::setDateTimeValue(const DADateTimePtr &value, const QString &name) {
    setStringValue(value ? value->RFC3339String() : QString(), name);
}

std::optional<double> DAObject::decimalNumberForAttribute(const QString &name) const {
    const QString text = stringValueForAttribute(name);
    if (text.isEmpty())
        return std::nullopt;
    bool ok = false;
    const double v = decimalLocale().toDouble(text, &ok);
    return ok ? v : 0.0;
}

void DAObject::setDecimalNumberValue(std::optional<double> value, const QString &name) {
    // No group separators: "1234.5", never "1,234.5".
    setStringValue(value ? decimalLocale().toString(*value, 'g', 15).remove(decimalLocale().groupSeparator()) : QString(),
                   name);
}

namespace {

// A class that reads or sets a content value it never declared: a
// programming error, named in the log (and stopped in debug builds).
void reportUndeclaredContent(DAClass cls, const char *what) {
    const QString message = QStringLiteral("%1 %2 undeclared content value").arg(QLatin1String(cls->name), QLatin1String(what));
    VNLog::log(message);
    Q_ASSERT_X(false, "DAObject", qPrintable(message));
}

}  // namespace

QString DAObject::contentStringValue() const {
    if (!hasDeclaredContentValue())
        reportUndeclaredContent(objectClass(), "getting");
    return m_contentValue;
}

void DAObject::setContentStringValue(const QString &value) {
    if (!hasDeclaredContentValue())
        reportUndeclaredContent(objectClass(), "setting");
    m_contentValue = value;
}

// ---- reading ----------------------------------------------------------------

void DAObject::handleParsedElement(const DAXMLNodePtr &node) {
    if (node && (!m_unknownChildren.isEmpty() || !m_unknownAttributes.isEmpty()))
        m_parsedNodes.insert(node->XMLNode());
}

void DAObject::handleParsedElements(const DAXMLElementList &nodes) {
    for (const DAXMLElementPtr &n : nodes)
        handleParsedElement(n);
}

void DAObject::compactUnknowns() const {
    if (m_parsedNodes.isEmpty())
        return;
    auto parsed = [&](const DAXMLNodePtr &n) { return m_parsedNodes.contains(n->XMLNode()); };
    m_unknownChildren.removeIf(parsed);
    m_unknownAttributes.removeIf(parsed);
    m_parsedNodes.clear();
}

DAXMLNodeList DAObject::unknownChildren() const {
    compactUnknowns();
    return m_unknownChildren;
}

DAXMLNodeList DAObject::unknownAttributes() const {
    compactUnknowns();
    return m_unknownAttributes;
}

DAXMLNodePtr DAObject::attributeForName(const QString &name, const DAXMLElementPtr &element) {
    for (const DAXMLNodePtr &a : element->attributes()) {
        if (a->name() == name) {
            handleParsedAttribute(a);
            return a;
        }
    }
    return nullptr;
}

DAXMLNodePtr DAObject::attributeForLocalName(const QString &localName, const QString &uri, const DAXMLElementPtr &element) {
    DAXMLNodePtr a = element->attributeForLocalName(localName, uri);
    if (a)
        handleParsedAttribute(a);
    return a;
}

QString DAObject::stringForAttributeName(const QString &name, const DAXMLElementPtr &element) {
    DAXMLNodePtr a = attributeForName(name, element);
    return a ? a->stringValue() : QString();
}

QString DAObject::stringForAttributeLocalName(const QString &localName, const QString &uri, const DAXMLElementPtr &element) {
    DAXMLNodePtr a = attributeForLocalName(localName, uri, element);
    return a ? a->stringValue() : QString();
}

std::optional<int> DAObject::intNumberForAttributeName(const QString &name, const DAXMLElementPtr &element) {
    const QString text = stringForAttributeName(name, element);
    if (text.isEmpty())
        return std::nullopt;
    return DAUtilities::intValueForString(text);
}

std::optional<double> DAObject::doubleNumberForAttributeName(const QString &name, const DAXMLElementPtr &element) {
    return DAUtilities::doubleNumberOrInfForString(stringForAttributeName(name, element));
}

DADateTimePtr DAObject::dateTimeForAttributeName(const QString &name, const DAXMLElementPtr &element) {
    const QString text = stringForAttributeName(name, element);
    return text.isEmpty() ? nullptr : DADateTime::dateTimeWithRFC3339String(text);
}

bool DAObject::boolForAttributeName(const QString &name, const DAXMLElementPtr &element) {
    return stringForAttributeName(name, element).compare(QLatin1String("true"), Qt::CaseInsensitive) == 0;
}

QString DAObject::stringValueFromElement(const DAXMLElementPtr &element) {
    if (!element)
        return QString();
    QString text = QStringLiteral("");
    for (const DAXMLNodePtr &child : element->children()) {
        if (child->kind() == DAXMLNode::TextKind) {
            text += child->stringValue();
            handleParsedElement(child);
        }
    }
    return text;
}

std::optional<int> DAObject::intNumberValueFromElement(const DAXMLElementPtr &element) {
    const QString text = stringValueFromElement(element);
    if (text.isEmpty())
        return std::nullopt;
    return DAUtilities::intValueForString(text);
}

std::optional<double> DAObject::doubleNumberValueFromElement(const DAXMLElementPtr &element) {
    return DAUtilities::doubleNumberOrInfForString(stringValueFromElement(element));
}

DADateTimePtr DAObject::dateTimeFromElement(const DAXMLElementPtr &element) {
    const QString text = stringValueFromElement(element);
    return text.isEmpty() ? nullptr : DADateTime::dateTimeWithRFC3339String(text);
}

DAXMLElementList DAObject::childrenOfElement(const DAXMLElementPtr &element, const QString &prefix) {
    DAXMLElementList found;
    if (prefix.isNull())
        return found;
    for (const DAXMLElementPtr &c : element->childElements()) {
        if (c->prefix() == prefix)
            found.append(c);
    }
    return found;
}

DAXMLElementList DAObject::elementsForName(const QString &name, const QString &uri, const DAXMLElementPtr &parent) const {
    DAXMLElementList found;
    if (!uri.isEmpty())
        found = parent->elementsForLocalName(DAXMLNode::localNameForName(name), uri);
    if (found.isEmpty())
        found = parent->elementsForName(name);
    return found;
}

namespace {

// The children a declaration of qualified name (and URI) matches.
DAXMLElementList matchingChildren(const DAObject &self, const DAXMLElementPtr &element, const QString &name,
                                  const QString &uri) {
    if (DAXMLNode::localNameForName(name) == QLatin1String("*")) {
        QString prefix = DAXMLNode::prefixForName(name);
        if (prefix.isNull())
            prefix = element->resolvePrefixForNamespaceURI(uri);
        return DAObject::childrenOfElement(element, prefix);
    }
    return self.elementsForName(name, uri, element);
}

}  // namespace

DAXMLElementPtr DAObject::childWithQualifiedName(const QString &name, const QString &uri, const DAXMLElementPtr &element) {
    if (name == QLatin1String("*") && uri == QLatin1String("*")) {
        // Every child node counts, so an element beside text or a comment
        // is not the single child.
        const DAXMLNodeList nodes = element->children();
        if (nodes.size() != 1 || nodes.first()->kind() != DAXMLNode::ElementKind)
            return nullptr;
        handleParsedElement(nodes.first());
        return std::static_pointer_cast<DAXMLElement>(nodes.first());
    }
    const DAXMLElementList found = matchingChildren(*this, element, name, uri);
    if (found.size() != 1)
        return nullptr;
    handleParsedElement(found.first());
    return found.first();
}

DAObjectList DAObject::objectOrArrayForChildrenOfElement(const DAXMLElementPtr &element, const QString &name,
                                                         const QString &uri, DAClass cls) {
    DAObjectList objects;
    const DAXMLElementList found = matchingChildren(*this, element, name, uri);
    if (found.isEmpty())
        return objects;
    DAObjectPtr self = std::static_pointer_cast<DAObject>(shared_from_this());
    for (const DAXMLElementPtr &child : found) {
        DAClass childClass = cls;
        if (!childClass)
            childClass = objectClassForXMLElement(child);
        if (childClass) {
            // Children that cannot be made stay unknown rather than vanish.
            if (DAObjectPtr object = objectWithXMLElement(childClass, child, self)) {
                objects.append(object);
                handleParsedElement(child);
            }
        }
    }
    return objects;
}

DAObjectPtr DAObject::objectForChildOfElement(const DAXMLElementPtr &element, const QString &name, const QString &uri,
                                              DAClass cls) {
    DAXMLElementPtr child = childWithQualifiedName(name, uri, element);
    if (!child)
        return nullptr;
    if (!cls)
        cls = objectClassForXMLElement(child);
    if (!cls)
        return nullptr;
    return objectWithXMLElement(cls, child, std::static_pointer_cast<DAObject>(shared_from_this()));
}

void DAObject::parseExtensionsForElement(const DAXMLElementPtr &element) {
    QSet<QString> localNames{QStringLiteral("*")};
    for (const DAXMLElementPtr &c : element->childElements())
        localNames.insert(c->localName());
    const DAClass cls = objectClass();
    auto cache = m_cache;
    QList<DAExtensionDeclaration> declarations;
    for (const DAObject *o = this; o;) {
        declarations += cache->extensions.value(o->objectClass()).value(cls);
        DAObjectPtr p = o->parent();
        o = p.get();
    }
    for (const DAExtensionDeclaration &d : declarations) {
        const DAClass child = d.childClass;
        if (m_extensions.contains(child))
            continue;
        const QString name = child->qualifiedName;
        if (d.isAttribute) {
            DAXMLNodePtr a = attributeForName(name, element);
            if (a)
                setObject(DAAttribute::attributeWithValue(child, a->stringValue()), child);
            continue;
        }
        if (!localNames.contains(child->extensionElementLocalName))
            continue;
        const DAObjectList objects = objectOrArrayForChildrenOfElement(element, name, child->extensionElementURI, child);
        if (objects.size() == 1)
            setObject(objects.first(), child);
        else if (!objects.isEmpty())
            setObjects(QList<DAItemPtr>(objects.begin(), objects.end()), child);
    }
}

