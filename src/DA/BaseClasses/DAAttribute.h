#pragma once

#include "DA/BaseClasses/DAClass.h"

// An extension that is an XML attribute on its parent's element (gd:etag,
// gd:kind ...): a value; subclasses only name the attribute.
class DAAttribute : public DAExtensionItem {
    DA_CLASS(DAAttribute)
public:
    // A new attribute object of the given class.
    static std::shared_ptr<DAAttribute> attributeWithValue(DAClass cls, const QString &value);

    const QString &stringValue() const { return m_value; }
    void setStringValue(const QString &value) { m_value = value; }

    bool isEqual(const DAExtensionItem &other) const override;
    DAItemPtr copyItem() const override;
    QString description() const override;

private:
    QString m_value;
};
using DAAttributePtr = std::shared_ptr<DAAttribute>;
