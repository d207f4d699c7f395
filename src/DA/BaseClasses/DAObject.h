#pragma once

#include "DA/BaseClasses/DAAttribute.h"
#include "DA/BaseClasses/DADateTime.h"
#include "DA/BaseClasses/DADescriptionRecord.h"
#include "DA/XML/DAXMLDocument.h"

#include <QHash>
#include <QList>
#include <QMap>
#include <QSet>
#include <QStringList>
#include <QVariant>
#include <optional>

class DAObject;
using DAObjectPtr = std::shared_ptr<DAObject>;
using DAObjectList = QList<DAObjectPtr>;
class DADeclarationCache;

// One statement that objects of a parent class may hold elements (or
// attributes) of a child class.
struct DAExtensionDeclaration {
    DAClass parentClass = nullptr;
    DAClass childClass = nullptr;
    bool isAttribute = false;
    friend bool operator==(const DAExtensionDeclaration &, const DAExtensionDeclaration &) = default;
    QString description() const;
};

// The base of every object that stands for an XML element of an Atom feed
// or entry. It reads an element into declared child objects (by extension
// class), declared attributes (strings by name), a content value and kept
// child XML; whatever no declaration claims is kept as unknown nodes and
// written back unchanged. Writing builds a new element from all of it.
//
// Objects are made by their class's factory and then either filled through
// setters (after init()) or parsed with initWithXMLElement(). The parent is
// a weak back reference. Kept XML nodes share ownership of their parsed
// tree, so nothing an object keeps points into freed memory.
class DAObject : public DAExtensionItem {
    DA_CLASS(DAObject)
public:
    DAObject();
    ~DAObject() override;

    // A new empty object of the given class, initialised for sending.
    static DAObjectPtr objectOfClass(DAClass cls);
    template <typename T>
    static std::shared_ptr<T> object() {
        return std::static_pointer_cast<T>(objectOfClass(T::staticClass()));
    }
    // Fresh declaration caches and the parse declarations.
    virtual void init();
    // The same for an object of that service version.
    void initWithServiceVersion(const QString &version);
    // Parses the element; the settings come from the parent (a root keeps
    // the given ones). Answers false when the object cannot be made.
    virtual bool initWithXMLElement(const DAXMLElementPtr &element, const DAObjectPtr &parent);
    bool initWithXMLElement(const DAXMLElementPtr &element, const DAObjectPtr &parent, const QString &serviceVersion,
                            const QHash<DAClass, DAClass> &surrogates, bool shouldIgnoreUnknowns);
    // Makes an object of the class (or its surrogate) from an element.
    static DAObjectPtr objectWithXMLElement(DAClass cls, const DAXMLElementPtr &element, const DAObjectPtr &parent);

    // Hooks.
    virtual void addExtensionDeclarations() {}
    virtual void addParseDeclarations() {}
    virtual QStringList attributesIgnoredForEquality() const { return {}; }
    virtual QStringList itemsForDescription() const;
    virtual DAXMLElementPtr XMLElement() const { return XMLElementWithExtensionsAndDefaultName(QString()); }
    virtual QString defaultServiceVersion() const { return QString(); }
    virtual QString coreProtocolVersionForServiceVersion(const QString &v) const { return v; }
    // The class for a child element: feeds and entries by their registered
    // kind, else the feed and entry bases; null for other elements.
    virtual DAClass objectClassForXMLElement(const DAXMLElementPtr &element) const;
    // The class of entries without a registered kind (feeds answer theirs).
    virtual DAClass defaultClassForEntries() const { return nullptr; }

    // The kind registries of entry and feed classes (term or braced
    // scheme and term -> class). Filled by DAClasses::registerAll().
    static QHash<QString, DAClass> &entryRegistry();
    static QHash<QString, DAClass> &feedRegistry();

