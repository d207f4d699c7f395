#pragma once

#include "Core/QNAliasCheck.h"
#include "Core/QNCopiedTree.h"
#include "Core/QNDestinationListings.h"
#include "Core/QNDriveConfig.h"
#include "Core/QNTask.h"
#include "Core/QNTaskItem.h"

#include <QHash>
#include <QStringList>
#include <atomic>
#include <utility>

class QNHandlerCallWatch;

// Copies one document, a file or a whole folder tree, from one drive into a
// destination folder on the same or another drive, in one of three ways:
//   1. one drive whose handler copies the document itself: one in-drive copy,
//      once a listing shows nothing of its name at the destination (a
//      namesake is replaced by the other ways);
//   2. a folder: create it at the destination and list the source (on the
//      metadata queue); every listed document becomes a copy item under the
//      same primary item, so the whole tree of folders exists before the
//      first transfer. A folder of that name already at the destination is
//      written into: what the copied folder holds replaces what has its
//      name there, and everything else there stays. Never when it, or a
//      folder below it merged the same way, is the copied folder itself
//      reached by another path (a server's link): the item then fails
//      naming it, as a file replacing itself does. Nor when the folder it
//      is dropped onto is the copied folder or one of its folders, reached
//      by another path: the copy would copy itself again and again. No file
//      of a tree goes before these checks have answered, and a tree refused
//      by them removes the empty folders it made;
//   3. a file: download into the task's temporary folder (from queue),
//      upload into the destination folder (to queue), delete the temporary
//      copy. A file already on the local disk is uploaded from where it is.
// A link to a folder is followed at most once per folder it leads to, and not
// at all when it leads back into the tree being copied (or nobody said
// where it leads): the copy always ends. A link left out (as a local link
// to nothing is) is noted, as a name that cannot be read is; the rest is
// copied.
// Within one task nothing is written over or into an item the task wrote
// before under a name that differs at most in letter case: the later item
// is not copied, is noted with the earlier one, and stays where it was.
// A note is not a failure: the task hears no error (so it and its other
// items go on), and its end report names every note of every item
// (QNTask::leftOut()). An item that is itself left out is not done either:
// its listeners hear why (QNTaskItem::isLeftOut()).
// Every way an item ends goes through the post-copy step (a cancel, or an
// item left out, with its flag) or through failCopy() (a failure), which
// the kinds override to put back or remove what they changed.
// Move and save-back items are copy items with a different first or last step.

class QNCopyTaskItem : public QNTaskItem {
public:
    QNCopyTaskItem(QNDriveConfigPtr fromDriveConfig, QNDriveConfigPtr toDriveConfig, QNDocumentPtr fromDocument,
                   QNDocumentPtr toDocument);

    QNDocumentPtr document() const override { return fromDocument(); }
    // "name (Folder)" or "name (1.50 KB)".
    QString description() const override;
    QString className() const override { return QStringLiteral("QNCopyTaskItem"); }

    void enqueue(VNOperationQueue *fromQueue, VNOperationQueue *toQueue, VNOperationQueue *metadataQueue,
                 const QNTaskPtr &task, const QNTaskItemPtr &primary, QNTaskItemCompletedBlock completed,
                 QNTaskItemUpdateBlock update) override;

    // Chooses and starts the way of copying (runs on the metadata queue).
    virtual void copyDocument(QNDocumentPtr document, QNDocumentPtr toDocument, VNOperationQueue *fromQueue,
                              VNOperationQueue *toQueue, VNOperationQueue *metadataQueue,
                              QNTaskItemCompletedBlock completed, QNTaskItemUpdateBlock update, const QNTaskPtr &task,
                              const QNTaskItemPtr &primary);
    // The folder way.
    void recursiveCopy(QNDocumentPtr folder, QNDocumentPtr destPath, VNOperationQueue *metadataQueue,
                       QNTaskItemCompletedBlock completed, const QNTaskPtr &task, const QNTaskItemPtr &primary);
    // Runs when the copy of the item (or of its whole tree) has ended; the
    // queue is where follow-up work goes. The base finishes at once.
    virtual void postCopy(QNTaskItemCompletedBlock completed, VNErrorPtr error, QNDocumentPtr document,
                          VNOperationQueue *queue, bool cancelled);
    // Finishes the item (listeners, callback, flags), once.
    void postCopyFinished(const QNTaskItemCompletedBlock &completed, const VNErrorPtr &error,
                          const QNDocumentPtr &document, bool cancelled);

