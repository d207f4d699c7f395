// Debugging descriptions made from tables of records: each kind of record,
// labels bound to service versions, and the entry, feed and link tables.
#include "DA/BaseClasses/DAFeedBase.h"
#include "DA/BaseClasses/DANamespaces.h"

#include <QRegularExpression>
#include <gtest/gtest.h>

namespace {

// Addresses vary from run to run: "DAEntryBase 5582…" reads "DAEntryBase @".
QString masked(const QString &description) {
    static const QRegularExpression address(QStringLiteral("\\b([A-Z][A-Za-z]+) [0-9a-f]{6,}\\b"));
    return QString(description).replace(address, QStringLiteral("\\1 @"));
}

// An entry that shows one item from service version 2.0 on and another up
// to version 1.0.
class VersionedEntry : public DAEntryBase {
    DA_CLASS(VersionedEntry)
public:
    QStringList itemsForDescription() const override {
        QStringList items = DAEntryBase::itemsForDescription();
        addDescriptionRecords(items, {{QStringLiteral("version>=2.0:albums"), QStringLiteral("3")},
                                      {QStringLiteral("version<=1.0:legacy"), QStringLiteral("on")}});
        return items;
    }
};
DA_DEFINE_CLASS(VersionedEntry, DAEntryBase)

template <typename T>
std::shared_ptr<T> person(const QString &name) {
    return std::static_pointer_cast<T>(DAPerson::personWithName(T::staticClass(), name, QString()));
}

DAEntryBasePtr fullEntry() {
    auto e = std::static_pointer_cast<DAEntryBase>(DAEntryBase::entryOfClass(DAEntryBase::staticClass()));
    e->setServiceVersion("2.0");
    e->setTitleWithString("T");
    e->setSummaryWithString("S");
    e->setContent(std::static_pointer_cast<DAAtomContent>(
        DAEntryContent::contentWithSourceURI(DAAtomContent::staticClass(), "http://e.test/p.jpg", "image/jpeg")));
    e->setETag("\"e1\"");
    e->setKind("k#photo");
    e->setFieldSelection("title");
    e->setResourceID("photo:1");
    e->setAuthors({person<DAAtomAuthor>("A"), person<DAAtomAuthor>("B")});
    e->addContributor(person<DAAtomContributor>("C"));
    e->addCategory(DACategory::categoryWithScheme("urn:s", "t"));
    e->addLink(DALink::linkWithRel("edit", QString(), "http://e.test/edit"));
    e->addLink(DALink::linkWithRel(DANamespaces::data() + "#feed", QString(), "http://e.test/feed"));
    e->setEditedDate(DADateTime::dateTimeWithRFC3339String("2013-05-01T10:00:00Z"));
    e->setIdentifier("urn:e:1");
    auto control = DAObject::object<DAAtomPubControl>();
    control->setIsDraft(true);
    e->setAtomPubControl(control);
    e->setBatchOperation(DABatchOperation::batchOperationWithType("insert"));
    e->setBatchIDWithString("b1");
    e->setBatchStatus(DABatchStatus::batchStatusWithCode(201, "Created"));
    auto interrupted = DABatchInterrupted::batchInterrupted();
    interrupted->setReason("r");
    e->setBatchInterrupted(interrupted);
    e->setUploadMIMEType("image/jpeg");
    e->setUploadSlug("a b.jpg");
    e->setShouldUploadDataOnly(true);
    e->setUploadData("abc");
    e->setIsDeleted(true);
    return e;
}

DAFeedBasePtr fullFeed() {
    auto f = DAFeedBase::object<DAFeedBase>();
    f->setServiceVersion("2.0");
    f->addEntry(DAEntryBase::object<DAEntryBase>());
    f->addEntry(DAEntryBase::object<DAEntryBase>());
    f->setETag("W/\"f\"");
    f->setKind("k#album");
    f->setFieldSelection("entry(title)");
    f->setResourceID("album:7");
    f->setTitleWithString("Trip");
    f->setSubtitleWithString("Summer");
    f->setRightsWithString("Mine");
    f->setUpdatedDate(DADateTime::dateTimeWithRFC3339String("2013-05-01T10:00:00Z"));
    f->addAuthor(person<DAAtomAuthor>("A"));
    f->addContributor(person<DAAtomContributor>("C"));
    f->addCategory(DACategory::categoryWithScheme("urn:s", "t"));
    f->addLink(DALink::linkWithRel("self", QString(), "http://e.test/self"));
    f->addLink(DALink::linkWithRel(DANamespaces::data() + "#post", QString(), "http://e.test/post"));
    f->setIdentifier("urn:f:1");
    return f;
}

DAObjectPtr versioned(const QString &version) {
    auto e = std::make_shared<VersionedEntry>();
    e->initWithServiceVersion(version);
    return e;
}

}  // namespace

