// The libcurl plumbing of QNFTPHandler: a transfer's shared options, its
// outcome, and server commands.
#include "Cloud/QNFTPHandler.h"
#include "Cloud/QNFTPHandlerInternal.h"

#include "Cloud/QNFTPCertificateMemory.h"
#include "Cloud/QNFTPErrorTexts.h"
#include "Cloud/QNFTPLocation.h"
#include "Cloud/QNFTPTransferLog.h"
#include "Cloud/QNStringEncoding.h"
#include "Core/QNCloudInterface.h"
#include "Platform/VNDispatch.h"
#include "Platform/VNLog.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QUrl>
#include <curl/curl.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <optional>
#include <sys/mman.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace QNFTPInternal {

VNErrorPtr ftpError(const QString &text)
{
    QVariantMap info;
    info.insert(VNError::localizedDescriptionKey(), text);
    info.insert(QStringLiteral("error"), text);
    return std::make_shared<VNError>(kDomain, 42, info);
}

QString systemError(int err)
{
    return QString::fromLocal8Bit(std::strerror(err));
}

namespace {

// Whether the protocol text sent is one of the commands that change the
// server ("DELE name\r\n" for "DELE name").
bool isChangeCommand(const QNFTPHandler::Transfer &t, const char *data, size_t size)
{
    if (t.changeCommands.isEmpty())  // downloads and listings: nothing to watch
        return false;
    const QByteArray line = QByteArray(data, qsizetype(size)).trimmed();
    return t.changeCommands.contains(line);
}

}  // namespace

int debugToLog(CURL *, curl_infotype type, char *data, size_t size, void *userdata)
{
    auto *t = static_cast<QNFTPHandler::Transfer *>(userdata);
    switch (type) {
    case CURLINFO_TEXT:
        t->log.add(QNFTPTransferLog::Kind::Text, data, size);
        break;
    case CURLINFO_HEADER_IN:
        t->log.add(QNFTPTransferLog::Kind::Received, data, size);
        t->changeUnanswered = false;
        break;
    case CURLINFO_HEADER_OUT:
        t->log.add(QNFTPTransferLog::Kind::Sent, data, size);
        if (isChangeCommand(*t, data, size))
            t->changeSent = t->changeUnanswered = true;
        break;
    default:
        break;
    }
    return 0;
}

// A URL for the log: without any user name or password typed into it.
QString urlForLog(const QByteArray &url)
{
    QString text = QString::fromUtf8(url);
    static const QRegularExpression userInfo(QStringLiteral("^([A-Za-z][A-Za-z0-9+.-]*://)[^/@]*@"));
    text.replace(userInfo, QStringLiteral("\\1"));
    return text;
}

}  // namespace QNFTPInternal

QNFTPHandler::Settings QNFTPHandler::Settings::of(const QNDriveConfig &config)
{
    Settings s;
    s.url = config.url();
    s.sftpDrive = config.isSFTP();
    s.sftp = QNFTPLocation(s.url, s.sftpDrive).isSFTP();
    s.username = config.username();
    s.password = config.password();
    s.stringEncoding = config.stringEncoding();
    s.useSSL = config.useSSL();
    s.validateCertificates = config.validateCertificates();
    s.ftpActive = config.ftpActive();
    s.knownHostsFile = QNFTPHandler::knownHostsFile();
    s.caFile = QNFTPHandler::certificateAuthorityFile();
    return s;
}

QString QNFTPHandler::Settings::certificatesFile() const
{
    return QFileInfo(knownHostsFile).absolutePath() + QStringLiteral("/ftps_certificates");
}

