#include "DA/BaseClasses/DAEntryBase.h"

#include "DA/BaseClasses/DANamespaces.h"
#include "DA/BaseClasses/DAUtilities.h"
#include "DA/Upload/HFMIMEDocument.h"

#include <QFile>

DA_DEFINE_ELEMENT_CLASS(DAEntryBase, DAObject, DANamespaces::atom(), "atom", "entry")

QMap<QString, QString> DAEntryBase::baseDANamespaces() {
    return {{QString(""), DANamespaces::atom()},
            {QStringLiteral("gd"), DANamespaces::data()},
            {QStringLiteral("app"), DANamespaces::atomPub()}};
}

QMap<QString, QString> DAEntryBase::batchNamespaces() { return {{QStringLiteral("batch"), DANamespaces::batch()}}; }

DAObjectPtr DAEntryBase::entryOfClass(DAClass cls) {
    DAObjectPtr entry = objectOfClass(cls);
    if (entry)
        entry->setNamespaces(baseDANamespaces());
    return entry;
}

void DAEntryBase::init() {
    DAObject::init();
    if (!standardEntryKind().isNull())
        addCategory(DACategory::categoryWithScheme(DANamespaces::kindScheme(), standardEntryKind()));
    if (!standardKindAttributeValue().isNull())
        setKind(standardKindAttributeValue());
}

void DAEntryBase::setTitleWithString(const QString &v) { setTitle(DATextConstruct::textConstructWithString<DAAtomTitle>(v)); }
void DAEntryBase::setSummaryWithString(const QString &v) {
    setSummary(DATextConstruct::textConstructWithString<DAAtomSummary>(v));
}
void DAEntryBase::setRightsStringWithString(const QString &v) {
    setRightsString(DATextConstruct::textConstructWithString<DAAtomRights>(v));
}
void DAEntryBase::setContentWithString(const QString &v) {
    setContent(std::static_pointer_cast<DAAtomContent>(DAEntryContent::contentWithString(DAAtomContent::staticClass(), v)));
}

QList<DACategoryPtr> DAEntryBase::categoriesWithScheme(const QString &scheme) const {
    return DACategory::categoriesWithScheme(scheme, categories());
}

DACategoryPtr DAEntryBase::kindCategory() const { return categoriesWithScheme(DANamespaces::kindScheme()).value(0); }

QList<DALinkPtr> DAEntryBase::linksWithRelAttributeValue(const QString &rel) const {
    QList<DALinkPtr> out;
    for (const DALinkPtr &l : links()) {
        if (l->rel() == rel)
            out.append(l);
    }
    return out;
}

DALinkPtr DAEntryBase::feedLink() const { return linkWithRelAttributeValue(DANamespaces::data() + QStringLiteral("#feed")); }
DALinkPtr DAEntryBase::postLink() const { return linkWithRelAttributeValue(DANamespaces::data() + QStringLiteral("#post")); }
DALinkPtr DAEntryBase::uploadEditLink() const {
    return linkWithRelAttributeValue(DANamespaces::data() + QStringLiteral("#resumable-edit-media"));
}

void DAEntryBase::setUploadSlug(const QString &slug) {
    m_uploadSlug = slug.isNull() ? QString() : DAUtilities::stringByPercentEncodingUTF8ForString(slug);
}

QList<QPair<QString, QString>> DAEntryBase::contentHeaders() const {
    QList<QPair<QString, QString>> headers;
    if (m_uploadMIMEType.isEmpty())
        return headers;
    headers.append({QStringLiteral("Content-Type"), m_uploadMIMEType});
    headers.append({QStringLiteral("MIME-Version"), QStringLiteral("1.0")});
    if (!m_uploadSlug.isNull())
        headers.append({QStringLiteral("Slug"), m_uploadSlug});
    return headers;
}

DAEntryBase::UploadBody DAEntryBase::generateContentInputStream() const {
    QByteArray media = m_uploadData;
    if (media.isEmpty() && !m_uploadFilePath.isEmpty()) {
        QFile file(m_uploadFilePath);
        if (file.open(QIODevice::ReadOnly))
            media = file.readAll();  // an unreadable file falls back to the XML body
    }
    UploadBody body;
    if (!media.isEmpty() && !m_uploadMIMEType.isEmpty()) {
        if (m_shouldUploadDataOnly) {
            body.stream = std::make_shared<HFDataInputStream>(media);
            body.length = media.size();
            body.headers = contentHeaders();
            return body;
        }
        HFMIMEDocument doc;
        doc.addPartWithHeaders({{QStringLiteral("Content-Type"), QStringLiteral("application/atom+xml; charset=UTF-8")}},
                               XMLElement()->XMLString().toUtf8());
        if (!doc.addPartWithHeaders({{QStringLiteral("Content-Type"), m_uploadMIMEType},
                                     {QStringLiteral("Content-Transfer-Encoding"), QStringLiteral("binary")}},
                                    media)) {
            // A type with a line break: no body, and the same type as a
            // request header, which the fetcher refuses before sending.
            body.headers = contentHeaders();
            return body;
        }
        HFMIMEDocument::Body multipart = doc.generateInputStream();
        body.stream = multipart.stream;
        body.length = multipart.length;
        body.headers = {{QStringLiteral("Content-Type"), QStringLiteral("multipart/related; boundary=\"%1\"").arg(multipart.boundary)},
                        {QStringLiteral("MIME-Version"), QStringLiteral("1.0")}};
        if (!m_uploadSlug.isNull())
            body.headers.append({QStringLiteral("Slug"), m_uploadSlug});
        return body;
    }
    const QByteArray xml = XMLDocument()->XMLData();
    body.stream = std::make_shared<HFDataInputStream>(xml);
    body.length = xml.size();
    body.headers = {{QStringLiteral("Content-Type"), QStringLiteral("application/atom+xml; charset=UTF-8")}};
    // The entry alone still names the file it stands for.
    if (!m_uploadSlug.isEmpty())
        body.headers.append({QStringLiteral("Slug"), m_uploadSlug});
    return body;
}

