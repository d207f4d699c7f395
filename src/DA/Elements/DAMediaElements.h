#pragma once

#include "DA/BaseClasses/DATextConstruct.h"
#include "DA/BaseClasses/DAValueConstruct.h"
#include "DA/Elements/DANormalPlayTime.h"

// Media RSS elements (prefix "media").

// Attribute helpers the media classes share.
class DAMediaObject : public DAObject {
    DA_CLASS(DAMediaObject)
public:
    QString URLString() const { return stringValueForAttribute(QStringLiteral("url")); }
    void setURLString(const QString &v) { DAObject::setStringValue(v, QStringLiteral("url")); }
    std::optional<int> height() const { return intNumberForAttribute(QStringLiteral("height")); }
    void setHeight(std::optional<int> v) { setNumber(QStringLiteral("height"), v); }
    std::optional<int> width() const { return intNumberForAttribute(QStringLiteral("width")); }
    void setWidth(std::optional<int> v) { setNumber(QStringLiteral("width"), v); }
    // The element text, for the classes that declare one.
    QString stringValue() const { return contentStringValue(); }
    void setStringValue(const QString &v) { setContentStringValue(v); }

protected:
    void setNumber(const QString &name, std::optional<qint64> v) {
        DAObject::setStringValue(v ? QString::number(*v) : QString(), name);
    }
};

class DAMediaContent : public DAMediaObject {
    DA_CLASS(DAMediaContent)
public:
    static std::shared_ptr<DAMediaContent> mediaContentWithURLString(const QString &url);
    std::optional<qint64> fileSize() const { return longLongNumberForAttribute(QStringLiteral("fileSize")); }
    void setFileSize(std::optional<qint64> v) { setNumber(QStringLiteral("fileSize"), v); }
    QString type() const { return stringValueForAttribute(QStringLiteral("type")); }
    void setType(const QString &v) { DAObject::setStringValue(v, QStringLiteral("type")); }
    QString medium() const { return stringValueForAttribute(QStringLiteral("medium")); }
    void setMedium(const QString &v) { DAObject::setStringValue(v, QStringLiteral("medium")); }
    // True when the attribute reads true; nothing otherwise.
    std::optional<bool> isDefault() const;
    void setIsDefault(bool v) { DAObject::setStringValue(v ? QStringLiteral("true") : QString(), QStringLiteral("isDefault")); }
    QString expression() const { return stringValueForAttribute(QStringLiteral("expression")); }
    void setExpression(const QString &v) { DAObject::setStringValue(v, QStringLiteral("expression")); }
    std::optional<double> bitrate() const { return decimalNumberForAttribute(QStringLiteral("bitrate")); }
    void setBitrate(std::optional<double> v) { setDecimalNumberValue(v, QStringLiteral("bitrate")); }
    std::optional<double> framerate() const { return decimalNumberForAttribute(QStringLiteral("framerate")); }
    void setFramerate(std::optional<double> v) { setDecimalNumberValue(v, QStringLiteral("framerate")); }
    std::optional<double> samplingrate() const { return decimalNumberForAttribute(QStringLiteral("samplingrate")); }
    void setSamplingrate(std::optional<double> v) { setDecimalNumberValue(v, QStringLiteral("samplingrate")); }
    std::optional<int> channels() const { return intNumberForAttribute(QStringLiteral("channels")); }
    void setChannels(std::optional<int> v) { setNumber(QStringLiteral("channels"), v); }
    std::optional<int> duration() const { return intNumberForAttribute(QStringLiteral("duration")); }
    void setDuration(std::optional<int> v) { setNumber(QStringLiteral("duration"), v); }
    QString lang() const { return stringValueForAttribute(QStringLiteral("lang")); }
    void setLang(const QString &v) { DAObject::setStringValue(v, QStringLiteral("lang")); }
    void addParseDeclarations() override;
};

class DAMediaThumbnail : public DAMediaObject {
    DA_CLASS(DAMediaThumbnail)
public:
    // A thumbnail with that URL text.
    static std::shared_ptr<DAMediaThumbnail> mediaContentWithURL(const QString &url);
    // Nothing for an empty attribute.
    std::optional<DANormalPlayTime> time() const;
    void setTime(const std::optional<DANormalPlayTime> &t) {
        DAObject::setStringValue(t ? t->HHMMSSString() : QString(), QStringLiteral("time"));
    }
    void addParseDeclarations() override;
};

class DAMediaPlayer : public DAMediaObject {
    DA_CLASS(DAMediaPlayer)
public:
    static std::shared_ptr<DAMediaPlayer> mediaPlayerWithURLString(const QString &url) {
        auto p = object<DAMediaPlayer>();
        p->setURLString(url);
        return p;
    }
    void addParseDeclarations() override;
};

// Elements with a text and some attributes.
class DAMediaCategory : public DAMediaObject {
    DA_CLASS(DAMediaCategory)
public:
    static std::shared_ptr<DAMediaCategory> mediaCategoryWithString(const QString &text);
    QString label() const { return stringValueForAttribute(QStringLiteral("label")); }
    void setLabel(const QString &v) { DAObject::setStringValue(v, QStringLiteral("label")); }
    QString scheme() const { return stringValueForAttribute(QStringLiteral("scheme")); }
    void setScheme(const QString &v) { DAObject::setStringValue(v, QStringLiteral("scheme")); }
    void addParseDeclarations() override;
};

