#include "App/QNImageObject.h"

QNImageObject::QNImageObject(const QNImageObject &other) { *this = other; }

QNImageObject &QNImageObject::operator=(const QNImageObject &other) {
    if (this == &other)
        return *this;
    m_path = other.m_path;
    m_url = other.m_url;
    m_image = other.m_image;
    m_title = other.m_title;
    m_subTitle = other.m_subTitle;
    m_version.store(other.m_version.load());
    setType(other.type());
    return *this;
}

void QNImageObject::setPath(const QString &path) {
    m_path = path;
    setType(RepresentationType::Path);
}

void QNImageObject::setUrl(const QUrl &url) {
    m_url = url;
    setType(RepresentationType::URL);
}

void QNImageObject::setImage(const QImage &image) {
    m_image = image;
    setType(RepresentationType::Image);
}

QNImageObject::RepresentationType QNImageObject::type() const {
    std::lock_guard lock(m_typeMutex);
    return m_type;
}

void QNImageObject::setType(RepresentationType type) {
    std::lock_guard lock(m_typeMutex);
    m_type = type;
}

QVariant QNImageObject::imageRepresentation() const {
    switch (type()) {
    case RepresentationType::Image: return m_image;
    case RepresentationType::URL: return m_url;
    case RepresentationType::Path: break;
    }
    return m_path;
}

QString QNImageObject::imageUID() const {
    switch (type()) {
    case RepresentationType::Image: return QStringLiteral("QImage:%1").arg(m_image.cacheKey());
    case RepresentationType::URL: return m_url.toString(QUrl::FullyEncoded);
    case RepresentationType::Path: break;
    }
    return m_path;
}
