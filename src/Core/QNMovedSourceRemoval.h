#pragma once

#include "Core/QNDocument.h"
#include "Core/QNDriveConfig.h"
#include "Platform/VNError.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QStringList>
#include <functional>
#include <memory>
#include <mutex>

class VNOperation;

// Removes the source of a folder that a move has copied whole, and nothing
// else: every folder of the tree is listed afresh first, and a folder whose
// listing shows only what was copied goes (in one removal where the drive
// removes folders with their contents); from a folder that holds anything
// else, only the copied documents go and the folder stays, which the answer
// tells. A folder whose listing left out entries this drive cannot show
// holds something else too. A folder holding what the copy itself left out
// (and noted), or entries its listing for the copy left out (noted too),
// stays with them, without a word: the copy's notes name them.
// Files go before the folders holding them. A link is removed as the link
// itself, never what lies behind it. One request at a time.
class QNMovedSourceRemoval : public std::enable_shared_from_this<QNMovedSourceRemoval> {
public:
    // A copied document and the source folder whose listing gave it.
    struct Copied {
        QNDocumentPtr document;
        QNDocumentPtr folder;
    };
    // Puts an operation on the queue (through the task, so a cancel stops it).
    using AddOperation = std::function<void(const std::shared_ptr<VNOperation> &)>;
    // (error, cancelled, whether the top folder itself went): the first
    // failed removal, or the folders kept.
    using Finished = std::function<void(VNErrorPtr error, bool cancelled, bool removedTop)>;
    using MakeError = std::function<VNErrorPtr(const QString &message)>;

    // leftOut: the documents of the tree the copy left out, with their folders.
    QNMovedSourceRemoval(QNDriveConfigPtr drive, QNDocumentPtr top, const QList<Copied> &copied,
                         const QList<Copied> &leftOut = {});

    void start(AddOperation add, MakeError makeError, Finished finished);

    // The documents removed, in order (for logs and tests).
    QStringList removedPaths() const;
    // Whether the top folder itself went.
    bool removedTop() const;

    // How a document is told apart from its siblings: its id where the drive
    // has one, else its path without a trailing "/".
    static QString keyOf(const QNDocumentPtr &document);

private:
    struct Folder {
        QNDocumentPtr document;
        QList<QNDocumentPtr> children;  // copied, in copy order
        QStringList strangers;          // listed afresh, never copied
        QSet<QString> skipped;          // keys of what the copy left out here
        bool holdsSkipped = false;      // listed afresh, one of those is still here
        int leftOut = 0;                // on the server, left out of the listing
        int leftOutNoted = 0;           // left out of the copy's listing, which noted them
        QString listingError;
        bool clean = false;             // filled in after the listings
    };

    void listNext();
    void listed(const QString &key, const QNDocumentList &documents, const VNErrorPtr &error);
    bool isClean(const QString &key);
    void plan(const QString &key);
    void removeNext();
    void finish(const VNErrorPtr &error, bool cancelled);
    QString keptText() const;
    static QString shownPath(const QNDocumentPtr &document);

    QNDriveConfigPtr m_drive;
    QNDocumentPtr m_top;
    QHash<QString, Folder> m_folders;
    QStringList m_listOrder;  // folders still to list, breadth first
    QList<QNDocumentPtr> m_removals;
    QStringList m_kept;  // keys of folders that stay
    mutable std::mutex m_mutex;
    QStringList m_removed;
    bool m_removedTop = false;
    AddOperation m_add;
    MakeError m_makeError;
    Finished m_finished;
};
