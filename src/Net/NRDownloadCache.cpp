#include "Net/NRDownloadCache.h"

#include "Net/NRHTTPRequest.h"
#include "Platform/VNLog.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QSaveFile>
#include <QTimeZone>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <atomic>

namespace {

const QString kSessionStore = QStringLiteral("SessionStore");
const QString kPermanentStore = QStringLiteral("PermanentStore");
const QString kHeadersExtension = QStringLiteral("cachedheaders");
const QString kExpiresKey = QStringLiteral("X-NRHTTPRequest-Expires");
const QString kStatusKey = QStringLiteral("X-NRHTTPRequest-Response-Status-Code");

// A header of a property-list dictionary or of a reply, looked up in any
// case.
template <class Map>
QString headerValue(const Map &headers, const QString &name) {
    for (auto it = headers.cbegin(); it != headers.cend(); ++it)
        if (it.key().compare(name, Qt::CaseInsensitive) == 0)
            return QVariant(it.value()).toString();
    return QString();
}

QVariantMap toVariantMap(const QMap<QString, QString> &headers) {
    QVariantMap map;
    for (auto it = headers.cbegin(); it != headers.cend(); ++it)
        map.insert(it.key(), it.value());
    return map;
}

bool writePropertyList(const QString &path, const QVariantMap &dictionary) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QXmlStreamWriter xml(&file);
    xml.setAutoFormatting(true);
    xml.writeStartDocument();
    xml.writeDTD(QStringLiteral("<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                                "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">"));
    xml.writeStartElement(QStringLiteral("plist"));
    xml.writeAttribute(QStringLiteral("version"), QStringLiteral("1.0"));
    xml.writeStartElement(QStringLiteral("dict"));
    for (auto it = dictionary.cbegin(); it != dictionary.cend(); ++it) {
        xml.writeTextElement(QStringLiteral("key"), it.key());
        const QVariant &value = it.value();
        if (value.typeId() == QMetaType::Double)
            xml.writeTextElement(QStringLiteral("real"), QString::number(value.toDouble(), 'f', 3));
        else if (value.typeId() == QMetaType::Int || value.typeId() == QMetaType::LongLong)
            xml.writeTextElement(QStringLiteral("integer"), QString::number(value.toLongLong()));
        else
            xml.writeTextElement(QStringLiteral("string"), value.toString());
    }
    xml.writeEndElement();
    xml.writeEndElement();
    xml.writeEndDocument();
    return !xml.hasError() && file.commit();
}

// Null when the file is missing or is no dictionary.
QVariantMap readPropertyList(const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QXmlStreamReader xml(&file);
    QVariantMap dictionary;
    QString key;
    bool inDict = false;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        const auto name = xml.name();
        if (name == QLatin1String("dict")) {
            inDict = true;
        } else if (!inDict) {
            continue;
        } else if (name == QLatin1String("key")) {
            key = xml.readElementText();
        } else if (name == QLatin1String("string")) {
            dictionary.insert(key, xml.readElementText());
        } else if (name == QLatin1String("integer")) {
            dictionary.insert(key, xml.readElementText().toLongLong());
        } else if (name == QLatin1String("real")) {
            dictionary.insert(key, xml.readElementText().toDouble());
        }
    }
    if (xml.hasError() || !inDict)
        return {};
    return dictionary;
}

}  // namespace

// What the cache reads of a request, read before its lock is taken.
struct NRDownloadCache::RequestFacts {
    QUrl url;
    int cachePolicy = NRUseDefaultCachePolicy;
    int storagePolicy = NRCacheForSessionDurationCacheStoragePolicy;
    int status = 0;
    bool failed = false;
    bool complete = false;
    bool compressed = false;
    QMap<QString, QString> headers;
    QString downloadDestinationPath;
};

NRDownloadCache::RequestFacts NRDownloadCache::factsOf(const NRHTTPRequest &request) {
    RequestFacts facts;
    facts.url = request.url();
    facts.cachePolicy = request.cachePolicy();
    facts.storagePolicy = request.cacheStoragePolicy();
    facts.status = request.responseStatusCode();
    facts.failed = request.error() != nullptr;
    facts.complete = request.complete();
    facts.compressed = request.isResponseCompressed();
    facts.headers = request.responseHeaders();
    facts.downloadDestinationPath = request.downloadDestinationPath();
    return facts;
}