    // Counts and watches a sub-item: the primary's progress follows its
    // sub-items by size; the primary ends once, at its first failing
    // sub-item or when the last one has reported.
    void addSubitem(const QNTaskItemPtr &subitem, VNOperationQueue *queue) override;

    QNDriveConfigPtr fromDriveConfig() const { return m_fromDriveConfig; }
    QNDriveConfigPtr toDriveConfig() const { return m_toDriveConfig; }
    QNDocumentPtr fromDocument() const { return m_fromDocument; }
    QNDocumentPtr toDocument() const { return m_toDocument; }
    QNTaskItemCompletedBlock completedBlock() const;
    // The source folder whose listing gave this item (null for an item the
    // user asked for).
    QNDocumentPtr sourceFolder() const;
    // An item that was left out: a link to a folder that the copy did not
    // follow (it leads back into the tree, or the task followed a link to
    // the same folder before), a link to nothing, a name that cannot be
    // read, or a name the task has written into its folder already.
    bool wasSkipped() const { return m_skipped.load(); }
    // What the copy of the item or its tree left out and why (names that
    // cannot be read, links not followed, names the task wrote already), for
    // the task's end report, with how many items of the copy the note says
    // were not copied (none for what a drive was left holding, such as a
    // check folder). An empty note only counts items another note of the
    // task speaks of (sources of one pair of folders kept by one note).
    void addNote(const QString &note, int items);
    QList<QNTask::EndNote> endNotes() const;
    QStringList notes() const;
    int unfinishedSubTaskItems() const { return m_unfinishedSubTaskItems.load(); }

    // Whether a copy onto the same drive would put a folder into itself.
    static bool isFolderIntoItself(const QNDriveConfigPtr &fromDrive, const QNDocumentPtr &folder,
                                   const QNDriveConfigPtr &toDrive, const QNDocumentPtr &destination);

    // Whether the copy of document into the folder destination would land on
    // document itself (same drive, same path; on the local disk also through
    // a linked folder, or on another name of the same file, as a hard link):
    // nothing is to be written.
    static bool isOntoItself(const QNDriveConfigPtr &fromDrive, const QNDocumentPtr &document,
                             const QNDriveConfigPtr &toDrive, const QNDocumentPtr &destination);
    // Whether it would land on document's own name (same path; on the local
    // disk also reached through a linked folder): removing the source would
    // remove what is at the destination.
    static bool arrivesAtItsOwnName(const QNDriveConfigPtr &fromDrive, const QNDocumentPtr &document,
                                    const QNDriveConfigPtr &toDrive, const QNDocumentPtr &destination);
    // Whether the item belongs to a move, whose source goes after the copy.
    virtual bool removesSource() const { return false; }
    // The listed entry named name; the name's case only counts when no
    // entry matches it exactly.
    static QNDocumentPtr namesakeIn(const QNDocumentList &listing, const QString &name);

