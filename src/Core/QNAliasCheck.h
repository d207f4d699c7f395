#pragma once

#include "Core/QNDocument.h"
#include "Core/QNDriveConfig.h"
#include "Platform/VNError.h"

#include <QString>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

class VNOperation;

// Tells whether an item at the destination is the very item being copied,
// reached by another path: a server that links one folder to another shows
// /srv/proj and /home/u/proj as two folders that are one. Replacing (or
// merging into) such a namesake writes every file onto itself, and a move
// then removes the only copy.
//
// On the local disk the two are compared by device and inode. On a file
// server a check folder of a unique name is made in the namesake (for a
// file, in the folder holding it), looked for in the source (the folder
// holding it) and removed again; no listing of one folder can show it
// unless the two are one. Not seen there, it must show in its own folder's
// listing for the two to be told apart. One request at a time, through the
// caller's queue.
class QNAliasCheck : public std::enable_shared_from_this<QNAliasCheck> {
public:
    // Puts an operation on the queue (through the task, so a cancel stops it).
    using AddOperation = std::function<void(const std::shared_ptr<VNOperation> &)>;
    using MakeError = std::function<VNErrorPtr(const QString &message)>;
    // (same, error, cancelled): error when it could not be told.
    using Finished = std::function<void(bool same, VNErrorPtr error, bool cancelled)>;
    // Keeps the task from ending until the check folder is gone.
    using Hold = std::function<std::shared_ptr<void>()>;

    // Whether items of the two drives can be one: both on the local disk, or
    // both on file servers (FTP, SFTP, WebDAV) of one drive or one host.
    static bool mayBeOneStorage(const QNDriveConfigPtr &a, const QNDriveConfigPtr &b);

    // source on sourceDrive, its namesake on namesakeDrive; both files or
    // both folders, addressed by path.
    QNAliasCheck(QNDriveConfigPtr sourceDrive, QNDocumentPtr source, QNDriveConfigPtr namesakeDrive,
                 QNDocumentPtr namesake);

    // The local disk answers at once, on the caller's thread.
    void start(AddOperation add, MakeError makeError, Finished finished, Hold hold = nullptr);

    // The task was cancelled: a step it cancelled before it started never
    // answers, so the check folder is removed from here, outside the task.
    void taskWasCancelled();

    // The name of the check folder ("" before start).
    QString markerName() const { return m_markerName; }

private:
    // Puts a step on the task's queue, unless the task is cancelled.
    void run(const std::shared_ptr<VNOperation> &operation);
    // The step that ran answered.
    void answered();
    // Ends a cancelled check, removing the check folder outside the task.
    void endCancelled();
    void listSource();
    void confirmMarker();
    bool holdsMarker(const QNDocumentList &documents) const;
    void removeMarker(bool same, const VNErrorPtr &error);
    QNDocumentPtr marker();
    void finish(bool same, const VNErrorPtr &error, bool cancelled);

    QNDriveConfigPtr m_sourceDrive;
    QNDocumentPtr m_source;
    QNDriveConfigPtr m_namesakeDrive;
    QNDocumentPtr m_namesake;
    QString m_markerName;
    QNDocumentPtr m_markerFolder;  // where the check folder is made
    QNDocumentPtr m_lookIn;        // where it is looked for
    AddOperation m_add;
    MakeError m_makeError;
    Finished m_finished;
    std::shared_ptr<void> m_hold;

    std::mutex m_mutex;
    QNDocumentPtr m_marker;
    std::shared_ptr<VNOperation> m_step;  // the step on the queue
    bool m_stepAnswered = false;
    bool m_taskCancelled = false;
    bool m_markerMayExist = false;  // its creation ran
    std::atomic<bool> m_ended{false};
};