namespace {

struct LockHook {
    std::mutex mutex;
    std::atomic<bool> set{false};
    std::function<void(const NRDownloadCache &, bool)> hook;
};

LockHook &lockHook() {
    static auto *hook = new LockHook;  // the network thread may take a cache's lock at exit
    return *hook;
}

void tellLockHook(const NRDownloadCache &cache, bool taken) {
    LockHook &h = lockHook();
    if (!h.set.load(std::memory_order_acquire))
        return;
    std::function<void(const NRDownloadCache &, bool)> hook;
    {
        std::lock_guard l(h.mutex);
        hook = h.hook;
    }
    if (hook)
        hook(cache, taken);
}

}  // namespace

NRDownloadCache::Access::Access(const NRDownloadCache &cache) : m_cache(cache), m_lock(cache.m_accessLock) {
    tellLockHook(m_cache, true);
}

NRDownloadCache::Access::~Access() {
    tellLockHook(m_cache, false);
}

void NRDownloadCache::setLockHookForTesting(std::function<void(const NRDownloadCache &, bool taken)> hook) {
    LockHook &h = lockHook();
    std::lock_guard l(h.mutex);
    h.set.store(bool(hook), std::memory_order_release);
    h.hook = std::move(hook);
}

NRDownloadCache::NRDownloadCache() {
    setDefaultCachePolicy(NRAskServerIfModifiedWhenStaleCachePolicy);
}

std::shared_ptr<NRDownloadCache> NRDownloadCache::sharedCache() {
    static std::mutex monitor;
    static std::shared_ptr<NRDownloadCache> shared;
    std::lock_guard lock(monitor);
    if (!shared) {
        QString base = QString::fromLocal8Bit(qgetenv("XDG_CACHE_HOME"));
        if (base.isEmpty())
            base = QDir::homePath() + QStringLiteral("/.cache");
        QDir().mkpath(base);
        shared = std::make_shared<NRDownloadCache>();
        if (auto error = shared->setStoragePath(base + QStringLiteral("/NRHTTPRequestCache")))
            VNLog::log(QStringLiteral("NRDownloadCache: %1").arg(error->localizedDescription()));
    }
    return shared;
}

VNErrorPtr NRDownloadCache::cacheError(const QString &name, const QString &reason) {
    VNLog::log(QStringLiteral("NRDownloadCache %1: %2").arg(name, reason));
    return std::make_shared<VNError>(name, 0,
                                     QVariantMap{{VNError::localizedDescriptionKey(), reason}, {"name", name}});
}

QString NRDownloadCache::storagePath() const {
    const Access access(*this);
    return m_storagePath;
}

VNErrorPtr NRDownloadCache::setStoragePath(const QString &path) {
    const Access access(*this);
    clearCachedResponsesForStoragePolicy(NRCacheForSessionDurationCacheStoragePolicy);
    m_storagePath = path;
    if (path.isEmpty())
        return nullptr;
    for (const QString &folder : {path, path + QLatin1Char('/') + kSessionStore,
                                  path + QLatin1Char('/') + kPermanentStore}) {
        const QFileInfo info(folder);
        if (info.exists() && !info.isDir())
            return cacheError(QStringLiteral("FileExistsAtCachePath"),
                              QStringLiteral("Cannot create a directory for the cache at '%1', because a file already "
                                             "exists").arg(folder));
        if (!info.exists() && !QDir().mkdir(folder))
            return cacheError(QStringLiteral("FailedToCreateCacheDirectory"),
                              QStringLiteral("Failed to create a directory for the cache at '%1'").arg(folder));
    }
    return clearCachedResponsesForStoragePolicy(NRCacheForSessionDurationCacheStoragePolicy);
}

int NRDownloadCache::defaultCachePolicy() const {
    const Access access(*this);
    return m_defaultCachePolicy;
}

void NRDownloadCache::setDefaultCachePolicy(int policy) {
    const Access access(*this);
    m_defaultCachePolicy = policy == NRUseDefaultCachePolicy ? NRAskServerIfModifiedWhenStaleCachePolicy : policy;
}

bool NRDownloadCache::shouldRespectCacheControlHeaders() const {
    const Access access(*this);
    return m_shouldRespectCacheControlHeaders;
}

void NRDownloadCache::setShouldRespectCacheControlHeaders(bool on) {
    const Access access(*this);
    m_shouldRespectCacheControlHeaders = on;
}

QString NRDownloadCache::keyForURL(const QUrl &url) {
    QString text = url.toString(QUrl::FullyEncoded);
    if (text.endsWith(QLatin1Char('/')))
        text.chop(1);
    if (text.isEmpty())
        return QString();
    return QString::fromLatin1(QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Md5).toHex().toUpper());
}

