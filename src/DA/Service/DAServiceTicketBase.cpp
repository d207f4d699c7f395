#include "DA/Service/DAServiceTicketBase.h"

#include "DA/HTTPFetcher/HFHTTPUploadFetcher.h"
#include "DA/Service/DAServiceBase.h"

DAServiceTicketBase::DAServiceTicketBase(const std::shared_ptr<DAServiceBase> &service) : m_service(service) {
    if (!service)
        return;
    m_userData = service->serviceUserData();
    m_properties = service->serviceProperties();
    m_surrogates = service->serviceSurrogates();
    m_isRetryEnabled = service->isServiceRetryEnabled();
    m_retryHandler = service->serviceRetryHandler();
    m_maxRetryInterval = service->serviceMaxRetryInterval();
    m_shouldFollowNextLinks = service->serviceShouldFollowNextLinks();
    m_shouldFeedsIgnoreUnknowns = service->shouldServiceFeedsIgnoreUnknowns();
    m_uploadProgress = service->serviceUploadProgressHandler();
    m_authorizer = service->authorizer();
}

namespace {

const QString ticketProperty = QStringLiteral("_ticket");

}  // namespace

DAServiceTicketPtr DATicket(const std::shared_ptr<HFHTTPFetcher> &fetcher) {
    return fetcher ? fetcher->property(ticketProperty).value<std::weak_ptr<DAServiceTicketBase>>().lock() : nullptr;
}

void DASetTicket(const std::shared_ptr<HFHTTPFetcher> &fetcher, const DAServiceTicketPtr &ticket) {
    fetcher->setProperty(ticketProperty, QVariant::fromValue(std::weak_ptr<DAServiceTicketBase>(ticket)));
}

QString DAServiceTicketBase::description() const {
    return QStringLiteral("DAServiceTicketBase %1: {service:%2 currentFetcher:%3 userData:%4}")
        .arg(quintptr(this), 0, 16)
        .arg(m_service ? m_service->description() : QStringLiteral("(null)"),
             m_currentFetcher ? m_currentFetcher->description() : QStringLiteral("(null)"),
             m_userData.isValid() ? m_userData.toString() : QStringLiteral("(null)"));
}

void DAServiceTicketBase::cancelTicket() {
    m_isCancelled = true;
    if (m_parseCancelled)
        m_parseCancelled->store(true);
    m_parseCancelled.reset();
    if (m_objectFetcher)
        m_objectFetcher->stopFetching();
    m_objectFetcher.reset();
    m_currentFetcher.reset();
    m_userData.clear();
    m_properties.clear();
    m_uploadProgress = nullptr;
    m_service.reset();
}

void DAServiceTicketBase::pauseUpload() {
    if (auto upload = std::dynamic_pointer_cast<HFHTTPUploadFetcher>(m_objectFetcher))
        upload->pauseFetching();
}

void DAServiceTicketBase::resumeUpload() {
    if (auto upload = std::dynamic_pointer_cast<HFHTTPUploadFetcher>(m_objectFetcher))
        upload->resumeFetching();
}

bool DAServiceTicketBase::isUploadPaused() const {
    auto upload = std::dynamic_pointer_cast<HFHTTPUploadFetcher>(m_objectFetcher);
    return upload && upload->isPaused();
}

int DAServiceTicketBase::statusCode() const { return m_objectFetcher ? m_objectFetcher->statusCode() : 0; }

void DAServiceTicketBase::accumulateFeed(const DAFeedBasePtr &feed) {
    if (!m_accumulatedFeed) {
        m_accumulatedFeed = feed;
        return;
    }
    for (const DAEntryBasePtr &entry : feed->entries()) {
        entry->setParent({});
        m_accumulatedFeed->addEntry(entry);
    }
}

void DAServiceTicketBase::setProperty(const QString &key, const QVariant &value) {
    if (value.isValid())
        m_properties.insert(key, value);
    else
        m_properties.remove(key);
}

void DAServiceTicketBase::setUploadProgressHandler(UploadProgress handler) {
    m_uploadProgress = std::move(handler);
    if (m_uploadProgress && m_objectFetcher)
        reportUploadProgressOf(m_objectFetcher);
}

void DAServiceTicketBase::reportUploadProgressOf(const std::shared_ptr<HFHTTPFetcher> &fetcher) {
    std::weak_ptr<DAServiceTicketBase> weakTicket = weak_from_this();
    fetcher->setSentDataBlock([weakTicket](qint64, qint64 total, qint64 expected) {
        if (auto t = weakTicket.lock())
            DAServiceBase::invokeProgressCallbackForTicket(t, quint64(total), quint64(expected));
    });
}
