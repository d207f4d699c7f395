#pragma once

#include "DA/BaseClasses/DAEntryContent.h"

#include <QUrl>

// atom:link with its attributes; finding links by relation and type.
class DALink : public DAObject {
    DA_CLASS(DALink)
public:
    using Ptr = std::shared_ptr<DALink>;
    static Ptr linkWithRel(const QString &rel, const QString &type, const QString &href);

    // "alternate" when the attribute is absent or empty.
    QString rel() const;
    void setRel(const QString &v) { setStringValue(v, QStringLiteral("rel")); }
    QString type() const { return stringValueForAttribute(QStringLiteral("type")); }
    void setType(const QString &v) { setStringValue(v, QStringLiteral("type")); }
    QString href() const { return stringValueForAttribute(QStringLiteral("href")); }
    void setHref(const QString &v) { setStringValue(v, QStringLiteral("href")); }
    QString hrefLang() const { return stringValueForAttribute(QStringLiteral("hrefLang")); }
    void setHrefLang(const QString &v) { setStringValue(v, QStringLiteral("hrefLang")); }
    QString title() const { return stringValueForAttribute(QStringLiteral("title")); }
    void setTitle(const QString &v) { setStringValue(v, QStringLiteral("title")); }
    QString titleLang() const { return stringValueForAttribute(QStringLiteral("xml:lang")); }
    void setTitleLang(const QString &v) { setStringValue(v, QStringLiteral("xml:lang")); }
    std::optional<qint64> resourceLength() const { return longLongNumberForAttribute(QStringLiteral("length")); }
    void setResourceLength(std::optional<qint64> v);
    QUrl URL() const;
    DAAtomContentPtr content() const;
    void setContent(const DAAtomContentPtr &content);
    QString ETag() const;
    void setETag(const QString &etag);

    // Short names: the rel after its last "#".
    static QStringList linkNamesFromLinks(const QList<Ptr> &links);
    // Those names joined by "," (null for no links), as descriptions show them.
    static QString joinedLinkNames(const QList<Ptr> &links);
    // First link with that rel (null: any) and type (null: any).
    static Ptr linkWithRel(const QString &rel, const QString &type, const QList<Ptr> &links);
    static Ptr linkWithRelAttributeSuffix(const QString &suffix, const QList<Ptr> &links);

    void addParseDeclarations() override;
    void addExtensionDeclarations() override;
    QStringList itemsForDescription() const override;
};
using DALinkPtr = DALink::Ptr;
