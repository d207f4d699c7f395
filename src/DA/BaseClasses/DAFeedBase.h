#pragma once

#include "DA/BaseClasses/DAEntryBase.h"

class DAFeedBase;
using DAFeedBasePtr = std::shared_ptr<DAFeedBase>;

// One atom:feed with its entries. Entries take the class their kind (gd:kind
// attribute or kind category) is registered for, else the feed class's
// defaultClassForEntries().
class DAFeedBase : public DAObject {
    DA_CLASS(DAFeedBase)
public:
    // A feed of the class parsed from bytes; null for bytes that are not
    // well-formed XML. Unknown elements are always kept.
    static DAFeedBasePtr feedWithXMLData(DAClass cls, const QByteArray &data, const QString &serviceVersion = QString());
    // A feed of the class registered for the root element's kind (else the base).
    static DAFeedBasePtr feedOfRegisteredClassWithXMLData(const QByteArray &data, const QString &serviceVersion = QString());
    template <typename T>
    static std::shared_ptr<T> feedWithXMLData(const QByteArray &data, const QString &serviceVersion = QString()) {
        return std::dynamic_pointer_cast<T>(feedWithXMLData(T::staticClass(), data, serviceVersion));
    }

    virtual QString standardFeedKind() const { return QString(); }
    virtual QString standardKindAttributeValue() const { return QString(); }
    void init() override;
    bool initWithXMLElement(const DAXMLElementPtr &element, const DAObjectPtr &parent) override;

    // Hooks: more parsing, a fixed class for all entries, the default class.
    virtual void initFeedWithXMLElement(const DAXMLElementPtr &element) {}
    virtual DAClass classForEntries() const { return nullptr; }
    DAClass defaultClassForEntries() const override { return DAEntryBase::staticClass(); }

    const QList<DAEntryBasePtr> &entries() const { return m_entries; }
    // A feed enumerates its entries: for (const DAEntryBasePtr &e : *feed).
    QList<DAEntryBasePtr>::const_iterator begin() const { return m_entries.cbegin(); }
    QList<DAEntryBasePtr>::const_iterator end() const { return m_entries.cend(); }
    // Shares the entries and becomes their parent (an entry with another
    // parent is refused).
    void setEntries(const QList<DAEntryBasePtr> &entries);
    void addEntry(const DAEntryBasePtr &entry);
    // Stores copies.
    void setEntriesWithEntries(const QList<DAEntryBasePtr> &entries);
    void addEntryWithEntry(const DAEntryBasePtr &entry);
    DAEntryBasePtr entryForIdentifier(const QString &identifier) const;
    DAEntryBasePtr firstEntry() const { return entryAtIndex(0); }
    DAEntryBasePtr entryAtIndex(qsizetype index) const { return index >= 0 && index < m_entries.size() ? m_entries[index] : nullptr; }
    QList<DAEntryBasePtr> entriesWithCategoryKind(const QString &term) const;

    std::shared_ptr<DAGenerator> generator() const { return m_generator; }
    void setGenerator(const std::shared_ptr<DAGenerator> &g) { m_generator = g ? std::static_pointer_cast<DAGenerator>(g->copy()) : nullptr; }

