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
    // The whole tree is parsed: its declarations are no longer needed.
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

namespace {

template <typename T>
QString textOf(const DAObject &o) {
    auto v = o.extension<T>();
    return v ? v->stringValue() : QString();
}

template <typename T>
std::optional<int> numberOf(const DAObject &o) {
    auto v = o.extension<T>();
    return v ? v->intNumberValue() : std::nullopt;
}

}  // namespace

QString DAFeedBase::identifier() const { return textOf<DAAtomID>(*this); }
void DAFeedBase::setIdentifier(const QString &v) {
    setObject(DAValueConstruct::valueWithString(DAAtomID::staticClass(), v), DAAtomID::staticClass());
}
void DAFeedBase::setTitleWithString(const QString &v) {
    setObject(DATextConstruct::textConstructWithString<DAAtomTitle>(v), DAAtomTitle::staticClass());
}
void DAFeedBase::setSubtitleWithString(const QString &v) {
    setObject(DATextConstruct::textConstructWithString<DAAtomSubtitle>(v), DAAtomSubtitle::staticClass());
}
void DAFeedBase::setRightsWithString(const QString &v) {
    setObject(DATextConstruct::textConstructWithString<DAAtomRights>(v), DAAtomRights::staticClass());
}
QString DAFeedBase::icon() const { return textOf<DAAtomIcon>(*this); }
void DAFeedBase::setIcon(const QString &v) {
    setObject(DAValueConstruct::valueWithString(DAAtomIcon::staticClass(), v), DAAtomIcon::staticClass());
}
QString DAFeedBase::logo() const { return textOf<DAAtomLogo>(*this); }
void DAFeedBase::setLogo(const QString &v) {
    setObject(DAValueConstruct::valueWithString(DAAtomLogo::staticClass(), v), DAAtomLogo::staticClass());
}
DADateTimePtr DAFeedBase::updatedDate() const {
    auto v = extension<DAAtomUpdatedDate>();
    return v ? v->dateTimeValue() : nullptr;
}
void DAFeedBase::setUpdatedDate(const DADateTimePtr &v) {
    setObject(DAValueConstruct::valueWithDateTime(DAAtomUpdatedDate::staticClass(), v), DAAtomUpdatedDate::staticClass());
}
std::optional<int> DAFeedBase::totalResults() const { return numberOf<DAOpenSearchTotalResults>(*this); }
std::optional<int> DAFeedBase::startIndex() const { return numberOf<DAOpenSearchStartIndex>(*this); }
std::optional<int> DAFeedBase::itemsPerPage() const { return numberOf<DAOpenSearchItemsPerPage>(*this); }
void DAFeedBase::setTotalResults(std::optional<int> v) {
    setObject(v ? DAValueConstruct::valueWithLongLong(DAOpenSearchTotalResults::staticClass(), *v) : nullptr,
              DAOpenSearchTotalResults::staticClass());
}

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
    addToArray(items, QStringLiteral("v"), serviceVersion());
    if (!m_entries.isEmpty())
        items << QStringLiteral("entries:%1").arg(m_entries.size());
    addToArray(items, QStringLiteral("etag"), ETag());
    addToArray(items, QStringLiteral("kind"), kind());
    if (auto t = title())
        addToArray(items, QStringLiteral("title"), t->stringValue());
    addToArray(items, QStringLiteral("id"), identifier());
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

void DAFeedLink::copyInto(DAObject &target) const {
    DAObject::copyInto(target);
    static_cast<DAFeedLink &>(target).m_feed = m_feed ? std::static_pointer_cast<DAFeedBase>(m_feed->copy()) : nullptr;
}
