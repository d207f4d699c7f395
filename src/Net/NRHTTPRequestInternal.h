#pragma once

// What the files implementing NRHTTPRequest share; not part of its interface.

#include <QList>
#include <QMap>
#include <QNetworkCookie>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <deque>
#include <memory>
#include <mutex>

class NRHTTPRequest;

#define LOCKED std::lock_guard<std::recursive_mutex> locker(m_mutex)

namespace NRHTTPRequestInternal {

// Past this many credential applications a request gives up: a server that
// answers 401 forever ends in an authentication error, not a loop.
constexpr int kMaximumAuthenticationApplications = 5;
constexpr int kMaximumRedirects = 5;

struct ClassState {
    std::mutex mutex;
    QString defaultUserAgent;
    bool userAgentMade = false;
    QString certificateAuthorityFile;
    QStringList loopbackHosts;
    QList<QNetworkCookie> sessionCookies;
};

ClassState &classState();

// Only one request at a time looks for or asks for credentials: the others
// wait for their turn, and then usually find what the first one was given
// in the session store.
struct CredentialTurn {
    std::mutex mutex;
    quint64 holder = 0;  // request id; 0: nobody
    std::deque<std::weak_ptr<NRHTTPRequest>> waiting;
};

CredentialTurn &credentialTurn();

// The header of that name, whatever the case of its letters.
QMap<QString, QString>::const_iterator findHeader(const QMap<QString, QString> &headers, const QString &name);
// A header name is that name, whatever the case of its letters.
inline bool isHeaderNamed(const QString &name, QLatin1StringView wanted) {
    return name.size() == wanted.size() && name.compare(wanted, Qt::CaseInsensitive) == 0;
}
bool isAllowedScheme(const QUrl &url);
bool sameOrigin(const QUrl &a, const QUrl &b);
bool isSSLError(int curlCode);
// The connection broke before anything came back: worth one more try on a
// fresh connection (a kept-alive socket the server had closed).
bool isBrokenConnection(int curlCode);
bool isJSONOrXML(const QString &mime);
bool isKnownEncoding(const QByteArray &name);
// An absolute path of a new file name in our private temporary folder.
QString newTemporaryPath();

}  // namespace NRHTTPRequestInternal
