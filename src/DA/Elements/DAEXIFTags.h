#pragma once

#include "DA/BaseClasses/DAValueConstruct.h"

// One EXIF tag: any element with the "exif" prefix; its name is its
// element's local name, its value the text.
class DAEXIFTag : public DAValueElementConstruct {
    DA_CLASS(DAEXIFTag)
public:
    static std::shared_ptr<DAEXIFTag> tagWithName(const QString &name, const QString &value);
    QString name() const { return DAXMLNode::localNameForName(elementName()); }
};
using DAEXIFTagPtr = std::shared_ptr<DAEXIFTag>;

// exif:tags: the tags of a photo, in order. Only tags that were parsed or
// set are written.
class DAEXIFTags : public DAObject {
    DA_CLASS(DAEXIFTags)
public:
    static std::shared_ptr<DAEXIFTags> EXIFTags() { return object<DAEXIFTags>(); }
    QList<DAEXIFTagPtr> tags() const { return extensions<DAEXIFTag>(); }
    void setTags(const QList<DAEXIFTagPtr> &tags) { setObjects(QList<DAItemPtr>(tags.begin(), tags.end()), DAEXIFTag::staticClass()); }
    void addTag(const DAEXIFTagPtr &tag) { addObject(tag, DAEXIFTag::staticClass()); }
    // The first tag of that name.
    DAEXIFTagPtr tagWithName(const QString &name) const;
    QString valueForTagName(const QString &name) const;
    // Removes that first tag only (not others that happen to hold the same value).
    void removeTagWithName(const QString &name);
    void setTagWithName(const QString &name, const QString &value);
    // Name -> value; of two tags with one name, the first wins.
    QMap<QString, QString> tagDictionary() const;

    void addExtensionDeclarations() override { addExtensionDeclaration(objectClass(), DAEXIFTag::staticClass()); }
    DAXMLElementPtr XMLElement() const override { return XMLElementWithExtensionsAndDefaultName(QStringLiteral("exif:tags")); }
    QStringList itemsForDescription() const override;
};
