#pragma once

#include "Core/QNDocument.h"
#include "Core/QNDriveConfig.h"

#include <QList>
#include <QStringList>
#include <functional>
#include <memory>

// Removes again folders this program made on a drive, and nothing else: the
// check folders of an alias check, and the folders a refused copy made
// before it was refused. The last made goes first, each after those made
// inside it. A copy's folder goes only once its listing shows it empty (a
// WebDAV server removes a folder with all it holds); a check folder, which
// nothing writes into, goes at once. A removal that fails is followed by a
// look at the folder holding it: one gone after all (its answer lost) is
// not named; one that stays, or may stay, is named with why. The requests
// go one at a time outside the task's queues, so that a cancel of the task
// cannot skip them; whoever starts it keeps the task until it answers.
class QNMadeFoldersRemoval : public std::enable_shared_from_this<QNMadeFoldersRemoval> {
public:
    enum class Kind { CheckFolders, CopiedFolders };
    // One sentence for each folder that stays or may stay (none when all went).
    using Finished = std::function<void(const QStringList &left)>;

    // folders: in the order made.
    QNMadeFoldersRemoval(QNDriveConfigPtr drive, QList<QNDocumentPtr> folders, Kind kind);

    // Answers on the thread of the drive's last answer (at once when there
    // is nothing to remove).
    void start(Finished finished);
    // Runs each time one of its requests has answered. Set before start().
    void setProgress(std::function<void()> progress) { m_progress = std::move(progress); }

    // The text naming a check folder that could not be removed (shared with
    // the tests, which look for it).
    static QString checkFolderLeftText(const QString &name, const QString &folder, const QString &why);

private:
    void removeNext();
    void removeFolder(const QNDocumentPtr &folder);
    // The removal failed: the folder holding it tells whether it stays.
    void lookFor(const QNDocumentPtr &folder, const QString &removeError);
    void moved();
    // The folder stays (or may stay), for the reason given.
    void leave(const QNDocumentPtr &folder, const QString &why, bool surely = true);

    QNDriveConfigPtr m_drive;
    Kind m_kind;
    QList<QNDocumentPtr> m_folders;  // still to remove; the last is removed first
    QStringList m_left;
    Finished m_finished;
    std::function<void()> m_progress;
};
