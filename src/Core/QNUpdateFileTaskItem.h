#pragma once

#include "Core/QNCopyTaskItem.h"

#include <QDateTime>
#include <functional>
#include <mutex>

class QNHandlerCallWatch;

// Saves a document that was edited in another application back to the drive
// it was opened from: the drive document is renamed to a dated backup name
// ("report-QN-2014-03-05_09-07-02.docx"), the edited local file is uploaded
// into the same folder under the document's name, then the backup is
// removed. At every moment one of the two versions is on the drive: a local
// copy that cannot be read fails before the drive is touched, and when the
// upload fails or is cancelled the backup gets its name back (the failure is
// still reported, and so is a backup that cannot get its name back). A
// rename cancelled on its way is looked into once the drive has answered it,
// and so is one that failed (its reply may have been lost after the drive
// renamed). After a cancelled upload the drive's own answer to it is awaited
// too: an upload that was whole under the document's name is a save-back
// done after all (the backup goes), anything else gives way to the backup.
// The item changes none of the documents it is given: the drive document is
// the opened copy's record of where it came from, and keeps its path for
// the next save-back. On a drive that finds items by id the upload is a new
// item: savedDocument() hands out the drive document as it then stands,
// for the record's owner to keep. Runs in a QNUpdateFileTask.
class QNUpdateFileTaskItem : public QNCopyTaskItem {
public:
    // driveConfig: the drive; document: the edited local file (absolute
    // path); originalDocument: the drive document; originalParentDocument:
    // its folder on the drive.
    QNUpdateFileTaskItem(QNDriveConfigPtr driveConfig, QNDocumentPtr document, QNDocumentPtr originalDocument,
                         QNDocumentPtr originalParentDocument);

    // The edited local file.
    QNDocumentPtr document() const override { return fromDocument(); }
    // "Update name (1.50 KB) to Service".
    QString description() const override;
    QString className() const override { return QStringLiteral("QNUpdateFileTaskItem"); }

    // Renames the drive document to its backup name, then copies.
    void copyDocument(QNDocumentPtr document, QNDocumentPtr toDocument, VNOperationQueue *fromQueue,
                      VNOperationQueue *toQueue, VNOperationQueue *metadataQueue, QNTaskItemCompletedBlock completed,
                      QNTaskItemUpdateBlock update, const QNTaskPtr &task, const QNTaskItemPtr &primary) override;
    // Removes the backup after the upload; puts it back after a failure.
    void postCopy(QNTaskItemCompletedBlock completed, VNErrorPtr error, QNDocumentPtr document,
                  VNOperationQueue *queue, bool cancelled) override;
    void taskWasCancelled() override;

    QNDocumentPtr originalDocument() const { return m_originalDocument; }
    QNDocumentPtr originalParentDocument() const { return m_originalParentDocument; }
    // The drive document under its backup name, once renamed; null before.
    QNDocumentPtr renamedDocument() const;
    // Once the edited file is up (whatever became of the backup): the drive
    // document as it now stands, a document of its own made by
    // followingUpload() from the drive document and the drive's answer to
    // the upload. Null before, and when the upload never went up.
    QNDocumentPtr savedDocument() const;
    // The drive's answer to the upload, as a document of the item's own;
    // null before, and when the drive answered no document of the uploaded
    // file (some answer the folder, or nothing).
    QNDocumentPtr uploadedDocument() const;

    // What a drive document becomes once a save-back has uploaded the edited
    // copy in its place: a new document with driveDocument's fields (its
    // path, name and date among them) and the uploaded item's identity,
    // the fields by which a drive finds an item (id, full path, edit URL,
    // resource id, service objects, sha1, URL). With no uploaded document
    // that identity is left empty: the old one named the item now removed,
    // and a drive that can finds the document by its path instead.
    static QNDocumentPtr followingUpload(const QNDocumentPtr &driveDocument, const QNDocumentPtr &uploaded);