class DAMediaCredit : public DAMediaObject {
    DA_CLASS(DAMediaCredit)
public:
    static std::shared_ptr<DAMediaCredit> mediaCreditWithString(const QString &text);
    QString role() const { return stringValueForAttribute(QStringLiteral("role")); }
    void setRole(const QString &v) { DAObject::setStringValue(v, QStringLiteral("role")); }
    QString scheme() const { return stringValueForAttribute(QStringLiteral("scheme")); }
    void setScheme(const QString &v) { DAObject::setStringValue(v, QStringLiteral("scheme")); }
    void addParseDeclarations() override;
};

class DAMediaRating : public DAMediaObject {
    DA_CLASS(DAMediaRating)
public:
    static std::shared_ptr<DAMediaRating> mediaRatingWithString(const QString &text);
    QString scheme() const { return stringValueForAttribute(QStringLiteral("scheme")); }
    void setScheme(const QString &v) { DAObject::setStringValue(v, QStringLiteral("scheme")); }
    void addParseDeclarations() override;
};

class DAMediaRestriction : public DAMediaObject {
    DA_CLASS(DAMediaRestriction)
public:
    static std::shared_ptr<DAMediaRestriction> mediaRestrictionWithString(const QString &text, const QString &relationship,
                                                                          const QString &type);
    QString relationship() const { return stringValueForAttribute(QStringLiteral("relationship")); }
    void setRelationship(const QString &v) { DAObject::setStringValue(v, QStringLiteral("relationship")); }
    QString type() const { return stringValueForAttribute(QStringLiteral("type")); }
    void setType(const QString &v) { DAObject::setStringValue(v, QStringLiteral("type")); }
    void addParseDeclarations() override;
};

DA_DECLARE_ELEMENT(DAMediaTitle, DATextConstruct)
DA_DECLARE_ELEMENT(DAMediaDescription, DATextConstruct)

// Comma-separated keywords.
class DAMediaKeywords : public DAValueElementConstruct {
    DA_CLASS(DAMediaKeywords)
public:
    static std::shared_ptr<DAMediaKeywords> keywordsWithStrings(const QStringList &keywords);
    static std::shared_ptr<DAMediaKeywords> keywordsWithString(const QString &text);
    QStringList keywords() const { return keywordsFromString(stringValue()); }
    void setKeywords(const QStringList &k) { setStringValue(stringFromKeywords(k)); }
    void addKeyword(const QString &keyword);
    // Split at ",", trimmed, empty pieces dropped.
    static QStringList keywordsFromString(const QString &text);
    // Joined by ", "; null for none.
    static QString stringFromKeywords(const QStringList &keywords);
    // Without white space and line ends at either end.
    static QString trimString(const QString &text);
    QStringList itemsForDescription() const override;
};

// media:group with its lists and single members.
class DAMediaGroup : public DAObject {
    DA_CLASS(DAMediaGroup)
public:
    static std::shared_ptr<DAMediaGroup> mediaGroup() { return object<DAMediaGroup>(); }
#define DA_MEDIA_LIST(getter, Setter, Adder, Cls)                                                                    \
    QList<std::shared_ptr<Cls>> getter() const { return extensions<Cls>(); }                                          \
    void Setter(const QList<std::shared_ptr<Cls>> &v) { setObjects(QList<DAItemPtr>(v.begin(), v.end()), Cls::staticClass()); } \
    void Adder(const std::shared_ptr<Cls> &v) { addObject(v, Cls::staticClass()); }
    DA_MEDIA_LIST(mediaContents, setMediaContents, addMediaContent, DAMediaContent)
    DA_MEDIA_LIST(mediaThumbnails, setMediaThumbnails, addMediaThumbnail, DAMediaThumbnail)
    DA_MEDIA_LIST(mediaCategories, setMediaCategories, addMediaCategory, DAMediaCategory)
    DA_MEDIA_LIST(mediaCredits, setMediaCredits, addMediaCredit, DAMediaCredit)
    DA_MEDIA_LIST(mediaPlayers, setMediaPlayers, addMediaPlayer, DAMediaPlayer)
    DA_MEDIA_LIST(mediaRatings, setMediaRatings, addMediaRating, DAMediaRating)
    DA_MEDIA_LIST(mediaRestrictions, setMediaRestrictions, addMediaRestriction, DAMediaRestriction)
#undef DA_MEDIA_LIST
    std::shared_ptr<DAMediaKeywords> mediaKeywords() const { return extension<DAMediaKeywords>(); }
    void setMediaKeywords(const std::shared_ptr<DAMediaKeywords> &k) { setObject(k, DAMediaKeywords::staticClass()); }
    std::shared_ptr<DAMediaTitle> mediaTitle() const { return extension<DAMediaTitle>(); }
    void setMediaTitle(const std::shared_ptr<DAMediaTitle> &t) { setObject(t, DAMediaTitle::staticClass()); }
    std::shared_ptr<DAMediaDescription> mediaDescription() const { return extension<DAMediaDescription>(); }
    void setMediaDescription(const std::shared_ptr<DAMediaDescription> &d) { setObject(d, DAMediaDescription::staticClass()); }
    void addExtensionDeclarations() override;
    QStringList itemsForDescription() const override;
};