QStringList NRDownloadCache::fileExtensionsToHandleAsHTML() {
    // Never destroyed: the network thread, never joined, may read it while
    // the process runs its exit handlers.
    static const auto *extensions = new QStringList{"asp", "aspx", "jsp", "php", "rb", "py", "pl", "cgi"};
    return *extensions;
}

QString NRDownloadCache::fileExtensionForURL(const QUrl &url) {
    const QString name = url.path().section(QLatin1Char('/'), -1);
    const int dot = name.lastIndexOf(QLatin1Char('.'));
    const QString extension = dot >= 0 ? name.mid(dot + 1) : QString();
    if (extension.isEmpty() || fileExtensionsToHandleAsHTML().contains(extension.toLower()))
        return QStringLiteral("html");
    return extension;
}

bool NRDownloadCache::serverAllowsResponseCachingForRequest(const NRHTTPRequest &request) {
    return serverAllowsCaching(factsOf(request));
}

bool NRDownloadCache::serverAllowsCaching(const RequestFacts &facts) {
    // Token by token: "private, no-store" forbids storing as much as "no-store".
    const auto forbids = [](const QString &header, bool noStoreCounts) {
        for (QString token : header.toLower().split(QLatin1Char(','))) {
            token = token.section(QLatin1Char('='), 0, 0).trimmed();
            if (token == QLatin1String("no-cache") || (noStoreCounts && token == QLatin1String("no-store")))
                return true;
        }
        return false;
    };
    return !forbids(headerValue(facts.headers, QStringLiteral("Cache-Control")), true) &&
           !forbids(headerValue(facts.headers, QStringLiteral("Pragma")), false);
}

QString NRDownloadCache::pathToFile(const QString &fileName) const {
    const Access access(*this);
    if (m_storagePath.isEmpty() || fileName.isEmpty())
        return QString();
    for (const QString &store : {kSessionStore, kPermanentStore}) {
        const QString path = m_storagePath + QLatin1Char('/') + store + QLatin1Char('/') + fileName;
        if (QFileInfo::exists(path))
            return path;
    }
    return QString();
}

QString NRDownloadCache::pathToCachedResponseDataForURL(const QUrl &url) const {
    const QString key = keyForURL(url);
    return key.isNull() ? QString() : pathToFile(key + QLatin1Char('.') + fileExtensionForURL(url));
}

QString NRDownloadCache::pathToCachedResponseHeadersForURL(const QUrl &url) const {
    const QString key = keyForURL(url);
    return key.isNull() ? QString() : pathToFile(key + QLatin1Char('.') + kHeadersExtension);
}

QString NRDownloadCache::storeFolder(int storagePolicy) const {
    const Access access(*this);
    if (m_storagePath.isEmpty())
        return QString();
    return m_storagePath + QLatin1Char('/') +
           (storagePolicy == NRCacheForSessionDurationCacheStoragePolicy ? kSessionStore : kPermanentStore);
}

QString NRDownloadCache::pathToStore(const RequestFacts &facts, const QString &extension) const {
    const QString folder = storeFolder(facts.storagePolicy);
    const QString key = keyForURL(facts.url);
    return folder.isNull() || key.isNull() ? QString() : folder + QLatin1Char('/') + key + QLatin1Char('.') + extension;
}

QString NRDownloadCache::pathToStoreCachedResponseHeadersForRequest(const NRHTTPRequest &request) const {
    return pathToStore(factsOf(request), kHeadersExtension);
}

QString NRDownloadCache::pathToStoreCachedResponseDataForRequest(const NRHTTPRequest &request) const {
    const RequestFacts facts = factsOf(request);
    return pathToStore(facts, fileExtensionForURL(facts.url));
}

QVariantMap NRDownloadCache::cachedResponseHeadersForURL(const QUrl &url) const {
    const Access access(*this);
    const QString path = pathToCachedResponseHeadersForURL(url);
    return path.isNull() ? QVariantMap() : readPropertyList(path);
}