    // A check of a namesake under way removes its check folder itself.
    void taskWasCancelled() override;

protected:
    void setCompletedBlock(QNTaskItemCompletedBlock completed);
    // Both sides are one drive (the same drive id).
    bool sameDrive() const;
    // The folder way for a folder, else the file way.
    void copyByTransfer(QNDocumentPtr document, QNDocumentPtr toDocument, VNOperationQueue *fromQueue,
                        VNOperationQueue *toQueue, VNOperationQueue *metadataQueue, QNTaskItemCompletedBlock completed,
                        QNTaskItemUpdateBlock update, const QNTaskPtr &task, const QNTaskItemPtr &primary);
    // After the drive refused to copy or move the document inside itself:
    // when the destination holds an item of its name and kind (the user
    // chose to replace it), the copy goes by transfer, which replaces a file
    // and writes into a folder; else the item fails with the refusal.
    void replaceAfterRefusal(VNErrorPtr refusal, QNDocumentPtr document, QNDocumentPtr toDocument,
                             VNOperationQueue *fromQueue, VNOperationQueue *toQueue, VNOperationQueue *metadataQueue,
                             QNTaskItemCompletedBlock completed, QNTaskItemUpdateBlock update,
                             std::weak_ptr<QNTask> weakTask, std::weak_ptr<QNTaskItem> weakPrimary);
    // Whether the document would land on itself reached by another path (on
    // the local disk, a link to the folder holding it): fails the item
    // naming it, before anything is written or removed.
    bool failsOntoItselfByAnotherPath(const QNDocumentPtr &document, const QNDocumentPtr &toDocument,
                                      const QNTaskItemCompletedBlock &completed);
    // Lists the destination first (once per item) where the drive would copy
    // or move the document itself, or where a dropped document may share its
    // storage with the destination. A namesake there is never left to the
    // drive's own copy or move (servers differ on what they do with it): it
    // is replaced by transfer, once it is known not to be the document
    // itself. Answers whether it took the item over; the item then goes on
    // from there (through copyDocument again when there is no namesake).
    bool checkDestinationFirst(const QNDocumentPtr &document, const QNDocumentPtr &toDocument,
                               VNOperationQueue *fromQueue, VNOperationQueue *toQueue,
                               VNOperationQueue *metadataQueue, const QNTaskItemCompletedBlock &completed,
                               const QNTaskItemUpdateBlock &update, const QNTaskPtr &task,
                               const QNTaskItemPtr &primary);
    // Runs next unless namesake, the item of the document's name at the
    // destination, is the document itself: then the item fails naming it.
    // Only the dropped item (dropped true) is looked at here (once), where
    // the two drives may share their storage, by asking whether the folders
    // holding the two are one (a folder's own folder for a folder; the
    // files of one pair of folders share the answer, and a move's removal
    // takes it). The folders merged below it, each of which may be any
    // folder of the tree, are asked once the tree is listed (treeListed()).
    // Where it cannot be told, the copy goes on, every file of it (of the
    // folder's whole tree) up under a temporary name, and a move keeps its
    // source; to a drive that writes straight onto the name it fails
    // naming why.
    void unlessItself(const QNDocumentPtr &document, const QNDocumentPtr &namesake, bool dropped,
                      VNOperationQueue *metadataQueue, const QNTaskItemCompletedBlock &completed,
                      std::function<void()> next);
    // Asks a check once per task (QNTask::askAliasCheck()), as a step of the
    // queue (the task waits for it to end); what it left behind is noted.
    void askAliasCheck(const std::shared_ptr<QNAliasCheck> &check, VNOperationQueue *queue,
                       QNAliasCheck::Finished finished);
    // What the check of unlessItself() answered: next, or the item fails.
    void aliasCheckEnded(const QNAliasCheck::Outcome &outcome, const QNDocumentPtr &document, const QString &there,
                         const QNTaskItemCompletedBlock &completed, const std::function<void()> &next);
    // A primary folder's tree: made when its folder way starts; every folder
    // of the tree still to be listed holds a token of it.
    void startTree();
    std::shared_ptr<QNCopiedTree> copiedTree() const;
    // Lets go of this folder's token: its listing is done, or it has ended.
    void closeFolder();
    // The whole tree is listed: ends the drop target's check; then asks
    // (as if a sub-item), before any file goes, whether a folder the copy
    // lands in is a folder of the tree reached by another path (checkTree()):
    // for a copy, each folder already at the destination it was written
    // into; for a move, those and the folder it was dropped onto, shown
    // apart or not (its removal takes the answer).
    void treeListed();
    // Ends the drop target's check as a step of the metadata queue.
    void endDropTargetCheck(const std::shared_ptr<QNAliasCheck> &check);
    void checkTree();
    // places: where the copy lands; mergeOf: per place, its merge (-1 for
    // the folder dropped onto).
    void treeCheckEnded(const QNAliasCheck::Outcome &outcome, const QList<QNCopiedTree::Merge> &merges,
                        const QList<QNDocumentPtr> &folders, const QList<QNDocumentPtr> &places,
                        const QList<int> &mergeOf);
    // Where the two drives may share their storage, the folder a tree is
    // dropped onto (destPath) is asked, before the dropped folder's copy
    // makes anything, whether it shows in a listing of the tree
    // (QNAliasCheck::standing(), dropTargetShownIn()). Answers whether it
    // took the copy over: next then goes on once it stands (or could not).
    bool checksDropTarget(const QNDocumentPtr &destPath, VNOperationQueue *metadataQueue,
                          const QNTaskItemCompletedBlock &completed, std::function<void()> next);
    void dropTargetCheckEnded(const QNAliasCheck::Outcome &outcome, const QNTaskItemCompletedBlock &completed,
                              const std::function<void()> &next);
    // Whether the listing of folder, a folder of this item's tree, shows the
    // drop target's check folder: the folder dropped onto is that folder,
    // and the tree's copy is refused.
    bool dropTargetShownIn(const QNDocumentPtr &folder, const QNDocumentList &listing);
    // Whether the copy of the item's tree has been refused: a sub-item ends
    // as cancelled; the primary waits for the refusal, which ends it.
    bool stopsForRefusedTree(const QNTaskItemCompletedBlock &completed);
    // A check of the tree (the drop target's or the merged folders') has
    // ended: with a refusal the tree's copy is refused, and it answers true;
    // else treeCheckAnswered() lets go of the primary's wait for it.
    bool refusesTree(std::function<QString(bool nothingLeft)> refusal);
    void treeCheckAnswered(const QNAliasCheck::Outcome &outcome);
    // Ends the tree's copy with the refusal (its text told whether every
    // folder the copy made went again), once those folders are removed.
    void refuseTree(const std::function<QString(bool nothingLeft)> &refusal);
    void treeRefused(const std::function<QString(bool nothingLeft)> &refusal, const QStringList &left);
    // Runs start once the tree's checks have answered (answers false, after
    // running it, outside a tree or once they have); where the tree's copy
    // was refused or has ended, the item ends as cancelled instead.
    bool waitsForTreeChecks(std::function<void()> start, const QNTaskItemCompletedBlock &completed,
                            VNOperationQueue *queue);
    // A sub-item of this primary ended (or the tree's check did): the
    // primary ends at the first error or once none is left. Answers whether
    // the primary ended here.
    bool subitemEnded(const VNErrorPtr &error, bool cancelled, VNOperationQueue *queue);
    // Whether its upload goes under a temporary name (it could not be told
    // whether it, or its tree, lands on itself).
    bool uploadsUnderTemporaryName() const;
    // Why the item does not go on where it cannot be told whether it lands
    // on itself, or "" when it may (its uploads go whole or not at all).
    QString cannotTellRefusal(const QNDocumentPtr &document, const QString &there) const;
    // Whether what stands under the document's name at the destination is
    // known not to be the document itself, so that an upload whose
    // temporary name cannot take the name may go straight onto it.
    bool mayWriteOntoName(const QNDocumentPtr &document) const;
    // The item whose tree this one belongs to (itself for a top-level item).
    QNCopyTaskItem *topItem();

public:
    // "The folder “proj” was not copied and nothing was written or
    // removed: ", or, where folders the copy made could not be removed
    // again, "… and no file was written or removed: ".
    static QString refusalHead(const QNDocumentPtr &document, const QString &notDone, bool nothingLeft = true);

protected:
    // Whether the destination listing holds a folder of the document's name,
    // which a file does not replace: fails the item naming it.
    bool folderInTheWay(const QNListing &listing, const QNDocumentPtr &document, const QNDocumentPtr &toDocument,
                        const QNTaskItemCompletedBlock &completed);
    // Lists the destination folder on the metadata queue.
    void listDestination(const QNDocumentPtr &toDocument, VNOperationQueue *metadataQueue,
                         QNDestinationListingBlock listed);
    // The file way.
    void transferFile(QNDocumentPtr document, QNDocumentPtr toDocument, VNOperationQueue *fromQueue,
                      VNOperationQueue *toQueue, QNTaskItemCompletedBlock completed, QNTaskItemUpdateBlock update);
    // Uploads a local file (a temporary copy, or the source itself when it
    // lies on the local disk) and runs the post-copy step.
    void uploadLocalCopy(QNDocumentPtr localCopy, bool isTemporary, QNDocumentPtr toDocument,
                         VNOperationQueue *fromQueue, VNOperationQueue *toQueue, QNTaskItemCompletedBlock completed,
                         QNTaskItemUpdateBlock update);
    // Whether the post-copy step has already run, or the item has ended:
    // claims it when not.
    bool claimPostCopy();
    // A sub-item of this primary failed or was cancelled at some point.
    bool treeWasBroken() const { return m_treeBroken.load(); }

