#pragma once

#include "Core/QNAliasCheck.h"
#include "Core/QNDocument.h"
#include "Core/QNDriveConfig.h"
#include "Core/QNMovedSourceRemoval.h"
#include "Platform/VNError.h"
#include "Platform/VNOperation.h"

#include <QList>
#include <QString>
#include <functional>
#include <memory>
#include <mutex>

class QNTask;

// The removal of a moved source, taken as one step when its turn comes on
// the task's queue: the copy is first asked to be apart from the source
// (QNAliasCheck), and only an answer of Apart removes anything. Where the
// copy is the source itself, reached by another path, the move fails
// saying so; where that cannot be told, the source stays and the task's
// end report says why. Nothing of it happens before the operation starts:
// cancelled before then, it answers as cancelled and the source stays as it
// is. Cancelled on its way, it ends at its next step; a request already sent
// runs to its answer (a source removed by then is moved). It answers
// exactly once, before its slot is freed.
//
// What is asked, where the two drives may be one storage and reach files
// by path (elsewhere the copy is a new item, and the source goes):
//  - a file: whether the folder it was dropped onto is the source's folder,
//    once per pair of folders in the task (the check before the copy, if
//    the file replaced a namesake, asked it already);
//  - a folder: the tree's check, asked before any file of it went, of the
//    folder it was dropped onto and each folder it merged into against
//    every folder of the tree.
class QNMoveRemovalOperation : public VNOperation {
public:
    // What the removal works from, gathered once the copy has ended.
    struct Plan {
        QNDriveConfigPtr fromDrive;
        QNDocumentPtr source;
        QNDriveConfigPtr toDrive;
        QNDocumentPtr destination;  // the folder it was dropped onto
        // A folder (not a link): its copied parts are removed one by one,
        // after a fresh look at each folder of it.
        bool tree = false;
        QList<QNMovedSourceRemoval::Copied> copied;
        QList<QNMovedSourceRemoval::Copied> leftOut;
        // What the tree's check answered (null where it was not asked).
        std::shared_ptr<const QNAliasCheck::Outcome> treeAnswer;
    };
    // (error, the removed source or null, cancelled)
    using Finished = std::function<void(VNErrorPtr error, QNDocumentPtr removed, bool cancelled)>;
    using MakeError = std::function<VNErrorPtr(const QString &message)>;
    // A line for the task's end report, with the items it says were not
    // moved: a source kept because it could not be told apart from its copy.
    using AddNote = std::function<void(const QString &note, int items)>;

    QNMoveRemovalOperation(Plan plan, std::weak_ptr<QNTask> task, MakeError makeError, AddNote addNote,
                           Finished finished);

    bool isAsynchronous() const override { return true; }
    void start() override;
    void cancel() override;
    QString description() const override { return QStringLiteral("QNMoveRemovalOperation"); }

private:
    void look();
    void answered(const QNAliasCheck::Outcome &outcome);
    void removeFile();
    void removeTree();
    void end(VNErrorPtr error, QNDocumentPtr removed, bool cancelled);
    QString described() const;
    // The source's folder, by its path.
    QNDocumentPtr sourceFolder() const;

    Plan m_plan;
    std::weak_ptr<QNTask> m_task;
    MakeError m_makeError;
    AddNote m_addNote;
    Finished m_finished;
    std::mutex m_mutex;
    std::shared_ptr<QNAliasCheck> m_check;  // the check this step runs, while it runs
};
