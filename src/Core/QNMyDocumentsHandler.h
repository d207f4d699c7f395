#pragma once

#include "Core/QNCloudInterface.h"

// The handler of the local disk (drive kind isMyFiles). A local document's
// path is an absolute file-system path. Listing, download and upload run on
// the global background queue and answer there; createFolder, remove and
// rename answer at once on the calling thread, but for the removal of a
// folder, which runs and answers on the background queue. Transfers copy in chunks of
// chunkSize bytes, report progress per chunk and test the cancel flag
// between chunks; they write into a hidden file next to the target and
// rename it into place only when whole, so a failed or cancelled transfer
// never leaves a partial file under the target's name.
class QNMyDocumentsHandler : public QNCloudInterface {
public:
    static constexpr qint64 chunkSize = 65536;

    explicit QNMyDocumentsHandler(QNDriveConfigPtr driveConfig);
    static QNCloudInterfacePtr make(const QNDriveConfigPtr &driveConfig);
    // A run-time local drive (isMyFiles and useAbsolutePath set).
    static QNDriveConfigPtr makeLocalDriveConfig();
    // For a link that leads to nothing (its target is missing, or links
    // lead round in a circle): what the link says, else a null text. A
    // copy leaves such a link out and names it.
    static QString linkLeadingNowhere(const QString &path);

    QString className() const override { return QStringLiteral("QNMyDocumentsHandler"); }

    void listDocuments(QNDocumentPtr folder, QString searchKeyword, QNListCallback completed) override;
    void download(QNDocumentPtr document, QNDocumentPtr destPath, QNProgressCallback progress,
                  QNDocumentCallback completed) override;
    void upload(QNDocumentPtr document, QNDocumentPtr destPath, QNProgressCallback progress,
                QNDocumentCallback completed) override;
    void createFolder(QString name, QNDocumentPtr destPath, QNDocumentCallback completed) override;
    void remove(QNDocumentPtr document, QNDocumentCallback completed) override;
    void rename(QNDocumentPtr document, QNDocumentPtr name, QNDocumentCallback completed) override;

private:
    struct CopyOutcome {
        bool done = false;
        bool cancelled = false;
        VNErrorPtr error;
    };
    // Copies source to destination in chunks on the background queue;
    // answers with result on success.
    void copyFile(const QString &source, const QString &destination, QNDocumentPtr result,
                  QNProgressCallback progress, QNDocumentCallback completed);
    // The copy itself, on the calling thread. Every value made on the way is
    // released before copyFile answers.
    void answerRemoval(const QString &message, const QNDocumentCallback &completed);
    CopyOutcome copyNow(const QString &source, const QString &destination, const QNProgressCallback &progress);
};
