#pragma once

#include "Core/QNHandlerOperation.h"

#include <mutex>

class QNListDocumentsOperation;

// Renames a document; `name` carries the new path in the same folder.
//
// Many servers (FTP ones above all) replace whatever already holds the new
// name, so the folder is listed first: a name it already holds (in any
// letter case, the document itself aside) is refused before anything is
// sent, and a folder that cannot be listed fails the rename instead of
// renaming blind.
class QNRenameOperation : public QNHandlerOperation<QNDocumentCallback> {
public:
    QNRenameOperation(const QNDriveConfigPtr &driveConfig, QNDocumentPtr document, QNDocumentPtr name,
                      QNDocumentCallback completedBlock);
    QNDocumentPtr document() const { return m_document; }
    QNDocumentPtr name() const { return m_name; }
    QString description() const override { return QStringLiteral("QNRenameOperation"); }

    // The folder listed for the check (the pane's own, which drives that
    // know folders by reference need); by default the folder of the
    // document's path. Set before the operation starts.
    void setFolder(QNDocumentPtr folder) { m_folder = std::move(folder); }
    // Off for a caller that replaces on purpose. Set before the operation starts.
    void setChecksNewName(bool on) { m_checksNewName = on; }

    void cancel() override;

    // The listed entry, other than the document, that holds the new name.
    static QNDocumentPtr holderOfName(const QNDocumentList &listed, const QNDocumentPtr &document,
                                      const QString &newName);

protected:
    void callHandler(QNCloudInterface &handler, QNDocumentCallback inner) override;

private:
    QString newName() const;
    QNDocumentPtr folderToList() const;
    void renameIfFree(const QNDocumentList &listed, const VNErrorPtr &error, bool cancelled,
                      const QNDocumentCallback &inner);

    QNDocumentPtr m_document;
    QNDocumentPtr m_name;
    QNDocumentPtr m_folder;
    bool m_checksNewName = true;
    std::mutex m_checkMutex;
    std::shared_ptr<QNListDocumentsOperation> m_check;
};
