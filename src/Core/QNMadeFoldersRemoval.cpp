#include "Core/QNMadeFoldersRemoval.h"

#include "Core/QNErrorWrapper.h"
#include "Core/QNListDocumentsOperation.h"
#include "Core/QNRemoveOperation.h"
#include "Core/QNUtils.h"
#include "Platform/VNLog.h"
#include "Platform/VNOperationQueue.h"

namespace {

QString errorText(const VNErrorPtr &error) {
    return QNErrorWrapper::reasonOf(error);
}

QString shownPath(const QNDocumentPtr &folder) {
    const QString path = QNUtils::withoutTrailingSlashes(folder->path());
    return path.isEmpty() ? QNUtils::nameOf(*folder) : path;
}

QString parentPath(const QNDocumentPtr &folder) {
    const QString parent = QNUtils::withoutTrailingSlashes(folder->path()).section(QLatin1Char('/'), 0, -2);
    return parent.isEmpty() ? QStringLiteral("/") : parent;
}

bool shows(const QNDocumentList &listing, const QString &name) {
    for (const auto &entry : listing)
        if (entry && QNUtils::nameOf(*entry) == name)
            return true;
    return false;
}

}  // namespace

QNMadeFoldersRemoval::QNMadeFoldersRemoval(QNDriveConfigPtr drive, QList<QNDocumentPtr> folders, Kind kind)
    : m_drive(std::move(drive)), m_kind(kind) {
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

QString QNMadeFoldersRemoval::checkFolderLeftText(const QString &name, const QString &folder, const QString &why) {
    return QStringLiteral("The check folder \u201c%1\u201d could not be removed from \u201c%2\u201d (%3).")
        .arg(name, folder, why);
}

void QNMadeFoldersRemoval::start(Finished finished) {
    m_finished = std::move(finished);
    removeNext();
}

void QNMadeFoldersRemoval::removeNext() {
    if (m_folders.isEmpty()) {
        auto finished = std::move(m_finished);
        m_finished = nullptr;
        if (!m_left.isEmpty())
            VNLog::log(QStringLiteral("QNMadeFoldersRemoval: %1").arg(m_left.join(QLatin1Char(' '))));
        if (finished)
            finished(m_left);
        return;
    }
    const QNDocumentPtr folder = m_folders.takeLast();
    if (m_kind == Kind::CheckFolders) {
        removeFolder(folder);
        return;
    }
    auto self = shared_from_this();
    VNOperationQueue::global().addOperation(std::make_shared<QNListDocumentsOperation>(
        m_drive, folder, QString(), [self, folder](QNDocumentList listing, QString, VNErrorPtr error, bool cancelled) {
            self->moved();
            if (cancelled)
                self->leave(folder, QStringLiteral("its listing was cancelled"));
            else if (error)
                self->leave(folder, QStringLiteral("it could not be listed (%1)").arg(errorText(error)));
            else if (!listing.isEmpty() || folder->leftOutCount() > 0)
                self->leave(folder, QStringLiteral("it is not empty"));
            else
                self->removeFolder(folder);
        }));
}

void QNMadeFoldersRemoval::removeFolder(const QNDocumentPtr &folder) {
    auto self = shared_from_this();
    VNOperationQueue::global().addOperation(std::make_shared<QNRemoveOperation>(
        m_drive, folder, [self, folder](QNDocumentPtr, VNErrorPtr error, bool cancelled) {
            self->moved();
            if (!error && !cancelled) {
                self->removeNext();
                return;
            }
            self->lookFor(folder, error ? errorText(error) : QStringLiteral("its removal was cancelled"));
        }));
}

void QNMadeFoldersRemoval::lookFor(const QNDocumentPtr &folder, const QString &removeError) {
    auto self = shared_from_this();
    auto holder = QNDocument::withPath(parentPath(folder), true);
    VNOperationQueue::global().addOperation(std::make_shared<QNListDocumentsOperation>(
        m_drive, holder, QString(),
        [self, folder, removeError](QNDocumentList listing, QString, VNErrorPtr error, bool cancelled) {
            self->moved();
            const bool copied = self->m_kind == Kind::CopiedFolders;
            if (error || cancelled) {
                const QString lookError = error ? errorText(error) : QStringLiteral("the look was cancelled");
                self->leave(folder,
                            QStringLiteral("%1%2, nor looked for (%3)")
                                .arg(copied ? QStringLiteral("it could not be removed ") : QString(),
                                     copied ? QStringLiteral("(%1)").arg(removeError) : removeError, lookError),
                            false);
            } else if (shows(listing, QNUtils::nameOf(*folder))) {
                self->leave(folder, copied ? QStringLiteral("it could not be removed (%1)").arg(removeError) : removeError);
            } else {
                self->removeNext();  // gone after all, its answer lost
            }
        }));
}

void QNMadeFoldersRemoval::moved() {
    if (m_progress)
        m_progress();
}

void QNMadeFoldersRemoval::leave(const QNDocumentPtr &folder, const QString &why, bool surely) {
    const QString path = shownPath(folder);
    if (m_kind == Kind::CheckFolders) {
        const QString name = QNUtils::nameOf(*folder);
        const QString holder = parentPath(folder);
        m_left << (surely ? checkFolderLeftText(name, holder, why)
                          : QStringLiteral("The check folder \u201c%1\u201d may be left in \u201c%2\u201d: it could not "
                                           "be removed (%3).")
                                .arg(name, holder, why));
    } else {
        m_left << QStringLiteral("The folder \u201c%1\u201d, made by this copy, %2: %3.")
                      .arg(path, surely ? QStringLiteral("was left") : QStringLiteral("may be left"), why);
    }
    removeNext();
}
