#pragma once

#include "DA/Elements/DACategory.h"

// One category filter of a query: categories to match ("|" between them)
// and categories to exclude ("-").
class DACategoryFilter {
public:
    static std::shared_ptr<DACategoryFilter> categoryFilter() { return std::make_shared<DACategoryFilter>(); }

    const QList<DACategoryPtr> &categories() const { return m_categories; }
    void setCategories(const QList<DACategoryPtr> &c) { m_categories = c; }
    void addCategory(const DACategoryPtr &c) { m_categories.append(c); }
    void addCategoryWithScheme(const QString &scheme, const QString &term) {
        addCategory(DACategory::categoryWithScheme(scheme, term));
    }
    const QList<DACategoryPtr> &excludeCategories() const { return m_excluded; }
    void setExcludeCategories(const QList<DACategoryPtr> &c) { m_excluded = c; }
    void addExcludeCategory(const DACategoryPtr &c) { m_excluded.append(c); }
    void addExcludeCategoryWithScheme(const QString &scheme, const QString &term) {
        addExcludeCategory(DACategory::categoryWithScheme(scheme, term));
    }

    // "{scheme}term", or the term alone.
    static QString queryStringForCategory(const DACategoryPtr &category);
    QString stringValue() const;
    // "DACategoryFilter <address>: {<stringValue>}".
    QString description() const;
    // Deep: every category copied.
    std::shared_ptr<DACategoryFilter> copy() const;

private:
    QList<DACategoryPtr> m_categories;
    QList<DACategoryPtr> m_excluded;
};
using DACategoryFilterPtr = std::shared_ptr<DACategoryFilter>;