    QString identifier() const { return valueText<DAAtomID>(); }
    void setIdentifier(const QString &v) { setValueText<DAAtomID>(v); }
    QString resourceID() const { return valueText<DAResourceID>(); }
    void setResourceID(const QString &v) { setValueText<DAResourceID>(v); }
    std::shared_ptr<DAAtomTitle> title() const { return extension<DAAtomTitle>(); }
    void setTitle(const std::shared_ptr<DAAtomTitle> &v) { setObject(v, DAAtomTitle::staticClass()); }
    void setTitleWithString(const QString &v);
    std::shared_ptr<DAAtomSubtitle> subtitle() const { return extension<DAAtomSubtitle>(); }
    void setSubtitle(const std::shared_ptr<DAAtomSubtitle> &v) { setObject(v, DAAtomSubtitle::staticClass()); }
    void setSubtitleWithString(const QString &v);
    std::shared_ptr<DAAtomRights> rights() const { return extension<DAAtomRights>(); }
    void setRights(const std::shared_ptr<DAAtomRights> &v) { setObject(v, DAAtomRights::staticClass()); }
    void setRightsWithString(const QString &v);
    QString icon() const { return valueText<DAAtomIcon>(); }
    void setIcon(const QString &v) { setValueText<DAAtomIcon>(v); }
    QString logo() const { return valueText<DAAtomLogo>(); }
    void setLogo(const QString &v) { setValueText<DAAtomLogo>(v); }
    DADateTimePtr updatedDate() const { return valueDate<DAAtomUpdatedDate>(); }
    void setUpdatedDate(const DADateTimePtr &v) { setValueDate<DAAtomUpdatedDate>(v); }
    QList<DALinkPtr> links() const { return extensions<DALink>(); }
    void setLinks(const QList<DALinkPtr> &v) { setExtensionList<DALink>(v); }
    void addLink(const DALinkPtr &v) { addObject(v, DALink::staticClass()); }
    void removeLink(const DALinkPtr &v) { removeObject(v, DALink::staticClass()); }
    QList<std::shared_ptr<DAAtomAuthor>> authors() const { return extensions<DAAtomAuthor>(); }
    void setAuthors(const QList<std::shared_ptr<DAAtomAuthor>> &v) { setExtensionList<DAAtomAuthor>(v); }
    void addAuthor(const std::shared_ptr<DAAtomAuthor> &v) { addObject(v, DAAtomAuthor::staticClass()); }
    QList<std::shared_ptr<DAAtomContributor>> contributors() const { return extensions<DAAtomContributor>(); }
    void setContributors(const QList<std::shared_ptr<DAAtomContributor>> &v) { setExtensionList<DAAtomContributor>(v); }
    void addContributor(const std::shared_ptr<DAAtomContributor> &v) { addObject(v, DAAtomContributor::staticClass()); }
    QList<DACategoryPtr> categories() const { return extensions<DACategory>(); }
    void setCategories(const QList<DACategoryPtr> &v) { setExtensionList<DACategory>(v); }
    void addCategory(const DACategoryPtr &v) { addObject(v, DACategory::staticClass()); }
    std::shared_ptr<DAAtomPubControl> atomPubControl() const { return extension<DAAtomPubControl>(); }
    void setAtomPubControl(const std::shared_ptr<DAAtomPubControl> &v) { setObject(v, DAAtomPubControl::staticClass()); }
    std::shared_ptr<DABatchOperation> batchOperation() const { return extension<DABatchOperation>(); }
    void setBatchOperation(const std::shared_ptr<DABatchOperation> &v) { setObject(v, DABatchOperation::staticClass()); }
    QString ETag() const { return attributeValueForExtensionClass(DAETagAttribute::staticClass()); }
    void setETag(const QString &v) { setAttributeValue(v, DAETagAttribute::staticClass()); }
    QString fieldSelection() const { return attributeValueForExtensionClass(DAFieldsAttribute::staticClass()); }
    void setFieldSelection(const QString &v) { setAttributeValue(v, DAFieldsAttribute::staticClass()); }
    QString kind() const { return attributeValueForExtensionClass(DAKindAttribute::staticClass()); }
    void setKind(const QString &v) { setAttributeValue(v, DAKindAttribute::staticClass()); }
    std::optional<int> totalResults() const { return valueIntNumber<DAOpenSearchTotalResults>(); }
    void setTotalResults(std::optional<int> v) { setValueIntNumber<DAOpenSearchTotalResults>(v); }
    std::optional<int> startIndex() const { return valueIntNumber<DAOpenSearchStartIndex>(); }
    void setStartIndex(std::optional<int> v) { setValueIntNumber<DAOpenSearchStartIndex>(v); }
    std::optional<int> itemsPerPage() const { return valueIntNumber<DAOpenSearchItemsPerPage>(); }
    void setItemsPerPage(std::optional<int> v) { setValueIntNumber<DAOpenSearchItemsPerPage>(v); }

