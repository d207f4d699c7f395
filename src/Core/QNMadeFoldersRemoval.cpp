#include "Core/QNMadeFoldersRemoval.h"

#include "Core/QNErrorWrapper.h"
#include "Core/QNListDocumentsOperation.h"
#include "Core/QNRemoveOperation.h"
#include "Core/QNUtils.h"
#include "Platform/VNLog.h"

namespace {

QString errorText(const VNErrorPtr &error) {
    return QNErrorWrapper::textOf(error).trimmed();
}

QString shownPath(const QNDocumentPtr &folder) {
    const QString path = QNUtils::withoutTrailingSlashes(folder->path());
    return path.isEmpty() ? QNUtils::nameOf(*folder) : path;
}

}  // namespace

QNMadeFoldersRemoval::QNMadeFoldersRemoval(QNDriveConfigPtr drive, QList<QNDocumentPtr> folders)
    : m_drive(std::move(drive)) {
    // A drive's answer to a folder's creation may not mark it as a folder;
    // removed as a file, it would stay.
    for (const auto &folder : folders) {
        if (!folder)
            continue;
        auto asFolder = folder->copy();
        asFolder->setIsDirectory(true);
        m_folders << asFolder;
    }
}

void QNMadeFoldersRemoval::start(AddOperation add, Finished finished) {
    m_add = std::move(add);
    m_finished = std::move(finished);
    removeNext();
}

void QNMadeFoldersRemoval::removeNext() {
    if (m_folders.isEmpty()) {
        auto finished = std::move(m_finished);
        m_finished = nullptr;
        m_add = nullptr;
        if (!m_left.isEmpty())
            VNLog::log(QStringLiteral("QNMadeFoldersRemoval: %1").arg(m_left.join(QLatin1Char(' '))));
        if (finished)
            finished(m_left);
        return;
    }
    const QNDocumentPtr folder = m_folders.takeLast();
    auto self = shared_from_this();
    m_add(std::make_shared<QNListDocumentsOperation>(
        m_drive, folder, QString(), [self, folder](QNDocumentList listing, QString, VNErrorPtr error, bool cancelled) {
            if (cancelled)
                self->leave(folder, QStringLiteral("the task was cancelled before it was removed"));
            else if (error)
                self->leave(folder, QStringLiteral("it could not be listed (%1)").arg(errorText(error)));
            else if (!listing.isEmpty() || folder->leftOutCount() > 0)
                self->leave(folder, QStringLiteral("it is not empty"));
            else
                self->removeIfEmpty(folder);
        }));
}

void QNMadeFoldersRemoval::removeIfEmpty(const QNDocumentPtr &folder) {
    auto self = shared_from_this();
    m_add(std::make_shared<QNRemoveOperation>(m_drive, folder, [self, folder](QNDocumentPtr, VNErrorPtr error, bool cancelled) {
        if (cancelled)
            self->leave(folder, QStringLiteral("the task was cancelled as it was removed"));
        else if (error)
            self->leave(folder, QStringLiteral("it could not be removed (%1)").arg(errorText(error)));
        else
            self->removeNext();
    }));
}

void QNMadeFoldersRemoval::leave(const QNDocumentPtr &folder, const QString &why) {
    m_left << QStringLiteral("The folder \u201c%1\u201d, made by this copy, was left: %2.").arg(shownPath(folder), why);
    removeNext();
}