    // Declarations.
    void addExtensionDeclaration(DAClass parentClass, DAClass childClass, bool isAttribute = false);
    void addExtensionDeclarationsForParent(DAClass parentClass, std::initializer_list<DAClass> childClasses);
    void addAttributeExtensionDeclaration(DAClass parentClass, DAClass childClass) {
        addExtensionDeclaration(parentClass, childClass, true);
    }
    void removeExtensionDeclaration(DAClass parentClass, DAClass childClass, bool isAttribute = false);
    void removeAttributeExtensionDeclaration(DAClass parentClass, DAClass childClass) {
        removeExtensionDeclaration(parentClass, childClass, true);
    }
    QList<DAExtensionDeclaration> extensionDeclarationsForParentClass(DAClass parentClass) const;
    void addLocalAttributeDeclarations(const QStringList &names);
    void addContentValueDeclaration();
    void addChildXMLElementsDeclaration();
    bool hasDeclaredContentValue() const;
    bool hasDeclaredChildXMLElements() const;
    // The declared attribute names, with the content and child-XML markers.
    const QStringList &attributeDeclarations() const { return m_attributeDeclarations; }
    // Drops the declarations shared while a tree was parsed (a parsed
    // root's; its children reach them through it). Later declarations
    // start a new cache.
    void clearExtensionDeclarationsCache() { m_cache.reset(); }

    // Extensions by class: one object or a list.
    DAItemPtr objectForExtensionClass(DAClass cls) const;
    QList<DAItemPtr> objectsForExtensionClass(DAClass cls) const;
    template <typename T>
    std::shared_ptr<T> extension() const {
        return std::dynamic_pointer_cast<T>(objectForExtensionClass(T::staticClass()));
    }
    template <typename T>
    QList<std::shared_ptr<T>> extensions() const {
        QList<std::shared_ptr<T>> out;
        for (const DAItemPtr &item : objectsForExtensionClass(T::staticClass())) {
            if (auto t = std::dynamic_pointer_cast<T>(item))
                out.append(t);
        }
        return out;
    }
    void setObject(const DAItemPtr &object, DAClass cls);
    void setObjects(const QList<DAItemPtr> &objects, DAClass cls, bool removeWhenNull = true);
    // Appends; what was stored becomes (or stays) a list.
    void addObject(const DAItemPtr &object, DAClass cls);
    // Removes every equal object from a stored list, which stays stored
    // when it becomes empty; a single stored object that is equal goes
    // with its entry.
    void removeObject(const DAItemPtr &object, DAClass cls);
    QString attributeValueForExtensionClass(DAClass cls) const;
    void setAttributeValue(const QString &value, DAClass cls);

    // Declared attributes, stored as strings by qualified name.
    QString stringValueForAttribute(const QString &name) const { return m_attributes.value(name); }
    void setStringValue(const QString &value, const QString &attributeName);
    std::optional<int> intNumberForAttribute(const QString &name) const;
    std::optional<qint64> longLongNumberForAttribute(const QString &name) const;
    std::optional<double> doubleNumberForAttribute(const QString &name) const;
    DADateTimePtr dateTimeForAttribute(const QString &name) const;
    bool boolValueForAttribute(const QString &name, bool defaultValue) const;
    void setBoolValue(bool value, bool defaultValue, const QString &name);
    void setExplicitBoolValue(bool value, const QString &name);
    void setDateTimeValue(const DADateTimePtr &value, const QString &name);
    // Decimal numbers are written and read in the "en_US" locale, whatever
    // the user's is; nothing for an empty text.
    std::optional<double> decimalNumberForAttribute(const QString &name) const;
    void setDecimalNumberValue(std::optional<double> value, const QString &name);
    const QMap<QString, QString> &attributes() const { return m_attributes; }

    QString contentStringValue() const;
    void setContentStringValue(const QString &value);
    DAXMLElementList childXMLElements() const { return m_childXMLElements; }
    void setChildXMLElements(const DAXMLElementList &elements) { m_childXMLElements = elements; }
    void addChildXMLElement(const DAXMLElementPtr &element) { m_childXMLElements.append(element); }

