#include "Core/QNMoveRemovalOperation.h"

#include "Core/QNErrorWrapper.h"
#include "Core/QNRemoveOperation.h"
#include "Core/QNTask.h"
#include "Core/QNUtils.h"
#include "Platform/VNLog.h"
#include "Platform/VNOperationQueue.h"

QNMoveRemovalOperation::QNMoveRemovalOperation(Plan plan, std::weak_ptr<QNTask> task, MakeError makeError,
                                               AddNote addNote, Finished finished)
    : m_plan(std::move(plan)),
      m_task(std::move(task)),
      m_makeError(std::move(makeError)),
      m_addNote(std::move(addNote)),
      m_finished(std::move(finished)) {}

void QNMoveRemovalOperation::start() {
    if (isExecuting() || isFinished())
        return;
    if (isCancelled()) {
        end(nullptr, nullptr, true);  // nothing was touched
        return;
    }
    setExecuting(true);
    look();
}

void QNMoveRemovalOperation::cancel() {
    VNOperation::cancel();
    std::shared_ptr<QNAliasCheck> check;
    {
        std::lock_guard lock(m_mutex);
        check = m_check;
    }
    if (check)
        check->cancel();
}

QString QNMoveRemovalOperation::described() const {
    return (m_plan.source->isDirectory() ? QStringLiteral("The folder \u201c%1\u201d")
                                         : QStringLiteral("The file \u201c%1\u201d"))
        .arg(QNUtils::nameOf(*m_plan.source));
}

QNDocumentPtr QNMoveRemovalOperation::sourceFolder() const {
    const QString path = QNUtils::withoutTrailingSlashes(m_plan.source->path());
    if (path.isEmpty())
        return nullptr;
    const QString parent = path.section(QLatin1Char('/'), 0, -2);
    return QNDocument::withPath(parent.isEmpty() ? QStringLiteral("/") : parent, true);
}

void QNMoveRemovalOperation::look() {
    const auto &from = m_plan.fromDrive;
    const auto &to = m_plan.toDrive;
    if (!from || !to || !QNAliasCheck::mayBeOneStorage(from, to) || !QNAliasCheck::reachesFilesByPath(*from) ||
        !QNAliasCheck::reachesFilesByPath(*to)) {
        // Two storages, or a copy a web service made an item of its own.
        m_plan.tree ? removeTree() : removeFile();
        return;
    }
    if (m_plan.tree) {
        QNAliasCheck::Outcome unasked;
        unasked.why = QStringLiteral("The folders it was copied into were not asked.");
        answered(m_plan.treeAnswer ? *m_plan.treeAnswer : unasked);
        return;
    }
    QNAliasCheck::Side here{from, {}}, there{to, {}};
    if (auto folder = sourceFolder())
        here.folders << folder;
    if (m_plan.destination)
        there.folders << m_plan.destination;
    auto check = std::make_shared<QNAliasCheck>(here, there);
    auto self = std::static_pointer_cast<QNMoveRemovalOperation>(shared_from_this());
    // Run here, while this step keeps its slot: a cancel of the step
    // reaches it.
    auto run = [self](const std::shared_ptr<QNAliasCheck> &check, QNAliasCheck::Finished done) {
        {
            std::lock_guard lock(self->m_mutex);
            self->m_check = check;
        }
        if (self->isCancelled())
            check->cancel();
        check->start(std::move(done));
    };
    auto heard = [self](const QNAliasCheck::Outcome &outcome) {
        if (!outcome.leftOver.isEmpty() && self->m_addNote)
            self->m_addNote(outcome.leftOver.join(QLatin1Char(' ')), 0);
        self->answered(outcome);
    };
    if (auto task = m_task.lock())
        task->askAliasCheck(check, run, heard);
    else
        run(check, heard);
}

