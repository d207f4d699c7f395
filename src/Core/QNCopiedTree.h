#pragma once

#include "Core/QNDocument.h"

#include <QList>
#include <functional>
#include <memory>
#include <mutex>

// What a folder's copy learns of its tree while it lists it: every folder
// of the tree it lists on the source drive, and every folder already at the
// destination that one of them is written into. A folder merged below the
// top may be a link to another folder of the tree (the server shows it as a
// plain folder): once the whole tree is listed, and before any file goes,
// the copy asks whether any merged folder is any folder of the tree.
//
// Each folder of the tree still to be listed holds a token; when the last
// one goes, the tree is listed. Held in a std::shared_ptr.
class QNCopiedTree : public std::enable_shared_from_this<QNCopiedTree> {
public:
    struct Merge {
        QNDocumentPtr folder;    // the source folder
        QNDocumentPtr namesake;  // the destination folder it is written into
    };

    // Runs once, when the last token goes (on that thread).
    explicit QNCopiedTree(std::function<void()> listed);

    // A token for a folder of the tree that is still to be listed.
    std::shared_ptr<void> openFolder();

    void addSourceFolder(const QNDocumentPtr &folder);
    void addMerge(const QNDocumentPtr &folder, const QNDocumentPtr &namesake);
    QList<QNDocumentPtr> sourceFolders() const;
    QList<Merge> merges() const;

private:
    void closeFolder();

    mutable std::mutex m_mutex;
    std::function<void()> m_listed;
    int m_open = 0;
    QList<QNDocumentPtr> m_sourceFolders;
    QList<Merge> m_merges;
};
