#include "Core/QNMovedSourceRemoval.h"

#include "Core/QNErrorWrapper.h"
#include "Core/QNListDocumentsOperation.h"
#include "Core/QNRemoveOperation.h"
#include "Core/QNUtils.h"
#include "Platform/VNLog.h"

namespace {

// A folder the removal looks into: links are removed as themselves.
bool isRealFolder(const QNDocumentPtr &document) {
    return document->isDirectory() && !document->isLink();
}

QString withoutFullStop(QString text) {
    text = text.trimmed();
    if (text.endsWith(QLatin1Char('.')))
        text.chop(1);
    return text;
}

}  // namespace

QNMovedSourceRemoval::QNMovedSourceRemoval(QNDriveConfigPtr drive, QNDocumentPtr top, const QList<Copied> &copied,
                                           const QList<Copied> &leftOut)
    : m_drive(std::move(drive)), m_top(std::move(top)) {
    const QString topKey = keyOf(m_top);
    m_folders[topKey].document = m_top;
    m_listOrder.append(topKey);
    for (const auto &entry : copied) {
        if (!entry.document || !entry.folder)
            continue;
        const QString parent = keyOf(entry.folder);
        // Only what lies in a folder of the tree itself: nothing below a
        // link is ever removed.
        if (!m_folders.contains(parent))
            continue;
        m_folders[parent].children.append(entry.document);
        if (isRealFolder(entry.document)) {
            const QString key = keyOf(entry.document);
            m_folders[key].document = entry.document;
            m_listOrder.append(key);
        }
    }
    for (const auto &entry : leftOut) {
        if (!entry.document || !entry.folder)
            continue;
        const auto folder = m_folders.find(keyOf(entry.folder));
        if (folder != m_folders.end())
            folder->skipped.insert(keyOf(entry.document));
    }
    // Until the folders are listed again, each holds what the copy's own
    // listing of it left out, which the copy noted.
    for (Folder &folder : m_folders)
        folder.leftOutNoted = folder.document ? folder.document->leftOutCount() : 0;
}

QString QNMovedSourceRemoval::keyOf(const QNDocumentPtr &document) {
    if (!document)
        return {};
    if (!document->id().isEmpty())
        return QStringLiteral("#") + document->id();
    return QNUtils::withoutTrailingSlashes(document->path());
}

QString QNMovedSourceRemoval::shownPath(const QNDocumentPtr &document) {
    if (document->path().isEmpty())
        return document->displayName();
    return QNUtils::withoutTrailingSlashes(document->path());
}

bool QNMovedSourceRemoval::removedTop() const {
    std::lock_guard lock(m_mutex);
    return m_removedTop;
}

QStringList QNMovedSourceRemoval::removedPaths() const {
    std::lock_guard lock(m_mutex);
    return m_removed;
}

void QNMovedSourceRemoval::start(AddOperation add, MakeError makeError, Finished finished) {
    m_add = std::move(add);
    m_makeError = std::move(makeError);
    m_finished = std::move(finished);
    listNext();
}

void QNMovedSourceRemoval::listNext() {
    if (m_listOrder.isEmpty()) {
        isClean(keyOf(m_top));
        plan(keyOf(m_top));
        removeNext();
        return;
    }
    const QString key = m_listOrder.takeFirst();
    auto self = shared_from_this();
    m_add(std::make_shared<QNListDocumentsOperation>(
        m_drive, m_folders[key].document, QString(),
        [self, key](QNDocumentList documents, QString, VNErrorPtr error, bool cancelled) {
            if (cancelled) {
                self->finish(error, true);
                return;
            }
            self->listed(key, documents, error);
            // Queued before this listing ends, so the task keeps waiting.
            self->listNext();
        }));
}

void QNMovedSourceRemoval::listed(const QString &key, const QNDocumentList &documents, const VNErrorPtr &error) {
    Folder &folder = m_folders[key];
    if (error) {
        folder.listingError = QNErrorWrapper(error).localizedDescription();
        return;
    }
    // Names the drive cannot show were never copied, and are there all the same.
    folder.leftOut = folder.document->leftOutCount();
    QSet<QString> copied;
    for (const auto &child : folder.children)
        copied.insert(keyOf(child));
    // An unreadable name was never copied, even where its escaped form
    // happens to equal the name of a file that was.
    for (const auto &document : documents) {
        if (!document)
            continue;
        const QString documentKey = keyOf(document);
        if (!document->hasUnreadableName() && copied.contains(documentKey))
            continue;
        // What the copy left out stays, and its folder with it.
        if (folder.skipped.contains(documentKey))
            folder.holdsSkipped = true;
        else
            folder.strangers.append(QNUtils::nameOf(*document));
    }
}

