#pragma once

#include "DA/BaseClasses/DALink.h"
#include "DA/Elements/DAAtomElements.h"
#include "DA/Elements/DACategory.h"
#include "DA/Elements/DAGenerator.h"

#include "DA/HTTPFetcher/HFInputStream.h"

#include <QByteArray>
#include <QMap>
#include <QUrl>

class DAEntryBase;
using DAEntryBasePtr = std::shared_ptr<DAEntryBase>;

// One atom:entry: its Atom, AtomPub, data-API and batch elements and what
// an upload of its media needs.
class DAEntryBase : public DAObject {
    DA_CLASS(DAEntryBase)
public:
    // An empty entry of the class with the base namespaces.
    static DAObjectPtr entryOfClass(DAClass cls);
    static QMap<QString, QString> baseDANamespaces();
    static QMap<QString, QString> batchNamespaces();

    // The kind a new entry of the class carries (category term, gd:kind).
    virtual QString standardEntryKind() const { return QString(); }
    virtual QString standardKindAttributeValue() const { return QString(); }
    void init() override;

    QString resourceID() const { return valueText<DAResourceID>(); }
    void setResourceID(const QString &v) { setValueText<DAResourceID>(v); }
    QString identifier() const { return valueText<DAAtomID>(); }
    void setIdentifier(const QString &v) { setValueText<DAAtomID>(v); }
    DADateTimePtr publishedDate() const { return valueDate<DAAtomPublishedDate>(); }
    void setPublishedDate(const DADateTimePtr &v) { setValueDate<DAAtomPublishedDate>(v); }
    DADateTimePtr updatedDate() const { return valueDate<DAAtomUpdatedDate>(); }
    void setUpdatedDate(const DADateTimePtr &v) { setValueDate<DAAtomUpdatedDate>(v); }
    DADateTimePtr editedDate() const { return valueDate<DAAtomPubEditedDate>(); }
    void setEditedDate(const DADateTimePtr &v) { setValueDate<DAAtomPubEditedDate>(v); }
    std::shared_ptr<DAAtomTitle> title() const { return extension<DAAtomTitle>(); }
    void setTitle(const std::shared_ptr<DAAtomTitle> &v) { setObject(v, DAAtomTitle::staticClass()); }
    void setTitleWithString(const QString &v);
    std::shared_ptr<DAAtomSummary> summary() const { return extension<DAAtomSummary>(); }
    void setSummary(const std::shared_ptr<DAAtomSummary> &v) { setObject(v, DAAtomSummary::staticClass()); }
    void setSummaryWithString(const QString &v);
    DAAtomContentPtr content() const { return extension<DAAtomContent>(); }
    void setContent(const DAAtomContentPtr &v) { setObject(v, DAAtomContent::staticClass()); }
    void setContentWithString(const QString &v);
    std::shared_ptr<DAAtomRights> rightsString() const { return extension<DAAtomRights>(); }
    void setRightsString(const std::shared_ptr<DAAtomRights> &v) { setObject(v, DAAtomRights::staticClass()); }
    void setRightsStringWithString(const QString &v);
    QList<DALinkPtr> links() const { return extensions<DALink>(); }
    void setLinks(const QList<DALinkPtr> &v) { setExtensionList<DALink>(v); }
    void addLink(const DALinkPtr &v) { addObject(v, DALink::staticClass()); }
    void removeLink(const DALinkPtr &v) { removeObject(v, DALink::staticClass()); }
    QList<std::shared_ptr<DAAtomAuthor>> authors() const { return extensions<DAAtomAuthor>(); }
    void setAuthors(const QList<std::shared_ptr<DAAtomAuthor>> &v) { setExtensionList<DAAtomAuthor>(v); }
    void addAuthor(const std::shared_ptr<DAAtomAuthor> &v) { addObject(v, DAAtomAuthor::staticClass()); }
    QList<std::shared_ptr<DAAtomContributor>> contributors() const { return extensions<DAAtomContributor>(); }
    void setContributors(const QList<std::shared_ptr<DAAtomContributor>> &v) { setExtensionList<DAAtomContributor>(v); }
    void addContributor(const std::shared_ptr<DAAtomContributor> &v) { addObject(v, DAAtomContributor::staticClass()); }
    QList<DACategoryPtr> categories() const { return extensions<DACategory>(); }
    void setCategories(const QList<DACategoryPtr> &v) { setExtensionList<DACategory>(v); }
    void addCategory(const DACategoryPtr &v) { addObject(v, DACategory::staticClass()); }
    void removeCategory(const DACategoryPtr &v) { removeObject(v, DACategory::staticClass()); }
    bool isDeleted() const { return objectForExtensionClass(DADeleted::staticClass()) != nullptr; }
    void setIsDeleted(bool on) { setObject(on ? DADeleted::deleted() : nullptr, DADeleted::staticClass()); }
    std::shared_ptr<DAAtomPubControl> atomPubControl() const { return extension<DAAtomPubControl>(); }
    void setAtomPubControl(const std::shared_ptr<DAAtomPubControl> &v) { setObject(v, DAAtomPubControl::staticClass()); }
    std::shared_ptr<DABatchOperation> batchOperation() const { return extension<DABatchOperation>(); }
    void setBatchOperation(const std::shared_ptr<DABatchOperation> &v) { setObject(v, DABatchOperation::staticClass()); }
    std::shared_ptr<DABatchID> batchID() const { return extension<DABatchID>(); }
    void setBatchID(const std::shared_ptr<DABatchID> &v) { setObject(v, DABatchID::staticClass()); }
    void setBatchIDWithString(const QString &v) { setBatchID(v.isNull() ? nullptr : DABatchID::batchIDWithString(v)); }
    std::shared_ptr<DABatchStatus> batchStatus() const { return extension<DABatchStatus>(); }
    void setBatchStatus(const std::shared_ptr<DABatchStatus> &v) { setObject(v, DABatchStatus::staticClass()); }
    std::shared_ptr<DABatchInterrupted> batchInterrupted() const { return extension<DABatchInterrupted>(); }
    void setBatchInterrupted(const std::shared_ptr<DABatchInterrupted> &v) { setObject(v, DABatchInterrupted::staticClass()); }
    QString ETag() const { return attributeValueForExtensionClass(DAETagAttribute::staticClass()); }
    void setETag(const QString &v) { setAttributeValue(v, DAETagAttribute::staticClass()); }
    QString fieldSelection() const { return attributeValueForExtensionClass(DAFieldsAttribute::staticClass()); }
    void setFieldSelection(const QString &v) { setAttributeValue(v, DAFieldsAttribute::staticClass()); }
    QString kind() const { return attributeValueForExtensionClass(DAKindAttribute::staticClass()); }
    void setKind(const QString &v) { setAttributeValue(v, DAKindAttribute::staticClass()); }

