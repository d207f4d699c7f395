// QNCopyTaskItem: what a copy leaves out and how it is said. An item left
// out is noted on its tree's dropped item, for the task's end report, and
// ends neither done nor failed (QNTaskItem::isLeftOut()).
#include "Core/QNCopyTaskItem.h"
#include "Core/QNErrorWrapper.h"
#include "Core/QNTask.h"
#include "Core/QNUtils.h"
#include "Platform/VNLog.h"

namespace {

// The last name of a path ("b" for "/a/b/").
QString lastName(const QString &path) {
    return QNUtils::withoutTrailingSlashes(path).section(QLatin1Char('/'), -1);
}

}  // namespace

void QNCopyTaskItem::addNote(const QString &note, int items) {
    std::lock_guard lock(m_blockMutex);
    m_notes.append({note, items});
}

QList<QNTask::EndNote> QNCopyTaskItem::endNotes() const {
    std::lock_guard lock(m_blockMutex);
    return m_notes;
}

QStringList QNCopyTaskItem::notes() const {
    return QNTask::textsOf(endNotes());
}

bool QNCopyTaskItem::leftOutUnreadable(const QNDocumentPtr &document, const QNTaskItemPtr &primary,
                                       const QNTaskItemCompletedBlock &completed) {
    // Nothing to copy; the rest of the tree goes on.
    const QString why = unreadableReason(m_fromDriveConfig, document);
    if (why.isNull())
        return false;
    const QString path = QNUtils::withoutTrailingSlashes(document->path());
    const QString message = QStringLiteral("\u201c%1\u201d in \u201c%2\u201d %3: %4.")
                                .arg(lastName(path), path.section(QLatin1Char('/'), 0, -2), notCopied(), why);
    VNLog::log(QStringLiteral("QNCopyTaskItem copyDocument: %1").arg(message));
    // Not a failure: the rest of the tree and of the task goes on, the
    // task's end report names it, and a move keeps it.
    auto top = std::dynamic_pointer_cast<QNCopyTaskItem>(primary);
    (top ? top.get() : this)->addNote(message, 1);
    leaveOut(completed, message);
    return true;
}

void QNCopyTaskItem::leaveOut(const QNTaskItemCompletedBlock &completed, const QString &why) {
    {
        std::lock_guard lock(m_blockMutex);
        m_leftOutWhy = why;
    }
    m_skipped.store(true);
    if (claimPostCopy())
        postCopy(completed, nullptr, nullptr, nullptr, false);
}

void QNCopyTaskItem::endCancelled(const QNTaskItemCompletedBlock &completed, VNOperationQueue *queue) {
    if (claimPostCopy())
        postCopy(completed, nullptr, nullptr, queue, true);
}

bool QNCopyTaskItem::claimName(const QNDocumentPtr &document, const QNDocumentPtr &toDocument,
                               const QNTaskItemCompletedBlock &completed) {
    auto owner = task();
    if (!owner || m_nameClaimed.exchange(true))
        return true;
    const QString name = document->path().isEmpty() ? document->displayName() : lastName(document->path());
    // On the local disk, names that differ only in bytes their drive's
    // encoding could not read are one name: claimed as the disk holds them.
    const bool toLocalDisk = m_toDriveConfig && m_toDriveConfig->isMyFiles();
    const QString claimed = toLocalDisk ? QNUtils::asOnLocalDisk(name) : name;
    QString earlier;
    if (owner->claimDestination(m_toDriveConfig ? m_toDriveConfig->driveConfigId() : QString(), toDocument, claimed,
                                &earlier))
        return true;
    const QString where =
        toDocument->displayName().isEmpty() ? lastName(toDocument->path()) : toDocument->displayName();
    // Two names of one folder that differ only in case are one name on a
    // drive that folds case: the second would go over or into the first.
    QString message;
    if (earlier == name)
        message = QStringLiteral("\u201c%1\u201d %3: this task has already written an item of that name into "
                                 "\u201c%2\u201d.")
                      .arg(name, where, notCopied());
    else if (claimed != name)
        message = QStringLiteral("\u201c%1\u201d %4: this task has already written into \u201c%2\u201d another "
                                 "item that this computer stores under the same name, \u201c%3\u201d (the bytes of "
                                 "a name that are not text in its drive's encoding are all stored alike).")
                      .arg(name, where, claimed, notCopied());
    else
        message = QStringLiteral("\u201c%1\u201d %4: this task has already written \u201c%3\u201d into "
                                 "\u201c%2\u201d, a name that differs from it only in letter case.")
                      .arg(name, where, earlier, notCopied());
    // Not a failure: the rest of the tree and of the task goes on, the
    // task's end report names it, and a move keeps it at its source.
    VNLog::log(QStringLiteral("QNCopyTaskItem copyDocument: %1").arg(message));
    auto top = std::dynamic_pointer_cast<QNCopyTaskItem>(primaryItem());
    (top ? top.get() : this)->addNote(message, 1);
    leaveOut(completed, message);
    return false;
}

