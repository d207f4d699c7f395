#pragma once

#include "DA/BaseClasses/DADateTime.h"
#include "DA/Query/DACategoryFilter.h"

#include <QMap>
#include <QUrl>

// A feed query: a feed URL, named parameters and category filters, turned
// into a request URL (parameters in case-insensitive order of their names).
class DAQuery {
public:
    explicit DAQuery(const QUrl &feedURL = QUrl()) : m_feedURL(feedURL) {}
    virtual ~DAQuery() = default;
    static std::shared_ptr<DAQuery> queryWithFeedURL(const QUrl &url) { return std::make_shared<DAQuery>(url); }

    const QUrl &feedURL() const { return m_feedURL; }
    void setFeedURL(const QUrl &url) { m_feedURL = url; }
    const QList<DACategoryFilterPtr> &categoryFilters() const { return m_filters; }
    void setCategoryFilters(const QList<DACategoryFilterPtr> &f) { m_filters = f; }
    void addCategoryFilter(const DACategoryFilterPtr &f) { m_filters.append(f); }
    void addCategoryFilterWithCategory(const DACategoryPtr &c);
    void addCategoryFilterWithScheme(const QString &scheme, const QString &term);

    const QMap<QString, QString> &customParameters() const { return m_parameters; }
    void setCustomParameters(const QMap<QString, QString> &p) { m_parameters = p; }
    // A null value removes the parameter.
    void addCustomParameter(const QString &name, const QString &value);
    void removeCustomParameter(const QString &name) { m_parameters.remove(name); }
    QString valueForParameter(const QString &name) const { return m_parameters.value(name); }

    void addCustomParameter(const QString &name, int value, int removeForValue);
    int intValueForParameter(const QString &name, int missingValue) const;
    void addCustomParameter(const QString &name, bool value, bool defaultValue);
    bool boolValueForParameter(const QString &name, bool defaultValue) const;
    void addCustomParameter(const QString &name, const DADateTimePtr &value);
    DADateTimePtr dateTimeForParameter(const QString &name) const;

    // The named parameters (-1 means absent for the two counts).
    int startIndex() const { return intValueForParameter(QStringLiteral("start-index"), -1); }
    void setStartIndex(int v) { addCustomParameter(QStringLiteral("start-index"), v, -1); }
    int maxResults() const { return intValueForParameter(QStringLiteral("max-results"), -1); }
    void setMaxResults(int v) { addCustomParameter(QStringLiteral("max-results"), v, -1); }
    QString fieldSelection() const { return valueForParameter(QStringLiteral("fields")); }
    void setFieldSelection(const QString &v) { addCustomParameter(QStringLiteral("fields"), v); }
    QString fullTextQueryString() const { return valueForParameter(QStringLiteral("q")); }
    void setFullTextQueryString(const QString &v) { addCustomParameter(QStringLiteral("q"), v); }
    QString author() const { return valueForParameter(QStringLiteral("author")); }
    void setAuthor(const QString &v) { addCustomParameter(QStringLiteral("author"), v); }
    QString orderBy() const { return valueForParameter(QStringLiteral("orderby")); }
    void setOrderBy(const QString &v) { addCustomParameter(QStringLiteral("orderby"), v); }
    bool isAscendingOrder() const;
    void setIsAscendingOrder(bool on);
    bool shouldShowDeleted() const { return boolValueForParameter(QStringLiteral("showdeleted"), false); }
    void setShouldShowDeleted(bool on) { addCustomParameter(QStringLiteral("showdeleted"), on, false); }
    bool shouldRequireAllDeleted() const { return boolValueForParameter(QStringLiteral("requirealldeleted"), false); }
    void setShouldRequireAllDeleted(bool on) { addCustomParameter(QStringLiteral("requirealldeleted"), on, false); }
    bool shouldShowOnlyDeleted() const { return boolValueForParameter(QStringLiteral("onlydeleted"), false); }
    void setShouldShowOnlyDeleted(bool on) { addCustomParameter(QStringLiteral("onlydeleted"), on, false); }
    bool isStrict() const { return boolValueForParameter(QStringLiteral("strict"), false); }
    void setIsStrict(bool on) { addCustomParameter(QStringLiteral("strict"), on, false); }
    bool shouldPrettyPrint() const { return boolValueForParameter(QStringLiteral("prettyprint"), false); }
    void setShouldPrettyPrint(bool on) { addCustomParameter(QStringLiteral("prettyprint"), on, false); }
    QString protocolVersion() const { return valueForParameter(QStringLiteral("v")); }
    void setProtocolVersion(const QString &v) { addCustomParameter(QStringLiteral("v"), v); }
    QString resultFormat() const { return valueForParameter(QStringLiteral("alt")); }
    void setResultFormat(const QString &v) { addCustomParameter(QStringLiteral("alt"), v); }
    QString language() const { return valueForParameter(QStringLiteral("hl")); }
    void setLanguage(const QString &v) { addCustomParameter(QStringLiteral("hl"), v); }
    DADateTimePtr publishedMinDateTime() const { return dateTimeForParameter(QStringLiteral("published-min")); }
    void setPublishedMinDateTime(const DADateTimePtr &v) { addCustomParameter(QStringLiteral("published-min"), v); }
    DADateTimePtr publishedMaxDateTime() const { return dateTimeForParameter(QStringLiteral("published-max")); }
    void setPublishedMaxDateTime(const DADateTimePtr &v) { addCustomParameter(QStringLiteral("published-max"), v); }
    DADateTimePtr updatedMinDateTime() const { return dateTimeForParameter(QStringLiteral("updated-min")); }
    void setUpdatedMinDateTime(const DADateTimePtr &v) { addCustomParameter(QStringLiteral("updated-min"), v); }
    DADateTimePtr updatedMaxDateTime() const { return dateTimeForParameter(QStringLiteral("updated-max")); }
    void setUpdatedMaxDateTime(const DADateTimePtr &v) { addCustomParameter(QStringLiteral("updated-max"), v); }
    bool shouldFormatErrorsAsXML() const;
    void setShouldFormatErrorsAsXML(bool on) { addCustomParameter(QStringLiteral("err"), on ? QStringLiteral("xml") : QString()); }

    QString categoryFilterString() const;
    QString queryParamString() const;
    QUrl URL() const;
    // "<class> <address>: {<URL>}".
    QString description() const;
    virtual QString className() const { return QStringLiteral("DAQuery"); }

    // Same class, same URL; the filter list and parameters copied (filters shared).
    virtual std::shared_ptr<DAQuery> copy() const { return std::make_shared<DAQuery>(*this); }

private:
    QUrl m_feedURL;
    QList<DACategoryFilterPtr> m_filters;
    QMap<QString, QString> m_parameters;
};
using DAQueryPtr = std::shared_ptr<DAQuery>;
