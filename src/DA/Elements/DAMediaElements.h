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
    std::optional<double> bitrate() const { return decimal(QStringLiteral("bitrate")); }
    void setBitrate(std::optional<double> v) { setDecimal(QStringLiteral("bitrate"), v); }
    std::optional<double> framerate() const { return decimal(QStringLiteral("framerate")); }
    void setFramerate(std::optional<double> v) { setDecimal(QStringLiteral("framerate"), v); }
    std::optional<double> samplingrate() const { return decimal(QStringLiteral("samplingrate")); }
    void setSamplingrate(std::optional<double> v) { setDecimal(QStringLiteral("samplingrate"), v); }
    std::optional<int> channels() const { return intNumberForAttribute(QStringLiteral("channels")); }
    void setChannels(std::optional<int> v) { setNumber(QStringLiteral("channels"), v); }
    std::optional<int> duration() const { return intNumberForAttribute(QStringLiteral("duration")); }
    void setDuration(std::optional<int> v) { setNumber(QStringLiteral("duration"), v); }
    QString lang() const { return stringValueForAttribute(QStringLiteral("lang")); }
    void setLang(const QString &v) { DAObject::setStringValue(v, QStringLiteral("lang")); }
    void addParseDeclarations() override;

private:
    std::optional<double> decimal(const QString &name) const;
    void setDecimal(const QString &name, std::optional<double> v);
};

class DAMediaThumbnail : public DAMediaObject {
    DA_CLASS(DAMediaThumbnail)
public:
    static std::shared_ptr<DAMediaThumbnail> thumbnailWithURLString(const QString &url);
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
#define DA_DECLARE_MEDIA_TEXT(Name)                                                                                   \
    class Name : public DAMediaObject {                                                                               \
        DA_CLASS(Name)                                                                                                \
    public:                                                                                                           \
        void addParseDeclarations() override;                                                                         \
    };
// A new object of the class holding the text (and a restriction's
// relationship and type).
std::shared_ptr<DAMediaObject> DAMediaTextWithString(DAClass cls, const QString &text);
DA_DECLARE_MEDIA_TEXT(DAMediaCategory)
DA_DECLARE_MEDIA_TEXT(DAMediaCredit)
DA_DECLARE_MEDIA_TEXT(DAMediaRating)
DA_DECLARE_MEDIA_TEXT(DAMediaRestriction)

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
};
