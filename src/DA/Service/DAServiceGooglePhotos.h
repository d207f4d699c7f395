#pragma once

#include "DA/Service/DAServiceGoogle.h"

#include <QMap>
#include <limits>

// The photo-album service: its identity, root URL, protocol version, upload
// chunk size and namespaces, and the builder of photo feed URLs.
class DAServiceGooglePhotos : public DAServiceGoogle {
public:
    DAServiceGooglePhotos();
    static std::shared_ptr<DAServiceGooglePhotos> make() { return std::make_shared<DAServiceGooglePhotos>(); }
    QString className() const override { return QStringLiteral("DAServiceGooglePhotos"); }

    QString defaultServiceID() const override { return QStringLiteral("lh2"); }
    // The photo host with "/data/"; the host may be pointed elsewhere (tests).
    static QString serviceRootURLString();
    static QString photoHostURLString();
    // An empty base restores the provider's host.
    static void setPhotoHostURLString(const QString &base);
    QString defaultServiceVersion() const override { return QStringLiteral("2.0"); }
    static quint64 defaultServiceUploadChunkSize() { return std::numeric_limits<quint64>::max(); }
    static QMap<QString, QString> standardServiceNamespaces();
    QMap<QString, QString> serviceNamespaces() const override { return standardServiceNamespaces(); }
    // The photo host (wherever it was pointed) over https.
    bool isServiceURL(const QUrl &url) const override;

    // root + "feed/api/user/<user>" [+ "/albumid/<id>" | "/album/<name>"]
    // [+ "/photoid/<id>"] [+ "?kind=..&access=.."].
    static QUrl photoFeedURLForUserID(const QString &userID, const QString &albumID, const QString &albumName,
                                      const QString &photoID, const QString &kind, const QString &access);
    static QUrl photoContactsFeedURLForUserID(const QString &userID);
};