void DAEntryBase::registerEntryClass(DAClass cls) {
    auto probe = std::dynamic_pointer_cast<DAEntryBase>(cls->make());
    if (!probe)
        return;
    if (!probe->standardEntryKind().isNull())
        registerClass(entryRegistry(), cls, DANamespaces::kindScheme(), probe->standardEntryKind());
    if (!probe->standardKindAttributeValue().isNull())
        registerClass(entryRegistry(), cls, QString(), probe->standardKindAttributeValue());
}

void DAEntryBase::registerEntryClass(DAClass cls, const QString &scheme, const QString &term) {
    registerClass(entryRegistry(), cls, scheme, term);
}

DAClass DAEntryBase::entryClassForCategory(const QString &scheme, const QString &term) {
    return classForCategory(entryRegistry(), scheme, term);
}

DAClass DAEntryBase::entryClassForKindAttributeValue(const QString &value) {
    return classForCategory(entryRegistry(), QString(), value);
}

void DAEntryBase::addExtensionDeclarations() {
    const DAClass me = objectClass();
    addExtensionDeclarationsForParent(me, {DAResourceID::staticClass(), DAAtomID::staticClass(), DAAtomPublishedDate::staticClass(),
                                  DAAtomUpdatedDate::staticClass(), DAAtomTitle::staticClass(), DAAtomSummary::staticClass(),
                                  DAAtomContent::staticClass(), DAAtomRights::staticClass(), DALink::staticClass(),
                                  DAAtomAuthor::staticClass(), DAAtomContributor::staticClass(), DACategory::staticClass(),
                                  DADeleted::staticClass(), DAAtomPubControl::staticClass(),
                                  DAAtomPubEditedDate::staticClass(), DABatchOperation::staticClass(),
                                  DABatchID::staticClass(), DABatchStatus::staticClass(),
                                  DABatchInterrupted::staticClass()});
    addAttributeExtensionDeclaration(me, DAETagAttribute::staticClass());
    addAttributeExtensionDeclaration(me, DAFieldsAttribute::staticClass());
    addAttributeExtensionDeclaration(me, DAKindAttribute::staticClass());
}

bool DAEntryBase::isEqual(const DAExtensionItem &other) const {
    auto *o = dynamic_cast<const DAEntryBase *>(&other);
    if (!o)
        return false;
    if (this == o)
        return true;
    return DAObject::isEqual(other) && m_uploadData == o->m_uploadData &&
           DAUtilities::areEqualOrBothNil(m_uploadMIMEType, o->m_uploadMIMEType) &&
           DAUtilities::areEqualOrBothNil(m_uploadSlug, o->m_uploadSlug) &&
           m_shouldUploadDataOnly == o->m_shouldUploadDataOnly;
}

void DAEntryBase::copyInto(DAObject &target) const {
    DAObject::copyInto(target);
    auto &t = static_cast<DAEntryBase &>(target);
    t.m_uploadData = m_uploadData;
    t.m_uploadFilePath = m_uploadFilePath;
    t.m_uploadLocationURL = m_uploadLocationURL;
    t.m_uploadMIMEType = m_uploadMIMEType;
    t.m_uploadSlug = m_uploadSlug;
    t.m_shouldUploadDataOnly = m_shouldUploadDataOnly;
}

QStringList DAEntryBase::itemsForDescription() const {
    QStringList items = DAObject::itemsForDescription();
    using K = DADescriptionKind;
    const auto t = title();
    const auto s = summary();
    const auto c = content();
    const auto edited = editedDate();
    const auto operation = batchOperation();
    const auto id = batchID();
    const auto status = batchStatus();
    addDescriptionRecords(items, {
        {QStringLiteral("v"), serviceVersion()},
        {QStringLiteral("title"), t ? t->stringValue() : QString()},
        {QStringLiteral("summary"), s ? s->stringValue() : QString()},
        {QStringLiteral("content"), c ? c->stringValue() : QString()},
        {QStringLiteral("contentSrc"), c ? c->sourceURI() : QString()},
        {QStringLiteral("etag"), ETag()},
        {QStringLiteral("kind"), kind()},
        {QStringLiteral("fields"), fieldSelection()},
        {QStringLiteral("resourceID"), resourceID()},
        {QStringLiteral("authors"), authors().size(), K::CountIfNonZero},
        {QStringLiteral("contributors"), contributors().size(), K::CountIfNonZero},
        {QStringLiteral("categories"), categories().size(), K::CountIfNonZero},
        {QStringLiteral("links"), DALink::joinedLinkNames(links()), K::Literal},
        {QStringLiteral("edited"), edited ? edited->RFC3339String() : QString()},
        {QStringLiteral("id"), identifier()},
        {QStringLiteral("app:control"), atomPubControl()},
        {QStringLiteral("batchOp"), operation ? operation->type() : QString()},
        {QStringLiteral("batchID"), id ? id->stringValue() : QString()},
        {QStringLiteral("batchStatus"), status ? status->code() : std::nullopt},
        {QStringLiteral("batchInterrupted"), batchInterrupted()},
        {QStringLiteral("MIMEType"), m_uploadMIMEType},
        {QStringLiteral("slug"), m_uploadSlug},
        {QStringLiteral("uploadDataOnly"), m_shouldUploadDataOnly, K::YesIfTrue},
        {QStringLiteral("UploadData"), m_uploadData, K::LengthIfNonZero},
        {QStringLiteral("deleted"), isDeleted(), K::YesIfTrue},
    });
    return items;
}
