#pragma once

#include "Core/QNAliasCheck.h"
#include "Core/QNAnswerOnce.h"
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
// one goes, the tree is listed. No file of the tree goes (upload, download
// or the drive's own copy) before the tree's checks have answered
// (afterChecks()); a tree whose copy is refused is neither made nor listed
// further, and the folders it made are known, to be removed again. Held in
// a std::shared_ptr.
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
    // A folder the copy made at the destination (none it merged into), in
    // the order made: each after the folder holding it.
    void addMadeFolder(const QNDocumentPtr &folder);
    QList<QNDocumentPtr> madeFolders() const;

    // The copy of the tree is refused: nothing more of it is made or
    // listed. False when it was already.
    bool refuse();
    bool isRefused() const;

    // Runs start once the tree's checks have answered, at once when they
    // have: go is true when the copy goes on, false when it was refused or
    // has ended. Starts that wait run in the order they came.
    using Start = std::function<void(bool go)>;
    void afterChecks(Start start);
    // The checks have answered (a later call, as the task is cancelled,
    // answers the starts that come after it).
    void checksAnswered(bool go);

    // What the tree's alias check answered (null before it has): a move's
    // removal takes it.
    void setAliasAnswer(const QNAliasCheck::Outcome &outcome);
    std::shared_ptr<const QNAliasCheck::Outcome> aliasAnswer() const;

private:
    void closeFolder();

    mutable std::mutex m_mutex;
    std::function<void()> m_listed;
    int m_open = 0;
    QList<QNDocumentPtr> m_sourceFolders;
    QList<Merge> m_merges;
    QList<QNDocumentPtr> m_madeFolders;
    bool m_refused = false;
    QNAnswerOnce<bool> m_checks;  // one answer, under the key ""
    std::shared_ptr<const QNAliasCheck::Outcome> m_aliasAnswer;
};
