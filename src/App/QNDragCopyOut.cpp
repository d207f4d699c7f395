#include "App/QNDragCopyOut.h"

#include "Core/QNCopyTask.h"
#include "Core/QNCopyTaskItem.h"
#include "Platform/VNDispatch.h"
#include "Platform/VNLog.h"

#include <QDir>
#include <QFileInfo>
#include <QPointer>
#include <atomic>

// What the task's listeners share with the copy-out, which may be gone by
// the time they run.
struct QNDragCopyOut::Shared {
    QString folder;
    std::atomic<bool> failed{false};
    std::atomic<bool> discard{false};  // the files are not wanted any more
};

namespace {

void removeFolder(const QString &folder) {
    if (QFileInfo::exists(folder) && !QDir(folder).removeRecursively())
        VNLog::log(QStringLiteral("QNDragCopyOut could not remove %1").arg(folder));
}

}  // namespace

QNDragCopyOut::QNDragCopyOut(const QNDriveConfigPtr &drive, const QNDocumentList &documents, const QString &folder,
                             const TaskRunner &runTask, ErrorReporter reportError)
    : m_folder(folder), m_shared(std::make_shared<Shared>()), m_reportError(reportError) {
    m_shared->folder = folder;
    if (!drive || folder.isEmpty() || !runTask || !QDir().mkpath(folder)) {
        m_state = Failed;
        return;
    }
    auto localDrive = QNDriveConfig::create();
    localDrive->setIsMyFiles(true);
    localDrive->setUseAbsolutePath(true);
    auto destination = QNDocument::withPath(folder, true);
    m_task = std::make_shared<QNCopyTask>();
    const QString key = QStringLiteral("QNDragCopyOut-%1").arg(quintptr(this), 0, 16);
    const std::shared_ptr<Shared> shared = m_shared;
    for (const QNDocumentPtr &d : documents) {
        auto item = std::make_shared<QNCopyTaskItem>(drive, localDrive, d, destination);
        std::weak_ptr<QNTaskItem> weak = item;
        item->registerListenerForTaskItemCompletedBlock(
            key, [shared, weak, key, reportError](VNErrorPtr error, QNDocumentPtr, bool cancelled) {
                // An entry left out is not handed over (its file is not
                // there); the others are, and the end report names it.
                if (error && !cancelled && !QNTaskItem::isLeftOut(error)) {
                    shared->failed.store(true);
                    if (reportError)
                        VNDispatch::mainAsync([reportError, error] { reportError(error); });
                }
                if (auto i = weak.lock())
                    i->unregisterListenerForTaskItemCompletedBlock(key);
            });
        m_task->addTaskItem(item);
    }
    std::weak_ptr<QNTask> weakTask = m_task;
    QPointer<QNDragCopyOut> self(this);
    m_task->registerListenerForTaskCompletedBlock(key, [shared, weakTask, key, self] {
        const QNTaskPtr task = weakTask.lock();
        if (task)
            task->unregisterListenerForTaskCompletedBlock(key);
        const State outcome = shared->failed.load()               ? Failed
                              : (!task || task->canceled()) ? Cancelled
                                                              : Done;
        // The task has stopped writing: nothing half made stays behind.
        if (outcome != Done || shared->discard.load())
            removeFolder(shared->folder);
        VNDispatch::mainAsync([self, shared, outcome] {
            if (outcome == Done && shared->discard.load())
                removeFolder(shared->folder);  // given up while the task wound down
            if (self)
                self->taskEnded(outcome);
        });
    });
    runTask(m_task);
}

QNDragCopyOut::~QNDragCopyOut() { abandon(); }

QList<QUrl> QNDragCopyOut::files() const {
    QList<QUrl> urls;
    if (m_state != Done)
        return urls;
    for (const QFileInfo &info : QDir(m_folder).entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot, QDir::Name))
        if (!info.fileName().endsWith(QStringLiteral(".part")))
            urls << QUrl::fromLocalFile(info.absoluteFilePath());
    return urls;
}

void QNDragCopyOut::abandon() {
    if (m_handedOver)
        return;
    // Given up for the first time while the copy is still under way (a
    // cancel from the task list has already ended it its own way).
    const bool givenUpRunning =
        !m_shared->discard.exchange(true) && m_state == Running && m_task && !m_task->canceled();
    if (m_state == Running && m_task)
        m_task->cancel();  // the task's end removes the folder
    else if (m_state == Done)
        removeFolder(m_folder);
    // The drag's target stopped waiting: the drop came to nothing, which the
    // user would not see otherwise.
    if (givenUpRunning && m_reportError) {
        const auto error = std::make_shared<VNError>(
            QStringLiteral("QNDragCopyOut"), 42,
            QVariantMap{{QStringLiteral("error"),
                         QStringLiteral("The files were not copied in time for the application they were dragged "
                                        "to, which stopped waiting; nothing was handed over. \u201cDownload to\u2026\u201d "
                                        "copies them to a folder of your choice.")}});
        VNDispatch::mainAsync([report = m_reportError, error] { report(error); });
    }
}

void QNDragCopyOut::taskEnded(State outcome) {
    m_state = outcome;
    VNLog::log(QStringLiteral("QNDragCopyOut ended: %1").arg(int(outcome)));
    emit ended();
}
