#include "FTPPeerSupport.h"

#include <QJsonArray>

#include <cerrno>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <vector>

#include "Platform/VNDispatch.h"
#include "Platform/VNOperationQueue.h"
#include "support/TestSupport.h"

#include <QCryptographicHash>
#include <QDir>
#include <QHash>
#include <QFile>
#include <QRandomGenerator>
#include <QTcpSocket>
#include <QTimer>
#include <QUuid>

#include <atomic>
#include <chrono>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace FTPPeer {

namespace {

// Answers arrive on the main thread or on a worker; the test waits on main.
struct Waiter {
    std::mutex mutex;
    Answer answer;
    std::atomic<bool> done{false};

    void finish(const std::function<void(Answer &)> &fill)
    {
        std::lock_guard lock(mutex);
        fill(answer);
        answer.answered = true;
        answer.onMainThread = VNDispatch::isMainThread();
        done = true;
    }

    Answer wait(int timeoutMs = 120000)
    {
        VNTest::waitUntil([this] { return done.load(); }, timeoutMs);
        // One more turn so that a second, wrong answer would show.
        VNTest::spin(20);
        std::lock_guard lock(mutex);
        return answer;
    }
};

void chownToTestAccount(Kind kind, const QString &path)
{
    struct stat info {};
    if (::stat(QFile::encodeName(root(kind)).constData(), &info) == 0)
        (void)::chown(QFile::encodeName(path).constData(), info.st_uid, info.st_gid);
}

}  // namespace

const char *kindName(Kind kind)
{
    switch (kind) {
    case Kind::FTP:
        return "FTP";
    case Kind::FTPS:
        return "FTPS";
    case Kind::ActiveFTP:
        return "ActiveFTP";
    case Kind::SFTP:
        return "SFTP";
    case Kind::NoRemovalFTP:
        return "NoRemovalFTP";
    case Kind::DropBoxFTP:
        return "DropBoxFTP";
    }
    return "?";
}

namespace {

// The server of a kind in the peer's state: "url"/"port" for plain FTP and
// SFTP, else its own prefix.
QString statePrefix(Kind kind)
{
    switch (kind) {
    case Kind::FTPS:
        return QStringLiteral("ftps_");
    case Kind::NoRemovalFTP:
        return QStringLiteral("noremoval_");
    case Kind::DropBoxFTP:
        return QStringLiteral("dropbox_");
    default:
        return {};
    }
}

}  // namespace

QJsonObject state(Kind kind)
{
    return VNTest::peerState(kind == Kind::SFTP ? QStringLiteral("sshd") : QStringLiteral("vsftpd"));
}

QString root(Kind kind)
{
    return state(kind).value(QStringLiteral("root")).toString();
}

QNDriveConfigPtr drive(Kind kind)
{
    const QJsonObject s = state(kind);
    auto config = QNDriveConfig::create();
    config->setIsFTP(true);
    config->setDisplayName(QString::fromLatin1(kindName(kind)));
    config->setUrl(s.value(statePrefix(kind) + QStringLiteral("url")).toString());
    config->setUsername(s.value(QStringLiteral("user")).toString());
    config->setPassword(s.value(QStringLiteral("password")).toString());
    config->setUseSSL(kind == Kind::FTPS);
    config->setFtpActive(kind == Kind::ActiveFTP);
    config->setStringEncoding(0);
    return config;
}

QString makeScratchFolder(Kind kind)
{
    const QString name = QStringLiteral("t-") + QUuid::createUuid().toString(QUuid::WithoutBraces).left(8);
    const QString onDisk = root(kind) + QStringLiteral("/work/") + name;
    QDir().mkpath(onDisk);
    chownToTestAccount(kind, onDisk);
    return QStringLiteral("/work/") + name + QLatin1Char('/');
}

void writeServerFile(Kind kind, const QString &path, const QByteArray &data)
{
    const QString onDisk = root(kind) + path;
    VNTest::writeFile(onDisk, data);
    chownToTestAccount(kind, onDisk);
}

