#pragma once

#include "Core/QNDocument.h"
#include "Core/QNDriveConfig.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <mutex>
#include <sys/types.h>
#include <vector>

// Whether a folder reached through one drive may be a folder reached
// through another: a server that links /srv/proj to /home/u/proj, a
// server's share mounted in the home folder, a folder of this machine
// mounted again through FUSE, one account added twice. Replacing (or
// merging into) such a namesake writes every file onto itself, copying a
// folder into one of its own copies it again and again, and a move would
// then remove the only copy. Three answers:
//   Apart       shown by evidence a stale, partial or cached listing
//               cannot fake; a name's absence alone is never such evidence;
//   OneStorage  a folder of one side showed what was made through the other;
//   CannotTell  neither. A copy goes on (it removes nothing); a move keeps
//               its source and says so.
//
// The evidence, by the drives:
//   - drives that cannot be one storage (a photo service, two services):
//     Apart, by what they are;
//   - two drives of one web service, items with ids: the ids;
//   - two local folders of one file system that keeps its own numbers:
//     device and inode (QNLocalNamesake::identityTells());
//   - otherwise check folders, asked of the two drives alike (two local
//     folders on two file systems, or behind a FUSE or network mount,
//     among them): a folder of a unique name is made in each folder of
//     each side through its own drive, then each folder is listed through
//     its own drive. A folder showing a check folder of the other side is
//     that folder. Apart needs every listing to show its own check
//     folder and none of the other side's: a listing that leaves its own
//     out (a cache, a cap, a page) may have left out the other's too. Where
//     one side's listings come from a cache that holds its own writes, the
//     other side's fresh listing shows both. The two check folders of one
//     folder sort next to each other, the other side's first, so a listing
//     cut short cannot show its own without the other's.
// Asked only whether they are one storage (Ask::WhetherOne, for a copy,
// which need not know more), check folders are made on the second side
// alone and the first side's folders listed: OneStorage or CannotTell.
//
// The drop target's question (standing()): whether the folder a tree is
// dropped onto is a folder of that tree, reached by another path. Its check
// folder stands while the copy lists the tree, which looks for it in every
// listing it makes anyway (sightedIn()); treeListed() ends it.
//
// Every check folder made (or whose creation may have been carried out, its
// answer lost) goes again through QNMadeFoldersRemoval, the one way of
// removing what this program made, whatever the answer and after a cancel;
// one that stays is named in leftOver, which is never a reason to refuse.
// Requests go one at a time outside the task's queues: whoever starts the
// check keeps the task (a queue slot, QNAliasCheckOperation, or a hold)
// until it answers. It answers exactly once.
class QNAliasCheck : public std::enable_shared_from_this<QNAliasCheck> {
public:
    enum class Answer { Apart, OneStorage, CannotTell };
    enum class Ask { WhetherApart, WhetherOne };
    // The folders of one side and the drive they are reached through. For
    // two drives of one web service, the items themselves may be given:
    // their ids are compared.
    struct Side {
        QNDriveConfigPtr drive;
        QList<QNDocumentPtr> folders;
    };
    struct Outcome {
        Answer answer = Answer::CannotTell;
        QString why;  // CannotTell: why, as a sentence ("" when nothing more can be said)
        // OneStorage: the folder of the first side that is this folder of
        // the second (indexes into the folders given).
        int here = -1;
        int there = -1;
        QStringList leftOver;  // each check folder that stays, named with its folder
        bool cancelled = false;
    };
    using Finished = std::function<void(const Outcome &outcome)>;

    // Whether items of the two drives can be one: any two drives that reach
    // files by path (the local disk, FTP, SFTP, WebDAV, SMB, Office 365),
    // whatever hosts they name, or two drives of one web service. Not photo
    // services, which add a photo beside one of its name.
    static bool mayBeOneStorage(const QNDriveConfigPtr &a, const QNDriveConfigPtr &b);
    static bool reachesFilesByPath(const QNDriveConfig &drive);

