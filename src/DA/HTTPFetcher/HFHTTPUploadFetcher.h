#pragma once

#include "DA/HTTPFetcher/HFHTTPFetcher.h"

#include <QFile>
#include <optional>

class HFHTTPFetcherService;

// Sends large media with the resumable upload protocol: an initial request
// with the metadata announces the media's length and type and gets the
// upload address ("Location"); the media then go there in PUT requests of
// at most one chunk each ("Content-Range"), each answered 308 with the
// "Range" the server holds (and maybe a new address) until the last one
// gets the final response, which is the data of the whole fetch. Uploads
// can be paused, resumed, and restarted from a known address. Chunk
// requests carry no authorization; media in a named file are streamed from
// it, media in memory are sent one chunk copy at a time.
class HFHTTPUploadFetcher : public HFHTTPFetcher, public HFHTTPFetcherDelegate {
public:
    using LocationChangeBlock = std::function<void(const QUrl &location)>;
    // A remainder this small past a chunk goes with that chunk.
    static constexpr quint64 minimumTailLength = 2500;
    // The offset that asks the server how much it holds.
    static constexpr quint64 statusQueryOffset = ~quint64(0);

    static std::shared_ptr<HFHTTPUploadFetcher> uploadFetcherWithRequest(const HFURLRequest &request, const QByteArray &uploadData,
                                                                         const QString &uploadMIMEType, quint64 chunkSize,
                                                                         const std::shared_ptr<HFHTTPFetcherService> &service);
    static std::shared_ptr<HFHTTPUploadFetcher> uploadFetcherWithRequest(const HFURLRequest &request,
                                                                         std::shared_ptr<QFile> uploadFileHandle,
                                                                         const QString &uploadMIMEType, quint64 chunkSize,
                                                                         const std::shared_ptr<HFHTTPFetcherService> &service);
    static std::shared_ptr<HFHTTPUploadFetcher> uploadFetcherWithLocation(const QUrl &location,
                                                                          std::shared_ptr<QFile> uploadFileHandle,
                                                                          const QString &uploadMIMEType, quint64 chunkSize,
                                                                          const std::shared_ptr<HFHTTPFetcherService> &service);
    static std::shared_ptr<HFHTTPUploadFetcher> uploadFetcherWithRequest(const HFURLRequest &request,
                                                                         const std::shared_ptr<HFHTTPFetcherService> &service);
    explicit HFHTTPUploadFetcher(const HFURLRequest &request = {});

    bool beginFetchWithDelegate(std::shared_ptr<HFHTTPFetcherDelegate> delegate,
                                HFFinishedSelector finishedSelector = &HFHTTPFetcherDelegate::fetcherFinished) override;
    bool beginFetchWithCompletionHandler(CompletionBlock handler) override;
    void pauseFetching();
    void resumeFetching();
    bool isPaused() const;
    void stopFetching() override;

    void uploadNextChunkWithOffset(quint64 offset);
    void uploadNextChunkWithOffset(quint64 offset, const QVariantMap &fetcherProperties);
    quint64 fullUploadLength();
    // Where to go on after a 308's "Range: bytes=0-E": E + 1, at most the
    // media's length; 0 when the header is missing or malformed.
    static quint64 offsetAfterRange(const QString &range, quint64 length);
    // Null when the media cannot be read.
    QByteArray uploadSubdataWithOffset(quint64 offset, quint64 length);

    QUrl locationURL() const;
    void setLocationURL(const QUrl &url);
    LocationChangeBlock locationChangeBlock() const;
    void setLocationChangeBlock(LocationChangeBlock block);
    QByteArray uploadData() const;
    std::shared_ptr<QFile> uploadFileHandle() const;
    QString uploadMIMEType() const;
    quint64 chunkSize() const;
    void setChunkSize(quint64 size);
    quint64 currentOffset() const;
    void setCurrentOffset(quint64 offset);
    std::shared_ptr<HFHTTPFetcher> chunkFetcher() const;
    // The chunk fetcher while one exists, else this fetcher.
    std::shared_ptr<HFHTTPFetcher> activeFetcher();

    int statusCode() const override;
    QMap<QString, QString> responseHeaders() const override;
    HFSentDataSelector sentDataSelector() const override;
    void setSentDataSelector(HFSentDataSelector selector) override;

    // The initial request's events.
    void connectionDidSendBodyData(HFURLConnection *connection, qint64 bytesWritten, qint64 totalBytesWritten,
                                   qint64 totalBytesExpectedToWrite) override;
    void connectionDidFinishLoading(HFURLConnection *connection) override;
    void connectionDidFail(HFURLConnection *connection, const VNErrorPtr &error) override;

    // The chunk fetchers' callbacks (this fetcher is their delegate).
    void fetcherFinished(HFHTTPFetcher *chunkFetcher, const QByteArray &data, const VNErrorPtr &error) override;
    bool fetcherWillRetry(HFHTTPFetcher *chunkFetcher, bool suggestedWillRetry, const VNErrorPtr &error) override;
    void fetcherSentData(HFHTTPFetcher *fetcher, qint64 bytesSent, qint64 totalBytesSent, qint64 totalBytesExpected) override;

protected:
    bool shouldReleaseCallbacksUponCompletion() const override { return false; }

private:
    void setUp(const QUrl &location, const QByteArray &data, std::shared_ptr<QFile> file, const QString &mimeType,
               quint64 chunkSize);
    void handleResumeIncompleteStatusForChunkFetcher(HFHTTPFetcher *chunkFetcher);
    void invokeFinalCallbacksWithData(const QByteArray &data, const VNErrorPtr &error, bool shouldInvalidateLocation);
    void destroyChunkFetcher();
    void reportProgressManually();
    static bool isAllowedLocation(const QUrl &url);

    QUrl m_locationURL;
    LocationChangeBlock m_locationChangeBlock;
    QByteArray m_uploadData;
    std::shared_ptr<QFile> m_uploadFileHandle;
    qint64 m_uploadFileHandleLength = -1;
    QString m_uploadMIMEType;
    quint64 m_chunkSize = 0;
    quint64 m_currentOffset = 0;
    int m_statusCode = -1;
    std::optional<QMap<QString, QString>> m_responseHeaders;
    std::shared_ptr<HFHTTPFetcher> m_chunkFetcher;
    HFFinishedSelector m_delegateFinishedSel = nullptr;
    HFSentDataSelector m_delegateSentDataSel = nullptr;
    bool m_needsManualProgress = false;
    quint64 m_initialBodyLength = 0;
    quint64 m_initialBodySent = 0;
    bool m_isRestartedUpload = false;
    bool m_isPaused = false;
    bool m_hasEnded = false;
    int m_fullRangeAnswers = 0;  // 308s claiming the whole media, in a row
    int m_stalledAnswers = 0;    // 308s that did not move the offset on, in a row
};
