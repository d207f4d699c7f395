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
    return text.isNull() ? 0 : quint64(DAUtilities::longLongValueForString(text));
}

void DAQueryGooglePhotos::setImageSize(quint64 size) {
    addCustomParameter(QStringLiteral("imgmax"),
                       size == originalImageSize ? QStringLiteral("d") : stringParamOrNilForInt(qint64(size)));
}
