#pragma once

#include "Core/QNAliasCheck.h"
#include "Core/QNDocument.h"
#include "Core/QNDriveConfig.h"
#include "Core/QNMovedSourceRemoval.h"
#include "Core/QNSourceSetAside.h"
#include "Platform/VNError.h"
#include "Platform/VNOperation.h"

#include <QList>
#include <QString>
#include <functional>
#include <memory>

class QNTask;

// The removal of a moved source, taken as one step when its turn comes on
// the task's queue: the last look that the copy is not the source itself
// (reached by another path), the removal, and, where anything of the source
// stays, its own name back. Nothing of it happens before the operation
// starts: cancelled before then, it answers as cancelled and the source
// stays as it is. Cancelled on its way, it ends at its next step, the
// source back under its own name before it answers, so that no task ends
// with a source set aside; a request already sent runs to its answer (a
// source removed by then is moved). It answers exactly once.
//
// The look costs only where the two drives may be one storage:
//  - drives that cannot be (a photo service, two services): none;
//  - two local folders: the copy's entry and the source's are compared on
//    the disk;
//  - two drives of one web service: none (a copy gets an id of its own, and
//    the check before the copy compared the ids of what it replaced);
//  - a file between drives that reach files by path: once per pair of
//    source and destination folder in the task, a check folder made in the
//    source's folder and looked for in the destination (QNAliasCheck);
//    where that cannot tell, the file is set aside as a folder is;
//  - a folder: it is set aside (renamed in its folder) and the folder it was
//    dropped onto listed again, with each folder the copy merged into
//    (QNSourceSetAside).
class QNMoveRemovalOperation : public VNOperation {
public:
    // What the removal works from, gathered once the copy has ended.
    struct Plan {
        QNDriveConfigPtr fromDrive;
        QNDocumentPtr source;
        QNDriveConfigPtr toDrive;
        // Where the copy lies: the folder it was dropped onto with the
        // source's name first, then each folder of the destination the
        // copy merged into, with what was copied there.
        QList<QNSourceSetAside::Place> places;
        // A folder (not a link): its copied parts are removed one by one,
        // after a fresh look at each folder of it.
        bool tree = false;
        QList<QNMovedSourceRemoval::Copied> copied;
        QList<QNMovedSourceRemoval::Copied> leftOut;
    };
    // (error, the removed source or null, cancelled)
    using Finished = std::function<void(VNErrorPtr error, QNDocumentPtr removed, bool cancelled)>;
    using MakeError = std::function<VNErrorPtr(const QString &message)>;
    // A line for the task's end report, with the items it says were not
    // moved: a check folder left behind (none), or a source that could not
    // get its name back after a cancel (one).
    using AddNote = std::function<void(const QString &note, int items)>;

    QNMoveRemovalOperation(Plan plan, std::weak_ptr<QNTask> task, MakeError makeError, AddNote addNote,
                           Finished finished);

    bool isAsynchronous() const override { return true; }
    void start() override;
    QString description() const override { return QStringLiteral("QNMoveRemovalOperation"); }

    // Where a loose file's folder pair is looked at: the key of the answer
    // shared by the task's files of that pair.
    static QString folderPairKey(const Plan &plan);

private:
    void look();
    void lookAtFolderPair();
    void folderPairAnswered(const QNAliasCheck::Outcome &outcome);
    void setAside();
    void setAsideAnswered(QNSourceSetAside::Answer answer, const QString &message);
    void removeFile();
    void removeTree();
    // The set-aside source goes back under its name, then the step answers.
    void putBackAndEnd(VNErrorPtr error, bool cancelled, const QString &said);
    void end(VNErrorPtr error, QNDocumentPtr removed, bool cancelled);
    QString described() const;

    Plan m_plan;
    std::weak_ptr<QNTask> m_task;
    MakeError m_makeError;
    AddNote m_addNote;
    Finished m_finished;
    std::shared_ptr<QNSourceSetAside> m_guard;  // once the source is set aside
    QNDocumentPtr m_target;                     // what is removed: the source, or its set-aside name
};