    void setProgressAndReport(double value, const QNTaskItemUpdateBlock &update);

    // Ends the item after a failed step of the copy (download, upload,
    // in-drive copy, temporary copy, a namesake in the way); kinds that
    // changed something on the drive before the copy put it back first. The
    // base finishes at once.
    virtual void failCopy(const QNTaskItemCompletedBlock &completed, const VNErrorPtr &error);
    // The error of a failure in a move before any transfer has started:
    // the whole task stops with it, so it first says that nothing was moved.
    VNErrorPtr stoppedMoveError(const VNErrorPtr &error) const;
    // Whether the item, or the tree it belongs to, is moved (its source goes).
    bool inMove() const;
    // "was not copied", or "was not moved" in a move ("were" for count > 1).
    QString notCopied(int count = 1) const;
    // Ends the item as cancelled through the post-copy step, unless it has
    // ended already.
    void endCancelled(const QNTaskItemCompletedBlock &completed, VNOperationQueue *queue);
    // Claims the document's name in the destination folder for this task
    // (once per item); when the task has already written a name there that
    // differs at most in case, answers false: the item is left out and
    // noted naming both, and the rest of the task goes on.
    bool claimName(const QNDocumentPtr &document, const QNDocumentPtr &toDocument,
                   const QNTaskItemCompletedBlock &completed);

