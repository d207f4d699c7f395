#include "DA/BaseClasses/DAFeedBase.h"

#include "DA/BaseClasses/DAClasses.h"
#include "DA/BaseClasses/DANamespaces.h"
#include "DA/BaseClasses/DAUtilities.h"
#include "Platform/VNLog.h"

DA_DEFINE_ELEMENT_CLASS(DAFeedBase, DAObject, DANamespaces::atom(), "atom", "feed")
DA_DEFINE_ELEMENT_CLASS(DAEntryLink, DAObject, DANamespaces::data(), "gd", "entryLink")
DA_DEFINE_ELEMENT_CLASS(DAFeedLink, DAObject, DANamespaces::data(), "gd", "feedLink")

DAFeedBasePtr DAFeedBase::feedOfRegisteredClassWithXMLData(const QByteArray &data, const QString &serviceVersion) {
    return feedWithXMLData(nullptr, data, serviceVersion);
}

DAFeedBasePtr DAFeedBase::feedWithXMLData(DAClass cls, const QByteArray &data, const QString &serviceVersion) {
    DAClasses::registerAll();
    DAXMLDocumentPtr doc = DAXMLDocument::documentWithData(data);
    if (!doc || !doc->rootElement())
        return nullptr;
    if (!cls) {
        cls = registeredClassForElement(doc->rootElement(), true);
        if (!cls || !cls->isSubclassOf(staticClass()))
            cls = staticClass();
    }
    auto feed = std::dynamic_pointer_cast<DAFeedBase>(cls->make());
    if (!feed || !feed->DAObject::initWithXMLElement(doc->rootElement(), nullptr, serviceVersion, {}, false))
        return nullptr;
    // The whole tree is parsed: its declarations are no longer needed.
    feed->clearExtensionDeclarationsCache();
    return feed;
}

void DAFeedBase::init() {
    DAObject::init();
    if (!standardFeedKind().isNull())
        addCategory(DACategory::categoryWithScheme(DANamespaces::kindScheme(), standardFeedKind()));
    if (!standardKindAttributeValue().isNull())
        setKind(standardKindAttributeValue());
}

bool DAFeedBase::initWithXMLElement(const DAXMLElementPtr &element, const DAObjectPtr &) {
    // A feed is always a root object.
    if (!DAObject::initWithXMLElement(element, nullptr))
        return false;
    if (DAXMLElementPtr g = childWithQualifiedName(QStringLiteral("generator"), DANamespaces::atom(), element)) {
        auto generator = std::static_pointer_cast<DAGenerator>(
            objectWithXMLElement(DAGenerator::staticClass(), g, std::static_pointer_cast<DAObject>(shared_from_this())));
        if (generator) {
            generator->setParent(nullptr);
            m_generator = generator;
        }
    }
    initFeedWithXMLElement(element);
    const DAClass fixed = classForEntries();
    const DAObjectPtr self = std::static_pointer_cast<DAObject>(shared_from_this());
    for (const DAXMLElementPtr &e : element->elementsForLocalName(QStringLiteral("entry"), DANamespaces::atom())) {
        DAClass cls = fixed ? fixed : objectClassForXMLElement(e);
        if (!cls)
            continue;
        auto entry = std::dynamic_pointer_cast<DAEntryBase>(objectWithXMLElement(cls, e, self));
        if (!entry)
            continue;  // left among the unknown children
        m_entries.append(entry);
        handleParsedElement(e);
    }
    return true;
}

void DAFeedBase::adopt(const DAEntryBasePtr &entry, const char *message) {
    DAObjectPtr old = entry->parent();
    if (old && old.get() != this) {
        VNLog::log(QString::fromLatin1(message));
        Q_ASSERT_X(false, "DAFeedBase", message);
    }
    entry->setParent(std::static_pointer_cast<DAObject>(shared_from_this()));
}

void DAFeedBase::setEntries(const QList<DAEntryBasePtr> &entries) {
    for (const DAEntryBasePtr &e : entries)
        adopt(e, "Trying to replace existing feed parent; use setEntriesWithEntries: instead");
    m_entries = entries;
}

void DAFeedBase::addEntry(const DAEntryBasePtr &entry) {
    if (!entry)
        return;
    adopt(entry, "Trying to replace existing feed parent; use addEntryWithEntry: instead");
    m_entries.append(entry);
}

void DAFeedBase::setEntriesWithEntries(const QList<DAEntryBasePtr> &entries) {
    m_entries.clear();
    for (const DAEntryBasePtr &e : entries)
        addEntryWithEntry(e);
}

void DAFeedBase::addEntryWithEntry(const DAEntryBasePtr &entry) {
    if (entry)
        addEntry(std::static_pointer_cast<DAEntryBase>(entry->copy()));
}

DAEntryBasePtr DAFeedBase::entryForIdentifier(const QString &identifier) const {
    for (const DAEntryBasePtr &e : m_entries) {
        if (e->identifier() == identifier)
            return e;
    }
    return nullptr;
}

