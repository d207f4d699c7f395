#pragma once

// One plain request to a test peer, waited for: the fakes' control routes and
// the replies a test reads straight from a peer. Redirects are not followed,
// so a test sees the Location a peer answers.

#include "Net/NRHTTPRequest.h"
#include "support/TestSupport.h"

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QUrl>

namespace VNTest {

struct PeerReply {
    int status = 0;
    QString location;
    QByteArray body;
};

// A body makes the request a POST unless a method is given.
inline PeerReply peerRequest(const QUrl &url, const QByteArray &body = {}, const QString &method = {},
                             const QMap<QString, QString> &headers = {})
{
    auto request = NRHTTPRequest::requestWithURL(url);
    request->setShouldRedirect(false);
    for (auto it = headers.begin(); it != headers.end(); ++it)
        request->addRequestHeader(it.key(), it.value());
    if (!method.isEmpty())
        request->setRequestMethod(method);
    else if (!body.isEmpty())
        request->setRequestMethod(QStringLiteral("POST"));
    if (!body.isEmpty())
        request->appendPostData(body);
    bool done = false;
    request->setCompletionBlock([&] { done = true; });
    request->setFailedBlock([&] { done = true; });
    request->startAsynchronous();
    waitUntil([&] { return done; }, 20000);
    return {request->responseStatusCode(), request->responseHeader(QStringLiteral("Location")),
            request->responseData()};
}

}  // namespace VNTest
