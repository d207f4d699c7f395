#include "Core/QNMoveRemovalOperation.h"

#include "Core/QNErrorWrapper.h"
#include "Core/QNLocalNamesake.h"
#include "Core/QNRemoveOperation.h"
#include "Core/QNTask.h"
#include "Core/QNUtils.h"
#include "Platform/VNLog.h"
#include "Platform/VNOperationQueue.h"

namespace {

QString withoutFullStop(QString text) {
    text = text.trimmed();
    if (text.endsWith(QLatin1Char('.')))
        text.chop(1);
    return text;
}

QString parentOf(const QString &path) {
    const QString parent = QNUtils::withoutTrailingSlashes(path).section(QLatin1Char('/'), 0, -2);
    return parent.isEmpty() ? QStringLiteral("/") : parent;
}

}  // namespace

QNMoveRemovalOperation::QNMoveRemovalOperation(Plan plan, std::weak_ptr<QNTask> task, MakeError makeError,
                                               AddNote addNote, Finished finished)
    : m_plan(std::move(plan)),
      m_task(std::move(task)),
      m_makeError(std::move(makeError)),
      m_addNote(std::move(addNote)),
      m_finished(std::move(finished)) {}

QString QNMoveRemovalOperation::folderPairKey(const Plan &plan) {
    const QString from = plan.fromDrive ? plan.fromDrive->driveConfigId() : QString();
    const QString to = plan.toDrive ? plan.toDrive->driveConfigId() : QString();
    const QNDocumentPtr destination = plan.places.isEmpty() ? nullptr : plan.places.front().folder;
    return QNTask::folderKey(from, QNDocument::withPath(parentOf(plan.source->path()), true)) + QChar(1) +
           QNTask::folderKey(to, destination);
}

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

QString QNMoveRemovalOperation::described() const {
    return (m_plan.source->isDirectory() ? QStringLiteral("The folder \u201c%1\u201d")
                                         : QStringLiteral("The file \u201c%1\u201d"))
        .arg(QNUtils::nameOf(*m_plan.source));
}

void QNMoveRemovalOperation::look() {
    const auto &from = m_plan.fromDrive;
    const auto &to = m_plan.toDrive;
    m_target = m_plan.source;
    if (!from || !to || m_plan.places.isEmpty() || !QNAliasCheck::mayBeOneStorage(from, to) ||
        !QNAliasCheck::reachesFilesByPath(*from) || !QNAliasCheck::reachesFilesByPath(*to)) {
        // Two storages, or items a web service tells apart by their ids.
        m_plan.tree ? removeTree() : removeFile();
        return;
    }
    if (from->isMyFiles() && to->isMyFiles()) {
        // The disk says whether the copy's entry is the source's own.
        const QNSourceSetAside::Place &dropped = m_plan.places.front();
        const QString copy = QNUtils::joinedPath(QNUtils::withoutTrailingSlashes(dropped.folder->path()),
                                                 dropped.names.value(0));
        if (QNLocalNamesake::of(QNUtils::withoutTrailingSlashes(m_plan.source->path()), copy) ==
            QNLocalNamesake::Kind::OwnEntry) {
            end(m_makeError(QStringLiteral("%1 was not moved: \u201c%2\u201d is that %3 itself, reached by another "
                                           "path; it stays where it was, and nothing was removed.")
                                .arg(described(), copy,
                                     m_plan.source->isDirectory() ? QStringLiteral("folder") : QStringLiteral("file"))),
                nullptr, false);
            return;
        }
        m_plan.tree ? removeTree() : removeFile();
        return;
    }
    if (m_plan.tree)
        setAside();
    else
        lookAtFolderPair();
}

