#pragma once

#include "DA/BaseClasses/DAObject.h"

#include <QUrl>

// atom:content: a typed text, a reference to media elsewhere ("src"), kept
// XML, or an inline Atom object, depending on its type.
class DAEntryContent : public DAObject {
    DA_CLASS(DAEntryContent)
public:
    static DAObjectPtr contentWithString(DAClass cls, const QString &text);
    static DAObjectPtr contentWithSourceURI(DAClass cls, const QString &uri, const QString &type);
    static DAObjectPtr contentWithXMLValue(DAClass cls, const DAXMLElementPtr &xml, const QString &type);
    // The same as contentWithString(), for callers that make every text
    // element alike.
    static DAObjectPtr textConstructWithString(DAClass cls, const QString &text) { return contentWithString(cls, text); }

    QString type() const { return stringValueForAttribute(QStringLiteral("type")); }
    void setType(const QString &v) { DAObject::setStringValue(v, QStringLiteral("type")); }
    QString lang() const { return stringValueForAttribute(QStringLiteral("xml:lang")); }
    void setLang(const QString &v) { DAObject::setStringValue(v, QStringLiteral("xml:lang")); }
    QString sourceURI() const { return stringValueForAttribute(QStringLiteral("src")); }
    void setSourceURI(const QString &v) { DAObject::setStringValue(v, QStringLiteral("src")); }
    QUrl sourceURL() const;
    // The text; null unless the content holds text. Setting it makes it text.
    QString stringValue() const { return hasDeclaredContentValue() ? contentStringValue() : QString(); }
    void setStringValue(const QString &text);
    DAObjectPtr childObject() const { return m_childObject; }
    void setChildObject(const DAObjectPtr &object) { m_childObject = object; }
    DAXMLElementList XMLValues() const { return childXMLElements(); }
    void setXMLValues(const DAXMLElementList &values) { setChildXMLElements(values); }
    void addXMLValue(const DAXMLElementPtr &value) { addChildXMLElement(value); }

    // Absent, "text", "text/...", "html" and "xhtml".
    static bool isTextType(const QString &type);

    void addParseDeclarations() override;
    bool initWithXMLElement(const DAXMLElementPtr &element, const DAObjectPtr &parent) override;
    DAXMLElementPtr XMLElement() const override;
    QStringList attributesIgnoredForEquality() const override { return {QStringLiteral("type")}; }
    bool isEqual(const DAExtensionItem &other) const override;
    QStringList itemsForDescription() const override;

protected:
    void copyInto(DAObject &target) const override;

private:
    DAObjectPtr m_childObject;
};

class DAAtomContent : public DAEntryContent {
    DA_CLASS(DAAtomContent)
};
using DAAtomContentPtr = std::shared_ptr<DAAtomContent>;
