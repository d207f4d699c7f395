#include "DA/HTTPFetcher/HFHTTPUploadFetcher.h"

#include "DA/HTTPFetcher/HFErrors.h"
#include "DA/HTTPFetcher/HFFileRangeInputStream.h"
#include "DA/HTTPFetcher/HFHTTPFetcherService.h"
#include "Platform/VNLog.h"

#include <QFileInfo>

#define LOCKED std::lock_guard<std::recursive_mutex> lock_(m_mutex)

namespace {
// Our code for media that could not be read (a failing disk, a file cut
// short while it uploads): the upload ends, the address is kept.
constexpr qint64 kUploadReadError = -5;
constexpr int kMaximumAnswersWithoutProgress = 3;
}  // namespace

// ---------------------------------------------------------------------------
// Makers

std::shared_ptr<HFHTTPUploadFetcher> HFHTTPUploadFetcher::uploadFetcherWithRequest(
    const HFURLRequest &request, const std::shared_ptr<HFHTTPFetcherService> &service) {
    if (service) {
        auto fetcher = service->fetcherWithRequest(
            request, [](const HFURLRequest &r) -> std::shared_ptr<HFHTTPFetcher> { return std::make_shared<HFHTTPUploadFetcher>(r); });
        return std::static_pointer_cast<HFHTTPUploadFetcher>(fetcher);
    }
    return std::make_shared<HFHTTPUploadFetcher>(request);
}

std::shared_ptr<HFHTTPUploadFetcher> HFHTTPUploadFetcher::uploadFetcherWithRequest(
    const HFURLRequest &request, const QByteArray &uploadData, const QString &uploadMIMEType, quint64 chunkSize,
    const std::shared_ptr<HFHTTPFetcherService> &service) {
    auto fetcher = uploadFetcherWithRequest(request, service);
    fetcher->setUp({}, uploadData, nullptr, uploadMIMEType, chunkSize);
    return fetcher;
}

std::shared_ptr<HFHTTPUploadFetcher> HFHTTPUploadFetcher::uploadFetcherWithRequest(
    const HFURLRequest &request, std::shared_ptr<QFile> uploadFileHandle, const QString &uploadMIMEType, quint64 chunkSize,
    const std::shared_ptr<HFHTTPFetcherService> &service) {
    auto fetcher = uploadFetcherWithRequest(request, service);
    fetcher->setUp({}, {}, std::move(uploadFileHandle), uploadMIMEType, chunkSize);
    return fetcher;
}

std::shared_ptr<HFHTTPUploadFetcher> HFHTTPUploadFetcher::uploadFetcherWithLocation(
    const QUrl &location, std::shared_ptr<QFile> uploadFileHandle, const QString &uploadMIMEType, quint64 chunkSize,
    const std::shared_ptr<HFHTTPFetcherService> &service) {
    auto fetcher = uploadFetcherWithRequest(HFURLRequest(), service);
    fetcher->setUp(location, {}, std::move(uploadFileHandle), uploadMIMEType, chunkSize);
    return fetcher;
}

HFHTTPUploadFetcher::HFHTTPUploadFetcher(const HFURLRequest &request) : HFHTTPFetcher(request) {}

void HFHTTPUploadFetcher::setUp(const QUrl &location, const QByteArray &data, std::shared_ptr<QFile> file,
                                const QString &mimeType, quint64 chunkSize) {
    LOCKED;
    m_locationURL = location;
    m_uploadData = data;
    m_uploadFileHandle = std::move(file);
    m_uploadMIMEType = mimeType;
    m_chunkSize = chunkSize;
    m_uploadFileHandleLength = -1;
    m_statusCode = -1;
    m_isRestartedUpload = !location.isEmpty();
    if (!m_isRestartedUpload) {
        const QString length = QString::number(fullUploadLength());
        updateRequest([&](HFURLRequest &r) {
            r.setValue(length, QStringLiteral("X-Upload-Content-Length"));
            r.setValue(mimeType, QStringLiteral("X-Upload-Content-Type"));
        });
    }
}

