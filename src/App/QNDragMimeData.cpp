#include "App/QNDragMimeData.h"

#include "App/QNDragCopyOut.h"
#include "Platform/VNLog.h"

#include <QEventLoop>
#include <QPointer>

namespace {
const QString &uriListType() {
    static const QString type = QStringLiteral("text/uri-list");
    return type;
}

QVariant answer(const QList<QUrl> &files, QMetaType type) {
    if (type.id() == QMetaType::QByteArray || type.id() == QMetaType::QString) {
        QByteArray list;
        for (const QUrl &url : files)
            list += url.toEncoded() + "\r\n";
        return type.id() == QMetaType::QString ? QVariant(QString::fromUtf8(list)) : QVariant(list);
    }
    QVariantList urls;
    for (const QUrl &url : files)
        urls << url;
    return urls;
}
}  // namespace

QNDragMimeData::QNDragMimeData(CopyOutMaker maker) : m_maker(std::move(maker)) {}

QNDragMimeData::~QNDragMimeData() {
    if (m_copyOut)
        m_copyOut->abandon();
}

QStringList QNDragMimeData::formats() const {
    QStringList list = QMimeData::formats();
    if (m_maker && !list.contains(uriListType()))
        list << uriListType();
    return list;
}

bool QNDragMimeData::hasFormat(const QString &mimeType) const {
    return (m_maker && mimeType == uriListType()) || QMimeData::hasFormat(mimeType);
}

QVariant QNDragMimeData::retrieveData(const QString &mimeType, QMetaType type) const {
    if (!m_maker || mimeType != uriListType())
        return QMimeData::retrieveData(mimeType, type);
    if (!m_dragEnded) {
        VNLog::log(QStringLiteral("QNDragMimeData: files asked for before the drop; none given"));
        return answer({}, type);
    }
    // Made once: a later request, or one that comes while the copy runs,
    // gets the same files.
    if (!m_copyOut)
        m_copyOut = m_maker();
    const std::shared_ptr<QNDragCopyOut> copy = m_copyOut;
    if (!copy)
        return answer({}, type);
    if (copy->state() == QNDragCopyOut::Running) {
        QPointer<const QNDragMimeData> alive(this);
        QEventLoop loop;
        QObject::connect(copy.get(), &QNDragCopyOut::ended, &loop, &QEventLoop::quit);
        loop.exec();
        // The platform let go of the drag meanwhile: its target gave up.
        if (!alive)
            return answer({}, type);
    }
    if (copy->state() != QNDragCopyOut::Done)
        return answer({}, type);
    copy->setHandedOver();
    return answer(copy->files(), type);
}
