#pragma once

#include "Core/QNDocument.h"
#include "Core/QNDriveConfig.h"

#include <QList>
#include <QStringList>
#include <functional>
#include <memory>

class VNOperation;

// Removes again the folders a refused copy made at the destination before
// it was refused: the last made first, so each after those made inside it,
// and each only once its listing shows it empty (a WebDAV server removes a
// folder with everything in it). One that holds anything, or that cannot be
// listed or removed, stays and is named. One request at a time, through
// the caller's queue.
class QNMadeFoldersRemoval : public std::enable_shared_from_this<QNMadeFoldersRemoval> {
public:
    // Puts an operation on the queue (through the task, so a cancel stops it).
    using AddOperation = std::function<void(const std::shared_ptr<VNOperation> &)>;
    // One sentence for each folder that stays (none when all went).
    using Finished = std::function<void(const QStringList &left)>;

    // folders: in the order made.
    QNMadeFoldersRemoval(QNDriveConfigPtr drive, QList<QNDocumentPtr> folders);

    void start(AddOperation add, Finished finished);

private:
    void removeNext();
    void removeIfEmpty(const QNDocumentPtr &folder);
    // The folder stays, for the reason given.
    void leave(const QNDocumentPtr &folder, const QString &why);

    QNDriveConfigPtr m_drive;
    QList<QNDocumentPtr> m_folders;  // still to remove; the last is removed first
    QStringList m_left;
    AddOperation m_add;
    Finished m_finished;
};
