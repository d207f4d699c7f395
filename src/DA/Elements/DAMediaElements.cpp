#include "DA/Elements/DAMediaElements.h"

#include "DA/BaseClasses/DANamespaces.h"
#include "DA/BaseClasses/DAUtilities.h"


using DANamespaces::media;

DA_DEFINE_CLASS(DAMediaObject, DAObject)
DA_DEFINE_ELEMENT_CLASS(DAMediaContent, DAMediaObject, media(), "media", "content")
DA_DEFINE_ELEMENT_CLASS(DAMediaThumbnail, DAMediaObject, media(), "media", "thumbnail")
DA_DEFINE_ELEMENT_CLASS(DAMediaPlayer, DAMediaObject, media(), "media", "player")
DA_DEFINE_ELEMENT_CLASS(DAMediaCategory, DAMediaObject, media(), "media", "category")
DA_DEFINE_ELEMENT_CLASS(DAMediaCredit, DAMediaObject, media(), "media", "credit")
DA_DEFINE_ELEMENT_CLASS(DAMediaRating, DAMediaObject, media(), "media", "rating")
DA_DEFINE_ELEMENT_CLASS(DAMediaRestriction, DAMediaObject, media(), "media", "restriction")
DA_DEFINE_ELEMENT_CLASS(DAMediaTitle, DATextConstruct, media(), "media", "title")
DA_DEFINE_ELEMENT_CLASS(DAMediaDescription, DATextConstruct, media(), "media", "description")
DA_DEFINE_ELEMENT_CLASS(DAMediaKeywords, DAValueElementConstruct, media(), "media", "keywords")
DA_DEFINE_ELEMENT_CLASS(DAMediaGroup, DAObject, media(), "media", "group")

std::shared_ptr<DAMediaContent> DAMediaContent::mediaContentWithURLString(const QString &url) {
    auto c = object<DAMediaContent>();
    c->setURLString(url);
    return c;
}

void DAMediaContent::addParseDeclarations() {
    addLocalAttributeDeclarations({QStringLiteral("url"), QStringLiteral("fileSize"), QStringLiteral("type"),
                                   QStringLiteral("medium"), QStringLiteral("isDefault"), QStringLiteral("expression"),
                                   QStringLiteral("bitrate"), QStringLiteral("framerate"), QStringLiteral("samplingrate"),
                                   QStringLiteral("channels"), QStringLiteral("duration"), QStringLiteral("height"),
                                   QStringLiteral("width"), QStringLiteral("lang")});
}

std::optional<bool> DAMediaContent::isDefault() const {
    if (boolValueForAttribute(QStringLiteral("isDefault"), false))
        return true;
    return std::nullopt;
}

std::shared_ptr<DAMediaThumbnail> DAMediaThumbnail::mediaContentWithURL(const QString &url) {
    auto t = object<DAMediaThumbnail>();
    t->setURLString(url);
    return t;
}

std::optional<DANormalPlayTime> DAMediaThumbnail::time() const {
    const QString text = stringValueForAttribute(QStringLiteral("time"));
    if (text.isEmpty())
        return std::nullopt;
    return DANormalPlayTime::normalPlayTimeWithString(text);
}

void DAMediaThumbnail::addParseDeclarations() {
    addLocalAttributeDeclarations(
        {QStringLiteral("url"), QStringLiteral("height"), QStringLiteral("width"), QStringLiteral("time")});
}

void DAMediaPlayer::addParseDeclarations() {
    addLocalAttributeDeclarations({QStringLiteral("url"), QStringLiteral("height"), QStringLiteral("width")});
}

namespace {

template <typename T>
std::shared_ptr<T> mediaTextWithString(const QString &text) {
    auto o = DAObject::object<T>();
    o->setStringValue(text);
    return o;
}

}  // namespace

