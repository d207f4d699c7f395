#pragma once

#include "Core/QNCopyTaskItem.h"
#include "Core/QNMoveRemovalOperation.h"

// Moves one document into a destination folder: by the drive's own move when
// both sides are one drive that can move it, else by a copy followed by the
// removal of the source. The source is removed only when every part of the
// copy succeeded (a failed or cancelled part anywhere in a folder's tree
// keeps it whole), and then only what was copied: what the copy left out
// stays where it was, with the folders holding it (the task's end report
// names it); a folder that holds anything else afterwards stays too, and the
// item's error says which and why.
// A namesake at the destination (seen in its listing first, or named by the
// drive's refusal of its own move) turns the move into the copy way, which
// replaces (a folder: writes into) that item unless it is the item itself.
// The source goes only where its copy was shown to lie elsewhere
// (QNMoveRemovalOperation); where that cannot be told, it stays, and the
// task's end report says so.
class QNMoveTaskItem : public QNCopyTaskItem {
public:
    using QNCopyTaskItem::QNCopyTaskItem;

    QString className() const override { return QStringLiteral("QNMoveTaskItem"); }

    void copyDocument(QNDocumentPtr document, QNDocumentPtr toDocument, VNOperationQueue *fromQueue,
                      VNOperationQueue *toQueue, VNOperationQueue *metadataQueue, QNTaskItemCompletedBlock completed,
                      QNTaskItemUpdateBlock update, const QNTaskPtr &task, const QNTaskItemPtr &primary) override;
    bool removesSource() const override { return true; }
    // Removes the source after a whole copy.
    void postCopy(QNTaskItemCompletedBlock completed, VNErrorPtr error, QNDocumentPtr document,
                  VNOperationQueue *queue, bool cancelled) override;

private:
    // What the removal of the source works from, once the copy has ended.
    QNMoveRemovalOperation::Plan removalPlan() const;
};
