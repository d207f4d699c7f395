#include "DA/BaseClasses/DALink.h"

#include "DA/BaseClasses/DANamespaces.h"
#include "DA/Elements/DAAtomElements.h"

DA_DEFINE_ELEMENT_CLASS(DALink, DAObject, DANamespaces::atom(), "atom", "link")

DALinkPtr DALink::linkWithRel(const QString &rel, const QString &type, const QString &href) {
    auto link = object<DALink>();
    link->setRel(rel);
    link->setType(type);
    link->setHref(href);
    return link;
}

QString DALink::rel() const {
    const QString r = stringValueForAttribute(QStringLiteral("rel"));
    return r.isEmpty() ? QStringLiteral("alternate") : r;
}

void DALink::setResourceLength(std::optional<qint64> v) {
    setStringValue(v ? QString::number(*v) : QString(), QStringLiteral("length"));
}

QUrl DALink::URL() const {
    const QString h = href();
    return h.isEmpty() ? QUrl() : QUrl(h);
}

DAAtomContentPtr DALink::content() const { return extension<DAAtomContent>(); }
void DALink::setContent(const DAAtomContentPtr &content) { setObject(content, DAAtomContent::staticClass()); }
QString DALink::ETag() const { return attributeValueForExtensionClass(DAETagAttribute::staticClass()); }
void DALink::setETag(const QString &etag) { setAttributeValue(etag, DAETagAttribute::staticClass()); }

QStringList DALink::linkNamesFromLinks(const QList<DALinkPtr> &links) {
    QStringList names;
    for (const DALinkPtr &l : links) {
        const QString r = l->rel();
        names << r.mid(r.lastIndexOf(QLatin1Char('#')) + 1);
    }
    return names;
}

DALinkPtr DALink::linkWithRel(const QString &rel, const QString &type, const QList<DALinkPtr> &links) {
    for (const DALinkPtr &l : links) {
        if (!rel.isNull() && rel != l->rel())
            continue;
        if (type.isNull() || l->type() == type)
            return l;
    }
    return nullptr;
}

DALinkPtr DALink::linkWithRelAttributeSuffix(const QString &suffix, const QList<DALinkPtr> &links) {
    for (const DALinkPtr &l : links) {
        if (!l->stringValueForAttribute(QStringLiteral("rel")).isNull() && l->rel().endsWith(suffix))
            return l;
    }
    return nullptr;
}

void DALink::addParseDeclarations() {
    addLocalAttributeDeclarations({QStringLiteral("rel"), QStringLiteral("type"), QStringLiteral("href"),
                                   QStringLiteral("hrefLang"), QStringLiteral("title"), QStringLiteral("xml:lang"),
                                   QStringLiteral("length")});
}

void DALink::addExtensionDeclarations() {
    addExtensionDeclaration(objectClass(), DAAtomContent::staticClass());
    addAttributeExtensionDeclaration(objectClass(), DAETagAttribute::staticClass());
}

QString DALink::joinedLinkNames(const QList<Ptr> &links) {
    const QStringList names = linkNamesFromLinks(links);
    return names.isEmpty() ? QString() : names.join(QLatin1Char(','));
}

QStringList DALink::itemsForDescription() const {
    QStringList items = DAObject::itemsForDescription();
    addDescriptionRecords(items, {{QStringLiteral("content"), content()}, {QStringLiteral("etag"), ETag()}});
    return items;
}
