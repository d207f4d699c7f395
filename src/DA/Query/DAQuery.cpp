#include "DA/Query/DAQuery.h"

#include "DA/BaseClasses/DAUtilities.h"

#include <algorithm>

void DAQuery::addCategoryFilterWithCategory(const DACategoryPtr &c) {
    auto f = DACategoryFilter::categoryFilter();
    f->addCategory(c);
    addCategoryFilter(f);
}

void DAQuery::addCategoryFilterWithScheme(const QString &scheme, const QString &term) {
    addCategoryFilterWithCategory(DACategory::categoryWithScheme(scheme, term));
}

void DAQuery::addCustomParameter(const QString &name, const QString &value) {
    if (value.isNull())
        m_parameters.remove(name);
    else
        m_parameters.insert(name, value);
}

void DAQuery::addCustomParameter(const QString &name, int value, int removeForValue) {
    addCustomParameter(name, value == removeForValue ? QString() : QString::number(value));
}

int DAQuery::intValueForParameter(const QString &name, int missingValue) const {
    const QString text = m_parameters.value(name);
    return text.isNull() ? missingValue : DAUtilities::intValueForString(text);
}

void DAQuery::addCustomParameter(const QString &name, bool value, bool defaultValue) {
    addCustomParameter(name, value == defaultValue ? QString() : (value ? QStringLiteral("true") : QStringLiteral("false")));
}

bool DAQuery::boolValueForParameter(const QString &name, bool defaultValue) const {
    const QString text = m_parameters.value(name);
    return text.isNull() ? defaultValue : text.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0;
}

void DAQuery::addCustomParameter(const QString &name, const DADateTimePtr &value) {
    addCustomParameter(name, value ? value->RFC3339String() : QString());
}

DADateTimePtr DAQuery::dateTimeForParameter(const QString &name) const {
    const QString text = m_parameters.value(name);
    return text.isNull() ? nullptr : DADateTime::dateTimeWithRFC3339String(text);
}

bool DAQuery::isAscendingOrder() const {
    return valueForParameter(QStringLiteral("sortorder")).compare(QLatin1String("ascending"), Qt::CaseInsensitive) == 0;
}

void DAQuery::setIsAscendingOrder(bool on) {
    addCustomParameter(QStringLiteral("sortorder"), on ? QStringLiteral("ascending") : QStringLiteral("descending"));
}

bool DAQuery::shouldFormatErrorsAsXML() const {
    return valueForParameter(QStringLiteral("err")).compare(QLatin1String("xml"), Qt::CaseInsensitive) == 0;
}

QString DAQuery::categoryFilterString() const {
    if (m_filters.isEmpty())
        return QString();
    QString path = QStringLiteral("-");
    for (const DACategoryFilterPtr &f : m_filters) {
        const QString escaped = DAUtilities::stringByURLEncodingForURI(f->stringValue());
        if (!escaped.isEmpty())
            path += QLatin1Char('/') + escaped;
    }
    return path;
}

QString DAQuery::queryParamString() const {
    QStringList names = m_parameters.keys();
    std::sort(names.begin(), names.end(), [](const QString &a, const QString &b) {
        return a.compare(b, Qt::CaseInsensitive) < 0;
    });
    QStringList pairs;
    for (const QString &n : names)
        pairs << QStringLiteral("%1=%2").arg(DAUtilities::stringByURLEncodingStringParameter(n),
                                              DAUtilities::stringByURLEncodingStringParameter(m_parameters.value(n)));
    return pairs.join(QLatin1Char('&'));
}

QUrl DAQuery::URL() const {
    const QString text = m_feedURL.toString(QUrl::FullyEncoded);
    const qsizetype question = text.indexOf(QLatin1Char('?'));
    QString base = question < 0 ? text : text.left(question);
    const QString ownQuery = question < 0 ? QString() : text.mid(question + 1);
    const QString categories = categoryFilterString();
    if (!categories.isEmpty()) {
        if (!base.endsWith(QLatin1Char('/')))
            base += QLatin1Char('/');
        base += categories;
    }
    QString params = queryParamString();
    if (!ownQuery.isEmpty())
        params = params.isEmpty() ? ownQuery : ownQuery + QLatin1Char('&') + params;
    if (!params.isEmpty())
        base += QLatin1Char('?') + params;
    return QUrl(base, QUrl::StrictMode);
}

QString DAQuery::description() const {
    return QStringLiteral("%1 %2: {%3}").arg(className()).arg(quintptr(this), 0, 16).arg(URL().toString(QUrl::FullyEncoded));
}