VNErrorPtr QNCopyTaskItem::stoppedMoveError(const VNErrorPtr &error) const {
    // A failure before the transfers start stops the whole task with them:
    // in a move that is worth saying first, as the error names one item.
    auto owner = task();
    if (!error || !owner || owner->state() != 1 || !inMove())
        return error;
    const QString text = QNErrorWrapper(error).localizedDescription();
    const QString nothing = QStringLiteral("Nothing was moved. ");
    if (text.startsWith(nothing))
        return error;  // says so already
    QVariantMap info = error->userInfo();
    info.insert(QStringLiteral("error"), nothing + text);
    if (info.contains(VNError::localizedDescriptionKey()))
        info.insert(VNError::localizedDescriptionKey(),
                    nothing + info.value(VNError::localizedDescriptionKey()).toString());
    return std::make_shared<VNError>(error->domain(), error->code(), info);
}

QString QNCopyTaskItem::refusalHead(const QNDocumentPtr &document, const QString &notDone, bool nothingLeft) {
    const QString name = document->path().isEmpty() ? document->displayName() : lastName(document->path());
    return QStringLiteral("%1\u201c%2\u201d %3 and %4 was written or removed: ")
        .arg(document->isDirectory() ? QStringLiteral("The folder ") : QStringLiteral("The file "), name, notDone,
             nothingLeft ? QStringLiteral("nothing") : QStringLiteral("no file"));
}

QNCopyTaskItem *QNCopyTaskItem::topItem() {
    auto top = std::dynamic_pointer_cast<QNCopyTaskItem>(primaryItem());
    return top ? top.get() : this;
}

bool QNCopyTaskItem::inMove() const {
    auto top = std::dynamic_pointer_cast<QNCopyTaskItem>(primaryItem());
    return (top ? top.get() : this)->removesSource();
}

QString QNCopyTaskItem::notCopied(int count) const {
    if (inMove())
        return count == 1 ? QStringLiteral("was not moved") : QStringLiteral("were not moved");
    return count == 1 ? QStringLiteral("was not copied") : QStringLiteral("were not copied");
}

QString QNCopyTaskItem::listingLeftOutNote(const QNDocumentPtr &folder, int count) const {
    const QString path =
        folder->path().isEmpty() ? folder->displayName() : QNUtils::withoutTrailingSlashes(folder->path());
    const bool one = count == 1;
    // Why a listing leaves entries out depends on the kind of drive: a file
    // server's listing may hold lines no format reads; every drive leaves
    // out names that cannot stand as one name of a folder.
    const bool fileServer = m_fromDriveConfig && (m_fromDriveConfig->isFTP() || m_fromDriveConfig->isSFTP());
    const QString why =
        fileServer ? (one ? QStringLiteral("the server lists it in a line this drive cannot read, or under a name it "
                                           "cannot use (such as one holding \u201c/\u201d)")
                          : QStringLiteral("the server lists them in lines this drive cannot read, or under names it "
                                           "cannot use (such as ones holding \u201c/\u201d)"))
                   : (one ? QStringLiteral("the drive lists it under a name this drive cannot use (such as one holding "
                                           "\u201c/\u201d)")
                          : QStringLiteral("the drive lists them under names this drive cannot use (such as ones "
                                           "holding \u201c/\u201d)"));
    return one ? QStringLiteral("An entry of \u201c%1\u201d %2: %3.").arg(path, notCopied(), why)
               : QStringLiteral("%1 entries of \u201c%2\u201d %3: %4.").arg(count).arg(path, notCopied(count), why);
}