QByteArray NRDownloadCache::cachedResponseDataForURL(const QUrl &url) const {
    const Access access(*this);
    QFile file(pathToCachedResponseDataForURL(url));
    if (file.fileName().isEmpty() || !file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

QDateTime NRDownloadCache::dateFromRFC1123String(const QString &text) {
    QString rest = text.trimmed();
    const int comma = rest.indexOf(QLatin1Char(','));
    if (comma >= 0)
        rest = rest.mid(comma + 1).trimmed();  // the weekday says nothing more
    const QStringList parts = rest.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (parts.size() != 5)
        return QDateTime();
    const QString stamp = parts.mid(0, 4).join(QLatin1Char(' '));
    const QLocale c = QLocale::c();
    QDateTime date = c.toDateTime(stamp, QStringLiteral("d MMM yyyy HH:mm:ss"));
    if (!date.isValid())
        date = c.toDateTime(stamp, QStringLiteral("d MMM yyyy HH:mm"));
    if (!date.isValid())
        return QDateTime();
    const QString zone = parts[4].toUpper();
    int offset = 0;
    if (zone == QLatin1String("GMT") || zone == QLatin1String("UTC") || zone == QLatin1String("UT") ||
        zone == QLatin1String("Z")) {
        offset = 0;
    } else if (zone.size() == 5 && (zone[0] == QLatin1Char('+') || zone[0] == QLatin1Char('-'))) {
        bool ok = false;
        const int hhmm = zone.mid(1).toInt(&ok);
        if (!ok)
            return QDateTime();
        offset = (hhmm / 100 * 3600 + hhmm % 100 * 60) * (zone[0] == QLatin1Char('-') ? -1 : 1);
    } else {
        return QDateTime();
    }
    date.setTimeZone(QTimeZone(offset));
    return date.toUTC();
}

QDateTime NRDownloadCache::expiryDate(const QVariantMap &headers, double maxAge) {
    if (maxAge == 0) {
        const QString control = headerValue(headers, QStringLiteral("Cache-Control")).toLower();
        const int at = control.indexOf(QLatin1String("max-age"));
        if (at >= 0) {
            QString rest = control.mid(at + 7).trimmed();
            if (rest.startsWith(QLatin1Char('=')))
                rest = rest.mid(1).trimmed();
            int end = 0;
            while (end < rest.size() && (rest[end].isDigit() || rest[end] == QLatin1Char('.')))
                ++end;
            maxAge = rest.left(end).toDouble();
        }
    }
    if (maxAge == 0) {
        const QString expires = headerValue(headers, QStringLiteral("Expires"));
        return expires.isNull() ? QDateTime() : dateFromRFC1123String(expires);
    }
    return QDateTime::currentDateTimeUtc().addMSecs(static_cast<qint64>(maxAge * 1000));
}

QDateTime NRDownloadCache::expiryDateForRequest(const NRHTTPRequest &request, double maxAge) const {
    return expiryDate(toVariantMap(request.responseHeaders()), maxAge);
}

void NRDownloadCache::storeResponseForRequest(const NRHTTPRequest &request, double maxAge) {
    const RequestFacts facts = factsOf(request);
    const int status = facts.status;
    const int policy = facts.cachePolicy ? facts.cachePolicy : defaultCachePolicy();
    if (facts.failed || facts.headers.isEmpty() || (policy & NRDoNotWriteToCacheCachePolicy))
        return;
    if (status != 200 && status != 301 && status != 302 && status != 303 && status != 307)
        return;
    if (shouldRespectCacheControlHeaders() && !serverAllowsCaching(facts))
        return;
    // A redirect's body is never kept (and a download file is not its
    // reply): its data is empty. An empty body replaces what was stored
    // before, never leaving an older reply's data under the new headers.
    const bool redirect = status != 200;
    const QByteArray body = redirect ? QByteArray() : request.responseData();
    const Access access(*this);
    const QString headersPath = pathToStore(facts, kHeadersExtension);
    const QString dataPath = pathToStore(facts, fileExtensionForURL(facts.url));
    if (headersPath.isNull() || dataPath.isNull())
        return;
    QVariantMap headers;
    for (auto it = facts.headers.cbegin(); it != facts.headers.cend(); ++it) {
        // The data is stored inflated.
        if (facts.compressed && it.key().compare(QLatin1String("Content-Encoding"), Qt::CaseInsensitive) == 0)
            continue;
        headers.insert(it.key(), it.value());
    }
    const QDateTime expires = expiryDate(toVariantMap(facts.headers), maxAge);
    if (expires.isValid())
        headers.insert(kExpiresKey, static_cast<double>(expires.toMSecsSinceEpoch()) / 1000.0);
    headers.insert(kStatusKey, static_cast<qlonglong>(status));
    if (!writePropertyList(headersPath, headers)) {
        VNLog::log(QStringLiteral("NRDownloadCache could not write %1").arg(headersPath));
        return;
    }
    if (!body.isEmpty() || redirect || facts.downloadDestinationPath.isEmpty()) {
        QSaveFile file(dataPath);
        if (!file.open(QIODevice::WriteOnly) || file.write(body) != body.size() || !file.commit())
            VNLog::log(QStringLiteral("NRDownloadCache could not write %1").arg(dataPath));
    } else if (facts.downloadDestinationPath != dataPath) {
        QFile::remove(dataPath);
        if (!QFile::copy(facts.downloadDestinationPath, dataPath))
            VNLog::log(QStringLiteral("NRDownloadCache could not copy to %1").arg(dataPath));
    }
}

void NRDownloadCache::updateExpiryForRequest(const NRHTTPRequest &request, double maxAge) {
    const RequestFacts facts = factsOf(request);
    const QDateTime expires = expiryDate(toVariantMap(facts.headers), maxAge);
    const Access access(*this);
    const QString path = pathToStore(facts, kHeadersExtension);
    if (path.isNull())
        return;
    QVariantMap headers = readPropertyList(path);
    if (headers.isEmpty())
        return;
    if (!expires.isValid())
        return;
    headers.insert(kExpiresKey, static_cast<double>(expires.toMSecsSinceEpoch()) / 1000.0);
    writePropertyList(path, headers);
}

bool NRDownloadCache::isCachedDataCurrentForRequest(const NRHTTPRequest &request) const {
    const RequestFacts facts = factsOf(request);
    const Access access(*this);
    return isCachedDataCurrent(facts);
}

bool NRDownloadCache::isCachedDataCurrent(const RequestFacts &facts) const {
    if (m_storagePath.isEmpty())
        return false;
    const QVariantMap cached = cachedResponseHeadersForURL(facts.url);
    if (cached.isEmpty() || pathToCachedResponseDataForURL(facts.url).isNull())
        return false;
    if (facts.status == 304)
        return true;
    if (facts.complete && !facts.headers.isEmpty()) {
        for (const QString &name : {QStringLiteral("Etag"), QStringLiteral("Last-Modified")}) {
            const QString now = headerValue(facts.headers, name);
            if (now.isNull() || now != headerValue(cached, name))
                return false;
        }
    }
    if (m_shouldRespectCacheControlHeaders) {
        const QVariant expires = cached.value(kExpiresKey);
        if (!expires.isValid())
            return false;
        const double nowSeconds = static_cast<double>(QDateTime::currentMSecsSinceEpoch()) / 1000.0;
        if (expires.toDouble() < nowSeconds)
            return false;
    }
    return true;
}

bool NRDownloadCache::canUseCachedDataForRequest(const NRHTTPRequest &request) const {
    const RequestFacts facts = factsOf(request);
    const Access access(*this);
    const int policy = facts.cachePolicy ? facts.cachePolicy : m_defaultCachePolicy;
    if (policy & NRDoNotReadFromCacheCachePolicy)
        return false;
    if (policy & NRDontLoadCachePolicy)
        return true;
    if (cachedResponseHeadersForURL(facts.url).isEmpty() || pathToCachedResponseDataForURL(facts.url).isNull())
        return false;
    if (policy & NROnlyLoadIfNotCachedCachePolicy)
        return true;
    if (facts.complete && (policy & NRFallbackToCacheIfLoadFailsCachePolicy))
        return true;
    if (!(policy & (NRAskServerIfModifiedWhenStaleCachePolicy | NRAskServerIfModifiedCachePolicy)))
        return false;
    if ((policy & NRAskServerIfModifiedCachePolicy) && !(policy & NRAskServerIfModifiedWhenStaleCachePolicy) &&
        facts.headers.isEmpty())
        return false;
    return isCachedDataCurrent(facts);
}

void NRDownloadCache::removeCachedDataForURL(const QUrl &url) {
    const Access access(*this);
    for (const QString &path : {pathToCachedResponseHeadersForURL(url), pathToCachedResponseDataForURL(url)})
        if (!path.isNull())
            QFile::remove(path);
}

void NRDownloadCache::removeCachedDataForRequest(const NRHTTPRequest &request) {
    removeCachedDataForURL(request.url());
}

VNErrorPtr NRDownloadCache::clearCachedResponsesForStoragePolicy(int storagePolicy) {
    const Access access(*this);
    const QString folder = storeFolder(storagePolicy);
    if (folder.isNull() || !QFileInfo(folder).isDir())
        return nullptr;
    QDir dir(folder);
    if (!dir.isReadable())
        return cacheError(QStringLiteral("FailedToTraverseCacheDirectory"),
                          QStringLiteral("Listing cache directory failed at path '%1'").arg(folder));
    for (const QFileInfo &item : dir.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)) {
        const bool removed = item.isDir() && !item.isSymLink() ? QDir(item.filePath()).removeRecursively()
                                                               : QFile::remove(item.filePath());
        if (!removed)
            return cacheError(QStringLiteral("FailedToRemoveCacheFile"),
                              QStringLiteral("Failed to remove cached data at path '%1'").arg(folder));
    }
    return nullptr;
}