void QNMoveRemovalOperation::lookAtFolderPair() {
    auto self = std::static_pointer_cast<QNMoveRemovalOperation>(shared_from_this());
    auto task = m_task.lock();
    if (!task) {
        setAside();
        return;
    }
    const QString key = folderPairKey(m_plan);
    if (!task->folderPairChecks().await(key, [self](const QNAliasCheck::Outcome &outcome) {
            self->folderPairAnswered(outcome);
        }))
        return;  // another file of the pair asked first
    // Made in the source's folder, which a move may change, and looked for
    // in the destination: where the two are one folder it shows there.
    auto check = std::make_shared<QNAliasCheck>(m_plan.toDrive, m_plan.places.front().folder, m_plan.fromDrive,
                                                QNDocument::withPath(parentOf(m_plan.source->path()), true));
    std::weak_ptr<QNTask> weakTask = task;
    check->start([](const std::shared_ptr<VNOperation> &operation) { VNOperationQueue::global().addOperation(operation); },
                 [self, weakTask, key](const QNAliasCheck::Outcome &outcome) {
                     if (!outcome.leftOver.isEmpty() && self->m_addNote)
                         self->m_addNote(outcome.leftOver, 0);
                     if (auto task = weakTask.lock())
                         task->folderPairChecks().finish(key, outcome, true);
                     else
                         self->folderPairAnswered(outcome);
                 });
}

void QNMoveRemovalOperation::folderPairAnswered(const QNAliasCheck::Outcome &outcome) {
    if (isCancelled()) {
        end(nullptr, nullptr, true);  // nothing was touched
        return;
    }
    using Answer = QNAliasCheck::Answer;
    if (outcome.answer == Answer::Apart && !outcome.cancelled) {
        removeFile();
        return;
    }
    if (outcome.answer == Answer::Same && !outcome.cancelled) {
        const QNSourceSetAside::Place &dropped = m_plan.places.front();
        const QString there =
            QNUtils::joinedPath(QNSourceSetAside::shownPath(dropped.folder), QNUtils::nameOf(*m_plan.source));
        const VNErrorPtr error =
            m_makeError(QStringLiteral("%1 was not moved: \u201c%2\u201d is that file itself, reached by another path "
                                       "(the folder it was moved to is its own folder); it stays where it was, and "
                                       "nothing was removed.")
                            .arg(described(), there));
        VNLog::log(QStringLiteral("QNMoveRemovalOperation: %1").arg(QNErrorWrapper::textOf(error)));
        end(error, nullptr, false);
        return;
    }
    // The folders could not be told apart this way: the file itself is set
    // aside and looked for.
    VNLog::log(QStringLiteral("QNMoveRemovalOperation: the folders could not be told apart (%1); %2 is set aside")
                   .arg(outcome.why, QNUtils::nameOf(*m_plan.source)));
    setAside();
}

void QNMoveRemovalOperation::setAside() {
    auto self = std::static_pointer_cast<QNMoveRemovalOperation>(shared_from_this());
    m_guard = std::make_shared<QNSourceSetAside>(m_plan.fromDrive, m_plan.source, m_plan.toDrive, m_plan.places);
    m_guard->start([self] { return self->isCancelled(); },
                   [self](QNSourceSetAside::Answer answer, const QString &message) {
                       self->setAsideAnswered(answer, message);
                   });
}

void QNMoveRemovalOperation::setAsideAnswered(QNSourceSetAside::Answer answer, const QString &message) {
    using Answer = QNSourceSetAside::Answer;
    if (answer == Answer::Apart) {
        m_target = m_guard->aside();
        m_plan.tree ? removeTree() : removeFile();
        return;
    }
    if (answer == Answer::Cancelled) {
        // A name that could not be given back is told with where it is.
        if (!message.isEmpty() && m_addNote)
            m_addNote(message, 1);
        end(nullptr, nullptr, true);
        return;
    }
    const VNErrorPtr error = message.isEmpty() ? nullptr : m_makeError(message);
    if (error)
        VNLog::log(QStringLiteral("QNMoveTaskItem postCopyWithCompletedBlock error: %1").arg(QNErrorWrapper::textOf(error)));
    end(error, nullptr, false);
}

void QNMoveRemovalOperation::removeFile() {
    if (isCancelled()) {
        putBackAndEnd(nullptr, true, QString());
        return;
    }
    auto self = std::static_pointer_cast<QNMoveRemovalOperation>(shared_from_this());
    VNOperationQueue::global().addOperation(std::make_shared<QNRemoveOperation>(
        m_plan.fromDrive, m_target, [self](QNDocumentPtr, VNErrorPtr error, bool cancelled) {
            if (!error && !cancelled) {
                self->end(nullptr, self->m_plan.source, false);
                return;
            }
            // Not removed (or not known to be): back under its name.
            const QString why =
                error ? QStringLiteral(" (%1)").arg(withoutFullStop(self->m_guard ? self->m_guard->asOwnPath(QNErrorWrapper::textOf(error))
                                                                                  : QNErrorWrapper::textOf(error)))
                      : QString();
            self->putBackAndEnd(error, cancelled, why);
        }));
}

