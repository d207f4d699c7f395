#pragma once

#include <QList>
#include <QMimeData>
#include <QUrl>
#include <functional>
#include <optional>

// What a drag of a pane's entries carries. The entries of a remote drive
// exist as local files only once they are copied out, and only a target
// outside this application needs them so: the file list ("text/uri-list")
// is offered from the start but made when a target first asks for it, once.
// A drop on a pane of this application reads the pane's own type and never
// asks for the files.
class QNDragMimeData : public QMimeData {
    Q_OBJECT
public:
    // Makes the local files and answers their URLs (may take a while: it
    // runs while the target waits for the data).
    using FilesProvider = std::function<QList<QUrl>()>;
    explicit QNDragMimeData(FilesProvider provider = {});

    // Whether the files were asked for (and made).
    bool filesProvided() const { return m_files.has_value(); }

    QStringList formats() const override;
    bool hasFormat(const QString &mimeType) const override;

protected:
    QVariant retrieveData(const QString &mimeType, QMetaType type) const override;

private:
    FilesProvider m_provider;
    mutable std::optional<QList<QUrl>> m_files;
    mutable bool m_providing = false;
};
