#pragma once

#include "Core/QNDocument.h"
#include "Core/QNDriveConfig.h"
#include "Platform/VNError.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

class VNOperation;

// Tells whether an item at the destination is the very item being copied,
// reached by another path: a server that links one folder to another shows
// /srv/proj and /home/u/proj as two folders that are one, and a server's
// share mounted in the home folder (or a server serving a folder of this
// machine) shows one folder through two drives. Replacing (or merging into)
// such a namesake writes every file onto itself, and a move then removes
// the only copy.
//
// On the local disk the two are compared by device and inode; two drives of
// one web service by the ids the service gives (one id is one item). Else a
// check folder of a unique name is made in the namesake (for a file, in the
// folder holding it), looked for in the source (the folder holding it) and
// removed again; no listing of one folder can show it unless the two are
// one. Not seen there, it must show in its own folder's listing for the two
// to be told apart. One request at a time, through the caller's queue.
//
// A tree check asks the same of several namesakes at once (the folders a
// copy merged into) against every folder of the copied tree: a merged
// folder may be a link to another folder of the tree than its own. Each
// namesake gets a check folder of its own name; each source folder is
// listed once.
//
// The drop target's check asks whether the folder a tree is dropped onto is
// a folder of that tree (or the dropped folder itself) reached by another
// path: copying into it would copy the copy again, level after level. Its
// check folder is made in the drop target before the copy makes anything
// and stands while the copy lists the tree, which looks for it in every
// listing it makes anyway (showsMarker()); lookedFor() then ends the check.
//
// Wherever a check folder may have been left (its creation answered with
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
        QString leftOver;  // names each check folder left behind and its folder ("" when none)
        bool cancelled = false;
        // For Same: the namesake (its index among those given) and the
        // source folder that showed to be it (its index). 0 and 0 for one item.
        int namesake = -1;
        int source = -1;
    };
    // Puts an operation on the queue (through the task, so a cancel stops it).
    using AddOperation = std::function<void(const std::shared_ptr<VNOperation> &)>;
    using Finished = std::function<void(const Outcome &outcome)>;
    // Keeps the task from ending until the check folder is gone.
    using Hold = std::function<std::shared_ptr<void>()>;

    // Whether items of the two drives can be one: any two drives that reach
    // files by path (the local disk, FTP, SFTP, WebDAV, SMB, Office 365),
    // whatever hosts they name (one machine has many names, and may serve
    // the very folders this one mounts), or two drives of one web service
    // (an account added twice). Not photo services, which add a photo
    // beside one of its name and never replace it.
    static bool mayBeOneStorage(const QNDriveConfigPtr &a, const QNDriveConfigPtr &b);
    // Whether the drive reaches a file system by path: the local disk and
    // the file servers (Office 365 speaks WebDAV).
    static bool reachesFilesByPath(const QNDriveConfig &drive);

    // source on sourceDrive, its namesake on namesakeDrive; both files or
    // both folders, addressed by path.
    QNAliasCheck(QNDriveConfigPtr sourceDrive, QNDocumentPtr source, QNDriveConfigPtr namesakeDrive,
                 QNDocumentPtr namesake);
    // The tree check: whether any of the namesakes (folders of
    // namesakeDrive) is any of the source folders.
    QNAliasCheck(QNDriveConfigPtr sourceDrive, QList<QNDocumentPtr> sourceFolders, QNDriveConfigPtr namesakeDrive,
                 QList<QNDocumentPtr> namesakes);
    // The drop target's check: dropTarget, a folder of targetDrive, against
    // the tree the copy lists on sourceDrive.
    static std::shared_ptr<QNAliasCheck> forDropTarget(QNDriveConfigPtr sourceDrive, QNDriveConfigPtr targetDrive,
                                                       QNDocumentPtr dropTarget);

    // The local disk and the web services answer at once, on the caller's thread.
    void start(AddOperation add, Finished finished, Hold hold = nullptr);
    // The drop target's check: standing runs once its check folder stands
    // (then the copy lists its tree, looking for it); finished, once it has
    // ended (where it could not be made, without standing: NotMade).
    void start(AddOperation add, Finished finished, Hold hold, std::function<void()> standing);
    // Whether the listing shows the standing check folder (false before it stands).
    bool showsMarker(const QNDocumentList &listing) const;
    // The copy has listed its tree: seen, the check folder showed in one of
    // its listings (Same); else it must show in the drop target's own listing
    // (Apart) or nothing can be told (Unknown). Then it is removed.
    void lookedFor(bool seen);

    // The task was cancelled: where the step under way has not started, the
    // check ends now (its answer comes only when its queue reaches it), and
    // the check folders are removed from here, outside the task.
    void taskWasCancelled();

    // The name of the (first) check folder ("" before start, or where none is made).
    QString markerName() const;

