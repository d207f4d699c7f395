#pragma once

#include "DA/Query/DAQuery.h"
#include "DA/Service/DAServiceGooglePhotos.h"

#include <limits>

// The photo-album query with its own parameters.
class DAQueryGooglePhotos : public DAQuery {
public:
    using DAQuery::DAQuery;
    static std::shared_ptr<DAQueryGooglePhotos> photoQueryWithFeedURL(const QUrl &url) {
        return std::make_shared<DAQueryGooglePhotos>(url);
    }
    static std::shared_ptr<DAQueryGooglePhotos> photoQueryForUserID(const QString &userID, const QString &albumID,
                                                                    const QString &albumName, const QString &photoID);

    static constexpr quint64 originalImageSize = std::numeric_limits<quint64>::max();
    QString className() const override { return QStringLiteral("DAQueryGooglePhotos"); }

    int thumbsize() const { return intValueForParameter(QStringLiteral("thumbsize"), 0); }
    void setThumbsize(qint64 v) { addCustomParameter(QStringLiteral("thumbsize"), stringParamOrNilForInt(v)); }
    QString kind() const { return valueForParameter(QStringLiteral("kind")); }
    void setKind(const QString &v) { addCustomParameter(QStringLiteral("kind"), v); }
    QString access() const { return valueForParameter(QStringLiteral("access")); }
    void setAccess(const QString &v) { addCustomParameter(QStringLiteral("access"), v); }
    // originalImageSize writes "d" (the full-size original).
    quint64 imageSize() const;
    void setImageSize(quint64 size);
    QString tag() const { return valueForParameter(QStringLiteral("tag")); }
    void setTag(const QString &v) { addCustomParameter(QStringLiteral("tag"), v); }

    // Null below 1, else the decimal text.
    static QString stringParamOrNilForInt(qint64 v) { return v < 1 ? QString() : QString::number(v); }

    std::shared_ptr<DAQuery> copy() const override { return std::make_shared<DAQueryGooglePhotos>(*this); }
};
