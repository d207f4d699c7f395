// Objects built through their setters, written as XML and parsed back: each
// value lands in its element's namespace, lists keep their order, and a
// setter given nothing leaves no element behind.
#include "DA/BaseClasses/DAFeedBase.h"
#include "DA/BaseClasses/DANamespaces.h"
#include "DA/Elements/DAMediaElements.h"
#include "DA/Photos/DAPhotoEntries.h"
#include "DA/Photos/DAPhotoFeeds.h"

#include <QLocale>
#include <gtest/gtest.h>

namespace {

using namespace DANamespaces;

// Where a value is written: elements of that namespace and local name among
// the root's children, or (attribute) an attribute of the root.
struct Place {
    QString uri;
    QString local;
    int count = 1;
    bool attribute = false;
};

int countAt(const QByteArray &xml, const Place &place) {
    DAXMLDocumentPtr doc = DAXMLDocument::documentWithData(xml);
    if (!doc || !doc->rootElement())
        return -1;
    DAXMLElementPtr root = doc->rootElement();
    if (place.attribute)
        return root->attributeForLocalName(place.local, place.uri) ? 1 : 0;
    return int(root->elementsForLocalName(place.local, place.uri).size());
}

template <typename T>
struct Row {
    const char *what;
    std::function<void(T &)> set;  // through the setter under test
    Place place;
    std::function<QString(const T &)> read;
    QString expected;
    std::function<void(T &)> clear;  // the setter given nothing
};

template <typename T>
void checkRoundTrips(const QList<Row<T>> &rows, const std::function<std::shared_ptr<T>()> &make) {
    for (const Row<T> &row : rows) {
        SCOPED_TRACE(row.what);
        std::shared_ptr<T> object = make();
        row.set(*object);
        EXPECT_EQ(row.read(*object), row.expected);
        const QByteArray xml = object->XMLDocument()->XMLData();
        EXPECT_EQ(countAt(xml, row.place), row.place.count) << xml.constData();

        DAXMLDocumentPtr doc = DAXMLDocument::documentWithData(xml);
        auto parsed = std::dynamic_pointer_cast<T>(DAObject::objectWithXMLElement(object->objectClass(), doc->rootElement(), nullptr));
        ASSERT_TRUE(parsed);
        EXPECT_EQ(row.read(*parsed), row.expected) << xml.constData();
        EXPECT_TRUE(parsed->isEqual(*object)) << xml.constData();

        row.clear(*object);
        EXPECT_EQ(countAt(object->XMLDocument()->XMLData(), row.place), 0);
    }
}

template <typename T>
std::shared_ptr<T> text(const QString &value, const QString &type = QString()) {
    auto t = DATextConstruct::textConstructWithString<T>(value);
    t->setType(type);
    return t;
}

template <typename T>
std::shared_ptr<T> person(const QString &name) {
    return std::static_pointer_cast<T>(DAPerson::personWithName(T::staticClass(), name, name.toLower() + "@example.test"));
}

template <typename T>
QString names(const QList<std::shared_ptr<T>> &people) {
    QStringList out;
    for (const auto &p : people)
        out << p->name();
    return out.join(',');
}

QString textOf(const DATextConstructPtr &t) { return t ? t->stringValue() + '|' + t->type() : QString(); }
QString number(std::optional<int> n) { return n ? QString::number(*n) : QString(); }

QMap<QString, QString> feedNamespaces() {
    QMap<QString, QString> ns = DAEntryBase::baseDANamespaces();
    ns.insert(DAEntryBase::batchNamespaces());
    ns.insert(QStringLiteral("openSearch"), openSearch());
    return ns;
}

}  // namespace

