#include "DA/Elements/DAAtomElements.h"

#include "DA/BaseClasses/DANamespaces.h"

using namespace DANamespaces;

DA_DEFINE_ELEMENT_CLASS(DAAtomID, DAValueElementConstruct, atom(), "atom", "id")
DA_DEFINE_ELEMENT_CLASS(DAAtomPublishedDate, DAValueElementConstruct, atom(), "atom", "published")
DA_DEFINE_ELEMENT_CLASS(DAAtomUpdatedDate, DAValueElementConstruct, atom(), "atom", "updated")
DA_DEFINE_ELEMENT_CLASS(DAAtomTitle, DATextConstruct, atom(), "atom", "title")
DA_DEFINE_ELEMENT_CLASS(DAAtomSubtitle, DATextConstruct, atom(), "atom", "subtitle")
DA_DEFINE_ELEMENT_CLASS(DAAtomSummary, DATextConstruct, atom(), "atom", "summary")
DA_DEFINE_ELEMENT_CLASS(DAAtomRights, DATextConstruct, atom(), "atom", "rights")
DA_DEFINE_ELEMENT_CLASS(DAAtomAuthor, DAPerson, atom(), "atom", "author")
DA_DEFINE_ELEMENT_CLASS(DAAtomContributor, DAPerson, atom(), "atom", "contributor")
DA_DEFINE_ELEMENT_CLASS(DAAtomIcon, DAValueElementConstruct, atom(), "atom", "icon")
DA_DEFINE_ELEMENT_CLASS(DAAtomLogo, DAValueElementConstruct, atom(), "atom", "logo")
DA_DEFINE_ELEMENT_CLASS(DAAtomPubEditedDate, DAValueElementConstruct, atomPub(), "app", "edited")
DA_DEFINE_ELEMENT_CLASS(DAAtomPubDraft, DAValueElementConstruct, atomPub(), "app", "draft")
DA_DEFINE_ELEMENT_CLASS(DAOpenSearchTotalResults, DAValueElementConstruct, openSearch(), "openSearch", "totalResults")
DA_DEFINE_ELEMENT_CLASS(DAOpenSearchStartIndex, DAValueElementConstruct, openSearch(), "openSearch", "startIndex")
DA_DEFINE_ELEMENT_CLASS(DAOpenSearchItemsPerPage, DAValueElementConstruct, openSearch(), "openSearch", "itemsPerPage")
DA_DEFINE_ELEMENT_CLASS(DAResourceID, DAValueElementConstruct, data(), "gd", "resourceId")
DA_DEFINE_ELEMENT_CLASS(DADeleted, DAImplicitValueConstruct, data(), "gd", "deleted")
DA_DEFINE_ELEMENT_CLASS(DAETagAttribute, DAAttribute, data(), "gd", "etag")
DA_DEFINE_ELEMENT_CLASS(DAFieldsAttribute, DAAttribute, data(), "gd", "fields")
DA_DEFINE_ELEMENT_CLASS(DAKindAttribute, DAAttribute, data(), "gd", "kind")

void DALibraryVersion(int *major, int *minor, int *release) {
    if (major)
        *major = 1;
    if (minor)
        *minor = 12;
    if (release)
        *release = 0;
}

QString DALibraryVersionString() { return QStringLiteral("1.12"); }
