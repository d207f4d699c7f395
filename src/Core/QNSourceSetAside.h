#pragma once

#include "Core/QNDocument.h"
#include "Core/QNDriveConfig.h"
#include "Platform/VNError.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

// The last look before a move removes its source: the source is set aside
// under a name of its own (renamed in its folder), and the destination is
// listed again. A copy that is the source itself, reached by another path
// (a server's share mounted in the home folder, a server serving a folder
// of this machine, a link the server shows as a plain folder), changes with
// it: the destination loses the copy's name, or shows the set-aside one.
// Then the source gets its name back and the move fails naming it; else
// the caller removes the source under its set-aside name, and gives it its
// name back if anything of it stays. Whatever fails (the setting aside, the
// look, the way back) leaves the source in place, or says where it is.
//
// Each request runs to its answer outside the task's queues, while the
// caller's operation keeps its place in them; a cancel (asked through
// start()'s cancelled) ends the look at its next step, the source back
// under its own name. Names are compared as the destination holds what the
// copy wrote (the local disk's form of a name, letter case, normal form).
// One request at a time.
class QNSourceSetAside : public std::enable_shared_from_this<QNSourceSetAside> {
public:
    // A destination folder and the names the copy put into it.
    struct Place {
        QNDocumentPtr folder;
        QStringList names;
    };
    enum class Answer {
        Apart,      // the copy is elsewhere: the source is set aside (aside())
        One,        // the copy is the source itself: it has its name back
        Failed,     // it could not be told: the source is in place (or said where)
        Cancelled,  // the task was cancelled: the source is in place (or said where)
    };
    // (answer, the text for the item's error; "" for Apart and a clean cancel)
    using Finished = std::function<void(Answer answer, const QString &message)>;
    // The text for the item's error: "" when the source has its name again.
    using PutBack = std::function<void(const QString &problem)>;

    // where: the first place is the folder the source was dropped onto, with
    // the source's name; the others are folders the copy merged into.
    QNSourceSetAside(QNDriveConfigPtr sourceDrive, QNDocumentPtr source, QNDriveConfigPtr destinationDrive,
                     QList<Place> where);

    // cancelled tells whether the task was cancelled meanwhile.
    void start(std::function<bool()> cancelled, Finished finished);
    // Answers Apart at once, the source left under its name: for a copy
    // that is a new item whatever the source (a photo service adds one).
    void startInPlace(Finished finished);
    // The source under its set-aside name (after Apart).
    QNDocumentPtr aside() const { return m_aside; }
    // Gives the set-aside source its name back.
    void putBack(PutBack done);

    // A text that names the set-aside source (a drive's error) as the
    // source has its name again.
    QString asOwnPath(const QString &text) const;
    // "The file “x.txt”" or "The folder “proj”".
    QString described() const;
    // A folder as the texts name it: its path, or "/".
    static QString shownPath(const QNDocumentPtr &folder);

    // The set-aside name for name: recognisable, unique, within 255 bytes.
    static QString asideName(const QString &name);
    // document, moved along with its top folder from the path top to aside.
    static QNDocumentPtr rebased(const QNDocumentPtr &document, const QString &top, const QString &aside);

private:
    void setAside();
    // The rename answered with an error: its folder tells where the source is.
    void lookAfterFailedRename(const QString &renameError);
    void look(int index);
    // Ends with answer once the source has its name back.
    void endPutBack(Answer answer, const QString &message);
    void finish(Answer answer, const QString &message);
    QString name() const;
    QString sourceFolderPath() const;
    QString asidePath() const;

    QNDriveConfigPtr m_sourceDrive;
    QNDocumentPtr m_source;
    QNDriveConfigPtr m_destinationDrive;
    QList<Place> m_where;
    QNDocumentPtr m_aside;
    std::function<bool()> m_cancelled;
    Finished m_finished;
};