    // The upload of the file way, once queued, and whether it has answered.
    std::shared_ptr<VNOperation> uploadOperation() const;
    // Tells when the drive has given its own answer to that upload: a
    // cancel answers for it at once, while the drive may still be putting
    // the file in place. Null before the upload is queued.
    std::shared_ptr<QNHandlerCallWatch> uploadCallWatch() const;
    bool uploadAnswered() const { return m_uploadAnswered.load(); }

private:
    // Whether the document cannot be read at all (its name cannot be read
    // back, or it is a local link to nothing): leaves it out and notes it.
    bool leftOutUnreadable(const QNDocumentPtr &document, const QNTaskItemPtr &primary,
                           const QNTaskItemCompletedBlock &completed);
    // Whether a folder that is a link must not be followed; notes why on
    // the primary.
    bool skipsLink(const QNDocumentPtr &folder, const QNTaskPtr &task, const QNTaskItemPtr &primary, QString *note);
    void setSourcePlace(QNDocumentPtr folder, QString realPath);
    // The item whose tree this one belongs to (itself for a top-level item),
    // once enqueued.
    QNTaskItemPtr primaryItem() const;
    // Ends an item that is not copied (a dropped one, or one of a tree),
    // for the reason why, through the post-copy step (its kind must not take
    // it for copied: wasSkipped()). The task hears no error; the item's
    // listeners hear why (isLeftOut()).
    void leaveOut(const QNTaskItemCompletedBlock &completed, const QString &why);
    // The destination holds a folder whose name differs from the copied
    // folder's only in case: the copy goes into it only when the drive finds
    // it under the copied folder's own name (the drive folds case, so that
    // folder is what refused the name), and, as into a namesake of its own
    // spelling, only once it is known not to be the copied folder itself
    // (unlessItself()); else the item fails with the creation's error.
    void mergeIfCaseFolded(QNDocumentPtr folder, QNDocumentPtr destPath, QNDocumentPtr existing, QString name,
                           VNErrorPtr createError, VNOperationQueue *metadataQueue, QNTaskItemCompletedBlock completed,
                           std::weak_ptr<QNTask> weakTask, std::weak_ptr<QNTaskItem> weakPrimary);
    // After the folder could not be created: when the destination already
    // holds a folder of that name, the copy goes into it (same-named files
    // in it are replaced, nothing else there is touched); else the item
    // fails with the creation's error.
    void mergeIntoExistingFolder(QNDocumentPtr folder, QNDocumentPtr destPath, QString name, VNErrorPtr createError,
                                 VNOperationQueue *metadataQueue, QNTaskItemCompletedBlock completed,
                                 std::weak_ptr<QNTask> weakTask, std::weak_ptr<QNTaskItem> weakPrimary);
    // Writes the folder into existing, its namesake at the destination: the
    // dropped folder once it is known not to be existing itself; every one
    // is noted for the tree's check.
    void mergeInto(QNDocumentPtr folder, QNDocumentPtr existing, VNOperationQueue *metadataQueue,
                   QNTaskItemCompletedBlock completed, std::weak_ptr<QNTask> weakTask,
                   std::weak_ptr<QNTaskItem> weakPrimary);
    // Lists the folder the copy goes into (it was there before), then
    // copies into it.
    void listExistingFolder(QNDocumentPtr folder, QNDocumentPtr existing, VNOperationQueue *metadataQueue,
                            QNTaskItemCompletedBlock completed, std::weak_ptr<QNTask> weakTask,
                            std::weak_ptr<QNTaskItem> weakPrimary);
    // Lists the source folder and adds a copy item for each document in it,
    // into newFolder, which holds what there lists (known before a file
    // goes in); made tells that this copy made newFolder.
    void copyFolderContents(QNDocumentPtr folder, QNDocumentPtr newFolder,
                            std::shared_ptr<const QNListing> there, bool made, VNOperationQueue *metadataQueue,
                            QNTaskItemCompletedBlock completed, std::weak_ptr<QNTask> weakTask,
                            std::weak_ptr<QNTaskItem> weakPrimary);
    // The note for count entries that the listing of folder left out (names
    // the drive cannot use, lines it cannot read): not copied, still there.
    QString listingLeftOutNote(const QNDocumentPtr &folder, int count) const;
    void setDestinationListing(std::shared_ptr<const QNListing> listing);
    std::shared_ptr<const QNListing> destinationListing() const;
    // The error's text for an item whose namesake in destination is of
    // another kind (or a link to a folder): it is neither replaced nor
    // written into.
    QString namesakeInTheWay(const QString &name, bool isFolder, const QNDocumentPtr &existing,
                             const QNDocumentPtr &destination) const;