// ---------------------------------------------------------------------------
// Media

quint64 HFHTTPUploadFetcher::fullUploadLength() {
    LOCKED;
    if (!m_uploadFileHandle)
        return quint64(m_uploadData.size());
    if (m_uploadFileHandleLength < 0)
        m_uploadFileHandleLength = m_uploadFileHandle->size();
    return quint64(std::max<qint64>(0, m_uploadFileHandleLength));
}

QByteArray HFHTTPUploadFetcher::uploadSubdataWithOffset(quint64 offset, quint64 length) {
    LOCKED;
    if (!m_uploadFileHandle)
        return m_uploadData.mid(qsizetype(offset), qsizetype(length));
    QByteArray out;
    if (!m_uploadFileHandle->seek(qint64(offset)) || (out = m_uploadFileHandle->read(qint64(length))).size() != qint64(length)) {
        // A short read would send a cut file as if whole: it is an error.
        VNLog::log(QStringLiteral("uploadFileHandle exception: %1").arg(m_uploadFileHandle->errorString()));
        return QByteArray();
    }
    if (out.isNull())
        out = QByteArray("");  // an empty chunk is not a failure
    return out;
}

// ---------------------------------------------------------------------------
// Beginning

bool HFHTTPUploadFetcher::beginFetchWithDelegate(std::shared_ptr<HFHTTPFetcherDelegate> delegate, HFFinishedSelector finishedSelector) {
    bool restarted, paused;
    {
        LOCKED;
        m_delegateFinishedSel = finishedSelector;
        m_needsManualProgress = !doesSupportSentDataCallback();
        m_initialBodyLength = quint64(postData().size());
        m_hasEnded = false;
        restarted = m_isRestartedUpload;
        paused = m_isPaused;
        if (restarted && !paused && delegate) {
            setDelegate(delegate);
            setFinishedSelector(finishedSelector);
        }
    }
    if (!restarted)
        return HFHTTPFetcher::beginFetchWithDelegate(std::move(delegate), nullptr);
    // A restart asks the server where it stands (once resumed, if paused).
    if (!paused)
        uploadNextChunkWithOffset(statusQueryOffset);
    return true;
}

bool HFHTTPUploadFetcher::beginFetchWithCompletionHandler(CompletionBlock handler) {
    std::weak_ptr<HFHTTPUploadFetcher> weak = std::static_pointer_cast<HFHTTPUploadFetcher>(shared_from_this());
    auto wrapper = [weak, handler](const QByteArray &data, const VNErrorPtr &error) {
        auto self = weak.lock();
        if (!self)
            return;
        if (self->m_isRestartedUpload) {
            handler(data, error);
        } else if (!error) {
            // The initial request is done: the final callbacks go to the caller.
            self->setCompletionBlock(handler);
        } else {
            handler({}, error);
            self->setCompletionBlock(nullptr);  // the failure is told once
        }
    };
    return HFHTTPFetcher::beginFetchWithCompletionHandler(wrapper);
}

bool HFHTTPUploadFetcher::isAllowedLocation(const QUrl &url) {
    const QString scheme = url.scheme().toLower();
    return url.isValid() && !url.host().isEmpty() && (scheme == QLatin1String("http") || scheme == QLatin1String("https"));
}