    // Whether any folder of there is any folder of here.
    QNAliasCheck(Side here, Side there, Ask ask = Ask::WhetherApart);
    // The drop target's check: dropTarget (a folder of thereDrive) against
    // the tree the copy lists through hereDrive.
    static std::shared_ptr<QNAliasCheck> standing(QNDriveConfigPtr hereDrive, QNDriveConfigPtr thereDrive,
                                                  QNDocumentPtr dropTarget, QNDocumentPtr tree);

    // Starts the question; finished runs once, on the thread of the last
    // answer (at once where no request is needed).
    void start(Finished finished);
    // The drop target's check: standing runs once its check folder stands
    // (where none is needed, at once); finished once treeListed() or a
    // cancel has ended it (where it cannot stand, without standing).
    void start(Finished finished, std::function<void()> standing);
    // Whether the listing of folder (a folder of the tree) shows it to be
    // the drop target: the check then answers OneStorage at treeListed().
    bool sightedIn(const QNDocumentPtr &folder, const QNDocumentList &listing);
    // The tree is listed (or it was sighted): the check ends. ended runs
    // once it has answered (at once where it has already).
    void treeListed(std::function<void()> ended = nullptr);

    // Stops asking: the request under way runs to its answer, then what was
    // made goes and the check answers cancelled (leftOver naming what stays).
    void cancel();
    // Runs each time one of its requests has answered (whoever waits for it
    // outside a queue sees it move on). Set before start().
    void setProgress(std::function<void()> progress) { m_progress = std::move(progress); }

    // The question as one string: checks with one key give one answer.
    QString key() const;

private:
    enum class Way { Markers, Identity, Ids };
    struct Marker {
        bool onHere = false;  // made through the first side's drive
        int folder = -1;      // index into that side's folders
        QString name;
        QNDocumentPtr document;
        bool mayExist = false;  // its creation was sent; guarded by m_mutex
    };
    // A listing to make: a folder of one side.
    struct Look {
        bool onHere = false;
        int folder = -1;
    };

    // Answers without requests where the drives allow; false otherwise.
    bool answeredAtOnce();
    bool answeredByIds();
    bool answeredByIdentity();
    // Answers by keys that are one for one folder (ids, device and inode):
    // a key of the second side among the first's is one folder, else apart.
    // An empty key (not known) matches nothing.
    void answerByKeys(const QStringList &here, const QStringList &there);
    void standNow();
    void planMarkers();
    void makeMarker(int index);
    void list(int index);
    void listed(int index, const QNDocumentList &listing);
    // Ends: every check folder that may exist goes, then finished runs.
    void cleanUp(Answer answer, const QString &why = {}, int here = -1, int there = -1);
    void finish(const Outcome &outcome);
    bool isCancelled() const;
    const Side &sideOf(bool onHere) const { return onHere ? m_here : m_there; }
    QString shownFolder(bool onHere, int folder) const;

    Side m_here;
    Side m_there;
    Ask m_ask;
    Way m_way = Way::Markers;
    bool m_standingMode = false;
    std::vector<Marker> m_markers;
    QHash<QString, int> m_markerIndex;  // check folder name -> index; fixed once started
    std::vector<Look> m_looks;
    std::vector<bool> m_ownShown;  // per look: its own check folder showed
    // The drop target's identity, for two local folders of one file system.
    dev_t m_targetDevice = 0;
    ino_t m_targetInode = 0;

    mutable std::mutex m_mutex;
    Finished m_finished;
    std::function<void()> m_progress;
    std::function<void()> m_standingCallback;
    bool m_started = false;
    bool m_cancelled = false;
    bool m_standingNow = false;  // the drop target's check folder stands, no request runs
    bool m_ending = false;       // the clean-up has begun
    bool m_sighted = false;
    bool m_hasAnswered = false;
    std::function<void()> m_whenAnswered;
};
