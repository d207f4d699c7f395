#pragma once

#include "DA/BaseClasses/DAObject.h"

// An Atom text element: text plus "type" and "xml:lang".
class DATextConstruct : public DAObject {
    DA_CLASS(DATextConstruct)
public:
    static DAObjectPtr textConstructWithString(DAClass cls, const QString &text);
    template <typename T>
    static std::shared_ptr<T> textConstructWithString(const QString &text) {
        return std::static_pointer_cast<T>(textConstructWithString(T::staticClass(), text));
    }

    QString stringValue() const { return contentStringValue(); }
    void setStringValue(const QString &text) { setContentStringValue(text); }
    QString type() const { return stringValueForAttribute(QStringLiteral("type")); }
    void setType(const QString &type) { DAObject::setStringValue(type, QStringLiteral("type")); }
    QString lang() const { return stringValueForAttribute(QStringLiteral("xml:lang")); }
    void setLang(const QString &lang) { DAObject::setStringValue(lang, QStringLiteral("xml:lang")); }

    // Absent, "text" and "text/plain" all mean plain text.
    static bool isTypeEqualToText(const QString &type);

    void addParseDeclarations() override;
    QStringList attributesIgnoredForEquality() const override { return {QStringLiteral("type")}; }
    bool isEqual(const DAExtensionItem &other) const override;
};
using DATextConstructPtr = std::shared_ptr<DATextConstruct>;