TEST(DASetterRoundTrip, FeedMembers) {
    using F = DAFeedBase;
    const QList<Row<F>> rows = {
        {"title", [](F &f) { f.setTitle(text<DAAtomTitle>("Trip <b>", "html")); }, {atom(), "title"},
         [](const F &f) { return textOf(f.title()); }, "Trip <b>|html", [](F &f) { f.setTitle(nullptr); }},
        {"subtitle", [](F &f) { f.setSubtitle(text<DAAtomSubtitle>("Summer")); }, {atom(), "subtitle"},
         [](const F &f) { return textOf(f.subtitle()); }, "Summer|", [](F &f) { f.setSubtitle(nullptr); }},
        {"rights", [](F &f) { f.setRights(text<DAAtomRights>("Mine")); }, {atom(), "rights"},
         [](const F &f) { return textOf(f.rights()); }, "Mine|", [](F &f) { f.setRights(nullptr); }},
        {"links",
         [](F &f) {
             f.setLinks({DALink::linkWithRel("self", "application/atom+xml", "http://e.test/self"),
                         DALink::linkWithRel("alternate", "text/html", "http://e.test/html")});
         },
         {atom(), "link", 2},
         [](const F &f) {
             QStringList hrefs;
             for (const auto &l : f.links())
                 hrefs << l->href();
             return hrefs.join(',');
         },
         "http://e.test/self,http://e.test/html", [](F &f) { f.setLinks({}); }},
        {"authors",
         [](F &f) {
             f.setAuthors({person<DAAtomAuthor>("Zoe")});
             f.addAuthor(person<DAAtomAuthor>("Ann"));
         },
         {atom(), "author", 2}, [](const F &f) { return names(f.authors()); }, "Zoe,Ann", [](F &f) { f.setAuthors({}); }},
        {"contributors",
         [](F &f) {
             f.setContributors({person<DAAtomContributor>("Bob")});
             f.addContributor(person<DAAtomContributor>("Al"));
         },
         {atom(), "contributor", 2}, [](const F &f) { return names(f.contributors()); }, "Bob,Al",
         [](F &f) { f.setContributors({}); }},
        {"categories",
         [](F &f) { f.setCategories({DACategory::categoryWithScheme("urn:s", "b"), DACategory::categoryWithScheme("urn:s", "a")}); },
         {atom(), "category", 2},
         [](const F &f) {
             QStringList terms;
             for (const auto &c : f.categories())
                 terms << c->term();
             return terms.join(',');
         },
         "b,a", [](F &f) { f.setCategories({}); }},
        {"fields", [](F &f) { f.setFieldSelection("entry(title)"); }, {data(), "fields", 1, true},
         [](const F &f) { return f.fieldSelection(); }, "entry(title)", [](F &f) { f.setFieldSelection(QString()); }},
        {"resourceID", [](F &f) { f.setResourceID("album:7"); }, {data(), "resourceId"},
         [](const F &f) { return f.resourceID(); }, "album:7", [](F &f) { f.setResourceID(QString()); }},
        {"app:control",
         [](F &f) {
             // (A control of its own maker declares "app" itself, which the
             // feed's declaration makes redundant in the written document.)
             auto control = DAObject::object<DAAtomPubControl>();
             control->setIsDraft(true);
             f.setAtomPubControl(control);
         },
         {atomPub(), "control"}, [](const F &f) { return f.atomPubControl() && f.atomPubControl()->isDraft() ? "draft" : ""; },
         "draft", [](F &f) { f.setAtomPubControl(nullptr); }},
        {"batch:operation", [](F &f) { f.setBatchOperation(DABatchOperation::batchOperationWithType("update")); },
         {batch(), "operation"}, [](const F &f) { return f.batchOperation() ? f.batchOperation()->type() : QString(); },
         "update", [](F &f) { f.setBatchOperation(nullptr); }},
        {"startIndex", [](F &f) { f.setStartIndex(11); }, {openSearch(), "startIndex"},
         [](const F &f) { return number(f.startIndex()); }, "11", [](F &f) { f.setStartIndex(std::nullopt); }},
        {"itemsPerPage", [](F &f) { f.setItemsPerPage(25); }, {openSearch(), "itemsPerPage"},
         [](const F &f) { return number(f.itemsPerPage()); }, "25", [](F &f) { f.setItemsPerPage(std::nullopt); }},
    };
    checkRoundTrips<F>(rows, [] {
        auto feed = DAFeedBase::object<DAFeedBase>();
        feed->setNamespaces(feedNamespaces());
        return feed;
    });
}

