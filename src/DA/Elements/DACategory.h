#pragma once

#include "DA/BaseClasses/DAObject.h"

// atom:category: scheme, term, label and its language.
class DACategory : public DAObject {
    DA_CLASS(DACategory)
public:
    using Ptr = std::shared_ptr<DACategory>;
    static Ptr categoryWithScheme(const QString &scheme, const QString &term);
    // A label category: the labels scheme, term "<scheme>#<label>".
    static Ptr categoryWithLabel(const QString &label);
    static QString labelsScheme();

    QString scheme() const { return stringValueForAttribute(QStringLiteral("scheme")); }
    void setScheme(const QString &v) { setStringValue(v, QStringLiteral("scheme")); }
    QString term() const { return stringValueForAttribute(QStringLiteral("term")); }
    void setTerm(const QString &v) { setStringValue(v, QStringLiteral("term")); }
    QString label() const { return stringValueForAttribute(QStringLiteral("label")); }
    void setLabel(const QString &v) { setStringValue(v, QStringLiteral("label")); }
    QString labelLang() const { return stringValueForAttribute(QStringLiteral("xml:lang")); }
    void setLabelLang(const QString &v) { setStringValue(v, QStringLiteral("xml:lang")); }

    static QList<Ptr> categoriesWithScheme(const QString &scheme, const QList<Ptr> &categories);
    static QList<Ptr> categoriesWithSchemePrefix(const QString &prefix, const QList<Ptr> &categories);
    static QStringList categoryLabelsFromCategories(const QList<Ptr> &categories);
    // True when one category matches every given (non-null) criterion.
    static bool categoriesContain(const QList<Ptr> &categories, const QString &scheme, const QString &term,
                                  const QString &label);
    static bool categoriesContainLabel(const QList<Ptr> &categories, const QString &label);

    void addParseDeclarations() override;
    QStringList attributesIgnoredForEquality() const override { return {QStringLiteral("xml:lang")}; }
};
using DACategoryPtr = DACategory::Ptr;