bool killServerSessions(Kind kind)
{
    // posix_spawn rather than fork: this runs on a transfer's worker, in a
    // process full of threads.
    std::vector<std::string> args{"python3",
                                  qgetenv("VARNELLO_TEST_PEERS").toStdString() + "/kill_sessions.py",
                                  std::to_string(::getpid())};
    for (const QJsonValue &pid : state(kind).value(QStringLiteral("pids")).toArray())
        args.push_back(std::to_string(pid.toInteger()));
    std::vector<char *> argv;
    for (std::string &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t child = 0;
    if (::posix_spawnp(&child, "python3", nullptr, nullptr, argv.data(), environ) != 0)
        return false;
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

QNDriveConfigPtr otherAccountDrive(Kind kind)
{
    auto config = drive(kind);
    config->setUsername(state(kind).value(QStringLiteral("other_user")).toString());
    config->setPassword(state(kind).value(QStringLiteral("other_password")).toString());
    return config;
}

QSet<QByteArray> socketsOf(const QString &pid)
{
    QSet<QByteArray> sockets;
    const QDir fds(QStringLiteral("/proc/%1/fd").arg(pid));
    for (const QString &fd : fds.entryList(QDir::System | QDir::NoDotAndDotDot)) {
        char target[64] = {};
        const ssize_t n = ::readlink(QFile::encodeName(fds.filePath(fd)).constData(), target, sizeof target - 1);
        const QByteArray link(target, n > 0 ? n : 0);
        if (link.startsWith("socket:["))
            sockets.insert(link.mid(8).chopped(1));
    }
    return sockets;
}

namespace {

// This process's established connections to the peer's port: local port
// by socket inode.
QHash<QByteArray, int> connectionTable(Kind kind)
{
    const int port = state(kind).value(statePrefix(kind) + QStringLiteral("port")).toInt();
    const QSet<QByteArray> ours = socketsOf(QStringLiteral("self"));
    QHash<QByteArray, int> found;
    for (const char *table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        const QList<QByteArray> lines = VNTest::readFile(QString::fromLatin1(table)).split('\n');
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const QList<QByteArray> f = lines[i].simplified().split(' ');
            // local, remote, state (01: established), ..., inode
            if (f.size() > 9 && f[3] == "01" && ours.contains(f[9]) &&
                f[2].split(':').value(1).toInt(nullptr, 16) == port)
                found.insert(f[9], f[1].split(':').value(1).toInt(nullptr, 16));
        }
    }
    return found;
}

}  // namespace

QSet<int> connectionsTo(Kind kind)
{
    const QList<int> ports = connectionTable(kind).values();
    return QSet<int>(ports.begin(), ports.end());
}

QSet<QByteArray> connectionSocketsTo(Kind kind)
{
    const QList<QByteArray> sockets = connectionTable(kind).keys();
    return QSet<QByteArray>(sockets.begin(), sockets.end());
}

GoBetween::GoBetween(int target) : m_target(target)
{
    m_server.listen(QHostAddress::LocalHost, 0);
    QObject::connect(&m_server, &QTcpServer::newConnection, [this] { accept(); });
}

void GoBetween::cutAfterReplyTo(const QByteArray &verb)
{
    m_arm = Arm::AfterReply;
    m_verb = verb;
}

void GoBetween::cutBefore(const QByteArray &verb)
{
    m_arm = Arm::Before;
    m_verb = verb;
}

void GoBetween::holdRepliesUntil(std::function<bool()> done)
{
    m_arm = Arm::Hold;
    m_done = std::move(done);
}

void GoBetween::cutAtNextRequest()
{
    m_arm = Arm::NextRequest;
}

void GoBetween::cut(QTcpSocket *in, QTcpSocket *out)
{
    ++m_cuts;
    m_arm = Arm::None;
    out->abort();
    in->abort();
}

void GoBetween::accept()
{
    while (QTcpSocket *in = m_server.nextPendingConnection()) {
        auto *out = new QTcpSocket(in);
        out->connectToHost(QHostAddress::LocalHost, quint16(m_target));
        // This connection's reply is to be cut: the armed command went through it.
        auto cutOnReply = std::make_shared<bool>(false);
        auto lines = std::make_shared<QByteArray>();
        QObject::connect(in, &QTcpSocket::readyRead, out, [this, in, out, cutOnReply, lines] {
            const QByteArray bytes = in->readAll();
            if (m_arm == Arm::NextRequest)
                return cut(in, out);
            if (m_arm == Arm::Hold && !*cutOnReply) {
                *cutOnReply = true;
                auto *poll = new QTimer(in);
                QObject::connect(poll, &QTimer::timeout, in, [this, in, out, poll] {
                    if (m_done && m_done()) {
                        poll->stop();
                        cut(in, out);
                    }
                });
                poll->start(2);
            }
            if (m_arm != Arm::AfterReply && m_arm != Arm::Before)
                return void(out->write(bytes));
            // Plain FTP: command by command.
            *lines += bytes;
            qsizetype end;
            while ((end = lines->indexOf('\n')) >= 0) {
                const QByteArray line = lines->left(end + 1);
                lines->remove(0, end + 1);
                if ((m_arm == Arm::AfterReply || m_arm == Arm::Before) && line.toUpper().startsWith(m_verb)) {
                    if (m_arm == Arm::Before)
                        return cut(in, out);
                    *cutOnReply = true;
                }
                out->write(line);
            }
        });
        QObject::connect(out, &QTcpSocket::readyRead, in, [this, in, out, cutOnReply] {
            const QByteArray bytes = out->readAll();
            if (!*cutOnReply)
                return void(in->write(bytes));
            // Held: a hold's poll cuts; an armed command's reply cuts at once.
            if (m_arm == Arm::AfterReply)
                cut(in, out);
        });
        QObject::connect(in, &QTcpSocket::disconnected, out, &QTcpSocket::disconnectFromHost);
        QObject::connect(out, &QTcpSocket::disconnected, in, &QTcpSocket::disconnectFromHost);
    }
}

QString Answer::text() const
{
    return error ? error->localizedDescription() : QString();
}

std::shared_ptr<QNFTPHandler> handlerFor(const QNDriveConfigPtr &config)
{
    return std::static_pointer_cast<QNFTPHandler>(QNFTPHandler::make(config));
}

Answer login(const QNDriveConfigPtr &config)
{
    auto waiter = std::make_shared<Waiter>();
    handlerFor(config)->login([waiter](bool ok, VNErrorPtr error, bool cancelled) {
        waiter->finish([&](Answer &a) {
            a.ok = ok;
            a.error = error;
            a.cancelled = cancelled;
        });
    });
    return waiter->wait();
}

Answer list(const QNDriveConfigPtr &config, const QString &path)
{
    auto waiter = std::make_shared<Waiter>();
    handlerFor(config)->listDocuments(QNDocument::withPath(path, true), QString(),
                                      [waiter](QNDocumentList docs, QString, VNErrorPtr error, bool cancelled) {
                                          waiter->finish([&](Answer &a) {
                                              a.documents = docs;
                                              a.error = error;
                                              a.cancelled = cancelled;
                                          });
                                      });
    return waiter->wait();
}

namespace {

QNDocumentCallback documentAnswer(const std::shared_ptr<Waiter> &waiter)
{
    return [waiter](QNDocumentPtr doc, VNErrorPtr error, bool cancelled) {
        waiter->finish([&](Answer &a) {
            a.document = doc;
            a.error = error;
            a.cancelled = cancelled;
        });
    };
}

QNProgressCallback progressOf(const std::function<void(double, QNFTPHandler &)> &progress,
                              const std::shared_ptr<QNFTPHandler> &handler)
{
    if (!progress)
        return {};
    // Called only during the handler's own transfer, which keeps it alive;
    // holding it here would make a cycle.
    QNFTPHandler *raw = handler.get();
    return [progress, raw](double fraction) { progress(fraction, *raw); };
}

}  // namespace

Answer download(const QNDriveConfigPtr &config, const QString &remotePath, const QString &localPath,
                const std::function<void(double, QNFTPHandler &)> &progress, std::shared_ptr<QNFTPHandler> handler)
{
    auto waiter = std::make_shared<Waiter>();
    if (!handler)
        handler = handlerFor(config);
    auto doc = QNDocument::withPath(remotePath);
    handler->download(doc, QNDocument::withPath(localPath), progressOf(progress, handler), documentAnswer(waiter));
    return waiter->wait();
}

Answer upload(const QNDriveConfigPtr &config, const QString &localPath, const QString &remoteFolder,
              const std::function<void(double, QNFTPHandler &)> &progress, std::shared_ptr<QNFTPHandler> handler)
{
    auto waiter = std::make_shared<Waiter>();
    if (!handler)
        handler = handlerFor(config);
    handler->upload(QNDocument::withPath(localPath), QNDocument::withPath(remoteFolder, true),
                    progressOf(progress, handler), documentAnswer(waiter));
    return waiter->wait();
}

OperationUpload uploadThroughOperation(const QNDriveConfigPtr &config, const QString &localPath,
                                       const QString &remoteFolder, bool mayWriteOntoName,
                                       const std::function<void(double, QNUploadOperation &)> &progress)
{
    QNFTPHandler::registerHandler();  // the operation asks the drive for its handler
    auto waiter = std::make_shared<Waiter>();
    // Progress comes only while the operation, held here until its handler
    // has answered, runs.
    auto running = std::make_shared<std::atomic<QNUploadOperation *>>(nullptr);
    QNProgressCallback onProgress;
    if (progress)
        onProgress = [progress, running](double fraction) {
            if (QNUploadOperation *op = running->load())
                progress(fraction, *op);
        };
    auto op = std::make_shared<QNUploadOperation>(config, QNDocument::withPath(localPath),
                                                  QNDocument::withPath(remoteFolder, true), onProgress,
                                                  documentAnswer(waiter));
    running->store(op.get());
    op->setUnderTemporaryName(true);
    op->setMayWriteOntoName(mayWriteOntoName);
    VNOperationQueue queue;
    queue.addOperation(op);
    OperationUpload out{waiter->wait(), {}};
    const auto &watch = op->handlerCallWatch();
    watch->waitUntilAnswered(std::chrono::steady_clock::now() + std::chrono::minutes(2));
    out.handlerAnswer = watch->answer();
    return out;
}

Answer createFolder(const QNDriveConfigPtr &config, const QString &name, const QString &parent)
{
    auto waiter = std::make_shared<Waiter>();
    handlerFor(config)->createFolder(name, QNDocument::withPath(parent, true), documentAnswer(waiter));
    return waiter->wait();
}

Answer remove(const QNDriveConfigPtr &config, const QString &path, bool isDirectory)
{
    auto waiter = std::make_shared<Waiter>();
    handlerFor(config)->remove(QNDocument::withPath(path, isDirectory), documentAnswer(waiter));
    return waiter->wait();
}

Answer rename(const QNDriveConfigPtr &config, const QString &path, const QString &newName)
{
    auto from = QNDocument::withPath(path);
    QString parent = path;
    while (parent.endsWith(QLatin1Char('/')))
        parent.chop(1);
    parent = parent.left(parent.lastIndexOf(QLatin1Char('/')) + 1);
    auto to = QNDocument::withPath(parent + newName);
    to->setDisplayName(newName);
    return rename(config, from, to);
}

Answer rename(const QNDriveConfigPtr &config, const QNDocumentPtr &from, const QNDocumentPtr &to)
{
    auto waiter = std::make_shared<Waiter>();
    handlerFor(config)->rename(from, to, documentAnswer(waiter));
    return waiter->wait();
}

QStringList namesOf(const QNDocumentList &documents)
{
    QStringList out;
    for (const auto &d : documents)
        out << d->displayName();
    return out;
}

QNDocumentPtr find(const QNDocumentList &documents, const QString &name)
{
    for (const auto &d : documents)
        if (d->displayName() == name)
            return d;
    return nullptr;
}

QByteArray sha256OfFile(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(&f);
    return hash.result().toHex();
}

QByteArray randomBytes(qint64 size, quint32 seed)
{
    QByteArray out(size, Qt::Uninitialized);
    QRandomGenerator generator(seed);
    generator.fillRange(reinterpret_cast<quint32 *>(out.data()), size / 4);
    return out;
}

}  // namespace FTPPeer
