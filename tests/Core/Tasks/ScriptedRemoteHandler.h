#pragma once

#include "Core/Fakes/QNFakeRemoteHandler.h"

#include <QString>
#include <QStringList>

// The folder-backed fake drive with a few per-file scripts on top, for the
// task tests: downloads that fail or answer cancelled for chosen names, and
// removals that behave like a server that removes only empty folders, keep
// the order in which they came and can fail at the n-th call.
// Drives made by makeDriveConfig() here use it; other fake drives do not.
class ScriptedRemoteHandler : public QNFakeRemoteHandler {
public:
    using QNFakeRemoteHandler::QNFakeRemoteHandler;

    // Must run before QNFakeRemoteHandler::registerWithFactory().
    static void registerWithFactory();
    static QNDriveConfigPtr makeDriveConfig(const QString &rootFolder);

    struct Script {
        QString failDownloadsNamed;      // a download of a file with this name fails
        QString cancelDownloadsNamed;    // ... answers as cancelled, by itself
        QString failUploadsNamed;        // an upload of a file with this name fails
        bool failedUploadLeavesPart = false;  // ... after writing a part of it at its place
        // An upload of a file with this name writes ".<name>.part" beside its
        // place and holds; cancelled, it removes the part a while later, then
        // answers (a server that cleans up slowly).
        QString holdUploadsNamed;
        // ... unless set: the part cannot be removed, and the cancelled
        // answer's error says so (marked as a file left on the drive, or,
        // when heldPartErrorUnmarked, as a plain error).
        bool heldPartStays = false;
        bool heldPartErrorUnmarked = false;
        // An upload of a file with this name sends nothing until
        // releaseHeldUploads(), a cancel notwithstanding (a drive that goes
        // on after the cancel has answered for it). Released, it puts the
        // whole file at its place under a temporary name and renames it onto
        // the name (as an FTP upload's last step does), or, when
        // heldUploadIsCutShort, writes a part of it straight onto the name;
        // then it answers. Never released, it never answers.
        QString holdUploadsUntilReleased;
        bool heldUploadIsCutShort = false;
        bool removeOnlyEmptyFolders = false;
        int failRemovalNumber = 0;       // the n-th removal (1-based) fails; 0: none
        int failListingNumber = 0;       // the n-th listing (1-based) fails; 0: none
        QString dotDotInListingOf;       // a listing of this folder also names "<folder>/.."
        QString twinInListingOf;         // a listing of this folder names its files twice
        QString failFirstListingOf;      // the first listing of this folder (on any such drive) fails
        QString linkWithoutTargetNamed;  // a folder of this name is listed as a link that names no target
        QString leftOutOfListings;       // listings leave out entries of this name (a stale or partial listing)
        // A listing of the top folder of the drive backed by overlayRoot
        // also names every entry of the local folder overlayFrom (a server
        // that shows two folders as one).
        QString overlayRoot;
        QString overlayFrom;
    };
    static void setScript(const Script &script);
    static void reset();
    // Lets the uploads held by holdUploadsUntilReleased go on.
    static void releaseHeldUploads();
    static int heldUploadCount();
    // The drive paths removed (or tried), in order.
    static QStringList removals();
    // The same without the check folders an alias check made and removed.
    static QStringList sourceRemovals();

    QString className() const override { return QStringLiteral("ScriptedRemoteHandler"); }
    void download(QNDocumentPtr document, QNDocumentPtr destPath, QNProgressCallback progress,
                  QNDocumentCallback completed) override;
    void upload(QNDocumentPtr document, QNDocumentPtr destPath, QNProgressCallback progress,
                QNDocumentCallback completed) override;
    void remove(QNDocumentPtr document, QNDocumentCallback completed) override;
    // A folder renamed keeps its scripts (its listings' twins and "..").
    void rename(QNDocumentPtr document, QNDocumentPtr name, QNDocumentCallback completed) override;
    void cancel() override;
    void listDocuments(QNDocumentPtr folder, QString searchKeyword, QNListCallback completed) override;

private:
    std::function<void()> m_cleanUpOnCancel;  // main thread only
};