QList<DAEntryBasePtr> DAFeedBase::entriesWithCategoryKind(const QString &term) const {
    QList<DAEntryBasePtr> out;
    for (const DAEntryBasePtr &e : m_entries) {
        DACategoryPtr kind = e->kindCategory();
        if (DAUtilities::areEqualOrBothNil(kind ? kind->term() : QString(), term))
            out.append(e);
    }
    return out;
}

void DAFeedBase::setTitleWithString(const QString &v) { setTitle(DATextConstruct::textConstructWithString<DAAtomTitle>(v)); }
void DAFeedBase::setSubtitleWithString(const QString &v) {
    setSubtitle(DATextConstruct::textConstructWithString<DAAtomSubtitle>(v));
}
void DAFeedBase::setRightsWithString(const QString &v) { setRights(DATextConstruct::textConstructWithString<DAAtomRights>(v)); }

DALinkPtr DAFeedBase::feedLink() const { return linkWithRelAttributeValue(DANamespaces::data() + QStringLiteral("#feed")); }
DALinkPtr DAFeedBase::postLink() const { return linkWithRelAttributeValue(DANamespaces::data() + QStringLiteral("#post")); }
DALinkPtr DAFeedBase::uploadLink() const {
    return linkWithRelAttributeValue(DANamespaces::data() + QStringLiteral("#resumable-create-media"));
}
DALinkPtr DAFeedBase::batchLink() const { return linkWithRelAttributeValue(DANamespaces::data() + QStringLiteral("#batch")); }

void DAFeedBase::registerFeedClass(DAClass cls) {
    auto probe = std::dynamic_pointer_cast<DAFeedBase>(cls->make());
    if (!probe)
        return;
    if (!probe->standardFeedKind().isNull())
        registerClass(feedRegistry(), cls, DANamespaces::kindScheme(), probe->standardFeedKind());
    if (!probe->standardKindAttributeValue().isNull())
        registerClass(feedRegistry(), cls, QString(), probe->standardKindAttributeValue());
}

void DAFeedBase::registerFeedClass(DAClass cls, const QString &scheme, const QString &term) {
    registerClass(feedRegistry(), cls, scheme, term);
}

DAClass DAFeedBase::feedClassForCategory(const QString &scheme, const QString &term) {
    return classForCategory(feedRegistry(), scheme, term);
}

DAClass DAFeedBase::feedClassForKindAttributeValue(const QString &value) {
    return classForCategory(feedRegistry(), QString(), value);
}

void DAFeedBase::addExtensionDeclarations() {
    const DAClass me = objectClass();
    addExtensionDeclarationsForParent(me, {DAResourceID::staticClass(), DAAtomID::staticClass(), DAAtomTitle::staticClass(),
                                  DAAtomSubtitle::staticClass(), DAAtomRights::staticClass(), DAAtomIcon::staticClass(),
                                  DAAtomLogo::staticClass(), DALink::staticClass(), DAAtomAuthor::staticClass(),
                                  DAAtomContributor::staticClass(), DACategory::staticClass(),
                                  DAAtomUpdatedDate::staticClass(), DAAtomPubControl::staticClass(),
                                  DABatchOperation::staticClass(), DAOpenSearchTotalResults::staticClass(),
                                  DAOpenSearchStartIndex::staticClass(), DAOpenSearchItemsPerPage::staticClass()});
    addAttributeExtensionDeclaration(me, DAETagAttribute::staticClass());
    addAttributeExtensionDeclaration(me, DAFieldsAttribute::staticClass());
    addAttributeExtensionDeclaration(me, DAKindAttribute::staticClass());
}

DAXMLElementPtr DAFeedBase::XMLElement() const {
    DAXMLElementPtr element = XMLElementWithExtensionsAndDefaultName(QStringLiteral("feed"));
    addXMLElementForObject(element, m_generator);
    for (const DAEntryBasePtr &e : m_entries)
        addXMLElementForObject(element, e);
    return element;
}

bool DAFeedBase::isEqual(const DAExtensionItem &other) const {
    auto *o = dynamic_cast<const DAFeedBase *>(&other);
    if (!o || !DAObject::isEqual(other) || m_entries.size() != o->m_entries.size())
        return false;
    for (qsizetype i = 0; i < m_entries.size(); ++i) {
        if (!m_entries[i]->isEqual(*o->m_entries[i]))
            return false;
    }
    return true;
}

void DAFeedBase::copyInto(DAObject &target) const {
    DAObject::copyInto(target);
    auto &t = static_cast<DAFeedBase &>(target);
    t.setGenerator(m_generator);
    t.setEntriesWithEntries(m_entries);
}