    DALinkPtr linkWithRelAttributeValue(const QString &rel) const { return DALink::linkWithRel(rel, QString(), links()); }
    DALinkPtr feedLink() const;
    DALinkPtr alternateLink() const { return linkWithRelAttributeValue(QStringLiteral("alternate")); }
    DALinkPtr relatedLink() const { return linkWithRelAttributeValue(QStringLiteral("related")); }
    DALinkPtr postLink() const;
    DALinkPtr selfLink() const { return linkWithRelAttributeValue(QStringLiteral("self")); }
    DALinkPtr uploadLink() const;
    DALinkPtr batchLink() const;
    DALinkPtr nextLink() const { return linkWithRelAttributeValue(QStringLiteral("next")); }
    DALinkPtr previousLink() const { return linkWithRelAttributeValue(QStringLiteral("previous")); }
    bool canPost() const { return postLink() != nullptr; }

    static void registerFeedClass(DAClass cls);
    static void registerFeedClass(DAClass cls, const QString &scheme, const QString &term);
    static DAClass feedClassForCategory(const QString &scheme, const QString &term);
    static DAClass feedClassForKindAttributeValue(const QString &value);

    void addExtensionDeclarations() override;
    DAXMLElementPtr XMLElement() const override;
    bool isEqual(const DAExtensionItem &other) const override;
    QStringList itemsForDescription() const override;

protected:
    void copyInto(DAObject &target) const override;

private:
    void adopt(const DAEntryBasePtr &entry, const char *message);

    QList<DAEntryBasePtr> m_entries;
    std::shared_ptr<DAGenerator> m_generator;
};

// gd:entryLink: an entry link with an optional inline entry.
class DAEntryLink : public DAObject {
    DA_CLASS(DAEntryLink)
public:
    static std::shared_ptr<DAEntryLink> entryLinkWithHref(const QString &href, bool readOnly);
    QString href() const { return stringValueForAttribute(QStringLiteral("href")); }
    void setHref(const QString &v) { setStringValue(v, QStringLiteral("href")); }
    bool isReadOnly() const { return boolValueForAttribute(QStringLiteral("readOnly"), false); }
    void setIsReadOnly(bool v) { setBoolValue(v, false, QStringLiteral("readOnly")); }
    QString rel() const { return stringValueForAttribute(QStringLiteral("rel")); }
    void setRel(const QString &v) { setStringValue(v, QStringLiteral("rel")); }
    DAEntryBasePtr entry() const { return m_entry; }
    void setEntry(const DAEntryBasePtr &e) { m_entry = e; }

    void addParseDeclarations() override;
    bool initWithXMLElement(const DAXMLElementPtr &element, const DAObjectPtr &parent) override;
    DAXMLElementPtr XMLElement() const override;
    bool isEqual(const DAExtensionItem &other) const override;
    QStringList itemsForDescription() const override;

protected:
    void copyInto(DAObject &target) const override;

private:
    DAEntryBasePtr m_entry;
};

// gd:feedLink: a feed link with a count hint and an optional inline feed.
class DAFeedLink : public DAObject {
    DA_CLASS(DAFeedLink)
public:
    static std::shared_ptr<DAFeedLink> feedLinkWithHref(const QString &href, bool readOnly);
    QString href() const { return stringValueForAttribute(QStringLiteral("href")); }
    void setHref(const QString &v) { setStringValue(v, QStringLiteral("href")); }
    QString rel() const { return stringValueForAttribute(QStringLiteral("rel")); }
    void setRel(const QString &v) { setStringValue(v, QStringLiteral("rel")); }
    bool isReadOnly() const { return boolValueForAttribute(QStringLiteral("readOnly"), false); }
    void setIsReadOnly(bool v) { setBoolValue(v, false, QStringLiteral("readOnly")); }
    std::optional<int> countHint() const { return intNumberForAttribute(QStringLiteral("countHint")); }
    void setCountHint(std::optional<int> v) { setStringValue(v ? QString::number(*v) : QString(), QStringLiteral("countHint")); }
    QUrl URL() const { return href().isEmpty() ? QUrl() : QUrl(href()); }
    DAFeedBasePtr feed() const { return m_feed; }
    void setFeed(const DAFeedBasePtr &f) { m_feed = f; }

    void addParseDeclarations() override;
    bool initWithXMLElement(const DAXMLElementPtr &element, const DAObjectPtr &parent) override;
    DAXMLElementPtr XMLElement() const override;
    bool isEqual(const DAExtensionItem &other) const override;
    QStringList itemsForDescription() const override;

protected:
    void copyInto(DAObject &target) const override;

private:
    DAFeedBasePtr m_feed;
};