    // The backup path of a drive document at the given local time: its
    // folder joined with "name-QN-yyyy-MM-dd_hh-mm-ss.ext" (a name without an
    // extension ends in a full stop).
    static QString backupPath(const QString &drivePath, const QDateTime &when);
    // The clock for backup names (tests); the default is the local time now.
    void setClock(std::function<QDateTime()> clock);

protected:
    void failCopy(const QNTaskItemCompletedBlock &completed, const VNErrorPtr &error) override;

private:
    void setRenamedDocument(const QNDocumentPtr &renamed);
    // The edited copy is up, and the backup's removal was cancelled: once
    // the drive has answered the removal (or the wait for it is over), ends
    // as a save-back done when the backup is gone, else saying that it
    // stays (or may stay) beside the document.
    void endAfterCancelledRemoval(const QNTaskItemCompletedBlock &completed);
    // "The document was saved, but its backup stays": why is empty when
    // the backup is surely there, else why it may be.
    VNErrorPtr backupKeptError(const QString &why) const;
    // The edited file is up; answer is what the drive answered the upload with.
    void keepUploaded(const QNDocumentPtr &answer);
    // The file to upload: the edited copy itself when it has the document's
    // name, else a copy of it under that name in the task's temporary
    // folder. Null and *error when neither can be.
    QNDocumentPtr uploadSourceFor(const QNDocumentPtr &edited, VNErrorPtr *error) const;
    // After a cancelled rename: once the drive has answered the rename
    // itself (or the wait for it is over), puts the name back if the drive
    // renamed the document after all, else reports the cancel.
    void restoreIfRenamed(const QNTaskItemCompletedBlock &completed, const QNDocumentPtr &backup,
                          const std::shared_ptr<QNHandlerCallWatch> &renameCall);
    // Looks whether the drive holds the backup after a rename that was
    // cancelled, or answered renameError (its reply may have been lost after
    // the drive renamed): found while the document's name is free, the
    // backup gets that name back and the item ends as the rename did; where
    // it cannot be looked for, a failed rename's error names it.
    void lookForBackup(const QNTaskItemCompletedBlock &completed, const QNDocumentPtr &backup, bool renameAnswered,
                       const VNErrorPtr &renameError);
    // The folder holding the drive document.
    QNDocumentPtr driveFolder() const;
    // After the copy was cancelled: once the drive has given its own answer
    // to an upload it was sending (or the wait for it is over), looks what
    // stands under the document's name (lookAfterCancelledUpload()).
    void restoreAfterCancel(const QNTaskItemCompletedBlock &completed, const VNErrorPtr &error);
    // The edited file whole under the document's name is a save-back done
    // (keepSavedAfterCancel()); else the backup gets its name back, and a
    // drive that has not answered may still complete the upload: said so.
    void lookAfterCancelledUpload(const QNTaskItemCompletedBlock &completed, const VNErrorPtr &error,
                                  bool uploadAnswered);
    // The drive says it completed the upload after the cancel, and no look
    // shows it under the document's name (lookError: why none could be
    // made; null when the look was made): the backup stays, and is said.
    void keepBackupUnseen(const QNTaskItemCompletedBlock &completed, const QString &lookError, bool backupThere);
    // Ends as a save-back done: the upload kept, the backup removed.
    bool awaitAnswer(const std::shared_ptr<QNHandlerCallWatch> &call) const;
    void keepSavedAfterCancel(const QNTaskItemCompletedBlock &completed, const QNDocumentPtr &uploaded,
                              bool backupThere);
    // Claims the restore, then putBackupBack().
    void restoreBackup(const QNTaskItemCompletedBlock &completed, const VNErrorPtr &error, bool cancelled,
                       bool renameUncertain = false);
    // Gives the backup the document's name again, then finishes. Where it
    // was not known whether the drive renamed the document at all
    // (renameUncertain), a restore that fails is sayWhereTheDocumentIs().
    void putBackupBack(const QNTaskItemCompletedBlock &completed, const VNErrorPtr &error, bool cancelled,
                       bool renameUncertain = false);
    // Looks at the document's folder once more and ends saying what it
    // holds: the document under its own name (never renamed: cancelled, no
    // error), under its backup name, or, where that cannot be told, under
    // one of the two.
    void sayWhereTheDocumentIs(const QNTaskItemCompletedBlock &completed, const QNDocumentPtr &backup);
    void finishUpdate(const QNTaskItemCompletedBlock &completed, const VNErrorPtr &error, const QNDocumentPtr &document,
                      bool cancelled);

    QNDocumentPtr m_originalDocument;
    QNDocumentPtr m_originalParentDocument;
    mutable std::mutex m_mutex;
    QNDocumentPtr m_renamedDocument;
    std::function<QDateTime()> m_clock;
    std::shared_ptr<void> m_lifeCycleHold;  // while the drive holds only the backup
    std::shared_ptr<QNHandlerCallWatch> m_renameWatch;  // the drive's own answer to the rename
    std::atomic<bool> m_restoreClaimed{false};
    std::shared_ptr<VNOperation> m_backupRemoval;  // until the item ends
    std::atomic<bool> m_backupRemovalAnswered{false};
    std::atomic<qint64> m_editedSize{-1};  // the edited copy's size when the save-back began
    bool m_uploaded = false;          // guarded by m_mutex
    QNDocumentPtr m_uploadedDocument;  // guarded by m_mutex
    QNDocumentPtr m_uploadSource;      // guarded by m_mutex
};
