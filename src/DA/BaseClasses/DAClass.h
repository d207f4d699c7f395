#pragma once

#include <QString>
#include <functional>
#include <memory>

class DAExtensionItem;
using DAItemPtr = std::shared_ptr<DAExtensionItem>;

// The runtime type of an object-model class: its name, its base, how to
// make one, and, for a class that stands for an XML element or attribute,
// where it lives in XML (namespace URI, conventional prefix, local name).
struct DAClassInfo {
    DAClassInfo(const char *name, const DAClassInfo *super, QString uri, QString prefix, QString localName,
                std::function<DAItemPtr()> make);

    const char *name;
    const DAClassInfo *super;
    QString extensionElementURI;
    QString extensionElementPrefix;
    QString extensionElementLocalName;
    std::function<DAItemPtr()> make;
    // Atom elements are written with the local name alone (Atom is the
    // default namespace of generated documents), others as prefix:local.
    QString qualifiedName;

    bool isExtension() const { return !extensionElementLocalName.isEmpty(); }
    bool isSubclassOf(const DAClassInfo *other) const;
};
using DAClass = const DAClassInfo *;

// Declares the runtime type of a class (in its class body).
#define DA_CLASS(Name)                                                                                                \
public:                                                                                                               \
    static DAClass staticClass();                                                                                     \
    DAClass objectClass() const override { return staticClass(); }

// Defines it (in the .cpp): an element class, or a class without an element.
#define DA_DEFINE_ELEMENT_CLASS(Name, Base, uri, prefix, local)                                                       \
    DAClass Name::staticClass() {                                                                                     \
        static const DAClassInfo info(#Name, Base::staticClass(), uri, QStringLiteral(prefix), QStringLiteral(local), \
                                      [] { return std::make_shared<Name>(); });                                      \
        return &info;                                                                                                 \
    }
#define DA_DEFINE_CLASS(Name, Base)                                                                                   \
    DAClass Name::staticClass() {                                                                                     \
        static const DAClassInfo info(#Name, Base::staticClass(), QString(), QString(), QString(),                    \
                                      [] { return std::make_shared<Name>(); });                                      \
        return &info;                                                                                                 \
    }

// What both element objects and attribute objects are: stored in an
// object's extensions, compared, copied and described.
class DAExtensionItem : public std::enable_shared_from_this<DAExtensionItem> {
public:
    virtual ~DAExtensionItem() = default;
    virtual DAClass objectClass() const = 0;
    virtual bool isEqual(const DAExtensionItem &other) const = 0;
    virtual DAItemPtr copyItem() const = 0;
    virtual QString description() const = 0;
};
