#pragma once

#include "Core/QNCloudInterface.h"

#include <QString>
#include <atomic>

// A stand-in for a remote drive, backed by a local folder: drive paths
// ("/", "/a/b.txt") are resolved below the folder. It has a kind of its own
// (a configuration whose url starts with "fake://", see makeDriveConfig), so
// it sits beside the local-folder drive the way a real service does.
//
// It answers every call on the main queue, never inside the call, and can be
// told per operation (and per drive folder) to fail, to answer late, to never
// answer, or to hold its answer until cancelled and then answer as if
// nothing happened. Register it with registerWithFactory() before use.
class QNFakeRemoteHandler : public QNCloudInterface {
public:
    enum class Op { Login, List, Download, Upload, CreateFolder, Remove, Rename, LocalCopy, LocalMove, Link };
    enum class Mode {
        Answer,             // do the work and answer (after delayMs)
        Fail,               // answer (after delayMs) with an error
        NeverAnswer,        // never answer, not even when cancelled
        AnswerAfterCancel,  // hold the answer until cancel(), then (after delayMs) answer with the full result
        CancelledOnCancel,  // hold the answer until cancel(), then answer as cancelled (a late drive)
        FailAfterWork,      // do the work, then answer with an error (a reply lost on its way back); document calls
        HeldUntilReleased,  // a slow server: do nothing until releaseHeldCalls(), a cancel notwithstanding, then answer
    };
    struct Behaviour {
        Mode mode = Mode::Answer;
        int delayMs = 0;
        QString failMessage = QStringLiteral("The fake server refused the request.");
        // Transfers report progress every progressStep bytes.
        qint64 progressStep = 4096;
        // The first this many calls (from when it is set) do the work and
        // answer; the mode holds for the later ones (not for FailAfterWork).
        int answersFirst = 0;
    };

    explicit QNFakeRemoteHandler(QNDriveConfigPtr driveConfig);

    // Makes configurations whose url starts with "fake://" use this handler.
    static void registerWithFactory();
    // A drive backed by rootFolder (created if missing). Its url may be
    // given a host ("fake://host" + rootFolder) to play a drive of a server.
    static QNDriveConfigPtr makeDriveConfig(const QString &rootFolder,
                                            const QString &username = QStringLiteral("fake-user"));
    static QString rootFolderOf(const QNDriveConfig &config);

    // Behaviour of an operation, for every fake drive or for the one backed
    // by rootFolder (which wins). resetBehaviours() also clears the counts.
    static void setBehaviour(Op op, Behaviour behaviour, const QString &rootFolder = {});
    static void resetBehaviours();
    // Lists folders by the id of their listed entry, as SugarSync and the web
    // drives do: a folder other than the root given without its id is refused.
    // Cleared by resetBehaviours().
    static void setAddressesFoldersById(bool on);
    // Answers a rename with the very document it was given, unchanged (the
    // new name is on the drive only), as some drives' handlers once did:
    // for callers that must not take it for their own. Cleared by
    // resetBehaviours().
    static void setRenameAnswersWithTheDocument(bool on);
    // Answers an upload with the folder document it was given, as the WebDAV
    // handler does, instead of the uploaded file's. Cleared by
    // resetBehaviours().
    static void setUploadAnswersWithTheFolder(bool on);
    // Folds case, as a FAT stick or a Windows server does: each step of a
    // path names the entry of that name whatever its case, so a name that
    // differs from an entry's only in case is taken (a folder of it cannot
    // be made; a file of it is written over that entry). Cleared by
    // resetBehaviours(). For every fake drive, or the one backed by
    // rootFolder.
    static void setFoldsCase(bool on, const QString &rootFolder = {});
    // Listings leave out every entry whose name starts with prefix ("" for
    // none), as a server that hides some names does. Cleared by
    // resetBehaviours().
    static void setHiddenNamePrefix(const QString &prefix);
    // Leaves out the entries of one more prefix too.
    static void addHiddenNamePrefix(const QString &prefix);
    // No folder is made in the local folder given (as its path reads, links
    // not followed), as in a folder of an account that may not make folders
    // there. Cleared by resetBehaviours().
    static void setMakesNoFolderIn(const QString &localFolder);
    // Listings give at most this many entries, in name order (0: all), as a
    // server that caps its listings does. Cleared by resetBehaviours().
    static void setListingCap(int entries);
    // The drive backed by rootFolder lists each folder as it first listed
    // it, plus what it made or removed there itself, as a mount that caches
    // listings does: what other ways wrote stays unseen. Cleared by
    // resetBehaviours().
    static void setCachesListings(const QString &rootFolder);
    // Calls received per operation, and calls that did not come on the main thread.
    static int callCount(Op op);
    static int offMainThreadCalls();
    static int cancelCount();
    // Calls held by HeldUntilReleased and not yet released; releasing lets
    // each do its work and answer (on the main queue).
    static int heldCallCount();
    static void releaseHeldCalls();
    // Uploads asked to go under a temporary name (they then run as upload()
    // does, and count as uploads too).
    static int temporaryNameUploadCount();

    QString className() const override { return QStringLiteral("QNFakeRemoteHandler"); }

    void login(QNLoginCallback completed) override;
    void listDocuments(QNDocumentPtr folder, QString searchKeyword, QNListCallback completed) override;
    void download(QNDocumentPtr document, QNDocumentPtr destPath, QNProgressCallback progress,
                  QNDocumentCallback completed) override;
    void upload(QNDocumentPtr document, QNDocumentPtr destPath, QNProgressCallback progress,
                QNDocumentCallback completed) override;
    void uploadUnderTemporaryName(QNDocumentPtr document, QNDocumentPtr destPath, QNProgressCallback progress,
                                  QNDocumentCallback completed) override;
    void createFolder(QString name, QNDocumentPtr destPath, QNDocumentCallback completed) override;
    void remove(QNDocumentPtr document, QNDocumentCallback completed) override;
    void rename(QNDocumentPtr document, QNDocumentPtr name, QNDocumentCallback completed) override;
    void localCopy(QNDocumentPtr document, QNDocumentPtr name, QNDocumentCallback completed) override;
    void localMove(QNDocumentPtr document, QNDocumentPtr name, QNDocumentCallback completed) override;
    void linkForDocument(QNDocumentPtr document, QNDocumentCallback completed) override;
    void cancel() override;

private:
    // Runs work (which answers through its own callback) according to the
    // operation's behaviour; cancelledAnswer answers a cancel seen first.
    void schedule(Op op, std::function<void(VNErrorPtr failure)> work, std::function<void()> cancelledAnswer);
    // A document call: work gives the answer's document or sets the error.
    void answerDocument(Op op, QNDocumentCallback completed, std::function<QNDocumentPtr(VNErrorPtr &error)> work);
    void relocate(Op op, const QString &drivePath, const QString &target, QNDocumentPtr answer,
                  QNDocumentCallback completed);
    QString localPath(const QString &drivePath, VNErrorPtr *error) const;
    QString root() const;

    std::function<void()> m_heldAnswer;  // main thread only: AnswerAfterCancel
    int m_heldDelayMs = 0;
};