TEST(DADescriptionRecords, EachKindShowsItsValueOrNothing) {
    using K = DADescriptionKind;
    const QList<DACategoryPtr> two{DACategory::categoryWithScheme("urn:s", "a"), DACategory::categoryWithScheme("urn:s", "b")};
    const struct {
        DADescriptionRecord record;
        QString item;  // null: no item
    } cases[] = {
        {{"l", QStringLiteral("x")}, "l:x"},
        {{"l", QString()}, QString()},
        {{"l", QStringLiteral("x"), K::LabelIfPresent}, "l"},
        {{"l", QString(), K::LabelIfPresent}, QString()},
        {{"l", qint64(3), K::CountIfNonZero}, "l:3"},
        {{"l", qint64(0), K::CountIfNonZero}, QString()},
        {{"l", two, K::ListIfNonEmpty},
         "l:(DACategory @: {scheme:urn:s term:a}, DACategory @: {scheme:urn:s term:b})"},
        {{"l", QList<DACategoryPtr>(), K::ListIfNonEmpty}, QString()},
        {{"l", true, K::YesNo}, "l:YES"},
        {{"l", false, K::YesNo}, "l:NO"},
        {{"l", true, K::YesIfTrue}, "l:YES"},
        {{"l", false, K::YesIfTrue}, QString()},
        {{"l", QByteArray("abcd"), K::LengthIfNonZero}, "l:#4"},
        {{"l", QByteArray(), K::LengthIfNonZero}, QString()},
        {{"l", QStringLiteral("ab"), K::LengthIfNonZero}, "l:#2"},
        {{"l", QStringLiteral("edit,feed"), K::Literal}, "l:edit,feed"},
        {{"l", QString(), K::Literal}, QString()},
        // Numbers read off elements that may be absent; a truth as a number.
        {{"l", std::optional<qint64>(4294967296)}, "l:4294967296"},
        {{"l", std::optional<int>()}, QString()},
        {{"l", std::optional<bool>(false)}, "l:0"},
    };
    for (const auto &c : cases) {
        const QString item = c.record.item();
        EXPECT_EQ(masked(item), c.item) << int(c.record.kind) << " " << item.toStdString();
        EXPECT_EQ(item.isNull(), c.item.isNull()) << int(c.record.kind);
    }
}

TEST(DADescriptionRecords, VersionLabelsHoldOnlyForTheirServiceVersions) {
    const struct {
        const char *version;
        const char *description;
    } cases[] = {
        {"1.0", "VersionedEntry @: {v:1.0 legacy:on}"},
        {"1.5", "VersionedEntry @: {v:1.5}"},
        {"2.0", "VersionedEntry @: {v:2.0 albums:3}"},
        {"2.1", "VersionedEntry @: {v:2.1 albums:3}"},
    };
    for (const auto &c : cases) {
        const QString description = masked(versioned(c.version)->description());
        EXPECT_EQ(description, c.description) << c.version << ": " << description.toStdString();
    }
}

TEST(DADescriptionRecords, EntryFeedAndLinkTables) {
    auto textEntry = std::static_pointer_cast<DAEntryBase>(DAEntryBase::entryOfClass(DAEntryBase::staticClass()));
    textEntry->setContentWithString("hello");

    auto inner = DAEntryBase::object<DAEntryBase>();
    inner->setTitleWithString("Inner");
    auto entryLink = DAEntryLink::entryLinkWithHref("http://e.test/e", true);
    entryLink->setEntry(inner);

    auto innerFeed = DAFeedBase::object<DAFeedBase>();
    innerFeed->setIdentifier("urn:f:2");
    auto feedLink = DAFeedLink::feedLinkWithHref("http://e.test/f", true);
    feedLink->setRel("r");
    feedLink->setCountHint(12);
    feedLink->setFeed(innerFeed);

    const struct {
        const char *what;
        DAObjectPtr object;
        QString description;
    } cases[] = {
        // Nothing set: zero counts, false flags, empty data and absent values show nothing.
        {"empty entry", DAEntryBase::object<DAEntryBase>(), "DAEntryBase @"},
        {"text content", textEntry, "DAEntryBase @: {content:hello}"},
        {"full entry", fullEntry(),
         "DAEntryBase @: {v:2.0 title:T summary:S contentSrc:http://e.test/p.jpg etag:\"e1\" kind:k#photo fields:title "
         "resourceID:photo:1 authors:2 contributors:1 categories:1 links:edit,feed edited:2013-05-01T10:00:00Z id:urn:e:1 "
         "app:control:DAAtomPubControl @: {isDraft:yes} batchOp:insert batchID:b1 batchStatus:201 "
         "batchInterrupted:DABatchInterrupted @: {reason:r} MIMEType:image/jpeg slug:a b.jpg uploadDataOnly:YES "
         "UploadData:#3 deleted:YES}"},
        {"full feed", fullFeed(),
         "DAFeedBase @: {v:2.0 entries:2 etag:W/\"f\" kind:k#album fields:entry(title) resourceID:album:7 title:Trip "
         "subtitle:Summer rights:Mine updated:2013-05-01T10:00:00Z authors:1 contributors:1 categories:1 links:self,post "
         "id:urn:f:1}"},
        // The links' own attributes come first, from the object model.
        {"entry link", entryLink,
         "DAEntryLink @: {href:http://e.test/e readOnly:true entry:DAEntryBase @: {title:Inner}}"},
        {"feed link", feedLink,
         "DAFeedLink @: {countHint:12 href:http://e.test/f readOnly:true rel:r href:http://e.test/f readOnly:YES "
         "countHint:12 feed:DAFeedBase @: {id:urn:f:2} rel:r}"},
    };
    for (const auto &c : cases) {
        const QString description = masked(c.object->description());
        EXPECT_EQ(description, c.description) << c.what << ": " << description.toStdString();
    }
}