// Lock rule: this fetcher's lock is never held while a chunk fetcher is
// called (chunk fetchers call back into us holding theirs).
void HFHTTPUploadFetcher::connectionDidFinishLoading(HFURLConnection *connection) {
    auto self = shared_from_this();
    {
        LOCKED;
        if (!isOwnConnection(connection))
            return;
    }
    HFHTTPFetcher::connectionDidFinishLoading(connection);
    if (isWaitingForRetry())
        return;  // the retried initial request ends the upload, or goes on
    m_statusCode = HFHTTPFetcher::statusCode();
    VNErrorPtr error;
    if (m_statusCode < 300) {
        const QString location = HFHTTPFetcher::responseHeaders().value(QStringLiteral("Location"));
        const QUrl url = mutableRequest().url().resolved(QUrl(location));
        if (location.isEmpty() || !isAllowedLocation(url)) {
            error = HFErrors::statusError(501);
        } else {
            setLocationURL(url);
            m_initialBodySent = m_initialBodyLength;
            if (m_needsManualProgress)
                reportProgressManually();
            if (!m_isPaused)
                uploadNextChunkWithOffset(0);
        }
    } else {
        error = HFErrors::statusError(m_statusCode);
    }
    if (error)
        invokeFinalCallbacksWithData(downloadedData(), error, true);
}

void HFHTTPUploadFetcher::connectionDidFail(HFURLConnection *connection, const VNErrorPtr &error) {
    auto self = shared_from_this();
    LOCKED;
    const HFFinishedSelector saved = finishedSelector();
    setFinishedSelector(m_delegateFinishedSel);
    HFHTTPFetcher::connectionDidFail(connection, error);
    setFinishedSelector(saved);
}

void HFHTTPUploadFetcher::connectionDidSendBodyData(HFURLConnection *connection, qint64 bytesWritten, qint64 totalBytesWritten,
                                                    qint64 totalBytesExpectedToWrite) {
    LOCKED;
    if (!isOwnConnection(connection) || m_needsManualProgress)
        return;
    fetcherSentData(this, bytesWritten, totalBytesWritten, totalBytesExpectedToWrite);
}

// ---------------------------------------------------------------------------
// Chunks

void HFHTTPUploadFetcher::uploadNextChunkWithOffset(quint64 offset) { uploadNextChunkWithOffset(offset, properties()); }

void HFHTTPUploadFetcher::uploadNextChunkWithOffset(quint64 offset, const QVariantMap &fetcherProperties) {
    auto self = std::static_pointer_cast<HFHTTPUploadFetcher>(shared_from_this());
    const quint64 length = fullUploadLength();
    const quint64 chunk = chunkSize();
    QByteArray body;
    std::shared_ptr<HFInputStream> stream;
    qint64 bodyLength = 0;
    QString range;
    if (offset != statusQueryOffset && offset >= length && length > 0)
        offset = statusQueryOffset;  // nothing left to send: ask where the server stands
    if (offset == statusQueryOffset) {
        range = QStringLiteral("bytes */%1").arg(length);
        setCurrentOffset(0);
    } else {
        const quint64 rest = length - offset;
        const quint64 size = (chunk >= rest || rest - chunk < minimumTailLength) ? rest : chunk;
        const auto file = uploadFileHandle();
        const QString path = file ? file->fileName() : QString();
        bool readable;
        if (!path.isEmpty()) {
            // Streamed from the file on the network thread: no chunk in memory.
            readable = QFileInfo(path).size() >= qint64(offset + size);
            if (readable && size > 0)
                stream = std::make_shared<HFFileRangeInputStream>(path, qint64(offset), qint64(size));
        } else {
            body = uploadSubdataWithOffset(offset, size);
            readable = !body.isNull() || size == 0;
        }
        if (!readable) {
            VNLog::log(QStringLiteral("uploadFileHandle exception: the media ended before %1 bytes").arg(offset + size));
            invokeFinalCallbacksWithData({}, HFErrors::fetcherError(kUploadReadError, QStringLiteral("the upload media could not be read")),
                                         false);
            return;
        }
        bodyLength = qint64(size);
        range = size ? QStringLiteral("bytes %1-%2/%3").arg(offset).arg(offset + size - 1).arg(length)
                     : QStringLiteral("bytes */%1").arg(length);
        setCurrentOffset(offset);
    }

    HFURLRequest request(locationURL(), mutableRequest().timeoutInterval());
    request.setHTTPMethod(QStringLiteral("PUT"));
    const QString agent = mutableRequest().valueForHTTPHeaderField(QStringLiteral("User-Agent"));
    if (!agent.isEmpty())
        request.setValue(agent, QStringLiteral("User-Agent"));
    request.setValue(range, QStringLiteral("Content-Range"));
    request.setValue(QString::number(bodyLength), QStringLiteral("Content-Length"));
    request.setValue(uploadMIMEType(), QStringLiteral("Content-Type"));

    auto fetcher = HFHTTPFetcher::fetcherWithRequest(request);
    fetcher->setDelegateQueue(delegateQueue());
    if (!comment().isEmpty())
        fetcher->setComment(QStringLiteral("%1 (%2)").arg(comment(), range));
    fetcher->setProperties(fetcherProperties);
    fetcher->setPostData(body);
    fetcher->setPostStream(stream);
    fetcher->setRetryEnabled(isRetryEnabled());
    fetcher->setMaxRetryInterval(maxRetryInterval());
    // Always routed through us: a listener may come while the chunk is sent
    // (a ticket's progress handler set late), and finds none otherwise.
    if (!m_needsManualProgress)
        fetcher->setSentDataSelector(&HFHTTPFetcherDelegate::fetcherSentData);
    fetcher->setCookieStorageMethod(cookieStorageMethod());
    if (isRetryEnabled())
        fetcher->setRetrySelector(&HFHTTPFetcherDelegate::fetcherWillRetry);
    setMutableRequest(request);

    {
        LOCKED;
        m_chunkFetcher = fetcher;
    }
    std::shared_ptr<HFHTTPFetcherDelegate> asDelegate = self;
    if (!fetcher->beginFetchWithDelegate(asDelegate, &HFHTTPFetcherDelegate::fetcherFinished)) {
        invokeFinalCallbacksWithData({}, HFErrors::fetcherError(-3), true);
        destroyChunkFetcher();
    }
}

