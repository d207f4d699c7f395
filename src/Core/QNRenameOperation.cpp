#include "Core/QNRenameOperation.h"

#include "Core/QNErrorWrapper.h"
#include "Core/QNListDocumentsOperation.h"
#include "Core/QNUtils.h"
#include "Platform/VNDispatch.h"
#include "Platform/VNLog.h"

namespace {

QString lastComponent(const QString &path) {
    return QNUtils::withoutTrailingSlashes(path).section(QLatin1Char('/'), -1);
}

bool sameEntry(const QNDocumentPtr &a, const QNDocumentPtr &b) {
    if (!a || !b)
        return false;
    if (!a->id().isEmpty() && a->id() == b->id())
        return true;
    return !a->path().isEmpty() &&
           QNUtils::withoutTrailingSlashes(a->path()) == QNUtils::withoutTrailingSlashes(b->path());
}

VNErrorPtr renameError(const QString &message) {
    return QNCloudInterface::makeError(QStringLiteral("QNRenameOperation"), message);
}

}  // namespace

QNRenameOperation::QNRenameOperation(const QNDriveConfigPtr &driveConfig, QNDocumentPtr document, QNDocumentPtr name,
                                     QNDocumentCallback completedBlock)
    : QNHandlerOperation(driveConfig, std::move(completedBlock)),
      m_document(std::move(document)),
      m_name(std::move(name)) {}

QNDocumentPtr QNRenameOperation::holderOfName(const QNDocumentList &listed, const QNDocumentPtr &document,
                                              const QString &newName) {
    // Letter case aside: a server that ignores it would replace the other entry.
    for (const QNDocumentPtr &entry : listed) {
        if (!entry || sameEntry(entry, document))
            continue;
        if (lastComponent(entry->path()).compare(newName, Qt::CaseInsensitive) == 0 ||
            entry->displayName().compare(newName, Qt::CaseInsensitive) == 0)
            return entry;
    }
    return nullptr;
}

QString QNRenameOperation::newName() const {
    return m_name ? QNUtils::nameOf(*m_name) : QString();
}

QNDocumentPtr QNRenameOperation::folderToList() const {
    if (m_folder)
        return m_folder;
    const QString path = m_document ? QNUtils::withoutTrailingSlashes(m_document->path()) : QString();
    const int slash = path.lastIndexOf(QLatin1Char('/'));
    return QNDocument::withPath(slash <= 0 ? QStringLiteral("/") : path.left(slash), true);
}

void QNRenameOperation::callHandler(QNCloudInterface &handler, QNDocumentCallback inner) {
    if (!m_checksNewName || !m_document || !m_name) {
        handler.rename(m_document, m_name, std::move(inner));
        return;
    }
    // The listing runs on a handler of its own: a handler serves one call.
    std::weak_ptr<QNRenameOperation> weak = std::static_pointer_cast<QNRenameOperation>(shared_from_this());
    auto check = std::make_shared<QNListDocumentsOperation>(
        driveConfig(), folderToList(), QString(),
        [weak, inner](QNDocumentList listed, QString, VNErrorPtr error, bool cancelled) {
            VNDispatch::mainAsync([weak, inner, listed = std::move(listed), error, cancelled] {
                if (auto self = weak.lock())
                    self->renameIfFree(listed, error, cancelled, inner);
            });
        });
    {
        std::lock_guard lock(m_checkMutex);
        m_check = check;
    }
    check->start();
}

void QNRenameOperation::renameIfFree(const QNDocumentList &listed, const VNErrorPtr &error, bool cancelled,
                                     const QNDocumentCallback &inner) {
    {
        std::lock_guard lock(m_checkMutex);
        m_check.reset();
    }
    if (cancelled || isCancelled()) {
        inner(nullptr, nullptr, true);
        return;
    }
    const QString oldName = QNUtils::nameOf(*m_document);
    if (error) {
        inner(nullptr,
              renameError(QStringLiteral("\u201c%1\u201d was not renamed: its folder could not be listed to make sure "
                                         "that no other item is named \u201c%2\u201d.\n%3")
                              .arg(oldName, newName(), QNErrorWrapper(error).localizedDescription())),
              false);
        return;
    }
    if (const QNDocumentPtr holder = holderOfName(listed, m_document, newName())) {
        const QString taken = QNUtils::nameOf(*holder);
        VNLog::log(QStringLiteral("QNRenameOperation: \"%1\" is taken in its folder").arg(taken));
        inner(nullptr,
              renameError(QStringLiteral("An item named \u201c%1\u201d is already in this folder, so \u201c%2\u201d "
                                         "was not renamed.")
                              .arg(taken, oldName)),
              false);
        return;
    }
    if (auto handler = cloudInterface())
        handler->rename(m_document, m_name, inner);
}

void QNRenameOperation::cancel() {
    std::shared_ptr<QNListDocumentsOperation> check;
    {
        std::lock_guard lock(m_checkMutex);
        check = m_check;
    }
    if (check)
        check->cancel();
    QNHandlerOperation::cancel();
}
