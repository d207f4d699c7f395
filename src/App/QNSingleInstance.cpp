#include "App/QNSingleInstance.h"

#include "Platform/VNLog.h"

#include <QCryptographicHash>
#include <QLocalServer>
#include <QLocalSocket>
#include <unistd.h>

static const QByteArray kNewWindow = QByteArrayLiteral("new-window\n");

QString QNSingleInstance::serverNameFor(const QString &settingsFile) {
    const QByteArray hash = QCryptographicHash::hash(settingsFile.toUtf8(), QCryptographicHash::Sha1).toHex().left(12);
    return QStringLiteral("varnello-%1-%2").arg(getuid()).arg(QString::fromLatin1(hash));
}

QNSingleInstance::QNSingleInstance(const QString &serverName, QObject *parent)
    : QObject(parent), m_serverName(serverName) {}

QNSingleInstance::~QNSingleInstance() = default;

bool QNSingleInstance::notifyRunningInstance(int timeoutMs) {
    QLocalSocket socket;
    socket.connectToServer(m_serverName);
    if (!socket.waitForConnected(timeoutMs))
        return false;
    socket.write(kNewWindow);
    if (!socket.waitForBytesWritten(timeoutMs))
        return false;
    // The running instance answers once it has taken the request.
    const bool answered = socket.waitForReadyRead(timeoutMs) && socket.readAll().startsWith("ok");
    socket.disconnectFromServer();
    return answered;
}

bool QNSingleInstance::listen() {
    if (m_server)
        return m_server->isListening();
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(m_serverName)) {
        // A socket file left by an instance that died: nobody answers on it.
        QLocalServer::removeServer(m_serverName);
        if (!m_server->listen(m_serverName)) {
            VNLog::log(QStringLiteral("QNSingleInstance listen error: %1").arg(m_server->errorString()));
            return false;
        }
    }
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *socket = m_server->nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
                const QByteArray request = socket->readAll();
                if (request.startsWith(kNewWindow.trimmed())) {
                    socket->write("ok\n");
                    socket->flush();
                    emit newWindowRequested();
                }
            });
        }
    });
    return true;
}

bool QNSingleInstance::isListening() const { return m_server && m_server->isListening(); }
