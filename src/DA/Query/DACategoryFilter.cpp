#include "DA/Query/DACategoryFilter.h"

QString DACategoryFilter::queryStringForCategory(const DACategoryPtr &category) {
    if (!category->scheme().isNull())
        return QStringLiteral("{%1}%2").arg(category->scheme(), category->term());
    return category->term();
}

QString DACategoryFilter::stringValue() const {
    QString text;
    for (const DACategoryPtr &c : m_categories) {
        if (!text.isEmpty())
            text += QLatin1Char('|');
        text += queryStringForCategory(c);
    }
    for (const DACategoryPtr &c : m_excluded) {
        if (!text.isEmpty())
            text += QLatin1Char('|');
        text += QLatin1Char('-') + queryStringForCategory(c);
    }
    return text;
}

std::shared_ptr<DACategoryFilter> DACategoryFilter::copy() const {
    auto f = categoryFilter();
    for (const DACategoryPtr &c : m_categories)
        f->addCategory(std::static_pointer_cast<DACategory>(c->copy()));
    for (const DACategoryPtr &c : m_excluded)
        f->addExcludeCategory(std::static_pointer_cast<DACategory>(c->copy()));
    return f;
}

QString DACategoryFilter::description() const {
    return QStringLiteral("DACategoryFilter %1: {%2}").arg(quintptr(this), 0, 16).arg(stringValue());
}