    // Reading operations for subclasses' parsing; what they read leaves the unknowns.
    DAXMLNodePtr attributeForName(const QString &name, const DAXMLElementPtr &element);
    DAXMLNodePtr attributeForLocalName(const QString &localName, const QString &uri, const DAXMLElementPtr &element);
    QString stringForAttributeName(const QString &name, const DAXMLElementPtr &element);
    QString stringForAttributeLocalName(const QString &localName, const QString &uri, const DAXMLElementPtr &element);
    // Typed: nothing for an absent attribute or an empty text; true only
    // for "true" in any case.
    std::optional<int> intNumberForAttributeName(const QString &name, const DAXMLElementPtr &element);
    std::optional<double> doubleNumberForAttributeName(const QString &name, const DAXMLElementPtr &element);
    DADateTimePtr dateTimeForAttributeName(const QString &name, const DAXMLElementPtr &element);
    bool boolForAttributeName(const QString &name, const DAXMLElementPtr &element);
    QString stringValueFromElement(const DAXMLElementPtr &element);
    std::optional<int> intNumberValueFromElement(const DAXMLElementPtr &element);
    std::optional<double> doubleNumberValueFromElement(const DAXMLElementPtr &element);
    DADateTimePtr dateTimeFromElement(const DAXMLElementPtr &element);
    DAXMLElementPtr childWithQualifiedName(const QString &name, const QString &uri, const DAXMLElementPtr &element);
    DAObjectPtr objectForChildOfElement(const DAXMLElementPtr &element, const QString &name, const QString &uri,
                                        DAClass cls);
    // The matching children made into objects, in document order (one
    // object is a list of one; callers store one as a single object).
    DAObjectList objectOrArrayForChildrenOfElement(const DAXMLElementPtr &element, const QString &name,
                                                   const QString &uri, DAClass cls);
    DAXMLElementList elementsForName(const QString &name, const QString &uri, const DAXMLElementPtr &parent) const;
    // The child elements written with that prefix (nothing for a null prefix).
    static DAXMLElementList childrenOfElement(const DAXMLElementPtr &element, const QString &prefix);
    void handleParsedElement(const DAXMLNodePtr &node);
    void handleParsedElements(const DAXMLElementList &nodes);
    void handleParsedAttribute(const DAXMLNodePtr &node) { handleParsedElement(node); }

    // Writing.
    DAXMLElementPtr XMLElementWithExtensionsAndDefaultName(const QString &defaultName) const;
    DAXMLDocumentPtr XMLDocument() const;
    static void addAttributeIfNonNil(const DAXMLElementPtr &element, const QString &value, const QString &name);
    static void addChildWithStringValueIfNonEmpty(const DAXMLElementPtr &element, const QString &value,
                                                  const QString &name);
    static void addXMLElementForObject(const DAXMLElementPtr &element, const DAObjectPtr &object);
    // The attribute with the integer's decimal text.
    static void addToElement(const DAXMLElementPtr &element, qint64 attributeValue, const QString &name);
    // The attribute in that namespace when the value is present (by the plain
    // name without a URI).
    static void addToElement(const DAXMLElementPtr &element, const QString &attributeValue, const QString &qualifiedName,
                             const QString &uri);
    // Each object's element, in list order.
    static void addToElement(const DAXMLElementPtr &element, const DAObjectList &objects);

    // Namespaces.
    const QMap<QString, QString> &namespaces() const { return m_namespaces; }
    void setNamespaces(const QMap<QString, QString> &namespaces) { m_namespaces = namespaces; }
    void addNamespaces(const QMap<QString, QString> &namespaces);
    QMap<QString, QString> completeNamespaces() const;
    void pruneInheritedNamespaces();
    static QString qualifiedNameForExtensionClass(DAClass cls) { return cls->qualifiedName; }
    static QMap<QString, QString> dictionaryForElementNamespaces(const DAXMLElementPtr &element);

    // Versions.
    QString serviceVersion() const;
    void setServiceVersion(const QString &version);
    bool isServiceVersionAtLeast(const QString &version) const;
    bool isServiceVersionAtMost(const QString &version) const;
    QString coreProtocolVersion() const;
    bool isCoreProtocolVersion1() const;
    DAClass classOrSurrogateForClass(DAClass cls) const;
    void setSurrogates(const QHash<DAClass, DAClass> &surrogates) { m_surrogates = surrogates; }

    // Plain state.
    DAObjectPtr parent() const { return m_parent.lock(); }
    void setParent(const DAObjectPtr &parent) { m_parent = parent; }
    const QString &elementName() const { return m_elementName; }
    void setElementName(const QString &name) { m_elementName = name; }
    bool shouldIgnoreUnknowns() const { return m_shouldIgnoreUnknowns; }
    void setShouldIgnoreUnknowns(bool on) { m_shouldIgnoreUnknowns = on; }
    DAXMLNodeList unknownChildren() const;
    DAXMLNodeList unknownAttributes() const;
    void setUnknownChildren(const DAXMLNodeList &nodes) { m_unknownChildren = nodes; }
    QVariant userData() const { return m_userData; }
    void setUserData(const QVariant &data) { m_userData = data; }
    const QVariantMap &userProperties() const { return m_userProperties; }
    void setUserProperties(const QVariantMap &properties) { m_userProperties = properties; }
    // A null value removes the property.
    void setProperty(const QString &key, const QVariant &value) {
        if (value.isValid())
            m_userProperties.insert(key, value);
        else
            m_userProperties.remove(key);
    }
    QVariant propertyForKey(const QString &key) const { return m_userProperties.value(key); }

