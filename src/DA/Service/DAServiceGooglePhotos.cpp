#include "DA/Service/DAServiceGooglePhotos.h"

#include "DA/BaseClasses/DAUtilities.h"
#include "DA/Photos/DAPhotoElements.h"

#include <QStringList>
#include <mutex>

using DAUtilities::stringByURLEncodingForURI;
using DAUtilities::stringByURLEncodingStringParameter;

namespace {
std::mutex g_hostMutex;
QString g_photoHost;
}  // namespace

DAServiceGooglePhotos::DAServiceGooglePhotos() {
    setServiceUploadChunkSize(defaultServiceUploadChunkSize());
}

QString DAServiceGooglePhotos::photoHostURLString() {
    std::lock_guard lock(g_hostMutex);
    return g_photoHost.isEmpty() ? QStringLiteral("https://picasaweb.google.com") : g_photoHost;
}

void DAServiceGooglePhotos::setPhotoHostURLString(const QString &base) {
    std::lock_guard lock(g_hostMutex);
    g_photoHost = base;
}

bool DAServiceGooglePhotos::isServiceURL(const QUrl &url) const {
    const QUrl photoHost(photoHostURLString());
    return url.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0 &&
           photoHost.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0 &&
           url.host().compare(photoHost.host(), Qt::CaseInsensitive) == 0 && url.port(443) == photoHost.port(443);
}

QString DAServiceGooglePhotos::serviceRootURLString() { return photoHostURLString() + QStringLiteral("/data/"); }

QMap<QString, QString> DAServiceGooglePhotos::standardServiceNamespaces() { return DAPhotoConstants::photoNamespaces(); }

QUrl DAServiceGooglePhotos::photoFeedURLForUserID(const QString &userID, const QString &albumID,
                                                  const QString &albumName, const QString &photoID,
                                                  const QString &kind, const QString &access) {
    QString url = serviceRootURLString() + QStringLiteral("feed/api/user/") + stringByURLEncodingForURI(userID);
    if (!albumID.isNull())
        url += QStringLiteral("/albumid/") + stringByURLEncodingForURI(albumID);
    else if (!albumName.isNull())
        url += QStringLiteral("/album/") + stringByURLEncodingForURI(albumName);
    if (!photoID.isNull())
        url += QStringLiteral("/photoid/") + photoID;
    QStringList query;
    if (!kind.isNull())
        query << QStringLiteral("kind=") + stringByURLEncodingStringParameter(kind);
    if (!access.isNull())
        query << QStringLiteral("access=") + stringByURLEncodingStringParameter(access);
    if (!query.isEmpty())
        url += QLatin1Char('?') + query.join(QLatin1Char('&'));
    return QUrl(url);
}

QUrl DAServiceGooglePhotos::photoContactsFeedURLForUserID(const QString &userID) {
    return QUrl(serviceRootURLString() + QStringLiteral("feed/api/user/") + stringByURLEncodingForURI(userID) +
                QStringLiteral("/contacts?kind=user"));
}