private:
    struct Marker {
        QNDocumentPtr folder;  // where it is made
        QString name;
        QNDocumentPtr document;  // guarded by m_mutex
        bool mayExist = false;   // its creation ran, and it is not known gone; guarded by m_mutex
    };

    // What a cancelled check still has to remove, outside the task.
    struct CancelledRemoval {
        QList<int> left;  // the check folders that may exist
        QStringList said;
        Finished finished;
        std::shared_ptr<void> hold;
    };
    void removeAfterCancel(const std::shared_ptr<CancelledRemoval> &state);

    // Answers without check folders where the drives allow; false then.
    bool answeredWithoutMarkers();
    // Puts a step on the task's queue, unless the task is cancelled.
    void run(const std::shared_ptr<VNOperation> &operation);
    // The step that ran answered.
    void answered();
    // Ends a cancelled check, removing the check folders outside the task.
    void endCancelled();
    void makeMarker(int index);
    // A check folder's creation answered with an error: it may have been
    // made all the same (a reply lost on its way back).
    void lookForMarker(int index, const QString &createError);
    void listSource(int index);
    // The drop target's check folder stands: the copy goes on.
    void stand();
    void confirmMarker(int index);
    // The check folder shown in the listing (-1 for none): one look-up per
    // listed name, however many check folders there are.
    int shownMarker(const QNDocumentList &documents) const;
    bool shows(const QNDocumentList &documents, int index) const;
    // Removes every check folder that may exist, then ends with the answer;
    // a failed removal looks whether it is there before naming it.
    void removeMarkers(Answer answer, const QString &why);
    void removeMarker(int index);
    void markerIsGone(int index);
    QNDocumentPtr markerDocument(int index);
    QString folderPath(int index) const;
    QString leftText(int index, const QString &removeError) const;
    QString mayBeLeftText(int index, const QString &removeError, const QString &lookError) const;
    void finish(Answer answer, const QString &why = {}, const QString &leftOver = {});

    QNDriveConfigPtr m_sourceDrive;
    QNDriveConfigPtr m_namesakeDrive;
    bool m_single = true;
    bool m_dropTarget = false;  // the drop target's check
    QNDocumentPtr m_source;    // the single check's items
    QNDocumentPtr m_namesake;
    QList<QNDocumentPtr> m_lookIn;  // where the check folders are looked for
    QList<QNDocumentPtr> m_namesakes;
    std::vector<Marker> m_markers;
    QHash<QString, int> m_markerIndex;  // check folder name -> its index; fixed once started
    std::function<void()> m_standing;   // the drop target's check, until it stands; guarded by m_mutex
    AddOperation m_add;
    Finished m_finished;
    std::shared_ptr<void> m_hold;

    mutable std::mutex m_mutex;
    std::shared_ptr<VNOperation> m_step;  // the step on the queue
    bool m_stepAnswered = false;
    bool m_taskCancelled = false;
    bool m_isStanding = false;  // the drop target's check folder stands, no step runs
    // The answer the removal of the check folders ends with.
    Answer m_answer = Answer::Unknown;
    QString m_why;
    QStringList m_leftOver;
    int m_sameNamesake = -1;
    int m_sameSource = -1;
    std::atomic<bool> m_ended{false};
};
