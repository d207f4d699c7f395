#include "DA/Elements/DAGenerator.h"

#include "DA/BaseClasses/DANamespaces.h"
#include "DA/Elements/DAAtomElements.h"

using namespace DANamespaces;

DA_DEFINE_ELEMENT_CLASS(DAGenerator, DAObject, atom(), "atom", "generator")
DA_DEFINE_ELEMENT_CLASS(DAAtomPubControl, DAObject, atomPub(), "app", "control")
DA_DEFINE_ELEMENT_CLASS(DABatchID, DAObject, batch(), "batch", "id")
DA_DEFINE_ELEMENT_CLASS(DABatchOperation, DAObject, batch(), "batch", "operation")
DA_DEFINE_ELEMENT_CLASS(DABatchStatus, DAObject, batch(), "batch", "status")
DA_DEFINE_ELEMENT_CLASS(DABatchInterrupted, DAObject, batch(), "batch", "interrupted")

std::shared_ptr<DAGenerator> DAGenerator::generatorWithName(const QString &name, const QString &version,
                                                           const QString &uri) {
    auto g = object<DAGenerator>();
    g->setName(name);
    g->setVersion(version);
    g->setURI(uri);
    return g;
}

void DAGenerator::addParseDeclarations() {
    addLocalAttributeDeclarations({QStringLiteral("version"), QStringLiteral("uri")});
    addContentValueDeclaration();
}

std::shared_ptr<DAAtomPubControl> DAAtomPubControl::atomPubControl() {
    auto c = object<DAAtomPubControl>();
    c->setNamespaces({{QStringLiteral("app"), atomPub()}});
    return c;
}

std::shared_ptr<DAAtomPubControl> DAAtomPubControl::atomPubControlWithIsDraft(bool draft) {
    auto c = atomPubControl();
    c->setIsDraft(draft);
    return c;
}

bool DAAtomPubControl::isDraft() const {
    auto draft = extension<DAAtomPubDraft>();
    return draft && draft->stringValue().compare(QLatin1String("yes"), Qt::CaseInsensitive) == 0;
}

void DAAtomPubControl::setIsDraft(bool draft) {
    setObject(draft ? DAValueConstruct::valueWithString(DAAtomPubDraft::staticClass(), QStringLiteral("yes")) : nullptr,
              DAAtomPubDraft::staticClass());
}

void DAAtomPubControl::addExtensionDeclarations() { addExtensionDeclaration(objectClass(), DAAtomPubDraft::staticClass()); }

QStringList DAAtomPubControl::itemsForDescription() const {
    QStringList items = DAObject::itemsForDescription();
    items << QStringLiteral("isDraft:%1").arg(isDraft() ? QStringLiteral("yes") : QStringLiteral("no"));
    return items;
}

std::shared_ptr<DABatchID> DABatchID::batchIDWithString(const QString &text) {
    auto b = object<DABatchID>();
    b->setStringValue(text);
    return b;
}

std::shared_ptr<DABatchOperation> DABatchOperation::batchOperationWithType(const QString &type) {
    auto b = object<DABatchOperation>();
    b->setType(type);
    return b;
}

std::shared_ptr<DABatchStatus> DABatchStatus::batchStatusWithCode(int code, const QString &reason) {
    auto b = object<DABatchStatus>();
    b->setCode(code);
    b->setReason(reason);
    return b;
}

void DABatchStatus::addParseDeclarations() {
    addLocalAttributeDeclarations({QStringLiteral("code"), QStringLiteral("reason"), QStringLiteral("content-type")});
    addContentValueDeclaration();
}

void DABatchInterrupted::addParseDeclarations() {
    addLocalAttributeDeclarations({QStringLiteral("reason"), QStringLiteral("success"), QStringLiteral("failures"),
                                   QStringLiteral("parsed"), QStringLiteral("content-type")});
    addContentValueDeclaration();
}