    bool isEqual(const DAExtensionItem &other) const override;
    DAItemPtr copyItem() const override;
    DAObjectPtr copy() const { return std::static_pointer_cast<DAObject>(copyItem()); }
    QString description() const override;

    // The shared caches of one parsed tree (for the object model itself).
    std::shared_ptr<DADeclarationCache> declarationCache() const;

protected:
    // Copies this object's state into a fresh object of the same class.
    virtual void copyInto(DAObject &target) const;
    // Kind registry helpers for entries and feeds.
public:
    static void registerClass(QHash<QString, DAClass> &map, DAClass cls, const QString &scheme, const QString &term);
    static DAClass classForCategory(const QHash<QString, DAClass> &map, const QString &scheme, const QString &term);

protected:
    // Class chosen for an atom:feed or atom:entry element by kind attribute
    // and categories; null when nothing registered matches.
    static DAClass registeredClassForElement(const DAXMLElementPtr &element, bool feed);

    void addToArray(QStringList &items, const QString &name, const QString &value) const;
    // The items the records give, in order (a record whose version label
    // does not hold for this object gives none).
    void addDescriptionRecords(QStringList &items, const QList<DADescriptionRecord> &records) const;

    // Element-valued extensions read and written by their value: the text of
    // a value construct, its integer or date-time; a list of objects.
    template <typename T>
    QString valueText() const {
        auto v = extension<T>();
        return v ? v->stringValue() : QString();
    }
    template <typename T>
    void setValueText(const QString &v) {
        setObject(T::valueWithString(T::staticClass(), v), T::staticClass());
    }
    template <typename T>
    std::optional<int> valueIntNumber() const {
        auto v = extension<T>();
        return v ? v->intNumberValue() : std::nullopt;
    }
    template <typename T>
    void setValueIntNumber(std::optional<int> v) {
        setObject(v ? T::valueWithLongLong(T::staticClass(), *v) : nullptr, T::staticClass());
    }
    template <typename T>
    DADateTimePtr valueDate() const {
        auto v = extension<T>();
        return v ? v->dateTimeValue() : nullptr;
    }
    template <typename T>
    void setValueDate(const DADateTimePtr &v) {
        setObject(T::valueWithDateTime(T::staticClass(), v), T::staticClass());
    }
    template <typename T>
    void setExtensionList(const QList<std::shared_ptr<T>> &v) {
        setObjects(QList<DAItemPtr>(v.begin(), v.end()), T::staticClass());
    }

private:
    void parseExtensionsForElement(const DAXMLElementPtr &element);
    void compactUnknowns() const;

    QString m_elementName;
    std::weak_ptr<DAObject> m_parent;
    QMap<QString, QString> m_namespaces;
    std::shared_ptr<DADeclarationCache> m_cache;
    QStringList m_attributeDeclarations;
    // Extensions in the order their classes were first stored.
    QList<DAClass> m_extensionOrder;
    QHash<DAClass, QList<DAItemPtr>> m_extensions;
    // Classes stored as a single object rather than a list.
    QSet<DAClass> m_singleExtensions;
    QMap<QString, QString> m_attributes;
    QString m_contentValue;
    DAXMLElementList m_childXMLElements;
    mutable DAXMLNodeList m_unknownChildren;
    mutable DAXMLNodeList m_unknownAttributes;
    mutable QSet<xmlNodePtr> m_parsedNodes;
    bool m_shouldIgnoreUnknowns = false;
    QHash<DAClass, DAClass> m_surrogates;
    QString m_serviceVersion;
    mutable QString m_coreProtocolVersion;
    QVariant m_userData;
    QVariantMap m_userProperties;
};

template <typename T>
std::shared_ptr<T> DAObjectCast(const DAItemPtr &item) {
    return std::dynamic_pointer_cast<T>(item);
}
