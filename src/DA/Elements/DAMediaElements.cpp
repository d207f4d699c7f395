#include "DA/Elements/DAMediaElements.h"

#include "DA/BaseClasses/DANamespaces.h"
#include "DA/BaseClasses/DAUtilities.h"

#include <QLocale>

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

std::optional<double> DAMediaContent::decimal(const QString &name) const {
    const QString text = stringValueForAttribute(name);
    if (text.isEmpty())
        return std::nullopt;
    bool ok = false;
    const double v = QLocale(QLocale::English, QLocale::UnitedStates).toDouble(text, &ok);
    return ok ? v : 0.0;
}

void DAMediaContent::setDecimal(const QString &name, std::optional<double> v) {
    DAObject::setStringValue(v ? QLocale(QLocale::English, QLocale::UnitedStates).toString(*v, 'g', 15).remove(QLatin1Char(','))
                               : QString(),
                             name);
}

std::shared_ptr<DAMediaThumbnail> DAMediaThumbnail::thumbnailWithURLString(const QString &url) {
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

std::shared_ptr<DAMediaObject> DAMediaTextWithString(DAClass cls, const QString &text) {
    auto o = std::dynamic_pointer_cast<DAMediaObject>(DAObject::objectOfClass(cls));
    if (o)
        o->setStringValue(text);
    return o;
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

QStringList DAMediaKeywords::keywordsFromString(const QString &text) {
    QStringList out;
    for (const QString &piece : text.split(QLatin1Char(','))) {
        const QString t = piece.trimmed();
        if (!t.isEmpty())
            out << t;
    }
    return out;
}

QString DAMediaKeywords::stringFromKeywords(const QStringList &keywords) {
    return keywords.isEmpty() ? QString() : keywords.join(QStringLiteral(", "));
}

void DAMediaKeywords::addKeyword(const QString &keyword) {
    const QString k = keyword.trimmed();
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
