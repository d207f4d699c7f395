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
//
// Wherever the check folder may have been left (its creation answered with
// an error, its removal failed, the task was cancelled), it is looked for
// and removed; one that stays is named, with its folder, in the outcome.
class QNAliasCheck : public std::enable_shared_from_this<QNAliasCheck> {
public:
    enum class Answer {
        Apart,    // two items
        Same,     // the source itself
        Unknown,  // the check folder was made, but the listings could not tell
        NotMade,  // the check folder could not be made: nothing was told
    };
    struct Outcome {
        Answer answer = Answer::Unknown;
        QString why;       // why it could not be told ("" when it was)
        QString leftOver;  // names a check folder left behind and its folder ("" when none)
        bool cancelled = false;
    };
    // Puts an operation on the queue (through the task, so a cancel stops it).
    using AddOperation = std::function<void(const std::shared_ptr<VNOperation> &)>;
    using Finished = std::function<void(const Outcome &outcome)>;
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
    void start(AddOperation add, Finished finished, Hold hold = nullptr);

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
    // The check folder's creation answered with an error: it may have been
    // made all the same (a reply lost on its way back).
    void lookForMarker(const QString &createError);
    // It could not be looked for: it goes if it is there.
    void removeUnseenMarker(const QString &why, const QString &lookError);
    void listSource();
    void confirmMarker();
    bool holdsMarker(const QNDocumentList &documents) const;
    // Removes the check folder, and ends with the answer; a failed removal
    // looks whether it is there before naming it.
    void removeMarker(Answer answer, const QString &why);
    void markerIsGone();
    QNDocumentPtr marker();
    QString markerFolderPath() const;
    QString leftText(const QString &removeError) const;
    QString mayBeLeftText(const QString &removeError, const QString &lookError) const;
    void finish(Answer answer, const QString &why = {}, const QString &leftOver = {});

    QNDriveConfigPtr m_sourceDrive;
    QNDocumentPtr m_source;
    QNDriveConfigPtr m_namesakeDrive;
    QNDocumentPtr m_namesake;
    QString m_markerName;
    QNDocumentPtr m_markerFolder;  // where the check folder is made
    QNDocumentPtr m_lookIn;        // where it is looked for
    AddOperation m_add;
    Finished m_finished;
    std::shared_ptr<void> m_hold;

    std::mutex m_mutex;
    QNDocumentPtr m_marker;
    std::shared_ptr<VNOperation> m_step;  // the step on the queue
    bool m_stepAnswered = false;
    bool m_taskCancelled = false;
    bool m_markerMayExist = false;  // its creation ran, and it is not known gone
    std::atomic<bool> m_ended{false};
};
