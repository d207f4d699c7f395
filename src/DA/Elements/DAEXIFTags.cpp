#include "DA/Elements/DAEXIFTags.h"

#include "DA/BaseClasses/DANamespaces.h"

DA_DEFINE_ELEMENT_CLASS(DAEXIFTag, DAValueElementConstruct, DANamespaces::exif(), "exif", "*")
DA_DEFINE_ELEMENT_CLASS(DAEXIFTags, DAObject, DANamespaces::exif(), "exif", "tags")

DAEXIFTagPtr DAEXIFTag::tagWithName(const QString &name, const QString &value) {
    auto tag = object<DAEXIFTag>();
    tag->setStringValue(value);
    tag->setElementName(QStringLiteral("exif:%1").arg(name));
    return tag;
}

DAEXIFTagPtr DAEXIFTags::tagWithName(const QString &name) const {
    for (const DAEXIFTagPtr &t : tags()) {
        if (t->name() == name)
            return t;
    }
    return nullptr;
}

QString DAEXIFTags::valueForTagName(const QString &name) const {
    DAEXIFTagPtr t = tagWithName(name);
    return t ? t->stringValue() : QString();
}

void DAEXIFTags::removeTagWithName(const QString &name) {
    DAEXIFTagPtr t = tagWithName(name);
    if (!t)
        return;
    QList<DAEXIFTagPtr> rest = tags();
    rest.removeOne(t);
    setTags(rest);
}

void DAEXIFTags::setTagWithName(const QString &name, const QString &value) {
    removeTagWithName(name);
    addTag(DAEXIFTag::tagWithName(name, value));
}

QMap<QString, QString> DAEXIFTags::tagDictionary() const {
    QMap<QString, QString> map;
    const QList<DAEXIFTagPtr> list = tags();
    for (auto it = list.rbegin(); it != list.rend(); ++it)
        map.insert((*it)->name(), (*it)->stringValue());
    return map;
}

QStringList DAEXIFTags::itemsForDescription() const {
    QStringList items = DAObject::itemsForDescription();
    QStringList tagTexts;
    for (const DAEXIFTagPtr &t : tags())
        tagTexts << QStringLiteral("%1:%2").arg(t->name(), t->stringValue());
    if (!tagTexts.isEmpty())
        items << QStringLiteral("tags:%1").arg(tagTexts.join(QLatin1Char(' ')));
    return items;
}