    QList<DACategoryPtr> categoriesWithScheme(const QString &scheme) const;
    DACategoryPtr kindCategory() const;
    QList<DALinkPtr> linksWithRelAttributeValue(const QString &rel) const;
    DALinkPtr linkWithRelAttributeValue(const QString &rel) const { return DALink::linkWithRel(rel, QString(), links()); }
    DALinkPtr linkWithRelAttributeValue(const QString &rel, const QString &type) const {
        return DALink::linkWithRel(rel, type, links());
    }
    DALinkPtr feedLink() const;
    DALinkPtr editLink() const { return linkWithRelAttributeValue(QStringLiteral("edit")); }
    DALinkPtr editMediaLink() const { return linkWithRelAttributeValue(QStringLiteral("edit-media")); }
    DALinkPtr alternateLink() const { return linkWithRelAttributeValue(QStringLiteral("alternate")); }
    DALinkPtr relatedLink() const { return linkWithRelAttributeValue(QStringLiteral("related")); }
    DALinkPtr postLink() const;
    DALinkPtr selfLink() const { return linkWithRelAttributeValue(QStringLiteral("self")); }
    DALinkPtr HTMLLink() const { return linkWithRelAttributeValue(QStringLiteral("alternate"), QStringLiteral("text/html")); }
    DALinkPtr uploadEditLink() const;
    bool canEdit() const { return editLink() != nullptr; }

    // Upload.
    const QByteArray &uploadData() const { return m_uploadData; }
    void setUploadData(const QByteArray &data) { m_uploadData = data; }
    const QString &uploadFilePath() const { return m_uploadFilePath; }
    void setUploadFilePath(const QString &path) { m_uploadFilePath = path; }
    const QUrl &uploadLocationURL() const { return m_uploadLocationURL; }
    void setUploadLocationURL(const QUrl &url) { m_uploadLocationURL = url; }
    const QString &uploadMIMEType() const { return m_uploadMIMEType; }
    void setUploadMIMEType(const QString &type) { m_uploadMIMEType = type; }
    // Stored percent-encoded (UTF-8 bytes beyond ASCII, controls and "%").
    const QString &uploadSlug() const { return m_uploadSlug; }
    void setUploadSlug(const QString &slug);
    bool shouldUploadDataOnly() const { return m_shouldUploadDataOnly; }
    void setShouldUploadDataOnly(bool on) { m_shouldUploadDataOnly = on; }
    // Content-Type, MIME-Version, Slug, up to the first missing value, in order.
    QList<QPair<QString, QString>> contentHeaders() const;
    // The upload body: the media alone (shouldUploadDataOnly), or a
    // multipart/related document of the entry's XML and the media; without
    // media or MIME type, the entry's XML document alone.
    struct UploadBody {
        std::shared_ptr<HFInputStream> stream;
        qint64 length = 0;
        QList<QPair<QString, QString>> headers;
    };
    UploadBody generateContentInputStream() const;

    // Registry.
    static void registerEntryClass(DAClass cls);
    static void registerEntryClass(DAClass cls, const QString &scheme, const QString &term);
    static DAClass entryClassForCategory(const QString &scheme, const QString &term);
    static DAClass entryClassForKindAttributeValue(const QString &value);

    void addExtensionDeclarations() override;
    DAXMLElementPtr XMLElement() const override { return XMLElementWithExtensionsAndDefaultName(QStringLiteral("entry")); }
    bool isEqual(const DAExtensionItem &other) const override;
    QStringList itemsForDescription() const override;

protected:
    void copyInto(DAObject &target) const override;

private:
    QByteArray m_uploadData;
    QString m_uploadFilePath;
    QUrl m_uploadLocationURL;
    QString m_uploadMIMEType;
    QString m_uploadSlug;
    bool m_shouldUploadDataOnly = false;
};
