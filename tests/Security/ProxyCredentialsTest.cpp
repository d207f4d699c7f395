// A proxy's credentials go to that proxy only: when it cannot be reached
// any more, the next proxy of the script gets none it did not ask for.
#include "HostileFake.h"

#include "Net/NRHTTPRequest.h"
#include "Net/NRSessionCredentialStore.h"

#include <QRandomGenerator>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using Hostile::header;
using Hostile::received;

namespace {

// A proxy that asks its first client for Basic credentials, then goes away:
// the answer's connection and its port both close.
class VanishingProxy {
public:
    VanishingProxy() {
        m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        ::bind(m_listener, reinterpret_cast<sockaddr *>(&address), size);
        ::listen(m_listener, 1);
        ::getsockname(m_listener, reinterpret_cast<sockaddr *>(&address), &size);
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] { serveOnce(); });
    }
    ~VanishingProxy() { m_thread.join(); }
    int port() const { return m_port; }

private:
    void serveOnce() {
        const int client = ::accept(m_listener, nullptr, nullptr);
        ::close(m_listener);
        QByteArray request;
        char buffer[4096];
        while (!request.contains("\r\n\r\n")) {
            const ssize_t n = ::read(client, buffer, sizeof buffer);
            if (n <= 0)
                break;
            request.append(buffer, n);
        }
        const QByteArray answer = "HTTP/1.1 407 Proxy Authentication Required\r\n"
                                  "Proxy-Authenticate: Basic realm=\"first\"\r\n"
                                  "Content-Length: 0\r\nConnection: close\r\n\r\n";
        (void)::write(client, answer.constData(), size_t(answer.size()));
        ::close(client);
    }
    int m_listener = -1;
    int m_port = 0;
    std::thread m_thread;
};

}  // namespace

TEST(ProxyFailover, OneProxysCredentialsNeverGoToTheNext) {
    VanishingProxy first;
    const int next = Hostile::state()[QStringLiteral("port_b")].toInt();
    // The session holds credentials for the first proxy only.
    NRSessionCredentialEntry entry;
    entry.credentials = std::make_shared<NRCredentials>(NRCredentials{QStringLiteral("user"), QStringLiteral("s3cret"), QString()});
    entry.url = NRSessionCredentialStore::proxyKey(QStringLiteral("127.0.0.1"), first.port());
    NRSessionCredentialStore::sharedProxy().store(entry);

    QTemporaryDir dir;
    QFile script(dir.filePath(QStringLiteral("proxy.pac")));
    ASSERT_TRUE(script.open(QIODevice::WriteOnly));
    script.write(QStringLiteral("function FindProxyForURL(url, host) { return \"PROXY 127.0.0.1:%1; PROXY 127.0.0.1:%2\"; }")
                     .arg(first.port())
                     .arg(next)
                     .toUtf8());
    script.close();

    // A target no one serves: only what reaches the proxies matters.
    const QString target = QStringLiteral("127.0.0.1:%1").arg(20000 + QRandomGenerator::global()->bounded(40000));
    auto request = NRHTTPRequest::requestWithURL(QUrl(QStringLiteral("https://%1/").arg(target)));
    request->setPACurl(QUrl::fromLocalFile(script.fileName()));
    request->setTimeOutSeconds(10);
    bool ended = false;
    request->setCompletionBlock([&] { ended = true; });
    request->setFailedBlock([&] { ended = true; });
    request->startAsynchronous();
    ASSERT_TRUE(VNTest::waitUntil([&] { return ended; }, 30000));
    const QList<QJsonObject> arrived = received(target);
    ASSERT_FALSE(arrived.isEmpty());
    for (const QJsonObject &connect : arrived)
        EXPECT_TRUE(header(connect, "Proxy-Authorization").isEmpty());
}