// Fills in clean for the folder and every folder below it.
bool QNMovedSourceRemoval::isClean(const QString &key) {
    Folder &folder = m_folders[key];
    bool clean = folder.strangers.isEmpty() && !folder.holdsSkipped && folder.leftOut == 0 &&
                 folder.listingError.isNull();
    for (const auto &child : folder.children)
        if (isRealFolder(child) && !isClean(keyOf(child)))
            clean = false;
    folder.clean = clean;
    return clean;
}

void QNMovedSourceRemoval::plan(const QString &key) {
    const Folder folder = m_folders.value(key);
    const bool clean = folder.clean;
    if (clean && !m_drive->needsRecursiveRemove()) {
        m_removals.append(folder.document);  // the folder with its contents
        return;
    }
    for (const auto &child : folder.children)
        if (!isRealFolder(child))
            m_removals.append(child);
    for (const auto &child : folder.children)
        if (isRealFolder(child))
            plan(keyOf(child));
    if (clean)
        m_removals.append(folder.document);  // empty by now
    else
        m_kept.append(key);
}

void QNMovedSourceRemoval::removeNext() {
    if (m_removals.isEmpty()) {
        const QString kept = keptText();
        if (!kept.isEmpty())
            VNLog::log(QStringLiteral("QNMoveTaskItem postCopyWithCompletedBlock kept: %1").arg(kept));
        finish(kept.isEmpty() ? nullptr : m_makeError(kept), false);
        return;
    }
    auto document = m_removals.takeFirst();
    auto self = shared_from_this();
    m_add(std::make_shared<QNRemoveOperation>(m_drive, document,
                                              [self, document](QNDocumentPtr, VNErrorPtr error, bool cancelled) {
                                                  if (error && !cancelled) {
                                                      self->finish(self->m_makeError(
                                                                       QStringLiteral("\u201c%1\u201d could not be "
                                                                                      "removed (%2).")
                                                                           .arg(self->shownPath(document),
                                                                                withoutFullStop(
                                                                                    QNErrorWrapper(error)
                                                                                        .localizedDescription()))),
                                                                   false);
                                                      return;
                                                  }
                                                  if (cancelled) {
                                                      self->finish(error, cancelled);
                                                      return;
                                                  }
                                                  {
                                                      std::lock_guard lock(self->m_mutex);
                                                      self->m_removed.append(self->shownPath(document));
                                                      if (document == self->m_top)
                                                          self->m_removedTop = true;
                                                  }
                                                  self->removeNext();
                                              }));
}

QString QNMovedSourceRemoval::keptText() const {
    QStringList lines;
    for (const QString &key : m_kept) {
        const Folder folder = m_folders.value(key);
        const QString path = shownPath(folder.document);
        if (!folder.listingError.isNull()) {
            lines << QStringLiteral("The folder \u201c%1\u201d was kept: it could not be listed again (%2).")
                         .arg(path, folder.listingError);
            continue;
        }
        // As many as the copy noted stay without a word; more were not
        // there when it listed the folder.
        if (folder.leftOut > folder.leftOutNoted) {
            lines << QStringLiteral("The folder \u201c%1\u201d was kept: the server holds %2 there that this drive "
                                    "cannot show, which the move did not copy.")
                         .arg(path, folder.leftOut == 1 ? QStringLiteral("an entry")
                                                        : QStringLiteral("%1 entries").arg(folder.leftOut));
        }
        if (!folder.strangers.isEmpty()) {
            QStringList names;
            for (const QString &name : folder.strangers.mid(0, 3))
                names << QStringLiteral("\u201c%1\u201d").arg(name);
            QString more;
            if (folder.strangers.size() > 3)
                more = QStringLiteral(" and %1 more").arg(folder.strangers.size() - 3);
            lines << QStringLiteral("The folder \u201c%1\u201d was kept: it holds %2%3, which the move did not copy.")
                         .arg(path, names.join(QStringLiteral(", ")), more);
        }
        // A folder kept only because a folder inside it was kept, or for
        // what the copy left out (the copy names that), says nothing.
    }
    return lines.join(QLatin1Char(' '));
}

void QNMovedSourceRemoval::finish(const VNErrorPtr &error, bool cancelled) {
    auto finished = std::move(m_finished);
    m_finished = nullptr;
    m_add = nullptr;
    m_makeError = nullptr;
    if (finished)
        finished(error, cancelled, removedTop());
}
