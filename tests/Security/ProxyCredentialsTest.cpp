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

// A proxy that reads its first client's request, then goes away without
// answering: the connection and the port both close.
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
    ~VanishingProxy() {
        if (m_thread.joinable())
            m_thread.join();
    }
    int port() const { return m_port; }
    // The request it read, once it has gone.
    QByteArray request() {
        if (m_thread.joinable())
            m_thread.join();
        return m_request;
    }

private:
    void serveOnce() {
        const int client = ::accept(m_listener, nullptr, nullptr);
        ::close(m_listener);
        char buffer[4096];
        while (!m_request.contains("\r\n\r\n")) {
            const ssize_t n = ::read(client, buffer, sizeof buffer);
            if (n <= 0)
                break;
            m_request.append(buffer, n);
        }
        ::close(client);
    }
    QByteArray m_request;
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
    entry.scheme = NRHTTPAuthentication::basicScheme();
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
    // The first proxy had its own credentials from the start.
    EXPECT_TRUE(first.request().contains("Proxy-Authorization: Basic ")) << first.request().toStdString();
    const QList<QJsonObject> arrived = received(target);
    ASSERT_FALSE(arrived.isEmpty());
    for (const QJsonObject &connect : arrived)
        EXPECT_TRUE(header(connect, "Proxy-Authorization").isEmpty());
}