namespace QNFTPInternal {

QString serverOf(const Settings &settings)
{
    const QUrl url(QNDriveConfig::withFileServerScheme(settings.url, settings.sftpDrive));
    const QString scheme = url.scheme().toLower();
    const int port = url.port(scheme == QLatin1String("sftp") ? 22 : scheme == QLatin1String("ftps") ? 990 : 21);
    return url.host().toLower() + QLatin1Char(':') + QString::number(port);
}

QByteArray driveDigest(const Settings &settings)
{
    const QUrl url(QNDriveConfig::withFileServerScheme(settings.url, settings.sftpDrive));
    QCryptographicHash digest(QCryptographicHash::Sha256);
    for (const QString &part : {url.scheme().toLower(), url.authority(QUrl::FullyEncoded), settings.username,
                                settings.password, QString::number(settings.stringEncoding)}) {
        digest.addData(part.toUtf8());
        digest.addData(QByteArrayView("\0", 1));
    }
    const char switches[] = {char(settings.useSSL), char(settings.validateCertificates), char(settings.ftpActive)};
    digest.addData(QByteArrayView(switches, sizeof switches));
    return digest.result();
}

namespace {

// What the server will be checked against, read before a connection is
// chosen: the certificate or host key remembered for it.
void prepareChecks(QNFTPHandler::Transfer &t, const QByteArray &url, const Settings &settings)
{
    t.settings = &settings;
    if (settings.sftp)
        t.protocol = QStringLiteral("SFTP");
    else if (settings.useSSL || url.toLower().startsWith("ftps://"))
        t.protocol = QStringLiteral("FTPS");
    t.server = serverOf(settings);
    const QUrl parsed(QString::fromUtf8(url));
    if (settings.useSSL && !settings.sftp && !settings.validateCertificates) {
        // Not validated against authorities: the certificate the server
        // showed at the first login must be the one it shows now.
        t.certificateServer = parsed.host() + QLatin1Char(':') +
                              QString::number(parsed.port(parsed.scheme() == QLatin1String("ftps") ? 990 : 21));
        t.pinnedCertificate = QNFTPCertificateMemory(settings.certificatesFile()).lookup(t.certificateServer);
    }
    if (settings.sftp) {
        // Keys are remembered per host and port (the library's own file
        // handling knows the host alone).
        t.sshHost = parsed.host();
        t.sshPort = parsed.port(22);
        t.remembered = QNSSHKnownHosts(settings.knownHostsFile).remembered(t.sshHost, t.sshPort);
    }
}

// Adds a part to a digest so that no two lists of parts give one text.
void addPart(QCryptographicHash &digest, const QByteArray &part)
{
    digest.addData(QByteArray::number(part.size()) + ':');
    digest.addData(part);
}

// The session part of a connection's identity: its login and what the
// server was trusted for when the connection was made: the certificate
// pinned, or the host keys remembered and those revoked.
QByteArray sessionDigest(const QNFTPHandler::Transfer &t)
{
    QCryptographicHash session(QCryptographicHash::Sha256);
    addPart(session, t.sessionBase);
    if (!t.certificateServer.isEmpty())
        addPart(session, t.pinnedCertificate.pin);
    if (t.protocol == QLatin1String("SFTP")) {
        addPart(session, t.remembered.problem.toUtf8());
        for (const auto &[type, key] : t.remembered.keys)
            addPart(session, type + ' ' + key);
        addPart(session, "revoked");
        for (const auto &[type, key] : t.remembered.revoked)
            addPart(session, type + ' ' + key);
    }
    return session.result();
}

// A file the checks rest on, by its content: the same path holding other
// authorities trusts other servers. Bounded: a file past it stands for
// itself by its size alone, and fails the check that reads it.
QByteArray contentDigest(const QString &path)
{
    constexpr qint64 bound = 16 * 1024 * 1024;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return "unreadable";
    if (file.size() > bound)
        return "too large " + QByteArray::number(file.size());
    return QCryptographicHash::hash(file.read(bound), QCryptographicHash::Sha256);
}

// Whose connection this transfer may use: the drive's, logging in with the
// same bytes and trusting what the server was trusted for when it was made.
// A remembered key or certificate that changed since, a key revoked, or
// other certificate authorities ask for a new connection, which the check
// then meets.
QNFTPConnectionPool::Identity identityOf(QNFTPHandler::Transfer &t, const Settings &settings,
                                         QNStringEncoding &encoding)
{
    QCryptographicHash base(QCryptographicHash::Sha256);
    addPart(base, encoding.encode(settings.username).value_or(QByteArray()));
    addPart(base, encoding.encode(settings.password).value_or(QByteArray()));
    // The files keys and certificates are remembered in (the certificates'
    // beside the keys').
    addPart(base, settings.knownHostsFile.toUtf8());
    if (settings.validateCertificates && t.protocol == QLatin1String("FTPS")) {
        addPart(base, settings.caFile.toUtf8());
        if (!settings.caFile.isEmpty())
            addPart(base, contentDigest(settings.caFile));
    }
    t.sessionBase = base.result();
    return {t.server, driveDigest(settings), sessionDigest(t)};
}

// A first meeting remembered the server's key or certificate: the
// connection that met it is the one trusted for it from now on.
void rememberedOnThisConnection(QNFTPHandler::Transfer &t)
{
    if (t.protocol == QLatin1String("SFTP"))
        t.remembered = QNSSHKnownHosts(t.settings->knownHostsFile).remembered(t.sshHost, t.sshPort);
    if (t.connection && t.connection->pooled)
        t.connection->lease.identity.session = sessionDigest(t);
}

// Sockets of this program reach no program it starts.
curl_socket_t openSocket(void *, curlsocktype, curl_sockaddr *address)
{
    return ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
}

// The same for a socket the library opens itself (an active-mode data
// connection it accepts).
int socketOptions(void *, curl_socket_t fd, curlsocktype)
{
    const int flags = ::fcntl(fd, F_GETFD);
    if (flags >= 0 && !(flags & FD_CLOEXEC))
        ::fcntl(fd, F_SETFD, flags | FD_CLOEXEC);
    return CURL_SOCKOPT_OK;
}

// The URL's host as written (the library looks it up in its file so, case
// and all), without an IPv6 address's brackets.
QString hostAsWritten(const QByteArray &url)
{
    static const QRegularExpression host(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*://(?:[^/@]*@)?(\\[[^\\]]*\\]|[^:/]*)"));
    QString found = host.match(QString::fromUtf8(url)).captured(1);
    if (found.startsWith(QLatin1Char('[')))
        found = found.mid(1, found.size() - 2);
    return found;
}

// A server whose key was remembered is asked for a key of that type, as
// OpenSSH orders its host-key algorithms: the library reads the remembered
// keys from a file of their own and asks for the type it finds there for the
// server. Without it, a server offering several types could show another
// one first, and be refused as not showing the remembered one.
void askForRememberedKeyType(CURL *h, QNFTPHandler::Transfer &t, const QString &urlHost, QString &failed)
{
    if (t.remembered.keys.isEmpty())
        return;  // the key check tells when the file cannot be read
    t.rememberedKeyTypes = t.remembered.types();
    // A file in memory, named through this process's descriptors: one made
    // on disk and removed again for every transfer cost more than all the
    // rest of setting up a small file's.
    OwnedFd file(::memfd_create("varnello-key-types", MFD_CLOEXEC));
    const QByteArray lines = QNSSHKnownHosts::preferenceLines(urlHost, t.sshPort, t.remembered);
    if (file.fd < 0 || ::write(file.fd, lines.constData(), size_t(lines.size())) != lines.size()) {
        VNLog::log(QStringLiteral("QNFTPHandler: the remembered key types of %1 could not be handed on")
                       .arg(QNSSHKnownHosts::nameFor(t.sshHost, t.sshPort)));
        return;
    }
    const QByteArray path = "/proc/self/fd/" + QByteArray::number(file.fd);
    if (failed.isNull() && curl_easy_setopt(h, CURLOPT_SSH_KNOWNHOSTS, path.constData()) != CURLE_OK)
        failed = QStringLiteral("The transfer could not be set up (option %1).").arg(int(CURLOPT_SSH_KNOWNHOSTS));
    t.keyTypeFile = std::move(file);
}

}  // namespace

// Sets the options every transfer shares; an error text when one cannot be set.
QString configure(CURL *h, QNFTPHandler::Transfer &t, const QByteArray &url, const Settings &settings,
                  QNStringEncoding &encoding)
{
    QString failed;
    auto set = [&](CURLoption option, auto value) {
        if (failed.isNull() && curl_easy_setopt(h, option, value) != CURLE_OK)
            failed = QStringLiteral("The transfer could not be set up (option %1).").arg(int(option));
    };
    const bool sftp = settings.sftp;
    set(CURLOPT_OPENSOCKETFUNCTION, &openSocket);
    set(CURLOPT_SOCKOPTFUNCTION, &socketOptions);
    if (settings.useSSL) {
        set(CURLOPT_USE_SSL, long(CURLUSESSL_ALL));
        // At most TLS 1.2: over TLS 1.3 the server's session tickets arrive
        // unread on an upload's data connection, closing it then resets it,
        // and vsftpd (the most common server) fails the upload ("426 Failure
        // reading network stream") most of the time.
        if (!sftp)
            set(CURLOPT_SSLVERSION, long(CURL_SSLVERSION_DEFAULT) | long(CURL_SSLVERSION_MAX_TLSv1_2));
    }
    if (settings.ftpActive)
        set(CURLOPT_FTPPORT, "-");
    set(CURLOPT_NOSIGNAL, 1L);
    // Only the drive's own protocols: never HTTP or another protocol that
    // would send the credentials in a header, whatever the URL says.
    set(CURLOPT_PROTOCOLS_STR, "ftp,ftps,sftp");
    set(CURLOPT_REDIR_PROTOCOLS_STR, "ftp,ftps,sftp");
    set(CURLOPT_VERBOSE, 1L);
    set(CURLOPT_DEBUGFUNCTION, &debugToLog);
    set(CURLOPT_DEBUGDATA, &t);
    const bool verify = settings.validateCertificates;
    set(CURLOPT_SSL_VERIFYPEER, verify ? 1L : 0L);
    set(CURLOPT_SSL_VERIFYHOST, verify ? 2L : 0L);
    if (verify && !settings.caFile.isEmpty())
        set(CURLOPT_CAINFO, QFile::encodeName(settings.caFile).constData());
    t.handle = h;
    if (!t.certificateServer.isEmpty()) {
        // The library checks the certificate's key before the password is sent.
        set(CURLOPT_CERTINFO, 1L);
        if (!t.pinnedCertificate.isNull())
            set(CURLOPT_PINNEDPUBLICKEY, ("sha256//" + t.pinnedCertificate.pin).constData());
    }
    set(CURLOPT_URL, url.constData());
    if (!settings.username.isEmpty()) {
        const auto user = encoding.encode(settings.username);
        const auto password = encoding.encode(settings.password);
        if (!user || !password)
            return QStringLiteral("The user name or password cannot be written in the drive's character "
                                  "encoding (%1).")
                .arg(QNStringEncoding::displayName(encoding.encoding()));
        set(CURLOPT_USERNAME, user->constData());
        set(CURLOPT_PASSWORD, password->constData());
    }
    if (sftp) {
        set(CURLOPT_SSH_AUTH_TYPES, long(CURLSSH_AUTH_PASSWORD | CURLSSH_AUTH_KEYBOARD));
        set(CURLOPT_SSH_HOSTKEYFUNCTION, &QNFTPHandler::Transfer::hostKey);
        set(CURLOPT_SSH_HOSTKEYDATA, &t);
        askForRememberedKeyType(h, t, hostAsWritten(url), failed);
    }
    const long stall = stallTimeoutSeconds.load();
    set(CURLOPT_CONNECTTIMEOUT, stall);
    set(CURLOPT_SERVER_RESPONSE_TIMEOUT, stall);
    set(CURLOPT_LOW_SPEED_LIMIT, 1L);
    set(CURLOPT_LOW_SPEED_TIME, stall);
    // libcurl waits for the SSH server's answers to the end of an SFTP
    // transfer (closing the file, the commands after it) for as long as the
    // transfer's time limit leaves, and with none set, not at all: it asks
    // the socket again and again, a processor kept busy for each file. A
    // limit no transfer reaches (24 days) makes it wait; the stall limits
    // above still end a silent server.
    if (sftp)
        set(CURLOPT_TIMEOUT, long(INT_MAX / 1000));
    // No connection used again after it idled longer than the pool keeps it.
    set(CURLOPT_MAXAGE_CONN, long(QNFTPConnectionPool::shared().idleSeconds()));
    // Large blocks: fewer callbacks, and for SFTP more read requests in
    // flight at once (each SFTP read asks for one buffer's worth).
    set(CURLOPT_BUFFERSIZE, sftp ? 1024L * 1024 : 512L * 1024);
    set(CURLOPT_UPLOAD_BUFFERSIZE, 2L * 1024 * 1024);
    set(CURLOPT_NOPROGRESS, 0L);
    set(CURLOPT_XFERINFOFUNCTION, &QNFTPHandler::Transfer::progressCallback);
    set(CURLOPT_XFERINFODATA, &t);
    // Received bytes go where the transfer's mode says (never to stdout).
    set(CURLOPT_WRITEFUNCTION, &QNFTPHandler::Transfer::write);
    set(CURLOPT_WRITEDATA, &t);
    return failed;
}

QString setUp(CurlHandle &curl, QNFTPHandler::Transfer &t, const QByteArray &url, const Settings &settings,
              QNStringEncoding &encoding, const std::function<bool(CURL *)> &ownOptions)
{
    prepareChecks(t, url, settings);
    if (!curl.handle) {
        const auto taken = QNFTPConnectionPool::shared().take(identityOf(t, settings, encoding), &curl.lease, curl.fresh);
        curl.handle = taken.handle;
        curl.multi = taken.multi;
        curl.pooled = true;
    }
    if (!curl.handle)
        return QString::fromLatin1(QNFTPErrorTexts::text(CURLE_FAILED_INIT));
    t.connection = &curl;
    std::function<void(const QByteArray &)> hook;
    {
        std::lock_guard lock(settingsMutex());
        hook = transferStartHook();
    }
    if (hook)
        hook(url);
    const QString failed = configure(curl.handle, t, url, settings, encoding);
    if (!failed.isNull())
        return failed;
    if (ownOptions && !ownOptions(curl.handle))
        return QStringLiteral("The transfer could not be set up.");
    return {};
}

namespace {

// A transfer that failed as a connection does when the server closed it:
// nothing said, or the server's "421" goodbye.
bool connectionWasGone(CURLcode code, CURL *h)
{
    long reply = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &reply);
    return code == CURLE_SEND_ERROR || code == CURLE_RECV_ERROR || code == CURLE_GOT_NOTHING ||
           code == CURLE_SSH || reply == 421;
}

// Whether the library waits on no socket at all: it then has work to do at
// once, though it set no timer for it.
bool waitsOnNoSocket(CURLM *multi)
{
    fd_set read, write, error;
    FD_ZERO(&read);
    FD_ZERO(&write);
    FD_ZERO(&error);
    int maxFd = -1;
    return curl_multi_fdset(multi, &read, &write, &error, &maxFd) == CURLM_OK && maxFd == -1;
}

// The other end closed the connection (or reset it): what a server that
// went away, or a network that cut it, leaves.
bool closedByPeer(curl_socket_t socket)
{
    char byte;
    const ssize_t n = ::recv(socket, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    return n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR);
}

// Runs the transfer to its end through the connection's multi handle.
// libcurl 7.88 at times leaves work it has to do with no socket to wait on
// and no timer set (an FTP data connection to open after the server's
// passive reply, now and then) and would sleep its full second, as
// curl_easy_perform() does, the curl tool included. It then runs
// again at once; a few times in a row at most (a socket numbered beyond
// what an fd_set holds is not shown either), and every wait is cut short
// after a few milliseconds.
CURLcode runTransfer(CurlHandle &curl)
{
    if (curl_multi_add_handle(curl.multi, curl.handle) != CURLM_OK)
        return CURLE_FAILED_INIT;
    CURLcode result = CURLE_FAILED_INIT;
    int running = 1;
    int runsAtOnce = 0;
    while (running) {
        if (curl_multi_perform(curl.multi, &running) != CURLM_OK)
            break;
        if (!running)
            break;
        if (runsAtOnce < 3 && waitsOnNoSocket(curl.multi)) {
            ++runsAtOnce;
            continue;
        }
        runsAtOnce = 0;
        curl_multi_poll(curl.multi, nullptr, 0, 5, nullptr);
    }
    int left = 0;
    while (CURLMsg *message = curl_multi_info_read(curl.multi, &left))
        if (message->msg == CURLMSG_DONE && message->easy_handle == curl.handle)
            result = message->data.result;
    // Asked while the handle is still in the multi handle, whose cache holds
    // the connection when the library kept it.
    curl_socket_t active = CURL_SOCKET_BAD;
    const bool held = curl_easy_getinfo(curl.handle, CURLINFO_ACTIVESOCKET, &active) == CURLE_OK &&
                      active != CURL_SOCKET_BAD;
    curl.lost = held && result != CURLE_OK && closedByPeer(active);
    curl.open = held && !curl.lost;
    curl_multi_remove_handle(curl.multi, curl.handle);
    // A connection the library made anew is as old as this transfer.
    if (curl.open && curl.pooled && active != curl.lease.socket) {
        curl.lease.made = std::chrono::steady_clock::now();
        curl.lease.socket = int(active);
    }
    return result;
}

// A command that changes the server may have reached it: an FTP one was
// seen going out; an SFTP one goes out unseen, first on a kept connection,
// or after an upload's last byte.
bool changeMayHaveRun(const QNFTPHandler::Transfer &t)
{
    return t.changeSent ||
           (t.protocol == QLatin1String("SFTP") && !t.changeCommands.isEmpty() && (t.onlyCommands || t.readEnded));
}

}  // namespace

// An FTP command went out and no reply came after it; an SFTP one may
// have, and the transfer failed with its connection gone (the library
// calls that a failed command too).
bool answerLost(CURLcode code, const QNFTPHandler::Transfer &t)
{
    if (t.protocol != QLatin1String("SFTP"))
        return t.changeSent && t.changeUnanswered;
    const bool connectionLost = t.connection && t.connection->lost;
    return changeMayHaveRun(t) && (connectionLost || code == CURLE_SEND_ERROR || code == CURLE_RECV_ERROR ||
                                   code == CURLE_GOT_NOTHING || code == CURLE_SSH ||
                                   code == CURLE_OPERATION_TIMEDOUT);
}

CURLcode perform(CurlHandle &curl, QNFTPHandler::Transfer &t)
{
    const CURLcode code = runTransfer(curl);
    const bool nothingMoved = !t.ioFailed && !t.readStarted && t.received == 0;
    if (code == CURLE_OK || !curl.pooled || !curl.lease.kept || !nothingMoved || !connectionWasGone(code, curl.handle))
        return code;
    if (t.watchCancel && t.handler->isCancelled())
        return code;
    long made = 0;
    if (curl_easy_getinfo(curl.handle, CURLINFO_NUM_CONNECTS, &made) != CURLE_OK || made > 0)
        return code;  // a new connection failed, not the kept one
    // Sent again, a removal the server carried out would fail as "no such
    // file", and a rename or a new folder the same.
    if (changeMayHaveRun(t))
        return code;
    VNLog::log(QStringLiteral("QNFTPHandler: the kept connection to %1 was closed by the server; the transfer "
                              "runs again on a new one")
                   .arg(t.server));
    curl_easy_setopt(curl.handle, CURLOPT_FRESH_CONNECT, 1L);
    const CURLcode again = runTransfer(curl);
    // The handle may serve more transfers (links of a listing): each
    // takes the connection the retry made, not one of its own.
    curl_easy_setopt(curl.handle, CURLOPT_FRESH_CONNECT, 0L);
    return again;
}

// The own options of a transfer that only sends commands: FTP commands go
// after the library changed into the URL's folder, SFTP ones act on server
// paths. Nothing is transferred.
std::function<bool(CURL *)> commandOptions(bool sftp, const CurlList &commands)
{
    return [sftp, list = commands.list](CURL *h) {
        return curl_easy_setopt(h, CURLOPT_NOBODY, 1L) == CURLE_OK &&
               curl_easy_setopt(h, sftp ? CURLOPT_QUOTE : CURLOPT_PREQUOTE, list) == CURLE_OK;
    };
}

// A transfer's result. A local file that failed (even after the library was
// done, such as a download's file failing to close) fails the transfer.
// The certificate the server showed in this transfer (PEM), if any.
QByteArray serverCertificate(CURL *h)
{
    curl_certinfo *info = nullptr;
    if (!h || curl_easy_getinfo(h, CURLINFO_CERTINFO, &info) != CURLE_OK || !info || info->num_of_certs < 1)
        return {};
    for (curl_slist *field = info->certinfo[0]; field; field = field->next)
        if (std::strncmp(field->data, "Cert:", 5) == 0)
            return QByteArray(field->data + 5);
    return {};
}

bool serverRefused(CURLcode code, const QNFTPHandler::Transfer &t)
{
    return code == CURLE_SSL_PINNEDPUBKEYNOTMATCH || code == CURLE_PEER_FAILED_VERIFICATION ||
           t.hostKeyChanged || t.hostKeyTypeRefused ||
           !t.knownHostsProblem.isNull() || !t.knownHostsWriteProblem.isNull();
}

namespace {

// The server's key or certificate was refused: whatever connection to it is
// kept was made before, and serves no more.
void forgetRefusedServer(CURLcode code, const QNFTPHandler::Transfer &t)
{
    if (serverRefused(code, t) && !t.server.isEmpty()) {
        VNLog::log(QStringLiteral("QNFTPHandler: every kept connection to %1 is closed").arg(t.server));
        QNFTPConnectionPool::shared().forgetServer(t.server);
    }
}

}  // namespace

Outcome outcomeOf(CURLcode code, QNFTPHandler::Transfer &t, bool cancelled)
{
    // Only a connection whose transfer went well serves the next one.
    if (t.connection)
        t.connection->keep = code == CURLE_OK && !t.ioFailed;
    forgetRefusedServer(code, t);
    if (code == CURLE_OK && !t.ioFailed) {
        if (!t.certificateServer.isEmpty() && t.pinnedCertificate.isNull()) {
            const auto seen = QNFTPCertificateMemory::entryOfCertificate(serverCertificate(t.handle));
            if (!seen.isNull() && QNFTPCertificateMemory(t.settings->certificatesFile()).remember(t.certificateServer, seen)) {
                VNLog::log(QStringLiteral("QNFTPHandler remembered the certificate of %1 (SHA-256 %2)")
                               .arg(t.certificateServer, seen.fingerprint));
                t.pinnedCertificate = seen;
                rememberedOnThisConnection(t);
            }
        }
        if (t.hostKeyAdded)
            rememberedOnThisConnection(t);
        return {};
    }
    if (code == CURLE_ABORTED_BY_CALLBACK && cancelled && !t.ioFailed)
        return {true, nullptr};
    QString text;
    if (code == CURLE_SSL_PINNEDPUBKEYNOTMATCH && !t.pinnedCertificate.isNull()) {
        const auto seen = QNFTPCertificateMemory::entryOfCertificate(serverCertificate(t.handle));
        text = QStringLiteral("The server's certificate has changed since the first login (it was SHA-256 %1, it is "
                              "now SHA-256 %2), so the connection was refused before the password was sent: the "
                              "server may be an impostor. If its certificate was changed on purpose, remove the line "
                              "of %3 from %4.")
                   .arg(t.pinnedCertificate.fingerprint,
                        seen.isNull() ? QStringLiteral("(unreadable)") : seen.fingerprint, t.certificateServer,
                        t.settings->certificatesFile());
    } else if (!t.knownHostsProblem.isNull()) {
        text = QStringLiteral("The file of remembered SSH host keys %1 cannot be read (%2), so the server's key "
                              "cannot be checked and the connection was refused.")
                   .arg(t.settings->knownHostsFile, t.knownHostsProblem);
    } else if (!t.knownHostsWriteProblem.isNull()) {
        text = QStringLiteral("The file of remembered SSH host keys %1 cannot be written (%2), so the server's new "
                              "key cannot be remembered and the connection was refused.")
                   .arg(t.settings->knownHostsFile, t.knownHostsWriteProblem);
    } else if (t.hostKeyTypeRefused ||
               (!t.hostKeySeen && !t.rememberedKeyTypes.isEmpty() &&
                (code == CURLE_FAILED_INIT || code == CURLE_SSH) &&
                t.log.text().contains(QLatin1String("Unable to exchange encryption keys")))) {
        // Asked for a remembered type, the server showed another one, or
        // had none of it and no key exchange came about.
        QStringList types;
        for (const QByteArray &type : t.rememberedKeyTypes)
            types << QString::fromLatin1(type);
        text = QStringLiteral("The server %1 on port %2 did not show a host key of the type remembered for it (%3), "
                              "so the connection was refused: the server may be an impostor. If its keys were changed "
                              "on purpose, remove its entry from %4.")
                   .arg(t.sshHost)
                   .arg(t.sshPort)
                   .arg(types.join(QStringLiteral(", ")), t.settings->knownHostsFile);
    } else if (t.hostKeyRevoked) {
        text = QStringLiteral("The server's host key is revoked in %1, so the connection was refused before the "
                              "password was sent.")
                   .arg(t.settings->knownHostsFile);
    } else if (t.hostKeyChanged) {
        text = QStringLiteral("The server's host key has changed since the first login, so the connection was "
                              "refused: the server may be an impostor. If its key was changed on purpose, remove "
                              "its entry from %1.")
                   .arg(t.settings->knownHostsFile);
    } else if (t.ioFailed && t.mode == QNFTPHandler::Transfer::Mode::Buffer) {
        text = t.ioError;  // a listing past its bound says so itself
    } else if (t.ioFailed && t.mode == QNFTPHandler::Transfer::Mode::ReadFile) {
        text = QString::fromLatin1(QNFTPErrorTexts::text(CURLE_READ_ERROR)) + QStringLiteral(" (%1)").arg(t.ioError);
    } else if (t.ioFailed) {
        text = QString::fromLatin1(QNFTPErrorTexts::text(CURLE_WRITE_ERROR)) + QStringLiteral(" (%1)").arg(t.ioError);
    } else if (code == CURLE_LOGIN_DENIED) {
        // The table's text names FTP for every protocol: the refusal names
        // the one the drive speaks.
        text = t.protocol + QStringLiteral(": login denied");
    } else {
        text = QString::fromLatin1(QNFTPErrorTexts::text(uint32_t(code)));
    }
    const VNErrorPtr error = ftpError(text + t.log.text());
    // Trying again can only meet the same refusal: whoever asks (the
    // question before a copy) offers no "anyway".
    return {false, serverRefused(code, t) ? QNCloudInterface::refusingServer(error) : error};
}

// Runs server commands (see commandOptions): FTP commands in the folder the
// URL names, or SFTP commands on server paths.
Outcome performCommands(QNFTPHandler *handler, const Settings &settings, QNStringEncoding &encoding,
                        const QByteArray &url, CurlList &commands, bool watchCancel, CurlHandle *reuse)
{
    if (reuse) {
        CurlHandle borrowed(reuse);
        return performCommandsOn(borrowed, handler, settings, encoding, url, commands, watchCancel);
    }
    CurlHandle own;
    return performCommandsOn(own, handler, settings, encoding, url, commands, watchCancel);
}

Outcome performCommandsOn(CurlHandle &curl, QNFTPHandler *handler, const Settings &settings,
                          QNStringEncoding &encoding, const QByteArray &url, CurlList &commands, bool watchCancel)
{
    if (!commands.list || commands.failed)
        return {false, ftpError(QString::fromLatin1(QNFTPErrorTexts::text(CURLE_OUT_OF_MEMORY)))};
    QNFTPHandler::Transfer t(handler, settings.password);
    t.watchCancel = watchCancel;
    t.onlyCommands = true;
    t.changeCommands = commands.lines;
    if (curl.handle && curl.owned)
        curl_easy_reset(curl.handle);  // the last commands' options go
    const QString setupError = setUp(curl, t, url, settings, encoding, commandOptions(settings.sftp, commands));
    if (!setupError.isNull())
        return {false, ftpError(setupError)};
    const CURLcode code = perform(curl, t);
    Outcome outcome = outcomeOf(code, t, watchCancel && handler->isCancelled());
    outcome.answerLost = outcome.error && answerLost(code, t);
    return outcome;
}

void answerOnMain(std::function<void()> answer)
{
    VNDispatch::mainAsync(std::move(answer));
}

void logError(const char *operation, const VNErrorPtr &error)
{
    const QString text = error->localizedDescription();
    VNLog::log(QStringLiteral("QNFTPHandler %1 error: %2").arg(QLatin1String(operation), text.section(QLatin1Char('\n'), 0, 0)));
}

}  // namespace QNFTPInternal
