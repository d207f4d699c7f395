#include "DA/Elements/DACategory.h"

#include "DA/BaseClasses/DANamespaces.h"
#include "DA/BaseClasses/DAUtilities.h"

DA_DEFINE_ELEMENT_CLASS(DACategory, DAObject, DANamespaces::atom(), "atom", "category")

DACategoryPtr DACategory::categoryWithScheme(const QString &scheme, const QString &term) {
    auto c = object<DACategory>();
    c->setScheme(scheme);
    c->setTerm(term);
    return c;
}

QString DACategory::labelsScheme() { return DANamespaces::data() + QStringLiteral("/labels"); }

DACategoryPtr DACategory::categoryWithLabel(const QString &label) {
    auto c = categoryWithScheme(labelsScheme(), QStringLiteral("%1#%2").arg(labelsScheme(), label));
    c->setLabel(label);
    return c;
}

void DACategory::addParseDeclarations() {
    addLocalAttributeDeclarations(
        {QStringLiteral("scheme"), QStringLiteral("term"), QStringLiteral("label"), QStringLiteral("xml:lang")});
}

QList<DACategoryPtr> DACategory::categoriesWithScheme(const QString &scheme, const QList<DACategoryPtr> &categories) {
    QList<DACategoryPtr> out;
    for (const DACategoryPtr &c : categories) {
        if (DAUtilities::areEqualOrBothNil(c->scheme(), scheme))
            out.append(c);
    }
    return out;
}

QList<DACategoryPtr> DACategory::categoriesWithSchemePrefix(const QString &prefix, const QList<DACategoryPtr> &categories) {
    QList<DACategoryPtr> out;
    for (const DACategoryPtr &c : categories) {
        if (!c->scheme().isNull() && c->scheme().startsWith(prefix))
            out.append(c);
    }
    return out;
}

QStringList DACategory::categoryLabelsFromCategories(const QList<DACategoryPtr> &categories) {
    QStringList labels;
    for (const DACategoryPtr &c : categories) {
        if (!c->label().isNull() && !labels.contains(c->label()))
            labels << c->label();
    }
    return labels;
}

bool DACategory::categoriesContain(const QList<DACategoryPtr> &categories, const QString &scheme, const QString &term,
                                   const QString &label) {
    for (const DACategoryPtr &c : categories) {
        if ((scheme.isNull() || DAUtilities::areEqualOrBothNil(c->scheme(), scheme)) &&
            (term.isNull() || DAUtilities::areEqualOrBothNil(c->term(), term)) &&
            (label.isNull() || DAUtilities::areEqualOrBothNil(c->label(), label)))
            return true;
    }
    return false;
}

bool DACategory::categoriesContainLabel(const QList<DACategoryPtr> &categories, const QString &label) {
    return categoriesContain(categories, labelsScheme(), QString(), label);
}