void HFHTTPUploadFetcher::fetcherFinished(HFHTTPFetcher *chunkFetcher, const QByteArray &data, const VNErrorPtr &error) {
    auto self = shared_from_this();
    if (chunkFetcher != this->chunkFetcher().get() || !chunkFetcher)
        return;
    m_statusCode = chunkFetcher->statusCode();
    m_responseHeaders = chunkFetcher->responseHeaders();
    if (error && error->code() == 308) {
        handleResumeIncompleteStatusForChunkFetcher(chunkFetcher);
        return;
    }
    if (error && error->domain() == HFErrors::urlDomain() && error->code() == HFErrors::URLCannotReadBody) {
        invokeFinalCallbacksWithData({}, HFErrors::fetcherError(kUploadReadError, QStringLiteral("the upload media could not be read")), false);
    } else if (error) {
        invokeFinalCallbacksWithData(data, std::make_shared<VNError>(HFErrors::statusDomain(), error->code(), error->userInfo()), false);
    } else {
        setDownloadedData(data);
        if (m_needsManualProgress) {
            const qint64 total = qint64(fullUploadLength() + m_initialBodyLength);
            fetcherSentData(this, 0, total - qint64(m_currentOffset + m_initialBodySent), total);
        }
        invokeFinalCallbacksWithData(data, nullptr, true);
    }
    destroyChunkFetcher();
}

