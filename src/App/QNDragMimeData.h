#pragma once

#include <QList>
#include <QMimeData>
#include <QUrl>
#include <functional>
#include <memory>

class QNDragCopyOut;

// What a drag of a pane's entries carries. The entries of a remote drive
// exist as local files only once they are copied out, and only a target
// outside this application needs them so: the file list ("text/uri-list")
// is offered from the start but made when a target first asks for it, once.
// A drop on a pane of this application reads the pane's own type and never
// asks for the files.
//
// The target asks when it has taken the drop, and the platform wants the
// answer before it goes on: the request waits, the application's events
// running meanwhile, until the copy has ended. The copy is a task like any
// other, shown in the task list and cancellable there; a copy that failed or
// was cancelled answers no files. When the target gives up waiting, the
// platform lets go of the drag's data: the copy is then abandoned and leaves
// nothing behind. A target that asks while the drag still moves (peeking at
// the files before the drop) gets none: copying then would hold the drag,
// which has the mouse and keyboard, for as long as the copy takes.
class QNDragMimeData : public QMimeData {
    Q_OBJECT
public:
    // Starts the copy of the entries (when a target first asks for them).
    using CopyOutMaker = std::function<std::shared_ptr<QNDragCopyOut>()>;
    explicit QNDragMimeData(CopyOutMaker maker = {});
    // Abandons a copy nobody took.
    ~QNDragMimeData() override;

    // The drag was dropped or cancelled: a request from now on is the target's.
    void setDragEnded() { m_dragEnded = true; }
    // The copy started for a target, if any.
    std::shared_ptr<QNDragCopyOut> copyOut() const { return m_copyOut; }

    QStringList formats() const override;
    bool hasFormat(const QString &mimeType) const override;

protected:
    QVariant retrieveData(const QString &mimeType, QMetaType type) const override;

private:
    CopyOutMaker m_maker;
    bool m_dragEnded = false;
    mutable std::shared_ptr<QNDragCopyOut> m_copyOut;
};
