#include "App/QNDragMimeData.h"

namespace {
const QString &uriListType() {
    static const QString type = QStringLiteral("text/uri-list");
    return type;
}
}  // namespace

QNDragMimeData::QNDragMimeData(FilesProvider provider) : m_provider(std::move(provider)) {}

QStringList QNDragMimeData::formats() const {
    QStringList list = QMimeData::formats();
    if (m_provider && !list.contains(uriListType()))
        list << uriListType();
    return list;
}

bool QNDragMimeData::hasFormat(const QString &mimeType) const {
    return (m_provider && mimeType == uriListType()) || QMimeData::hasFormat(mimeType);
}

QVariant QNDragMimeData::retrieveData(const QString &mimeType, QMetaType type) const {
    if (!m_provider || mimeType != uriListType())
        return QMimeData::retrieveData(mimeType, type);
    // A target may ask again (and again while the copy runs, from the event
    // loop the copy waits in): the files are made once.
    if (!m_files) {
        if (m_providing)
            return {};
        m_providing = true;
        m_files = m_provider();
        m_providing = false;
    }
    if (type.id() == QMetaType::QByteArray || type.id() == QMetaType::QString) {
        QByteArray list;
        for (const QUrl &url : std::as_const(*m_files))
            list += url.toEncoded() + "\r\n";
        return type.id() == QMetaType::QString ? QVariant(QString::fromUtf8(list)) : QVariant(list);
    }
    QVariantList urls;
    for (const QUrl &url : std::as_const(*m_files))
        urls << url;
    return urls;
}