void QNMoveRemovalOperation::removeTree() {
    const QString top = m_plan.source->path();
    const bool asideNow = m_target != m_plan.source;
    const QString aside = m_target->path();
    // The entries as they are named now: under the set-aside name, if any.
    auto named = [&](const QList<QNMovedSourceRemoval::Copied> &entries) {
        if (!asideNow)
            return entries;
        QList<QNMovedSourceRemoval::Copied> rebased;
        for (const auto &entry : entries)
            rebased.append({QNSourceSetAside::rebased(entry.document, top, aside),
                            QNSourceSetAside::rebased(entry.folder, top, aside)});
        return rebased;
    };
    auto removal = std::make_shared<QNMovedSourceRemoval>(m_plan.fromDrive, m_target, named(m_plan.copied),
                                                          named(m_plan.leftOut));
    if (asideNow)
        removal->showAs(aside, top);
    auto self = std::static_pointer_cast<QNMoveRemovalOperation>(shared_from_this());
    removal->start(
        // A cancel stops the removal at its next request (which answers as
        // cancelled at once); what stays gets its name back below.
        [self](const std::shared_ptr<VNOperation> &operation) {
            if (self->isCancelled())
                operation->cancel();
            VNOperationQueue::global().addOperation(operation);
        },
        m_makeError,
        [self](VNErrorPtr error, bool cancelled, bool removedTop) {
            if (removedTop) {
                self->end(error, error ? nullptr : self->m_plan.source, cancelled && !error);
                return;
            }
            // What stays of it gets its name back.
            self->putBackAndEnd(error, cancelled, QString());
        });
}

void QNMoveRemovalOperation::putBackAndEnd(VNErrorPtr error, bool cancelled, const QString &said) {
    auto self = std::static_pointer_cast<QNMoveRemovalOperation>(shared_from_this());
    auto then = [self, error, cancelled, said](const QString &problem) {
        const QString copiedTo = QStringLiteral("%1 was copied to \u201c%2\u201d")
                                     .arg(self->described(),
                                          QNSourceSetAside::shownPath(self->m_plan.places.front().folder));
        if (!problem.isEmpty() && cancelled && !error) {
            // Cancelled: the task's end report says where the source is.
            const QString note = QStringLiteral("%1 was not moved (the move was cancelled); %2")
                                     .arg(self->described(), problem);
            VNLog::log(QStringLiteral("QNMoveRemovalOperation: %1").arg(note));
            if (self->m_addNote)
                self->m_addNote(note, 1);
            self->end(nullptr, nullptr, true);
            return;
        }
        VNErrorPtr told;
        if (self->m_plan.tree && error && problem.isEmpty()) {
            // Said of the paths it has again.
            told = self->m_makeError(self->m_guard ? self->m_guard->asOwnPath(QNErrorWrapper::textOf(error)) : QNErrorWrapper::textOf(error));
        } else if (self->m_plan.tree && !problem.isEmpty()) {
            told = self->m_makeError((error ? QNErrorWrapper::textOf(error) + QLatin1Char(' ') : QString()) + copiedTo +
                                     QStringLiteral(", but what stays of it: %1").arg(problem));
        } else if (error || !problem.isEmpty()) {
            told = self->m_makeError(copiedTo + QStringLiteral(" but not removed") + said +
                                     (problem.isEmpty() ? QStringLiteral("; it stays where it was.")
                                                        : QStringLiteral("; ") + problem));
        }
        if (told)
            VNLog::log(QStringLiteral("QNMoveTaskItem postCopyWithCompletedBlock error: %1").arg(QNErrorWrapper::textOf(told)));
        self->end(told, nullptr, cancelled && !told);
    };
    if (m_guard && m_target != m_plan.source) {
        m_guard->putBack(then);
        return;
    }
    then(QString());
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
    m_guard = nullptr;
    setFinished(true);
}