void HFHTTPUploadFetcher::handleResumeIncompleteStatusForChunkFetcher(HFHTTPFetcher *chunkFetcher) {
    const QMap<QString, QString> headers = chunkFetcher->responseHeaders();
    const quint64 length = fullUploadLength();
    const quint64 newOffset = offsetAfterRange(headers.value(QStringLiteral("Range")), length);
    // A server that claims all the media yet never ends the upload would
    // keep us asking for ever.
    m_fullRangeAnswers = newOffset >= length && length > 0 ? m_fullRangeAnswers + 1 : 0;
    // Nor may one that keeps taking no byte of what was sent: the same chunk
    // goes out a few times, then the upload fails.
    m_stalledAnswers = newOffset <= currentOffset() ? m_stalledAnswers + 1 : 0;
    if (m_fullRangeAnswers > 1 || m_stalledAnswers > kMaximumAnswersWithoutProgress) {
        invokeFinalCallbacksWithData({}, HFErrors::statusError(308), false);
        destroyChunkFetcher();
        return;
    }
    setCurrentOffset(newOffset);
    if (m_needsManualProgress)
        reportProgressManually();
    const QString location = headers.value(QStringLiteral("Location"));
    if (!location.isEmpty()) {
        const QUrl url = m_locationURL.resolved(QUrl(location));
        if (!isAllowedLocation(url)) {
            invokeFinalCallbacksWithData({}, HFErrors::statusError(501), false);
            destroyChunkFetcher();
            return;
        }
        setLocationURL(url);
    }
    const QVariantMap props = chunkFetcher->properties();
    destroyChunkFetcher();
    if (!m_isPaused)  // paused meanwhile (from the location block): resume asks afresh
        uploadNextChunkWithOffset(newOffset, props);
}

quint64 HFHTTPUploadFetcher::offsetAfterRange(const QString &range, quint64 length) {
    if (!range.startsWith(QLatin1String("bytes=")))
        return 0;
    const QString span = range.mid(6);
    const qsizetype dash = span.indexOf(QLatin1Char('-'));
    if (dash <= 0)
        return 0;
    bool okStart = false, okEnd = false;
    span.left(dash).toULongLong(&okStart);
    const quint64 end = span.mid(dash + 1).toULongLong(&okEnd);
    if (!okStart || !okEnd)
        return 0;
    return end >= length ? length : end + 1;  // never past the media
}

bool HFHTTPUploadFetcher::fetcherWillRetry(HFHTTPFetcher *chunkFetcher, bool suggestedWillRetry, const VNErrorPtr &error) {
    if (error && error->domain() == HFErrors::statusDomain() && error->code() == 308)
        return false;
    const bool decision = invokeRetryCallback(retrySelector(), delegate().get(), suggestedWillRetry, error);
    if (decision) {
        const quint64 length = fullUploadLength();
        chunkFetcher->setPostData({});
        chunkFetcher->setPostStream(nullptr);
        chunkFetcher->updateRequest([&](HFURLRequest &r) {
            r.setValue(QStringLiteral("bytes */%1").arg(length), QStringLiteral("Content-Range"));
            r.setValue(QStringLiteral("0"), QStringLiteral("Content-Length"));
            r.setHTTPBody({});
            r.setHTTPBodyStream(nullptr);
        });
        setCurrentOffset(0);
    }
    return decision;
}

// ---------------------------------------------------------------------------
// Progress

HFSentDataSelector HFHTTPUploadFetcher::sentDataSelector() const {
    LOCKED;
    if ((m_delegateSentDataSel || sentDataBlock()) && !m_needsManualProgress)
        return &HFHTTPFetcherDelegate::fetcherSentData;
    return nullptr;
}

void HFHTTPUploadFetcher::setSentDataSelector(HFSentDataSelector selector) {
    LOCKED;
    m_delegateSentDataSel = selector;
}

void HFHTTPUploadFetcher::fetcherSentData(HFHTTPFetcher *, qint64 bytesSent, qint64 totalBytesSent, qint64) {
    LOCKED;
    const qint64 total = qint64(m_currentOffset + m_initialBodySent) + totalBytesSent;
    const qint64 expected = qint64(fullUploadLength() + m_initialBodyLength);
    invokeSentDataCallback(m_delegateSentDataSel, delegate().get(), bytesSent, total, expected);
}

void HFHTTPUploadFetcher::reportProgressManually() { fetcherSentData(this, 0, 0, 0); }

// ---------------------------------------------------------------------------
// The end, pause, resume and stop

