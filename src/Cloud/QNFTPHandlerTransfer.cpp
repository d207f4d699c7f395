// The libcurl plumbing of QNFTPHandler: a transfer's shared options, its
// outcome, and server commands.
#include "Cloud/QNFTPHandler.h"
#include "Cloud/QNFTPHandlerInternal.h"

#include "Cloud/QNFTPCertificateMemory.h"
#include "Cloud/QNFTPErrorTexts.h"
#include "Cloud/QNFTPTransferLog.h"
#include "Cloud/QNStringEncoding.h"
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

// The library's debug output: protocol text goes to the transfer log, file
// and listing bytes do not.
int debugToLog(CURL *, curl_infotype type, char *data, size_t size, void *userdata)
{
    auto *log = static_cast<QNFTPTransferLog *>(userdata);
    switch (type) {
    case CURLINFO_TEXT:
        log->add(QNFTPTransferLog::Kind::Text, data, size);
        break;
    case CURLINFO_HEADER_IN:
        log->add(QNFTPTransferLog::Kind::Received, data, size);
        break;
    case CURLINFO_HEADER_OUT:
        log->add(QNFTPTransferLog::Kind::Sent, data, size);
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

QString serverOf(const QNDriveConfig &config)
{
    const QUrl url(QNDriveConfig::withFileServerScheme(config.url(), config.isSFTP()));
    const QString scheme = url.scheme().toLower();
    const int port = url.port(scheme == QLatin1String("sftp") ? 22 : scheme == QLatin1String("ftps") ? 990 : 21);
    return url.host().toLower() + QLatin1Char(':') + QString::number(port);
}

QByteArray driveDigest(const QNDriveConfig &config)
{
    const QUrl url(QNDriveConfig::withFileServerScheme(config.url(), config.isSFTP()));
    QCryptographicHash digest(QCryptographicHash::Sha256);
    for (const QString &part : {url.scheme().toLower(), url.authority(QUrl::FullyEncoded), config.username(),
                                config.password(), QString::number(config.stringEncoding())}) {
        digest.addData(part.toUtf8());
        digest.addData(QByteArrayView("\0", 1));
    }
    const char switches[] = {char(config.useSSL()), char(config.validateCertificates()), char(config.ftpActive())};
    digest.addData(QByteArrayView(switches, sizeof switches));
    return digest.result();
}

namespace {

// What the server will be checked against, read before a connection is
// chosen: the certificate or host key remembered for it.
void prepareChecks(QNFTPHandler::Transfer &t, const QByteArray &url, const QNDriveConfig &config, bool sftp)
{
    if (sftp)
        t.protocol = QStringLiteral("SFTP");
    else if (config.useSSL() || url.toLower().startsWith("ftps://"))
        t.protocol = QStringLiteral("FTPS");
    t.server = serverOf(config);
    const QUrl parsed(QString::fromUtf8(url));
    if (config.useSSL() && !sftp && !config.validateCertificates()) {
        // Not validated against authorities: the certificate the server
        // showed at the first login must be the one it shows now.
        t.certificateServer = parsed.host() + QLatin1Char(':') +
                              QString::number(parsed.port(parsed.scheme() == QLatin1String("ftps") ? 990 : 21));
        t.pinnedCertificate = QNFTPCertificateMemory(QNFTPHandler::certificatesFile()).lookup(t.certificateServer);
    }
    if (sftp) {
        // Keys are remembered per host and port (the library's own file
        // handling knows the host alone).
        t.sshHost = parsed.host();
        t.sshPort = parsed.port(22);
        t.remembered = QNSSHKnownHosts(QNFTPHandler::knownHostsFile()).remembered(t.sshHost, t.sshPort);
    }
}

// Adds a part to a digest so that no two lists of parts give one text.
void addPart(QCryptographicHash &digest, const QByteArray &part)
{
    digest.addData(QByteArray::number(part.size()) + ':');
    digest.addData(part);
}

// The session part of a connection's identity: its login and what the
// server was trusted for when the connection was made.
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
    }
    return session.result();
}

// Whose connection this transfer may use: the drive's, logging in with the
// same bytes and trusting what the server was trusted for when it was made.
// A remembered key or certificate that changed since asks for a new
// connection, which the check then meets.
QNFTPConnectionPool::Identity identityOf(QNFTPHandler::Transfer &t, const QNDriveConfig &config,
                                         QNStringEncoding &encoding)
{
    QCryptographicHash base(QCryptographicHash::Sha256);
    addPart(base, encoding.encode(config.username()).value_or(QByteArray()));
    addPart(base, encoding.encode(config.password()).value_or(QByteArray()));
    // The files keys and certificates are remembered in (the certificates'
    // beside the keys').
    addPart(base, QNFTPHandler::knownHostsFile().toUtf8());
    if (config.validateCertificates())
        addPart(base, QNFTPHandler::certificateAuthorityFile().toUtf8());
    t.sessionBase = base.result();
    return {t.server, driveDigest(config), sessionDigest(t)};
}

// A first meeting remembered the server's key or certificate: the
// connection that met it is the one trusted for it from now on.
void rememberedOnThisConnection(QNFTPHandler::Transfer &t)
{
    if (t.protocol == QLatin1String("SFTP"))
        t.remembered = QNSSHKnownHosts(QNFTPHandler::knownHostsFile()).remembered(t.sshHost, t.sshPort);
    if (t.connection && t.connection->pooled)
        t.connection->lease.identity.session = sessionDigest(t);
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
QString configure(CURL *h, QNFTPHandler::Transfer &t, const QByteArray &url, const QNDriveConfig &config,
                  QNStringEncoding &encoding, bool sftp)
{
    QString failed;
    auto set = [&](CURLoption option, auto value) {
        if (failed.isNull() && curl_easy_setopt(h, option, value) != CURLE_OK)
            failed = QStringLiteral("The transfer could not be set up (option %1).").arg(int(option));
    };
    if (config.useSSL()) {
        set(CURLOPT_USE_SSL, long(CURLUSESSL_ALL));
        // At most TLS 1.2: over TLS 1.3 the server's session tickets arrive
        // unread on an upload's data connection, closing it then resets it,
        // and vsftpd (the most common server) fails the upload ("426 Failure
        // reading network stream") most of the time.
        if (!sftp)
            set(CURLOPT_SSLVERSION, long(CURL_SSLVERSION_DEFAULT) | long(CURL_SSLVERSION_MAX_TLSv1_2));
    }
    if (config.ftpActive())
        set(CURLOPT_FTPPORT, "-");
    set(CURLOPT_NOSIGNAL, 1L);
    // Only the drive's own protocols: never HTTP or another protocol that
    // would send the credentials in a header, whatever the URL says.
    set(CURLOPT_PROTOCOLS_STR, "ftp,ftps,sftp");
    set(CURLOPT_REDIR_PROTOCOLS_STR, "ftp,ftps,sftp");
    set(CURLOPT_VERBOSE, 1L);
    set(CURLOPT_DEBUGFUNCTION, &debugToLog);
    set(CURLOPT_DEBUGDATA, &t.log);
    const bool verify = config.validateCertificates();
    set(CURLOPT_SSL_VERIFYPEER, verify ? 1L : 0L);
    set(CURLOPT_SSL_VERIFYHOST, verify ? 2L : 0L);
    const QString caFile = QNFTPHandler::certificateAuthorityFile();
    if (verify && !caFile.isEmpty())
        set(CURLOPT_CAINFO, QFile::encodeName(caFile).constData());
    t.handle = h;
    if (!t.certificateServer.isEmpty()) {
        // The library checks the certificate's key before the password is sent.
        set(CURLOPT_CERTINFO, 1L);
        if (!t.pinnedCertificate.isNull())
            set(CURLOPT_PINNEDPUBLICKEY, ("sha256//" + t.pinnedCertificate.pin).constData());
    }
    set(CURLOPT_URL, url.constData());
    const QString username = config.username();
    if (!username.isEmpty()) {
        const auto user = encoding.encode(username);
        const auto password = encoding.encode(config.password());
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

QString setUp(CurlHandle &curl, QNFTPHandler::Transfer &t, const QByteArray &url, const QNDriveConfig &config,
              QNStringEncoding &encoding, bool sftp, const std::function<bool(CURL *)> &ownOptions)
{
    prepareChecks(t, url, config, sftp);
    if (!curl.handle) {
        const auto taken = QNFTPConnectionPool::shared().take(identityOf(t, config, encoding), &curl.lease, curl.fresh);
        curl.handle = taken.handle;
        curl.multi = taken.multi;
        curl.pooled = true;
    }
    if (!curl.handle)
        return QString::fromLatin1(QNFTPErrorTexts::text(CURLE_FAILED_INIT));
    t.connection = &curl;
    const QString failed = configure(curl.handle, t, url, config, encoding, sftp);
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
    curl_multi_remove_handle(curl.multi, curl.handle);
    return result;
}

}  // namespace

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
    VNLog::log(QStringLiteral("QNFTPHandler: the kept connection to %1 was closed by the server; the transfer "
                              "runs again on a new one")
                   .arg(t.server));
    curl_easy_setopt(curl.handle, CURLOPT_FRESH_CONNECT, 1L);
    return runTransfer(curl);
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

namespace {

// The server's key or certificate was refused: whatever connection to it is
// kept was made before, and serves no more.
void forgetRefusedServer(CURLcode code, const QNFTPHandler::Transfer &t)
{
    const bool refused = code == CURLE_SSL_PINNEDPUBKEYNOTMATCH || code == CURLE_PEER_FAILED_VERIFICATION ||
                         t.hostKeyChanged || t.hostKeyTypeRefused || !t.knownHostsProblem.isNull() ||
                         !t.knownHostsWriteProblem.isNull();
    if (refused && !t.server.isEmpty()) {
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
            if (!seen.isNull() && QNFTPCertificateMemory(QNFTPHandler::certificatesFile()).remember(t.certificateServer, seen)) {
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
                        QNFTPHandler::certificatesFile());
    } else if (!t.knownHostsProblem.isNull()) {
        text = QStringLiteral("The file of remembered SSH host keys %1 cannot be read (%2), so the server's key "
                              "cannot be checked and the connection was refused.")
                   .arg(QNFTPHandler::knownHostsFile(), t.knownHostsProblem);
    } else if (!t.knownHostsWriteProblem.isNull()) {
        text = QStringLiteral("The file of remembered SSH host keys %1 cannot be written (%2), so the server's new "
                              "key cannot be remembered and the connection was refused.")
                   .arg(QNFTPHandler::knownHostsFile(), t.knownHostsWriteProblem);
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
                   .arg(types.join(QStringLiteral(", ")), QNFTPHandler::knownHostsFile());
    } else if (t.hostKeyChanged) {
        text = QStringLiteral("The server's host key has changed since the first login, so the connection was "
                              "refused: the server may be an impostor. If its key was changed on purpose, remove "
                              "its entry from %1.")
                   .arg(QNFTPHandler::knownHostsFile());
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
    return {false, ftpError(text + t.log.text())};
}

// Runs server commands (see commandOptions): FTP commands in the folder the
// URL names, or SFTP commands on server paths.
Outcome performCommands(QNFTPHandler *handler, const QNDriveConfig &config, bool sftp, QNStringEncoding &encoding,
                        const QByteArray &url, CurlList &commands, bool watchCancel, const CurlHandle *reuse)
{
    if (reuse) {
        CurlHandle borrowed(reuse);
        return performCommandsOn(borrowed, handler, config, sftp, encoding, url, commands, watchCancel);
    }
    CurlHandle own;
    return performCommandsOn(own, handler, config, sftp, encoding, url, commands, watchCancel);
}

Outcome performCommandsOn(CurlHandle &curl, QNFTPHandler *handler, const QNDriveConfig &config, bool sftp,
                          QNStringEncoding &encoding, const QByteArray &url, CurlList &commands, bool watchCancel)
{
    if (!commands.list || commands.failed)
        return {false, ftpError(QString::fromLatin1(QNFTPErrorTexts::text(CURLE_OUT_OF_MEMORY)))};
    QNFTPHandler::Transfer t(handler, config.password());
    t.watchCancel = watchCancel;
    if (curl.handle && curl.owned)
        curl_easy_reset(curl.handle);  // the last commands' options go
    const QString setupError = setUp(curl, t, url, config, encoding, sftp, commandOptions(sftp, commands));
    if (!setupError.isNull())
        return {false, ftpError(setupError)};
    const CURLcode code = perform(curl, t);
    return outcomeOf(code, t, watchCancel && handler->isCancelled());
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