QStringList DAFeedBase::itemsForDescription() const {
    QStringList items = DAObject::itemsForDescription();
    using K = DADescriptionKind;
    auto textOf = [](const DATextConstructPtr &t) { return t ? t->stringValue() : QString(); };
    const auto updated = updatedDate();
    addDescriptionRecords(items, {
        {QStringLiteral("v"), serviceVersion()},
        {QStringLiteral("entries"), m_entries.size(), K::CountIfNonZero},
        {QStringLiteral("etag"), ETag()},
        {QStringLiteral("kind"), kind()},
        {QStringLiteral("fields"), fieldSelection()},
        {QStringLiteral("resourceID"), resourceID()},
        {QStringLiteral("title"), textOf(title())},
        {QStringLiteral("subtitle"), textOf(subtitle())},
        {QStringLiteral("rights"), textOf(rights())},
        {QStringLiteral("updated"), updated ? updated->stringValue() : QString()},
        {QStringLiteral("authors"), authors().size(), K::CountIfNonZero},
        {QStringLiteral("contributors"), contributors().size(), K::CountIfNonZero},
        {QStringLiteral("categories"), categories().size(), K::CountIfNonZero},
        {QStringLiteral("links"), DALink::joinedLinkNames(links()), K::Literal},
        {QStringLiteral("id"), identifier()},
    });
    return items;
}

// ---- entry and feed links -------------------------------------------------------------

std::shared_ptr<DAEntryLink> DAEntryLink::entryLinkWithHref(const QString &href, bool readOnly) {
    auto l = object<DAEntryLink>();
    l->setHref(href);
    l->setIsReadOnly(readOnly);
    return l;
}

void DAEntryLink::addParseDeclarations() {
    addLocalAttributeDeclarations({QStringLiteral("href"), QStringLiteral("readOnly"), QStringLiteral("rel")});
}

bool DAEntryLink::initWithXMLElement(const DAXMLElementPtr &element, const DAObjectPtr &parent) {
    if (!DAObject::initWithXMLElement(element, parent))
        return false;
    m_entry = std::dynamic_pointer_cast<DAEntryBase>(
        objectForChildOfElement(element, QStringLiteral("entry"), DANamespaces::atom(), nullptr));
    return true;
}

DAXMLElementPtr DAEntryLink::XMLElement() const {
    DAXMLElementPtr element = XMLElementWithExtensionsAndDefaultName(QString());
    addXMLElementForObject(element, m_entry);
    return element;
}

bool DAEntryLink::isEqual(const DAExtensionItem &other) const {
    auto *o = dynamic_cast<const DAEntryLink *>(&other);
    return o && DAObject::isEqual(other) && DAUtilities::areEqualOrBothNil(m_entry, o->m_entry);
}

QStringList DAEntryLink::itemsForDescription() const {
    QStringList items = DAObject::itemsForDescription();
    addDescriptionRecords(items, {{QStringLiteral("entry"), m_entry}});
    return items;
}

void DAEntryLink::copyInto(DAObject &target) const {
    DAObject::copyInto(target);
    static_cast<DAEntryLink &>(target).m_entry = m_entry ? std::static_pointer_cast<DAEntryBase>(m_entry->copy()) : nullptr;
}

std::shared_ptr<DAFeedLink> DAFeedLink::feedLinkWithHref(const QString &href, bool readOnly) {
    auto l = object<DAFeedLink>();
    l->setHref(href);
    l->setIsReadOnly(readOnly);
    return l;
}

void DAFeedLink::addParseDeclarations() {
    addLocalAttributeDeclarations(
        {QStringLiteral("href"), QStringLiteral("rel"), QStringLiteral("readOnly"), QStringLiteral("countHint")});
}

bool DAFeedLink::initWithXMLElement(const DAXMLElementPtr &element, const DAObjectPtr &parent) {
    if (!DAObject::initWithXMLElement(element, parent))
        return false;
    m_feed = std::dynamic_pointer_cast<DAFeedBase>(
        objectForChildOfElement(element, QStringLiteral("feed"), DANamespaces::atom(), nullptr));
    return true;
}

DAXMLElementPtr DAFeedLink::XMLElement() const {
    DAXMLElementPtr element = XMLElementWithExtensionsAndDefaultName(QString());
    addXMLElementForObject(element, m_feed);
    return element;
}

bool DAFeedLink::isEqual(const DAExtensionItem &other) const {
    auto *o = dynamic_cast<const DAFeedLink *>(&other);
    return o && DAObject::isEqual(other) && DAUtilities::areEqualOrBothNil(m_feed, o->m_feed);
}

QStringList DAFeedLink::itemsForDescription() const {
    QStringList items = DAObject::itemsForDescription();
    const auto hint = countHint();
    addDescriptionRecords(items, {
        {QStringLiteral("href"), href()},
        {QStringLiteral("readOnly"), isReadOnly(), DADescriptionKind::YesIfTrue},
        {QStringLiteral("countHint"), hint ? QString::number(*hint) : QString()},
        {QStringLiteral("feed"), m_feed},
        {QStringLiteral("rel"), rel()},
    });
    return items;
}

void DAFeedLink::copyInto(DAObject &target) const {
    DAObject::copyInto(target);
    static_cast<DAFeedLink &>(target).m_feed = m_feed ? std::static_pointer_cast<DAFeedBase>(m_feed->copy()) : nullptr;
}