void HFHTTPUploadFetcher::invokeFinalCallbacksWithData(const QByteArray &data, const VNErrorPtr &error, bool shouldInvalidateLocation) {
    auto self = shared_from_this();
    LOCKED;
    if (m_hasEnded)
        return;
    m_hasEnded = true;
    if (shouldInvalidateLocation)
        setLocationURL({});
    auto caller = delegate();
    if (caller && m_delegateFinishedSel)
        (caller.get()->*m_delegateFinishedSel)(this, data, error);
    if (auto block = completionBlock())
        block(data, error);
    m_locationChangeBlock = nullptr;
    releaseCallbacks();
}

void HFHTTPUploadFetcher::destroyChunkFetcher() {
    std::shared_ptr<HFHTTPFetcher> chunk;
    {
        LOCKED;
        chunk = std::move(m_chunkFetcher);
        m_chunkFetcher.reset();
    }
    if (chunk) {
        chunk->stopFetching();
        chunk->setProperties({});
    }
}

void HFHTTPUploadFetcher::pauseFetching() {
    {
        LOCKED;
        m_isPaused = true;
    }
    destroyChunkFetcher();
}

void HFHTTPUploadFetcher::resumeFetching() {
    {
        LOCKED;
        if (!m_isPaused)
            return;
        m_isPaused = false;
    }
    uploadNextChunkWithOffset(statusQueryOffset);
}

bool HFHTTPUploadFetcher::isPaused() const { LOCKED; return m_isPaused; }

void HFHTTPUploadFetcher::stopFetching() {
    destroyChunkFetcher();
    HFHTTPFetcher::stopFetching();
}

// ---------------------------------------------------------------------------
// Properties

QUrl HFHTTPUploadFetcher::locationURL() const { LOCKED; return m_locationURL; }

void HFHTTPUploadFetcher::setLocationURL(const QUrl &url) {
    LOCKED;
    if (url == m_locationURL)
        return;
    m_locationURL = url;
    if (const auto block = m_locationChangeBlock)  // a copy: the block may stop the fetch
        block(url);
}

HFHTTPUploadFetcher::LocationChangeBlock HFHTTPUploadFetcher::locationChangeBlock() const { LOCKED; return m_locationChangeBlock; }
void HFHTTPUploadFetcher::setLocationChangeBlock(LocationChangeBlock block) { LOCKED; m_locationChangeBlock = std::move(block); }
QByteArray HFHTTPUploadFetcher::uploadData() const { LOCKED; return m_uploadData; }
std::shared_ptr<QFile> HFHTTPUploadFetcher::uploadFileHandle() const { LOCKED; return m_uploadFileHandle; }
QString HFHTTPUploadFetcher::uploadMIMEType() const { LOCKED; return m_uploadMIMEType; }
quint64 HFHTTPUploadFetcher::chunkSize() const { LOCKED; return m_chunkSize; }
void HFHTTPUploadFetcher::setChunkSize(quint64 size) { LOCKED; m_chunkSize = size; }
quint64 HFHTTPUploadFetcher::currentOffset() const { LOCKED; return m_currentOffset; }
void HFHTTPUploadFetcher::setCurrentOffset(quint64 offset) { LOCKED; m_currentOffset = offset; }
std::shared_ptr<HFHTTPFetcher> HFHTTPUploadFetcher::chunkFetcher() const { LOCKED; return m_chunkFetcher; }

std::shared_ptr<HFHTTPFetcher> HFHTTPUploadFetcher::activeFetcher() {
    LOCKED;
    return m_chunkFetcher ? m_chunkFetcher : shared_from_this();
}

int HFHTTPUploadFetcher::statusCode() const {
    LOCKED;
    return m_statusCode != -1 ? m_statusCode : HFHTTPFetcher::statusCode();
}

QMap<QString, QString> HFHTTPUploadFetcher::responseHeaders() const {
    LOCKED;
    return m_responseHeaders ? *m_responseHeaders : HFHTTPFetcher::responseHeaders();
}
