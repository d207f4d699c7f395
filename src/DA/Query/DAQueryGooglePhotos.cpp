#include "DA/Query/DAQueryGooglePhotos.h"

#include "DA/BaseClasses/DAUtilities.h"
#include "DA/Photos/DAPhotoElements.h"

using DAUtilities::stringByURLEncodingForURI;
using DAUtilities::stringByURLEncodingStringParameter;

std::shared_ptr<DAQueryGooglePhotos> DAQueryGooglePhotos::photoQueryForUserID(const QString &userID,
                                                                              const QString &albumID,
                                                                              const QString &albumName,
                                                                              const QString &photoID) {
    return photoQueryWithFeedURL(
        DAServiceGooglePhotos::photoFeedURLForUserID(userID, albumID, albumName, photoID, QString(), QString()));
}

quint64 DAQueryGooglePhotos::imageSize() const {
    const QString text = valueForParameter(QStringLiteral("imgmax"));
    if (text == QLatin1String("d"))
        return originalImageSize;
    return text.isNull() ? 0 : quint64(text.toLongLong());
}

void DAQueryGooglePhotos::setImageSize(quint64 size) {
    addCustomParameter(QStringLiteral("imgmax"),
                       size == originalImageSize ? QStringLiteral("d") : stringParamOrNilForInt(qint64(size)));
}

QString DAServiceGooglePhotos::serviceRootURLString() { return QStringLiteral("https://picasaweb.google.com/data/"); }

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
