#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrl>
#include <functional>

// A small HTTP/1.1 server on 127.0.0.1 for the login sheet's tests: the
// "provider" pages (fixed replies by path) and the trap at the callback
// address, which records every byte that reaches it.
class LocalWebServer : public QObject {
public:
    struct Reply {
        int status = 200;
        QByteArray contentType = "text/html";
        QList<QPair<QByteArray, QByteArray>> headers;
        QByteArray body;
    };

    LocalWebServer() {
        m_server.listen(QHostAddress::LocalHost);
        QObject::connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *s = m_server.nextPendingConnection()) {
                QObject::connect(s, &QTcpSocket::readyRead, this, [this, s] { readFrom(s); });
                QObject::connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
            }
        });
    }

    quint16 port() const { return m_server.serverPort(); }
    QString base() const { return QStringLiteral("http://127.0.0.1:%1").arg(port()); }
    QUrl url(const QString &pathAndQuery) const { return QUrl(base() + pathAndQuery); }

    // The reply for a path (without query); unknown paths answer 404.
    void setReply(const QString &path, Reply reply) { m_replies.insert(path, std::move(reply)); }
    void setRedirect(const QString &path, const QString &location) {
        Reply r;
        r.status = 302;
        r.headers << qMakePair(QByteArray("Location"), location.toUtf8());
        setReply(path, r);
    }
    void setPage(const QString &path, const QByteArray &html) {
        Reply r;
        r.body = html;
        setReply(path, r);
    }

    // Everything that reached the server, and the request heads by path.
    const QByteArray &received() const { return m_received; }
    QList<QByteArray> requestsFor(const QString &path) const { return m_requests.value(path); }

private:
    void readFrom(QTcpSocket *s) {
        const QByteArray chunk = s->readAll();
        m_received += chunk;
        QByteArray &pending = m_pending[s];
        pending += chunk;
        const int end = pending.indexOf("\r\n\r\n");
        if (end < 0)
            return;
        const QByteArray head = pending.left(end);
        m_pending.remove(s);
        const QList<QByteArray> words = head.left(head.indexOf("\r\n")).split(' ');
        QString path = words.size() > 1 ? QString::fromUtf8(words[1]) : QString();
        path = path.section(QLatin1Char('?'), 0, 0);
        m_requests[path] << head;
        Reply reply;
        if (m_replies.contains(path)) {
            reply = m_replies.value(path);
        } else {
            reply.status = 404;
            reply.body = "not here";
        }
        QByteArray out = "HTTP/1.1 " + QByteArray::number(reply.status) +
                         (reply.status == 302 ? " Found" : reply.status == 200 ? " OK" : " Not Found") + "\r\n";
        out += "Content-Type: " + reply.contentType + "\r\n";
        for (const auto &h : reply.headers)
            out += h.first + ": " + h.second + "\r\n";
        out += "Content-Length: " + QByteArray::number(reply.body.size()) + "\r\nConnection: close\r\n\r\n";
        out += reply.body;
        s->write(out);
        s->disconnectFromHost();
    }

    QTcpServer m_server;
    QHash<QString, Reply> m_replies;
    QHash<QTcpSocket *, QByteArray> m_pending;
    QHash<QString, QList<QByteArray>> m_requests;
    QByteArray m_received;
};
