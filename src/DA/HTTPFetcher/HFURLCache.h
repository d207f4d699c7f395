#pragma once

#include "DA/HTTPFetcher/HFURLResponse.h"

#include <QByteArray>
#include <QDateTime>
#include <QMap>
#include <QUrl>
#include <memory>
#include <mutex>

// One remembered response (and, when bodies are cached, its body), with the
// time it was last used and the time its ETag was last handed out.
class HFCachedURLResponse {
public:
    HFCachedURLResponse(HFURLResponsePtr response, QByteArray data);

    HFURLResponsePtr response() const { return m_response; }
    QByteArray data() const { return m_data; }
    QDateTime useDate() const { return m_useDate; }
    void setUseDate(const QDateTime &date) { m_useDate = date; }
    QDateTime reservationDate() const { return m_reservationDate; }
    void setReservationDate(const QDateTime &date) { m_reservationDate = date; }
    bool compareUseDate(const HFCachedURLResponse &other) const { return m_useDate < other.m_useDate; }
    QString description() const;

private:
    HFURLResponsePtr m_response;
    QByteArray m_data;
    QDateTime m_useDate;
    QDateTime m_reservationDate;
};

using HFCachedURLResponsePtr = std::shared_ptr<HFCachedURLResponse>;

// Responses by request URL within a byte budget for their bodies; the least
// recently used entries go first, except those whose ETag went out on a
// request less than the reservation interval ago.
class HFURLCache {
public:
    static constexpr quint64 defaultMemoryCapacity = 15 * 1024 * 1024;

    explicit HFURLCache(quint64 memoryCapacity = defaultMemoryCapacity);

    void storeCachedResponse(const HFCachedURLResponsePtr &response, const QUrl &requestURL);
    HFCachedURLResponsePtr cachedResponseForRequest(const QUrl &requestURL);
    void removeCachedResponseForRequest(const QUrl &requestURL);
    void removeAllCachedResponses();
    quint64 memoryCapacity() const;
    void setMemoryCapacity(quint64 bytes);
    void setReservationInterval(double seconds);
    QMap<QUrl, HFCachedURLResponsePtr> responses() const;
    quint64 totalDataSize() const;
    QString description() const;

private:
    void pruneCacheResponses();

    mutable std::recursive_mutex m_mutex;
    QMap<QUrl, HFCachedURLResponsePtr> m_responses;
    quint64 m_memoryCapacity;
    quint64 m_totalDataSize = 0;
    double m_reservationInterval = 60.0;
};
