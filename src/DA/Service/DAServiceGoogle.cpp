#include "DA/Service/DAServiceGoogle.h"

HFURLRequest DAServiceGoogle::requestForURL(const QUrl &url, const QString &etag, const QString &httpMethod,
                                            const DAServiceTicketPtr &ticket) {
    HFURLRequest request = DAServiceBase::requestForURL(url, etag, httpMethod, ticket);
    if (m_methodOverride && !httpMethod.isEmpty() && httpMethod != QLatin1String("POST")) {
        request.setValue(httpMethod, QStringLiteral("X-HTTP-Method-Override"));
        request.setHTTPMethod(QStringLiteral("POST"));
    }
    if (!m_authToken.isEmpty())
        request.setValue(QStringLiteral("Bearer %1").arg(m_authToken), QStringLiteral("Authorization"));
    else if (!m_authSubToken.isEmpty())
        request.setValue(QStringLiteral("AuthSub token=%1").arg(m_authSubToken), QStringLiteral("Authorization"));
    return request;
}

DAServiceTicketPtr DAServiceGoogle::fetchFeedWithURL(const QUrl &url, Completion completion, DAClass feedClass) {
    return fetchObjectWithURL(url, feedClass, nullptr, QString(), QString(), std::move(completion));
}

DAServiceTicketPtr DAServiceGoogle::fetchEntryWithURL(const QUrl &url, Completion completion, DAClass entryClass) {
    return fetchObjectWithURL(url, entryClass, nullptr, QString(), QString(), std::move(completion));
}

DAServiceTicketPtr DAServiceGoogle::fetchEntryByInsertingEntry(const DAEntryBasePtr &entry, const QUrl &feedURL, Completion completion) {
    return fetchObjectWithURL(feedURL, entry->objectClass(), entry, QString(), QStringLiteral("POST"), std::move(completion));
}

DAServiceTicketPtr DAServiceGoogle::fetchEntryByUpdatingEntry(const DAEntryBasePtr &entry, Completion completion) {
    const auto link = entry->editLink();
    return fetchObjectWithURL(link ? QUrl(link->href()) : QUrl(), entry->objectClass(), entry, QString(), QStringLiteral("PUT"),
                              std::move(completion));
}

DAServiceTicketPtr DAServiceGoogle::deleteEntry(const DAEntryBasePtr &entry, Completion completion) {
    const auto link = entry->editLink();
    auto ticket = fetchObjectWithURL(link ? QUrl(link->href()) : QUrl(), nullptr, nullptr, entry->ETag(), QStringLiteral("DELETE"),
                                     std::move(completion));
    if (ticket)
        ticket->setPostedObject(entry);
    return ticket;
}