TEST(DASetterRoundTrip, EntryAndPhotoMembers) {
    checkRoundTrips<DAEntryBase>(
        {{"batch:id", [](DAEntryBase &e) { e.setBatchIDWithString("item-1"); }, {batch(), "id"},
          [](const DAEntryBase &e) { return e.batchID() ? e.batchID()->stringValue() : QString(); }, "item-1",
          [](DAEntryBase &e) { e.setBatchIDWithString(QString()); }}},
        [] {
            auto entry = std::static_pointer_cast<DAEntryBase>(DAEntryBase::entryOfClass(DAEntryBase::staticClass()));
            entry->addNamespaces(DAEntryBase::batchNamespaces());
            return entry;
        });
    // The photo description is the entry's summary and the feed's subtitle.
    checkRoundTrips<DAEntryPhoto>(
        {{"entry description", [](DAEntryPhoto &e) { e.setPhotoDescription(text<DAAtomSummary>("At the lake")); },
          {atom(), "summary"}, [](const DAEntryPhoto &e) { return textOf(e.photoDescription()); }, "At the lake|",
          [](DAEntryPhoto &e) { e.setPhotoDescription(nullptr); }}},
        [] { return DAEntryPhoto::photoEntry(); });
    checkRoundTrips<DAFeedPhotoAlbum>(
        {{"feed description", [](DAFeedPhotoAlbum &f) { f.setPhotoDescription(text<DAAtomSubtitle>("Summer")); },
          {atom(), "subtitle"}, [](const DAFeedPhotoAlbum &f) { return textOf(f.photoDescription()); }, "Summer|",
          [](DAFeedPhotoAlbum &f) { f.setPhotoDescription(nullptr); }}},
        [] { return DAFeedPhotoAlbum::albumFeed(); });
}

TEST(DASetterRoundTrip, MediaGroupMembersFromTheirMakers) {
    using G = DAMediaGroup;
    // Decimal attributes are written in the en_US form whatever the user's locale.
    const QLocale userLocale;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const QList<Row<G>> rows = {
        {"categories",
         [](G &g) {
             g.addMediaCategory(DAMediaCategory::mediaCategoryWithString("nature"));
             g.addMediaCategory(DAMediaCategory::mediaCategoryWithString("lakes"));
         },
         {media(), "category", 2},
         [](const G &g) {
             QStringList out;
             for (const auto &c : g.mediaCategories())
                 out << c->stringValue();
             return out.join(',');
         },
         "nature,lakes", [](G &g) { g.setMediaCategories({}); }},
        {"credit and rating",
         [](G &g) {
             g.addMediaCredit(DAMediaCredit::mediaCreditWithString("Ann"));
             g.addMediaRating(DAMediaRating::mediaRatingWithString("nonadult"));
         },
         {media(), "rating"},
         [](const G &g) {
             auto credit = g.mediaCredits().value(0);
             auto rating = g.mediaRatings().value(0);
             return credit && rating ? credit->stringValue() + '|' + rating->stringValue() : QString();
         },
         "Ann|nonadult", [](G &g) { g.setMediaRatings({}); }},
        {"restriction",
         [](G &g) { g.addMediaRestriction(DAMediaRestriction::mediaRestrictionWithString("fr de", "allow", "country")); },
         {media(), "restriction"},
         [](const G &g) {
             auto r = g.mediaRestrictions().value(0);
             return r ? QStringList{r->stringValue(), r->relationship(), r->type()}.join('|') : QString();
         },
         "fr de|allow|country", [](G &g) { g.setMediaRestrictions({}); }},
        {"thumbnails",
         [](G &g) {
             g.addMediaThumbnail(DAMediaThumbnail::mediaContentWithURL("http://e.test/s72.jpg"));
             g.addMediaThumbnail(DAMediaThumbnail::mediaContentWithURL("http://e.test/s144.jpg"));
         },
         {media(), "thumbnail", 2},
         [](const G &g) {
             QStringList out;
             for (const auto &t : g.mediaThumbnails())
                 out << t->URLString();
             return out.join(',');
         },
         "http://e.test/s72.jpg,http://e.test/s144.jpg", [](G &g) { g.setMediaThumbnails({}); }},
        {"content bitrate",
         [](G &g) {
             auto c = DAMediaContent::mediaContentWithURLString("http://e.test/v.mp4");
             c->setBitrate(1234.5);
             g.addMediaContent(c);
         },
         {media(), "content"},
         [](const G &g) {
             auto c = g.mediaContents().value(0);
             return c ? c->stringValueForAttribute("bitrate") + '|' + QString::number(c->bitrate().value_or(0)) : QString();
         },
         "1234.5|1234.5", [](G &g) { g.setMediaContents({}); }},
    };
    checkRoundTrips<G>(rows, [] {
        auto group = DAMediaGroup::mediaGroup();
        group->setNamespaces({{QStringLiteral("media"), media()}});
        return group;
    });
    QLocale::setDefault(userLocale);
}