std::shared_ptr<DAMediaCategory> DAMediaCategory::mediaCategoryWithString(const QString &text) {
    return mediaTextWithString<DAMediaCategory>(text);
}
std::shared_ptr<DAMediaCredit> DAMediaCredit::mediaCreditWithString(const QString &text) {
    return mediaTextWithString<DAMediaCredit>(text);
}
std::shared_ptr<DAMediaRating> DAMediaRating::mediaRatingWithString(const QString &text) {
    return mediaTextWithString<DAMediaRating>(text);
}
std::shared_ptr<DAMediaRestriction> DAMediaRestriction::mediaRestrictionWithString(const QString &text,
                                                                                   const QString &relationship,
                                                                                   const QString &type) {
    auto r = mediaTextWithString<DAMediaRestriction>(text);
    r->setRelationship(relationship);
    r->setType(type);
    return r;
}

void DAMediaCategory::addParseDeclarations() {
    addLocalAttributeDeclarations({QStringLiteral("label"), QStringLiteral("scheme")});
    addContentValueDeclaration();
}
void DAMediaCredit::addParseDeclarations() {
    addLocalAttributeDeclarations({QStringLiteral("role"), QStringLiteral("scheme")});
    addContentValueDeclaration();
}
void DAMediaRating::addParseDeclarations() {
    addLocalAttributeDeclarations({QStringLiteral("scheme")});
    addContentValueDeclaration();
}
void DAMediaRestriction::addParseDeclarations() {
    addLocalAttributeDeclarations({QStringLiteral("relationship"), QStringLiteral("type")});
    addContentValueDeclaration();
}

std::shared_ptr<DAMediaKeywords> DAMediaKeywords::keywordsWithStrings(const QStringList &keywords) {
    auto k = object<DAMediaKeywords>();
    k->setKeywords(keywords);
    return k;
}

std::shared_ptr<DAMediaKeywords> DAMediaKeywords::keywordsWithString(const QString &text) {
    return keywordsWithStrings(keywordsFromString(text));
}

QString DAMediaKeywords::trimString(const QString &text) { return text.trimmed(); }

QStringList DAMediaKeywords::keywordsFromString(const QString &text) {
    QStringList out;
    for (const QString &piece : text.split(QLatin1Char(','))) {
        const QString t = trimString(piece);
        if (!t.isEmpty())
            out << t;
    }
    return out;
}

QString DAMediaKeywords::stringFromKeywords(const QStringList &keywords) {
    return keywords.isEmpty() ? QString() : keywords.join(QStringLiteral(", "));
}

void DAMediaKeywords::addKeyword(const QString &keyword) {
    const QString k = trimString(keyword);
    if (k.isEmpty())
        return;
    QStringList list = keywords();
    if (list.contains(k))
        return;
    list << k;
    setKeywords(list);
}

void DAMediaGroup::addExtensionDeclarations() {
    addExtensionDeclarationsForParent(
        objectClass(), {DAMediaContent::staticClass(), DAMediaCategory::staticClass(), DAMediaCredit::staticClass(),
                        DAMediaDescription::staticClass(), DAMediaPlayer::staticClass(), DAMediaRating::staticClass(),
                        DAMediaRestriction::staticClass(), DAMediaThumbnail::staticClass(),
                        DAMediaKeywords::staticClass(), DAMediaTitle::staticClass()});
}

QStringList DAMediaKeywords::itemsForDescription() const {
    QStringList items = DAObject::itemsForDescription();
    addDescriptionRecords(items, {{QStringLiteral("keywords"), stringFromKeywords(keywords())}});
    return items;
}

QStringList DAMediaGroup::itemsForDescription() const {
    QStringList items = DAObject::itemsForDescription();
    using K = DADescriptionKind;
    addDescriptionRecords(items, {
        {QStringLiteral("categories"), mediaCategories(), K::ListIfNonEmpty},
        {QStringLiteral("contents"), mediaContents(), K::ListIfNonEmpty},
        {QStringLiteral("credits"), mediaCredits(), K::ListIfNonEmpty},
        {QStringLiteral("thumbnails"), mediaThumbnails(), K::ListIfNonEmpty},
        {QStringLiteral("players"), mediaPlayers(), K::ListIfNonEmpty},
        {QStringLiteral("ratings"), mediaRatings(), K::ListIfNonEmpty},
        {QStringLiteral("keywords"), mediaKeywords()},
        {QStringLiteral("description"), mediaDescription()},
        {QStringLiteral("title"), mediaTitle()},
    });
    return items;
}