    void logFailure(const QString &step, const VNErrorPtr &error) const;

    QNDriveConfigPtr m_fromDriveConfig;
    QNDriveConfigPtr m_toDriveConfig;
    QNDocumentPtr m_fromDocument;
    QNDocumentPtr m_toDocument;
    mutable std::mutex m_blockMutex;
    QNTaskItemCompletedBlock m_completedBlock;
    std::atomic<int> m_unfinishedSubTaskItems{0};
    std::atomic<bool> m_postCopyClaimed{false};
    std::atomic<bool> m_treeBroken{false};
    std::atomic<bool> m_uploadAnswered{false};
    std::atomic<bool> m_skipped{false};
    std::atomic<bool> m_nameClaimed{false};
    std::atomic<bool> m_destinationChecked{false};
    std::atomic<bool> m_namesakeChecked{false};  // the namesake check let it go on
    // The namesake check could not be made and let the copy go on: every
    // file of the item (and of its tree) goes up under a temporary name, as
    // the namesake may be the very file being read.
    std::atomic<bool> m_uploadsUnderTemporaryName{false};
    std::atomic<bool> m_provenApart{false};     // its namesake's folder was shown apart from its own
    std::atomic<bool> m_intoMadeFolder{false};  // its destination folder was made by this copy
    // The drop target's check, while it runs; where it was made, and the
    // folder of the tree whose listing showed it. Guarded by m_blockMutex.
    std::shared_ptr<QNAliasCheck> m_dropTargetCheck;
    QNDocumentPtr m_dropTarget;
    QNDocumentPtr m_dropTargetSeenIn;
    std::atomic<bool> m_dropTargetAsked{false};
    std::atomic<bool> m_dropTargetStood{false};
    std::atomic<bool> m_treeChecksPassed{false};  // a file of a tree, let go by its checks
    std::shared_ptr<QNCopiedTree> m_tree;        // a primary folder's; guarded by m_blockMutex
    std::shared_ptr<void> m_openFolderToken;     // until its listing is done; guarded by m_blockMutex
    QNDocumentPtr m_sourceFolder;  // guarded by m_blockMutex
    std::weak_ptr<QNTaskItem> m_primary;  // guarded by m_blockMutex
    QList<QNTask::EndNote> m_notes;  // guarded by m_blockMutex
    QString m_leftOutWhy;          // this item's own note when left out; guarded by m_blockMutex
    // For a folder: where it really is on the drive (a folder reached
    // through a link lies where the link leads). Guarded by m_blockMutex.
    QString m_realPath;
    // What the destination folder holds, when already listed. Guarded by
    // m_blockMutex.
    std::shared_ptr<const QNListing> m_destinationListing;
    std::weak_ptr<VNOperation> m_uploadOperation;
    std::shared_ptr<QNHandlerCallWatch> m_uploadCallWatch;  // guarded by m_blockMutex
    std::mutex m_firstErrorMutex;
    VNErrorPtr m_firstSubitemError;

    // The primary's progress over its file sub-items, kept as running sums
    // (a tree has thousands of sub-items, each reporting many times).
    void subitemProgressed(const QNTaskItem *subitem, float subitemProgress);
    std::mutex m_progressMutex;
    double m_subitemBytes = 0;
    double m_subitemBytesDone = 0;
    QHash<const QNTaskItem *, std::pair<double, double>> m_subitemShares;  // size, bytes done
};
