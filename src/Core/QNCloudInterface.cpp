#include "Core/QNCloudInterface.h"

#include "Core/QNErrorWrapper.h"
#include "Core/QNLoginSheetProvider.h"

QNCloudInterface::QNCloudInterface() = default;

QNCloudInterface::QNCloudInterface(QNDriveConfigPtr driveConfig) {
    setDriveConfig(std::move(driveConfig));
}

QNCloudInterface::~QNCloudInterface() = default;

QString QNCloudInterface::className() const {
    return QStringLiteral("QNCloudInterface");
}

VNErrorPtr QNCloudInterface::makeError(const QString &domain, const QString &message) {
    return VNError::make(domain, 42, QStringLiteral("error"), message);
}

VNErrorPtr QNCloudInterface::notSupportedError(const QString &operation) const {
    const auto config = driveConfig();
    const QString service = config ? config->serviceName() : QStringLiteral("(Unknown Service)");
    return makeError(QStringLiteral("%1 is not supported on %2 drives.").arg(operation, service));
}

void QNCloudInterface::login(QNLoginCallback completed) {
    if (completed)
        completed(false, notSupportedError(QStringLiteral("Logging in")), false);
}

void QNCloudInterface::listDocuments(QNDocumentPtr, QString searchKeyword, QNListCallback completed) {
    if (completed)
        completed({}, searchKeyword, notSupportedError(QStringLiteral("Listing folders")), false);
}

void QNCloudInterface::download(QNDocumentPtr, QNDocumentPtr, QNProgressCallback, QNDocumentCallback completed) {
    if (completed)
        completed(nullptr, notSupportedError(QStringLiteral("Downloading")), false);
}

void QNCloudInterface::upload(QNDocumentPtr, QNDocumentPtr, QNProgressCallback, QNDocumentCallback completed) {
    if (completed)
        completed(nullptr, notSupportedError(QStringLiteral("Uploading")), false);
}

void QNCloudInterface::uploadUnderTemporaryName(QNDocumentPtr, QNDocumentPtr, QNProgressCallback,
                                                QNDocumentCallback completed) {
    if (completed)
        completed(nullptr, notSupportedError(QStringLiteral("Uploading under a temporary name")), false);
}

void QNCloudInterface::createFolder(QString, QNDocumentPtr, QNDocumentCallback completed) {
    // Kept as it always was: callers treat this as "nothing done".
    if (completed)
        completed(nullptr, nullptr, true);
}

void QNCloudInterface::remove(QNDocumentPtr, QNDocumentCallback completed) {
    if (completed)
        completed(nullptr, notSupportedError(QStringLiteral("Removing")), false);
}

void QNCloudInterface::rename(QNDocumentPtr, QNDocumentPtr, QNDocumentCallback completed) {
    if (completed)
        completed(nullptr, notSupportedError(QStringLiteral("Renaming")), false);
}

void QNCloudInterface::localCopy(QNDocumentPtr, QNDocumentPtr, QNDocumentCallback completed) {
    if (completed)
        completed(nullptr, notSupportedError(QStringLiteral("Copying inside the drive")), false);
}

void QNCloudInterface::localMove(QNDocumentPtr, QNDocumentPtr, QNDocumentCallback completed) {
    if (completed)
        completed(nullptr, notSupportedError(QStringLiteral("Moving inside the drive")), false);
}

void QNCloudInterface::linkForDocument(QNDocumentPtr, QNDocumentCallback completed) {
    if (completed)
        completed(nullptr, notSupportedError(QStringLiteral("Sharing links")), false);
}

void QNCloudInterface::quota(QNDocumentPtr, QNQuotaCallback completed) {
    if (completed)
        completed(nullptr, true);
}

void QNCloudInterface::cancel() {
    m_cancelled.store(true);
}

std::shared_ptr<QNAuthWindowController> QNCloudInterface::oAuthLoginWithCompletedBlock(QNLoginCallback completed) {
    if (completed)
        completed(false, notSupportedError(QStringLiteral("Web login")), false);
    return nullptr;
}

QString QNCloudInterface::listingTooLargeText() {
    return QStringLiteral("The folder's listing is larger than %1 MiB, more than a listing may hold; it was not read on.")
        .arg(maximumListingBytes >> 20);
}

std::shared_ptr<QNAuthWindowController> QNCloudInterface::openLoginSheet(QNLoginCallback completed,
                                                                        const QString &caption, const QUrl &page) {
    setOAuthLoginCompleted(std::move(completed));
    if (auto config = driveConfig())
        config->setDescription(caption);
    auto sheet = QNLoginSheetProvider::makeSheet(shared_from_this());
    if (!page.isEmpty())
        QNLoginSheetProvider::loadPage(sheet, page);
    return sheet;
}

void QNCloudInterface::processOAuthLogin(const QString &callbackUrl) {
    auto completed = takeOAuthLoginCompleted();
    if (!completed)
        return;
    if (callbackUrl.isNull())
        completed(false, nullptr, false);
    else
        completed(false, notSupportedError(QStringLiteral("Web login")), false);
}

namespace {
const QString &leftOnDriveKey() {
    static const QString key = QStringLiteral("leavesFileOnDrive");
    return key;
}
const QString &serverRefusedKey() {
    static const QString key = QStringLiteral("serverRefused");
    return key;
}
}  // namespace

VNErrorPtr QNCloudInterface::leavingFileOnDrive(const VNErrorPtr &error) {
    if (!error)
        return error;
    QVariantMap info = error->userInfo();
    // Its text as the task's report shows it ("error" first, as alerts do).
    info.insert(VNError::localizedDescriptionKey(), QNErrorWrapper(error).localizedDescription());
    info.insert(leftOnDriveKey(), true);
    return std::make_shared<VNError>(error->domain(), error->code(), info);
}

bool QNCloudInterface::saysFileLeftOnDrive(const VNErrorPtr &error) {
    return error && error->userInfo().value(leftOnDriveKey()).toBool();
}

VNErrorPtr QNCloudInterface::refusingServer(const VNErrorPtr &error) {
    if (!error)
        return error;
    QVariantMap info = error->userInfo();
    info.insert(serverRefusedKey(), true);
    return std::make_shared<VNError>(error->domain(), error->code(), info);
}

bool QNCloudInterface::saysServerRefused(const VNErrorPtr &error) {
    return error && error->userInfo().value(serverRefusedKey()).toBool();
}
