#pragma once

#include "DA/BaseClasses/DAPerson.h"
#include "DA/BaseClasses/DATextConstruct.h"
#include "DA/BaseClasses/DAValueConstruct.h"

// The small Atom, AtomPub, OpenSearch, data-API and batch elements that
// only name their element; their values live where their base keeps them.
DA_DECLARE_ELEMENT(DAAtomID, DAValueElementConstruct)
DA_DECLARE_ELEMENT(DAAtomPublishedDate, DAValueElementConstruct)
DA_DECLARE_ELEMENT(DAAtomUpdatedDate, DAValueElementConstruct)
DA_DECLARE_ELEMENT(DAAtomTitle, DATextConstruct)
DA_DECLARE_ELEMENT(DAAtomSubtitle, DATextConstruct)
DA_DECLARE_ELEMENT(DAAtomSummary, DATextConstruct)
DA_DECLARE_ELEMENT(DAAtomRights, DATextConstruct)
DA_DECLARE_ELEMENT(DAAtomAuthor, DAPerson)
DA_DECLARE_ELEMENT(DAAtomContributor, DAPerson)
DA_DECLARE_ELEMENT(DAAtomIcon, DAValueElementConstruct)
DA_DECLARE_ELEMENT(DAAtomLogo, DAValueElementConstruct)
DA_DECLARE_ELEMENT(DAAtomPubEditedDate, DAValueElementConstruct)
DA_DECLARE_ELEMENT(DAAtomPubDraft, DAValueElementConstruct)
DA_DECLARE_ELEMENT(DAOpenSearchTotalResults, DAValueElementConstruct)
DA_DECLARE_ELEMENT(DAOpenSearchStartIndex, DAValueElementConstruct)
DA_DECLARE_ELEMENT(DAOpenSearchItemsPerPage, DAValueElementConstruct)
DA_DECLARE_ELEMENT(DAResourceID, DAValueElementConstruct)
DA_DECLARE_ELEMENT(DAETagAttribute, DAAttribute)
DA_DECLARE_ELEMENT(DAFieldsAttribute, DAAttribute)
DA_DECLARE_ELEMENT(DAKindAttribute, DAAttribute)

// gd:deleted: being deleted is the presence of the element.
class DADeleted : public DAImplicitValueConstruct {
    DA_CLASS(DADeleted)
public:
    static std::shared_ptr<DADeleted> deleted() { return implicitValue<DADeleted>(); }
};

// The library version, for the User-Agent header.
void DALibraryVersion(int *major, int *minor, int *release);
QString DALibraryVersionString();
