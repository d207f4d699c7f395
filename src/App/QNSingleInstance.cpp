#include "App/QNSingleInstance.h"

#include "Platform/VNLog.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

static const QByteArray kNewWindow = QByteArrayLiteral("new-window\n");

QString QNSingleInstance::serverNameFor(const QString &settingsFile) {
    const QByteArray hash = QCryptographicHash::hash(settingsFile.toUtf8(), QCryptographicHash::Sha1).toHex().left(12);
    return QStringLiteral("varnello-%1-%2").arg(getuid()).arg(QString::fromLatin1(hash));
}

QNSingleInstance::QNSingleInstance(const QString &serverName, QObject *parent)
    : QObject(parent), m_serverName(serverName) {}

QNSingleInstance::~QNSingleInstance() {
    delete m_server;  // its socket file goes before the lock is let go
    if (m_lockFd >= 0)
        ::close(m_lockFd);
}

bool QNSingleInstance::takeLock() {
    if (m_lockFd >= 0)
        return true;
    // In the user's private runtime folder, beside nothing another user can reach.
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        folder = QDir::tempPath();
    const QByteArray path = QFile::encodeName(folder + QLatin1Char('/') + m_serverName + QStringLiteral(".lock"));
    const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        VNLog::log(QStringLiteral("QNSingleInstance lock error: %1").arg(QString::fromLocal8Bit(strerror(errno))));
        return false;
    }
    int result;
    do
        result = ::flock(fd, LOCK_EX | LOCK_NB);
    while (result != 0 && errno == EINTR);
    if (result != 0) {
        ::close(fd);
        return false;
    }
    m_lockFd = fd;
    return true;
}

bool QNSingleInstance::notifyRunningInstance(int timeoutMs) {
    if (takeLock())
        return false;  // nobody runs: this launch is the instance
    // A running instance holds the lock, however busy it may be now.
    const QDeadlineTimer deadline(timeoutMs);
    QLocalSocket socket;
    for (;;) {
        socket.connectToServer(m_serverName);
        if (socket.waitForConnected(int(deadline.remainingTime())))
            break;
        if (deadline.hasExpired()) {
            // Still starting, or not listening at all: it is not taken over either way.
            VNLog::log(QStringLiteral("QNSingleInstance: the running instance does not take requests"));
            return true;
        }
        QThread::msleep(20);
    }
    socket.write(kNewWindow);
    socket.waitForBytesWritten(int(deadline.remainingTime()));
    // The running instance answers once it has taken the request.
    const bool answered =
        socket.waitForReadyRead(int(deadline.remainingTime())) && socket.readAll().startsWith("ok");
    if (!answered)
        VNLog::log(QStringLiteral("QNSingleInstance: the running instance is busy; the request waits for it"));
    socket.disconnectFromServer();
    return true;
}

bool QNSingleInstance::listen() {
    if (m_server)
        return m_server->isListening();
    if (!takeLock()) {
        VNLog::log(QStringLiteral("QNSingleInstance listen error: another instance runs"));
        return false;
    }
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(m_serverName)) {
        // Holding the lock, no instance listens there: the socket file was
        // left by one that died.
        QLocalServer::removeServer(m_serverName);
        if (!m_server->listen(m_serverName)) {
            VNLog::log(QStringLiteral("QNSingleInstance listen error: %1").arg(m_server->errorString()));
            return false;
        }
    }
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *socket = m_server->nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] { takeRequest(socket); });
            // A launch that gave up waiting while this one was busy has
            // left its request and gone: it is read all the same.
            if (socket->bytesAvailable() > 0)
                takeRequest(socket);
        }
    });
    return true;
}

void QNSingleInstance::takeRequest(QLocalSocket *socket) {
    const QByteArray request = socket->readAll();
    if (!request.startsWith(kNewWindow.trimmed()))
        return;
    VNLog::log(QStringLiteral("QNSingleInstance: a later launch asked for a new window"));
    if (socket->state() == QLocalSocket::ConnectedState) {
        socket->write("ok\n");
        socket->flush();
    }
    emit newWindowRequested();
}

bool QNSingleInstance::isListening() const { return m_server && m_server->isListening(); }