void QNMoveRemovalOperation::answered(const QNAliasCheck::Outcome &outcome) {
    {
        std::lock_guard lock(m_mutex);
        m_check = nullptr;
    }
    using Answer = QNAliasCheck::Answer;
    if (outcome.cancelled || isCancelled()) {
        end(nullptr, nullptr, true);  // nothing was touched
        return;
    }
    if (outcome.answer == Answer::Apart) {
        m_plan.tree ? removeTree() : removeFile();
        return;
    }
    const QString destination = m_plan.destination ? QNUtils::shownFolderPath(*m_plan.destination) : QString();
    if (outcome.answer == Answer::OneStorage) {
        const QString there = QNUtils::joinedPath(destination, QNUtils::nameOf(*m_plan.source));
        const VNErrorPtr error =
            m_makeError(QStringLiteral("%1 was not moved: \u201c%2\u201d is that %3 itself, reached by another path "
                                       "(the folder it was moved to is its own folder); it stays where it was, and "
                                       "nothing was removed.")
                            .arg(described(), there,
                                 m_plan.source->isDirectory() ? QStringLiteral("folder") : QStringLiteral("file")));
        VNLog::log(QStringLiteral("QNMoveRemovalOperation: %1").arg(QNErrorWrapper::textOf(error)));
        end(error, nullptr, false);
        return;
    }
    // Not shown apart: the copy is made, the source stays. One note for the
    // files of one pair of folders; each counts as an item not moved.
    QString note;
    if (m_plan.tree) {
        note = QStringLiteral("%1 was copied to \u201c%2\u201d but not removed: it could not be told whether the "
                              "folders it was copied into are folders of it, reached by another path. %3 It stays "
                              "where it was.")
                   .arg(described(), destination, outcome.why);
    } else {
        const QNDocumentPtr folder = sourceFolder();
        const QString from = folder ? QNUtils::shownFolderPath(*folder) : QString();
        auto task = m_task.lock();
        if (!task || task->claimOnce(QStringLiteral("kept\n") + from + QChar(0) + destination))
            note = QStringLiteral("What was moved from \u201c%1\u201d to \u201c%2\u201d was copied but not removed: it "
                                  "could not be told whether \u201c%2\u201d is \u201c%1\u201d itself, reached by "
                                  "another path. %3 It stays where it was.")
                       .arg(from, destination, outcome.why);
    }
    note.replace(QStringLiteral("  "), QStringLiteral(" "));
    VNLog::log(QStringLiteral("QNMoveRemovalOperation: %1 kept (%2)").arg(described(), outcome.why));
    if (m_addNote)
        m_addNote(note, 1);
    end(nullptr, nullptr, false);
}

void QNMoveRemovalOperation::removeFile() {
    if (isCancelled()) {
        end(nullptr, nullptr, true);
        return;
    }
    auto self = std::static_pointer_cast<QNMoveRemovalOperation>(shared_from_this());
    VNOperationQueue::global().addOperation(std::make_shared<QNRemoveOperation>(
        m_plan.fromDrive, m_plan.source, [self](QNDocumentPtr, VNErrorPtr error, bool cancelled) {
            if (!error && !cancelled) {
                self->end(nullptr, self->m_plan.source, false);
                return;
            }
            if (!error) {
                self->end(nullptr, nullptr, true);
                return;
            }
            const VNErrorPtr told = self->m_makeError(
                QStringLiteral("%1 was copied to \u201c%2\u201d but not removed (%3); it stays where it was.")
                    .arg(self->described(),
                         self->m_plan.destination ? QNUtils::shownFolderPath(*self->m_plan.destination) : QString(),
                         QNErrorWrapper::reasonOf(error)));
            VNLog::log(QStringLiteral("QNMoveTaskItem postCopyWithCompletedBlock error: %1").arg(QNErrorWrapper::textOf(told)));
            self->end(told, nullptr, false);
        }));
}

void QNMoveRemovalOperation::removeTree() {
    auto removal = std::make_shared<QNMovedSourceRemoval>(m_plan.fromDrive, m_plan.source, m_plan.copied,
                                                          m_plan.leftOut);
    auto self = std::static_pointer_cast<QNMoveRemovalOperation>(shared_from_this());
    removal->start(
        // A cancel stops the removal at its next request (which answers as
        // cancelled at once): what was removed by then is moved.
        [self](const std::shared_ptr<VNOperation> &operation) {
            if (self->isCancelled())
                operation->cancel();
            VNOperationQueue::global().addOperation(operation);
        },
        m_makeError,
        [self](VNErrorPtr error, bool cancelled, bool removedTop) {
            self->end(error, removedTop && !error ? self->m_plan.source : nullptr, cancelled && !error);
        });
}

void QNMoveRemovalOperation::end(VNErrorPtr error, QNDocumentPtr removed, bool cancelled) {
    auto finished = std::move(m_finished);
    m_finished = nullptr;
    // Answered before the slot goes: the task sees its queue empty only
    // once the item has heard.
    if (finished)
        finished(error, removed, cancelled);
    m_addNote = nullptr;
    m_makeError = nullptr;
    setFinished(true);
}
