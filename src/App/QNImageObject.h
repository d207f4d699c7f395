#pragma once

#include <QImage>
#include <QString>
#include <QUrl>
#include <QVariant>
#include <atomic>
#include <mutex>

// One item of the thumbnail browser: a picture given as a file path, a URL
// or an image in memory (the last of the three setters called decides which),
// with a title, a subtitle and a version that tells the browser to reload it.
class QNImageObject {
public:
    enum class RepresentationType { Path, URL, Image };

    QNImageObject() = default;
    QNImageObject(const QNImageObject &other);
    QNImageObject &operator=(const QNImageObject &other);

    QString path() const { return m_path; }
    void setPath(const QString &path);
    QUrl url() const { return m_url; }
    void setUrl(const QUrl &url);
    QImage image() const { return m_image; }
    void setImage(const QImage &image);

    QString title() const { return m_title; }
    void setTitle(const QString &title) { m_title = title; }
    QString subTitle() const { return m_subTitle; }
    void setSubTitle(const QString &subTitle) { m_subTitle = subTitle; }
    quint64 version() const { return m_version.load(); }
    void setVersion(quint64 version) { m_version.store(version); }

    RepresentationType type() const;

    // What the browser asks of an item.
    RepresentationType imageRepresentationType() const { return type(); }
    QVariant imageRepresentation() const;
    QString imageUID() const;
    QString imageTitle() const { return m_title; }
    QString imageSubtitle() const { return m_subTitle; }
    quint64 imageVersion() const { return version(); }
    bool isSelectable() const { return true; }

private:
    void setType(RepresentationType type);

    QString m_path;
    QUrl m_url;
    QImage m_image;
    QString m_title;
    QString m_subTitle;
    std::atomic<quint64> m_version{0};
    mutable std::mutex m_typeMutex;
    RepresentationType m_type = RepresentationType::Path;
};
