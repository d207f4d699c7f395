#pragma once

#include "DA/BaseClasses/DAObject.h"

// atom:generator: the name as text, "version" and "uri".
class DAGenerator : public DAObject {
    DA_CLASS(DAGenerator)
public:
    static std::shared_ptr<DAGenerator> generatorWithName(const QString &name, const QString &version, const QString &uri);
    QString name() const { return contentStringValue(); }
    void setName(const QString &v) { setContentStringValue(v); }
    QString version() const { return stringValueForAttribute(QStringLiteral("version")); }
    void setVersion(const QString &v) { setStringValue(v, QStringLiteral("version")); }
    QString URI() const { return stringValueForAttribute(QStringLiteral("uri")); }
    void setURI(const QString &v) { setStringValue(v, QStringLiteral("uri")); }
    void addParseDeclarations() override;
};

// app:control with its draft flag.
class DAAtomPubControl : public DAObject {
    DA_CLASS(DAAtomPubControl)
public:
    // A control declaring the "app" prefix itself.
    static std::shared_ptr<DAAtomPubControl> atomPubControl();
    static std::shared_ptr<DAAtomPubControl> atomPubControlWithIsDraft(bool draft);
    bool isDraft() const;
    void setIsDraft(bool draft);
    QString defaultServiceVersion() const override { return QStringLiteral("2.0"); }
    void addExtensionDeclarations() override;
    QStringList itemsForDescription() const override;
};

// The batch elements.
class DABatchID : public DAObject {
    DA_CLASS(DABatchID)
public:
    static std::shared_ptr<DABatchID> batchIDWithString(const QString &text);
    QString stringValue() const { return contentStringValue(); }
    void setStringValue(const QString &v) { setContentStringValue(v); }
    void addParseDeclarations() override { addContentValueDeclaration(); }
};

class DABatchOperation : public DAObject {
    DA_CLASS(DABatchOperation)
public:
    static std::shared_ptr<DABatchOperation> batchOperationWithType(const QString &type);
    QString type() const { return stringValueForAttribute(QStringLiteral("type")); }
    void setType(const QString &v) { DAObject::setStringValue(v, QStringLiteral("type")); }
    void addParseDeclarations() override { addLocalAttributeDeclarations({QStringLiteral("type")}); }
};

class DABatchStatus : public DAObject {
    DA_CLASS(DABatchStatus)
public:
    static std::shared_ptr<DABatchStatus> batchStatusWithCode(int code, const QString &reason);
    std::optional<int> code() const { return intNumberForAttribute(QStringLiteral("code")); }
    void setCode(int code) { DAObject::setStringValue(QString::number(code), QStringLiteral("code")); }
    QString reason() const { return stringValueForAttribute(QStringLiteral("reason")); }
    void setReason(const QString &v) { DAObject::setStringValue(v, QStringLiteral("reason")); }
    QString contentType() const { return stringValueForAttribute(QStringLiteral("content-type")); }
    void setContentType(const QString &v) { DAObject::setStringValue(v, QStringLiteral("content-type")); }
    QString stringValue() const { return contentStringValue(); }
    void setStringValue(const QString &v) { setContentStringValue(v); }
    void addParseDeclarations() override;
};

class DABatchInterrupted : public DAObject {
    DA_CLASS(DABatchInterrupted)
public:
    static std::shared_ptr<DABatchInterrupted> batchInterrupted() { return object<DABatchInterrupted>(); }
    QString reason() const { return stringValueForAttribute(QStringLiteral("reason")); }
    void setReason(const QString &v) { DAObject::setStringValue(v, QStringLiteral("reason")); }
    std::optional<int> successCount() const { return intNumberForAttribute(QStringLiteral("success")); }
    void setSuccessCount(int n) { DAObject::setStringValue(QString::number(n), QStringLiteral("success")); }
    std::optional<int> errorCount() const { return intNumberForAttribute(QStringLiteral("failures")); }
    void setErrorCount(int n) { DAObject::setStringValue(QString::number(n), QStringLiteral("failures")); }
    std::optional<int> totalCount() const { return intNumberForAttribute(QStringLiteral("parsed")); }
    void setTotalCount(int n) { DAObject::setStringValue(QString::number(n), QStringLiteral("parsed")); }
    QString contentType() const { return stringValueForAttribute(QStringLiteral("content-type")); }
    void setContentType(const QString &v) { DAObject::setStringValue(v, QStringLiteral("content-type")); }
    QString stringValue() const { return contentStringValue(); }
    void setStringValue(const QString &v) { setContentStringValue(v); }
    void addParseDeclarations() override;
};
