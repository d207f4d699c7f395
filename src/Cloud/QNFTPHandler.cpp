#include "Cloud/QNFTPHandler.h"

#include "Cloud/QNFTPCertificateMemory.h"
#include "Cloud/QNFTPEncodingMemory.h"
#include "Cloud/QNFTPErrorTexts.h"
#include "Cloud/QNFTPListingCommandMemory.h"
#include "Cloud/QNFTPListingParser.h"
#include "Cloud/QNFTPLocation.h"
#include "Cloud/QNFTPTransferLog.h"
#include "Cloud/QNStringEncoding.h"
#include "Core/QNCloudInterfaceFactory.h"
#include "Platform/VNDispatch.h"
#include "Platform/VNLog.h"
#include "Platform/VNOperationQueue.h"
#include "Platform/VNUserDefaults.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QUrl>
#include <curl/curl.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <mutex>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kDomain = QStringLiteral("QNFTPHandler");

std::mutex &settingsMutex()
{
    static std::mutex m;
    return m;
}
QString &caFileSetting()
{
    static QString s;
    return s;
}
QString &knownHostsSetting()
{
    static QString s;
    return s;
}
std::atomic<int> stallTimeoutSeconds{60};

// A listing larger than this is no listing.
constexpr qsizetype kMaxListingBytes = 512LL * 1024 * 1024;

VNErrorPtr ftpError(const QString &text)
{
    QVariantMap info;
    info.insert(VNError::localizedDescriptionKey(), text);
    info.insert(QStringLiteral("error"), text);
    return std::make_shared<VNError>(kDomain, 42, info);
}

struct CurlHandle {
    CURL *handle = curl_easy_init();
    bool owned = true;
    ~CurlHandle()
    {
        if (handle && owned)
            curl_easy_cleanup(handle);
    }
    CurlHandle() = default;
    // Another transfer's handle, its options cleared: its connection is
    // used again instead of logging in anew.
    explicit CurlHandle(CURL *borrowed) : handle(borrowed), owned(false) { curl_easy_reset(handle); }
    CurlHandle(const CurlHandle &) = delete;
    CurlHandle &operator=(const CurlHandle &) = delete;
};

struct CurlList {
    curl_slist *list = nullptr;
    bool failed = false;  // an append failed: the list is incomplete
    CurlList() = default;
    CurlList(const CurlList &) = delete;
    CurlList &operator=(const CurlList &) = delete;
    ~CurlList() { curl_slist_free_all(list); }
    bool append(const QByteArray &command)
    {
        curl_slist *next = curl_slist_append(list, command.constData());
        if (!next) {
            failed = true;
            return false;
        }
        list = next;
        return true;
    }
};

// The process's umask, read without changing it (other threads create files).
mode_t currentUmask()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : status.readAll().split('\n')) {
            if (line.startsWith("Umask:")) {
                bool ok = false;
                const uint mask = line.mid(6).trimmed().toUInt(&ok, 8);
                if (ok)
                    return mode_t(mask & 0777);
            }
        }
    }
    const mode_t mask = ::umask(022);
    ::umask(mask);
    return mask;
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

}  // namespace

// One transfer's state, shared with libcurl's callbacks on the worker.
struct QNFTPHandler::Transfer {
    // Probe: the first data byte answers the question; the transfer stops there.
    enum class Mode { None, Discard, Buffer, WriteFile, ReadFile, Probe };

    Transfer(QNFTPHandler *owner, const QString &password) : handler(owner), log(password) {}

    QNFTPHandler *handler;
    QNFTPTransferLog log;
    Mode mode = Mode::None;
    QByteArray buffer;
    int fd = -1;
    bool ioFailed = false;
    QString ioError;
    bool readStarted = false;
    bool watchCancel = true;
    QNProgressCallback progress;
    bool progressIsUpload = false;
    double lastFraction = -1;
    QElapsedTimer sinceProgress;
    bool hostKeyChanged = false;
    bool probeAnswered = false;
    bool sftp = false;  // the protocol errors are named after
    CURL *handle = nullptr;
    // FTPS without validation: the server's remembered certificate, or
    // where to remember it after the first login.
    QString certificateServer;
    QNFTPCertificateMemory::Entry pinnedCertificate;

    static size_t write(char *data, size_t size, size_t count, void *userdata)
    {
        auto *t = static_cast<Transfer *>(userdata);
        const size_t n = size * count;
        switch (t->mode) {
        case Mode::Probe:
            t->probeAnswered = true;
            return 0;
        case Mode::Buffer:
            if (t->buffer.size() + qsizetype(n) > kMaxListingBytes) {
                t->ioFailed = true;
                t->ioError = QStringLiteral("the listing is too large");
                return 0;
            }
            t->buffer.append(data, qsizetype(n));
            return n;
        case Mode::WriteFile: {
            size_t done = 0;
            while (done < n) {
                const ssize_t w = ::write(t->fd, data + done, n - done);
                if (w < 0) {
                    if (errno == EINTR)
                        continue;
                    t->ioFailed = true;
                    t->ioError = systemError(errno);
                    return 0;
                }
                done += size_t(w);
            }
            return n;
        }
        default:
            return n;
        }
    }

    static size_t read(char *data, size_t size, size_t count, void *userdata)
    {
        auto *t = static_cast<Transfer *>(userdata);
        t->readStarted = true;
        for (;;) {
            const ssize_t r = ::read(t->fd, data, size * count);
            if (r >= 0)
                return size_t(r);
            if (errno == EINTR)
                continue;
            t->ioFailed = true;
            t->ioError = systemError(errno);
            return CURL_READFUNC_ABORT;
        }
    }

    static int progressCallback(void *userdata, curl_off_t downloadTotal, curl_off_t downloadNow,
                                curl_off_t uploadTotal, curl_off_t uploadNow)
    {
        auto *t = static_cast<Transfer *>(userdata);
        if (t->watchCancel && t->handler->isCancelled())
            return 1;
        if (!t->progress)
            return 0;
        double fraction = -1;
        if (t->progressIsUpload) {
            if (uploadTotal > 0)
                fraction = double(uploadNow) / double(uploadTotal);
        } else {
            const qint64 total = downloadTotal > 0 ? qint64(downloadTotal) : t->handler->fileSize();
            if (total > 0)
                fraction = double(downloadNow) / double(total);
        }
        if (fraction < 0)
            return 0;
        fraction = qMin(fraction, 1.0);
        // Reported when it moved a tenth of a percent, reached the end, or a
        // fifth of a second went by; not for every block.
        const bool moved = fraction - t->lastFraction >= 0.001 || (fraction >= 1.0 && t->lastFraction < 1.0) ||
                           (fraction != t->lastFraction && t->sinceProgress.elapsed() >= 200);
        if (moved) {
            t->lastFraction = fraction;
            t->sinceProgress.restart();
            t->progress(fraction);
        }
        return 0;
    }

    static int hostKey(CURL *, const curl_khkey *, const curl_khkey *, curl_khmatch match, void *userdata)
    {
        auto *t = static_cast<Transfer *>(userdata);
        switch (match) {
        case CURLKHMATCH_OK:
            return CURLKHSTAT_FINE;
        case CURLKHMATCH_MISSING:
            // First login to this server: remember its key.
            return CURLKHSTAT_FINE_ADD_TO_FILE;
        default:
            t->hostKeyChanged = true;
            return CURLKHSTAT_REJECT;
        }
    }
};

namespace {

// Sets the options every transfer shares; an error text when one cannot be set.
QString configure(CURL *h, QNFTPHandler::Transfer &t, const QByteArray &url, const QNDriveConfig &config,
                  QNStringEncoding &encoding, bool sftp)
{
    QString failed;
    t.sftp = sftp;
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
    if (config.useSSL() && !sftp && !verify) {
        // Not validated against authorities: the certificate the server
        // showed at the first login must be the one it shows now. The
        // library checks its key before the password is sent.
        const QUrl parsed(QString::fromUtf8(url));
        t.certificateServer = parsed.host() + QLatin1Char(':') +
                              QString::number(parsed.port(parsed.scheme() == QLatin1String("ftps") ? 990 : 21));
        t.pinnedCertificate = QNFTPCertificateMemory(QNFTPHandler::certificatesFile()).lookup(t.certificateServer);
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
        const QString knownHosts = QNFTPHandler::knownHostsFile();
        QFileInfo(knownHosts).absoluteDir().mkpath(QStringLiteral("."));
        set(CURLOPT_SSH_KNOWNHOSTS, QFile::encodeName(knownHosts).constData());
        set(CURLOPT_SSH_KEYFUNCTION, &QNFTPHandler::Transfer::hostKey);
        set(CURLOPT_SSH_KEYDATA, &t);
    }
    const long stall = stallTimeoutSeconds.load();
    set(CURLOPT_CONNECTTIMEOUT, stall);
    set(CURLOPT_SERVER_RESPONSE_TIMEOUT, stall);
    set(CURLOPT_LOW_SPEED_LIMIT, 1L);
    set(CURLOPT_LOW_SPEED_TIME, stall);
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

// Sets up a new handle for one transfer: the shared options, then the
// operation's own (ownOptions answers false when one cannot be set). A null
// text when ready, the error text otherwise.
QString setUp(CurlHandle &curl, QNFTPHandler::Transfer &t, const QByteArray &url, const QNDriveConfig &config,
              QNStringEncoding &encoding, bool sftp, const std::function<bool(CURL *)> &ownOptions = {})
{
    if (!curl.handle)
        return QString::fromLatin1(QNFTPErrorTexts::text(CURLE_FAILED_INIT));
    const QString failed = configure(curl.handle, t, url, config, encoding, sftp);
    if (!failed.isNull())
        return failed;
    if (ownOptions && !ownOptions(curl.handle))
        return QStringLiteral("The transfer could not be set up.");
    return {};
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

using Outcome = QNFTPHandler::Outcome;

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

Outcome outcomeOf(CURLcode code, QNFTPHandler::Transfer &t, bool cancelled)
{
    if (code == CURLE_OK && !t.ioFailed) {
        if (!t.certificateServer.isEmpty() && t.pinnedCertificate.isNull()) {
            const auto seen = QNFTPCertificateMemory::entryOfCertificate(serverCertificate(t.handle));
            if (!seen.isNull() && QNFTPCertificateMemory(QNFTPHandler::certificatesFile()).remember(t.certificateServer, seen))
                VNLog::log(QStringLiteral("QNFTPHandler remembered the certificate of %1 (SHA-256 %2)")
                               .arg(t.certificateServer, seen.fingerprint));
        }
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
    } else if (t.hostKeyChanged) {
        text = QStringLiteral("The server's host key has changed since the first login, so the connection was "
                              "refused: the server may be an impostor. If its key was changed on purpose, remove "
                              "its entry from %1.")
                   .arg(QNFTPHandler::knownHostsFile());
    } else if (t.ioFailed && t.mode == QNFTPHandler::Transfer::Mode::ReadFile) {
        text = QString::fromLatin1(QNFTPErrorTexts::text(CURLE_READ_ERROR)) + QStringLiteral(" (%1)").arg(t.ioError);
    } else if (t.ioFailed) {
        text = QString::fromLatin1(QNFTPErrorTexts::text(CURLE_WRITE_ERROR)) + QStringLiteral(" (%1)").arg(t.ioError);
    } else {
        text = QString::fromLatin1(QNFTPErrorTexts::text(uint32_t(code)));
        // The library's texts say "FTP:" for SFTP's faults too ("FTP: login
        // denied"); name the protocol the drive uses.
        if (t.sftp && text.startsWith(QLatin1String("FTP: ")))
            text.prepend(QLatin1Char('S'));
    }
    return {false, ftpError(text + t.log.text())};
}

}  // namespace

QNFTPHandler::QNFTPHandler(QNDriveConfigPtr driveConfig)
    : QNCloudInterface(driveConfig), m_stringEncoding(QNStringEncoding::UTF8)
{
    static std::once_flag curlInit;
    std::call_once(curlInit, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    const quint64 encoding = driveConfig ? driveConfig->stringEncoding() : 0;
    if (encoding == 0 || encoding > 0xFFFFFFFFull) {
        m_shouldDetectStringEncoding = true;
    } else {
        m_stringEncoding = quint32(encoding);
    }
}

QNFTPHandler::~QNFTPHandler() = default;

QNCloudInterfacePtr QNFTPHandler::make(const QNDriveConfigPtr &driveConfig)
{
    return std::make_shared<QNFTPHandler>(driveConfig);
}

void QNFTPHandler::registerHandler()
{
    QNCloudInterfaceFactory::registerHandler(QNCloudInterfaceFactory::Kind::FTP, &QNFTPHandler::make);
}

QString QNFTPHandler::className() const
{
    return kDomain;
}

QString QNFTPHandler::loginCaption()
{
    return QStringLiteral("SHOW DOCUMENTS ON THIS FTP ACCOUNT");
}

void QNFTPHandler::setCertificateAuthorityFile(const QString &path)
{
    std::lock_guard lock(settingsMutex());
    caFileSetting() = path;
}

QString QNFTPHandler::certificateAuthorityFile()
{
    std::lock_guard lock(settingsMutex());
    return caFileSetting();
}

void QNFTPHandler::setKnownHostsFile(const QString &path)
{
    std::lock_guard lock(settingsMutex());
    knownHostsSetting() = path;
}

QString QNFTPHandler::knownHostsFile()
{
    {
        std::lock_guard lock(settingsMutex());
        if (!knownHostsSetting().isEmpty())
            return knownHostsSetting();
    }
    return QFileInfo(VNUserDefaults::standard().filePath()).absolutePath() + QStringLiteral("/ssh_known_hosts");
}

QString QNFTPHandler::certificatesFile()
{
    return QFileInfo(knownHostsFile()).absolutePath() + QStringLiteral("/ftps_certificates");
}

void QNFTPHandler::setStallTimeout(int seconds)
{
    stallTimeoutSeconds.store(qMax(1, seconds));
}

VNOperationQueue &QNFTPHandler::transferQueue()
{
    // Transfers block their worker for their whole length; they get threads
    // of their own. Never destroyed: workers may still run at exit.
    static VNOperationQueue *queue = new VNOperationQueue(QStringLiteral("QNFTPHandler transfers"));
    return *queue;
}

void QNFTPHandler::runOnWorker(std::function<void(QNFTPHandler &)> work)
{
    // The queued work holds the handler: it lives until its transfer ran.
    auto me = std::static_pointer_cast<QNFTPHandler>(shared_from_this());
    transferQueue().addOperation([me, work = std::move(work)] { work(*me); });
}

QString QNFTPHandler::driveKey() const
{
    const auto config = driveConfig();
    return config ? QNFTPEncodingMemory::driveKey(config->url(), config->username()) : QString();
}

quint32 QNFTPHandler::encodingFor(const QString &path) const
{
    if (m_shouldDetectStringEncoding) {
        const quint32 remembered = QNFTPEncodingMemory::lookup(driveKey(), path);
        if (remembered != 0)
            return remembered;
    }
    return m_stringEncoding.load();
}

// ---- operations: each queues its transfer on a worker ----

namespace {

// For callers that want no answer.
QNDocumentCallback ignoreAnswer()
{
    return [](QNDocumentPtr, VNErrorPtr, bool) {};
}

}  // namespace

void QNFTPHandler::login(QNLoginCallback completed)
{
    if (!completed)
        completed = [](bool, VNErrorPtr, bool) {};
    runOnWorker([completed](QNFTPHandler &me) { me.runLogin(completed); });
}

void QNFTPHandler::listDocuments(QNDocumentPtr folder, QString searchKeyword, QNListCallback completed)
{
    if (!completed)
        completed = [](QNDocumentList, QString, VNErrorPtr, bool) {};
    runOnWorker([folder, searchKeyword, completed](QNFTPHandler &me) { me.runList(folder, searchKeyword, completed); });
}

void QNFTPHandler::download(QNDocumentPtr document, QNDocumentPtr destPath, QNProgressCallback progress,
                            QNDocumentCallback completed)
{
    if (!completed)
        completed = ignoreAnswer();
    setDownloadProgress(std::move(progress));
    m_fileSize = document ? document->size() : 0;
    runOnWorker([document, destPath, completed](QNFTPHandler &me) { me.runDownload(document, destPath, completed); });
}

void QNFTPHandler::upload(QNDocumentPtr document, QNDocumentPtr destPath, QNProgressCallback progress,
                          QNDocumentCallback completed)
{
    if (!completed)
        completed = ignoreAnswer();
    setUploadProgress(std::move(progress));
    runOnWorker([document, destPath, completed](QNFTPHandler &me) { me.runUpload(document, destPath, completed); });
}

void QNFTPHandler::createFolder(QString name, QNDocumentPtr destPath, QNDocumentCallback completed)
{
    if (!completed)
        completed = ignoreAnswer();
    runOnWorker([name, destPath, completed](QNFTPHandler &me) { me.runCreateFolder(name, destPath, completed); });
}

void QNFTPHandler::remove(QNDocumentPtr document, QNDocumentCallback completed)
{
    if (!completed)
        completed = ignoreAnswer();
    runOnWorker([document, completed](QNFTPHandler &me) { me.runRemove(document, completed); });
}

void QNFTPHandler::rename(QNDocumentPtr document, QNDocumentPtr name, QNDocumentCallback completed)
{
    if (!completed)
        completed = ignoreAnswer();
    runOnWorker([document, name, completed](QNFTPHandler &me) { me.runRename(document, name, completed); });
}

// ---- workers ----

namespace {

void answerOnMain(std::function<void()> answer)
{
    VNDispatch::mainAsync(std::move(answer));
}

void logError(const char *operation, const VNErrorPtr &error)
{
    const QString text = error->localizedDescription();
    VNLog::log(QStringLiteral("QNFTPHandler %1 error: %2").arg(QLatin1String(operation), text.section(QLatin1Char('\n'), 0, 0)));
}

// The answers of an operation that ends with a document, given on the
// worker; errors are logged under the operation's name.
struct DocumentAnswer {
    const char *operation;
    const QNDocumentCallback &completed;

    void failed(const VNErrorPtr &error) const
    {
        logError(operation, error);
        completed(nullptr, error, false);
    }
    void cancelled() const { completed(nullptr, nullptr, true); }
    // Answers a cancelled or failed transfer; false when it succeeded.
    bool unsuccessful(const Outcome &outcome) const
    {
        if (outcome.cancelled)
            cancelled();
        else if (outcome.error)
            failed(outcome.error);
        return outcome.cancelled || outcome.error;
    }
};

}  // namespace

void QNFTPHandler::runLogin(QNLoginCallback completed)
{
    auto fail = [&](const VNErrorPtr &error) {
        logError("login", error);
        answerOnMain([completed, error] { completed(false, error, false); });
    };
    const auto config = driveConfig();
    if (!config)
        return fail(ftpError(QStringLiteral("The drive has no configuration.")));
    if (isCancelled())
        return completed(false, nullptr, true);

    QNFTPLocation location(config->url(), config->isSFTP());
    QNStringEncoding encoding(encodingFor(QStringLiteral("/")));
    const auto url = location.baseUrl(encoding);
    if (!url.ok())
        return fail(ftpError(url.error));
    Transfer t(this, config->password());
    t.mode = Transfer::Mode::Discard;
    CurlHandle curl;
    const QString setupError = setUp(curl, t, url.bytes, *config, encoding, location.isSFTP());
    if (!setupError.isNull())
        return fail(ftpError(setupError));

    const CURLcode code = curl_easy_perform(curl.handle);
    const Outcome outcome = outcomeOf(code, t, isCancelled());
    if (outcome.cancelled)
        return completed(false, nullptr, true);
    if (outcome.error)
        return fail(outcome.error);
    config->setDescription(loginCaption());
    answerOnMain([completed] { completed(true, nullptr, false); });
}

namespace {

struct ListingFetch {
    Outcome outcome;
    CURLcode code = CURLE_OK;
    long reply = 0;  // the server's last reply code
    QByteArray listing;
};

// Text that no listing format reads, and no "." or ".." line either (which
// every "ls -a" style listing shows): an error message sent as the listing.
bool looksLikeErrorText(const QByteArray &listing)
{
    QByteArray copy = listing;
    QNStringEncoding latin1(QNStringEncoding::ISOLatin1);
    const auto parsed = QNFTPListingParser::parseListing(copy, true, latin1);
    return parsed.items.isEmpty() && parsed.droppedNames.isEmpty() && !parsed.unreadLines.isEmpty();
}

// Whether the server refused "LIST -a": a 5xx reply to it, a 450 ("no such
// file", which the library takes as an empty folder), or an error message
// in place of a listing.
bool refusedHiddenListing(const ListingFetch &f)
{
    if (f.outcome.error)
        return (f.code == CURLE_FTP_COULDNT_RETR_FILE || f.code == CURLE_REMOTE_FILE_NOT_FOUND) && f.reply >= 500 &&
               f.reply < 600;
    return f.reply == 450 || looksLikeErrorText(f.listing);
}

}  // namespace

void QNFTPHandler::runList(QNDocumentPtr folder, QString searchKeyword, QNListCallback completed)
{
    auto fail = [&](const VNErrorPtr &error) {
        logError("listDocuments", error);
        answerOnMain([completed, searchKeyword, error] { completed({}, searchKeyword, error, false); });
    };
    const auto config = driveConfig();
    if (!config)
        return fail(ftpError(QStringLiteral("The drive has no configuration.")));
    if (isCancelled())
        return completed({}, searchKeyword, nullptr, true);

    const QString folderPath = folder && !folder->path().isEmpty() ? folder->path() : QStringLiteral("/");
    QNFTPLocation location(config->url(), config->isSFTP());
    QNStringEncoding encoding(encodingFor(folderPath));
    const auto url = location.folderUrl(folderPath, encoding);
    if (!url.ok())
        return fail(ftpError(url.error));

    // One listing transfer; command replaces the library's plain LIST.
    auto fetch = [&](const char *command) {
        ListingFetch f;
        Transfer t(this, config->password());
        t.mode = Transfer::Mode::Buffer;
        CurlHandle curl;
        const QString setupError = setUp(curl, t, url.bytes, *config, encoding, location.isSFTP(), [&](CURL *h) {
            return !command || curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, command) == CURLE_OK;
        });
        if (!setupError.isNull()) {
            f.outcome.error = ftpError(setupError);
            return f;
        }
        f.code = curl_easy_perform(curl.handle);
        f.outcome = outcomeOf(f.code, t, isCancelled());
        curl_easy_getinfo(curl.handle, CURLINFO_RESPONSE_CODE, &f.reply);
        f.listing = std::move(t.buffer);
        return f;
    };

    // Many servers (vsftpd by default) leave names starting with a dot out
    // of a plain LIST, and a folder copied from that listing would silently
    // miss them. "LIST -a" shows them; a server that refuses it gets plain
    // LIST, for this and (when the refusal is plain) every later listing.
    const QString key = driveKey();
    const bool askHidden = !location.isSFTP() && !QNFTPListingCommandMemory::refusesHiddenListing(key);
    ListingFetch fetched = fetch(askHidden ? "LIST -a" : nullptr);
    if (fetched.outcome.cancelled)
        return completed({}, searchKeyword, nullptr, true);
    if (askHidden && refusedHiddenListing(fetched)) {
        const long refusal = fetched.reply;
        VNLog::log(QStringLiteral("QNFTPHandler listDocuments: the server refused \"LIST -a\" in %1 (reply %2); "
                                  "listing with LIST")
                       .arg(folderPath)
                       .arg(refusal));
        fetched = fetch(nullptr);
        if (fetched.outcome.cancelled)
            return completed({}, searchKeyword, nullptr, true);
        // Remembered only when the server refused the command in so many
        // words, or plain LIST reads where "-a" did not: a folder that cannot
        // be listed at all, an empty one or one listing that no format reads
        // says nothing about the next, and would hide dot files for good.
        const bool refused = refusal >= 500 && refusal < 600;
        if (!fetched.outcome.error && (refused || (!fetched.listing.isEmpty() && !looksLikeErrorText(fetched.listing))))
            QNFTPListingCommandMemory::rememberRefusal(key);
    }
    if (fetched.outcome.error)
        return fail(fetched.outcome.error);
    QByteArray listing = std::move(fetched.listing);

    quint32 listingEncoding = encoding.encoding();
    if (m_shouldDetectStringEncoding) {
        const quint32 guess = QNStringEncoding::detect(listing);
        if (guess != 0 && QNStringEncoding(guess).isAvailable()) {
            listingEncoding = guess;
            m_stringEncoding = guess;
            QNFTPEncodingMemory::remember(key, folderPath, guess);
        }
    }
    QNStringEncoding names(listingEncoding);
    auto parsed = QNFTPListingParser::parseListing(listing, true, names);
    for (const QByteArray &dropped : parsed.droppedNames) {
        if (dropped == "." || dropped == "..")
            continue;
        QString shown = QString::fromUtf8(dropped);
        shown.replace(QChar(0), QLatin1String("\\0"));
        VNLog::log(QStringLiteral("QNFTPHandler listDocuments dropped an entry with an unusable name in %1: \"%2\"")
                       .arg(folderPath, shown));
    }
    if (!parsed.unreadLines.isEmpty()) {
        // Logged as the transfer log is, so no password shows.
        QNFTPTransferLog unread(config->password());
        for (const QByteArray &line : parsed.unreadLines)
            unread.add(QNFTPTransferLog::Kind::Received, line.constData(), size_t(line.size()));
        VNLog::log(QStringLiteral("QNFTPHandler listDocuments could not read %1 line(s) of the listing of %2:%3")
                       .arg(parsed.unreadLines.size())
                       .arg(folderPath, unread.text()));
    }
    if (!resolveLinks(folderPath, parsed.items, names))
        return completed({}, searchKeyword, nullptr, true);
    QNDocumentList documents;
    documents.reserve(parsed.items.size());
    for (const auto &item : parsed.items) {
        auto doc = QNDocument::create();
        doc->setIsDirectory(item.isDirectory);
        QString path = QNFTPLocation::join(folderPath, item.name);
        if (item.isDirectory)
            path += QLatin1Char('/');
        doc->setPath(path);
        doc->setDisplayName(item.name);
        doc->setSize(item.size);
        doc->setDate(item.date);
        documents.append(std::move(doc));
    }
    answerOnMain([completed, documents, searchKeyword] { completed(documents, searchKeyword, nullptr, false); });
}

bool QNFTPHandler::resolveLinks(const QString &folderPath, QList<QNFTPListingParser::Item> &items,
                                QNStringEncoding &encoding)
{
    const auto config = driveConfig();
    QNFTPLocation location(config->url(), config->isSFTP());
    // One handle for all links of the listing: the library keeps the
    // connection between its transfers.
    CurlHandle curl;
    for (auto &item : items) {
        if (item.kind != QNFTPListingParser::Item::Kind::Link)
            continue;
        if (isCancelled())
            return false;
        const QString path = QNFTPLocation::join(folderPath, item.name);
        // A folder when the server changes into it (FTP) or lists it (SFTP,
        // stopping at the first byte); the answer holds for this listing.
        const auto folderUrl = location.folderUrl(path, encoding);
        if (folderUrl.ok()) {
            Transfer t(this, config->password());
            t.mode = location.isSFTP() ? Transfer::Mode::Probe : Transfer::Mode::Discard;
            const bool sftp = location.isSFTP();
            // The handle keeps the options of the link before: set both.
            const QString setupError = setUp(curl, t, folderUrl.bytes, *config, encoding, sftp, [sftp](CURL *h) {
                return curl_easy_setopt(h, CURLOPT_DIRLISTONLY, sftp ? 1L : 0L) == CURLE_OK &&
                       curl_easy_setopt(h, CURLOPT_NOBODY, sftp ? 0L : 1L) == CURLE_OK;
            });
            const CURLcode code = setupError.isNull() ? curl_easy_perform(curl.handle) : CURLE_FAILED_INIT;
            if (code == CURLE_OK || (code == CURLE_WRITE_ERROR && t.probeAnswered)) {
                item.kind = QNFTPListingParser::Item::Kind::Folder;
                item.isDirectory = true;
                item.size = 0;
                continue;
            }
        }
        // Otherwise a file: the size and date are the target's. A link to
        // nothing stays a file that cannot be read, so copying it fails
        // with its name, as any unreadable file does.
        item.kind = QNFTPListingParser::Item::Kind::File;
        item.isDirectory = false;
        const auto fileUrl = location.fileUrl(path, encoding);
        if (!fileUrl.ok())
            continue;
        Transfer t(this, config->password());
        t.mode = Transfer::Mode::Discard;
        const QString setupError = setUp(curl, t, fileUrl.bytes, *config, encoding, location.isSFTP(), [](CURL *h) {
            return curl_easy_setopt(h, CURLOPT_DIRLISTONLY, 0L) == CURLE_OK &&
                   curl_easy_setopt(h, CURLOPT_NOBODY, 1L) == CURLE_OK &&
                   curl_easy_setopt(h, CURLOPT_FILETIME, 1L) == CURLE_OK;
        });
        if (!setupError.isNull() || curl_easy_perform(curl.handle) != CURLE_OK) {
            VNLog::log(QStringLiteral("QNFTPHandler listDocuments: the link %1 points at nothing readable").arg(path));
            item.size = 0;
            continue;
        }
        curl_off_t size = -1;
        curl_off_t time = -1;
        curl_easy_getinfo(curl.handle, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &size);
        curl_easy_getinfo(curl.handle, CURLINFO_FILETIME_T, &time);
        if (size >= 0)
            item.size = qint64(size);
        if (time >= 0)
            item.date = QDateTime::fromSecsSinceEpoch(qint64(time), Qt::UTC);
    }
    return true;
}

void QNFTPHandler::runDownload(QNDocumentPtr document, QNDocumentPtr destPath, QNDocumentCallback completed)
{
    const DocumentAnswer answer{"download", completed};
    const auto config = driveConfig();
    if (!config || !document || !destPath || destPath->path().isEmpty())
        return answer.failed(ftpError(QStringLiteral("The download has no source or destination.")));
    if (isCancelled())
        return answer.cancelled();

    const QString remotePath = document->path();
    const QString localPath = destPath->path();
    QNFTPLocation location(config->url(), config->isSFTP());
    QNStringEncoding encoding(encodingFor(remotePath));
    const auto url = location.fileUrl(remotePath, encoding);
    if (!url.ok())
        return answer.failed(ftpError(url.error));
    VNLog::log(QStringLiteral("download url: %1").arg(urlForLog(url.bytes)));

    // The file is written under a temporary name beside the destination and
    // takes its name only when complete: a failed or cancelled download
    // leaves nothing behind, and an existing file stays until replaced.
    const QFileInfo destInfo(localPath);
    QByteArray tmpl = QFile::encodeName(destInfo.absolutePath() + QLatin1String("/.") + destInfo.fileName());
    if (tmpl.size() - QFile::encodeName(destInfo.absolutePath()).size() > 200)
        tmpl = QFile::encodeName(destInfo.absolutePath() + QLatin1String("/.download"));
    tmpl += ".part-XXXXXX";
    const int fd = ::mkostemp(tmpl.data(), O_CLOEXEC);
    if (fd < 0)
        return answer.failed(ftpError(QStringLiteral("The file \u201c%1\u201d could not be written: %2")
                                 .arg(localPath, systemError(errno))));
    // A new file as any program would make it: the user's umask decides
    // who else may read it.
    ::fchmod(fd, 0666 & ~currentUmask());
    const QByteArray tempPath = tmpl;

    Transfer t(this, config->password());
    // Named in the log, so that an error names the file whatever the protocol.
    const QByteArray what = "Downloading " + remotePath.toUtf8();
    t.log.add(QNFTPTransferLog::Kind::Text, what.constData(), size_t(what.size()));
    t.mode = Transfer::Mode::WriteFile;
    t.fd = fd;
    t.progress = downloadProgress();
    t.sinceProgress.start();
    CurlHandle curl;
    const QString setupError = setUp(curl, t, url.bytes, *config, encoding, location.isSFTP());
    if (!setupError.isNull()) {
        ::close(fd);
        ::unlink(tempPath.constData());
        return answer.failed(ftpError(setupError));
    }

    const CURLcode code = curl_easy_perform(curl.handle);
    if (::close(fd) != 0 && code == CURLE_OK) {
        t.ioFailed = true;
        t.ioError = systemError(errno);
    }
    Outcome outcome = outcomeOf(code, t, isCancelled());
    if (!outcome.cancelled && !outcome.error && ::rename(tempPath.constData(), QFile::encodeName(localPath)) != 0)
        outcome = {false, ftpError(QStringLiteral("The file \u201c%1\u201d could not be written: %2")
                                       .arg(localPath, systemError(errno)))};
    if (outcome.cancelled || outcome.error)
        ::unlink(tempPath.constData());
    if (answer.unsuccessful(outcome))
        return;
    auto result = QNDocument::create();
    result->setPath(localPath);
    result->setDisplayName(destInfo.fileName());
    completed(result, nullptr, false);
}

namespace {

Outcome performCommands(QNFTPHandler *handler, const QNDriveConfig &config, bool sftp, QNStringEncoding &encoding,
                        const QByteArray &url, CurlList &commands, bool watchCancel = true, CURL *reuse = nullptr);

// A hidden name beside the real one for an upload in progress, unique
// enough that two uploads of the same file do not meet, and within the
// 255 bytes file systems allow.
QString temporaryUploadName(const QString &fileName)
{
    const QString suffix = QStringLiteral(".part-%1").arg(QRandomGenerator::global()->generate() & 0xFFFFFF, 6, 16,
                                                          QLatin1Char('0'));
    if (fileName.toUtf8().size() > 200)
        return QStringLiteral(".upload") + suffix;
    return QLatin1Char('.') + fileName + suffix;
}

}  // namespace

// Commands that act on one name in an upload's folder: FTP ones in the
// folder itself (names relative to it), SFTP ones on server paths.
struct QNFTPHandler::FolderCommands {
    QNFTPLocation location;
    QString folderPath;
    QNStringEncoding &encoding;
    QString error;
    CURL *connection = nullptr;  // the upload's, used again for these commands

    QByteArray name(const QString &fileName)
    {
        const auto r = location.isSFTP() ? location.serverPath(QNFTPLocation::join(folderPath, fileName), encoding)
                                         : QNFTPLocation::nameBytes(fileName, encoding);
        if (!r.ok() && error.isNull())
            error = r.error;
        return location.isSFTP() ? QNFTPLocation::sftpQuoted(r.bytes) : r.bytes;
    }
    bool rename(CurlList &list, const QString &from, const QString &to)
    {
        if (location.isSFTP())
            return list.append("rename " + name(from) + ' ' + name(to));
        return list.append("RNFR " + name(from)) && list.append("RNTO " + name(to));
    }
    bool remove(CurlList &list, const QString &fileName)
    {
        return list.append((location.isSFTP() ? "rm " : "DELE ") + name(fileName));
    }
    QNFTPLocation::Result url() const
    {
        return location.isSFTP() ? location.baseUrl(encoding) : location.folderUrl(folderPath, encoding);
    }
};

void QNFTPHandler::runUpload(QNDocumentPtr document, QNDocumentPtr destPath, QNDocumentCallback completed)
{
    const DocumentAnswer answer{"upload", completed};
    const auto config = driveConfig();
    if (!config || !document || !destPath || document->path().isEmpty())
        return answer.failed(ftpError(QStringLiteral("The upload has no source or destination.")));
    if (isCancelled())
        return answer.cancelled();

    const QString localPath = document->path();
    const QString folderPath = destPath->path().isEmpty() ? QStringLiteral("/") : destPath->path();
    const QString fileName = QFileInfo(localPath).fileName();
    // The file goes up under a temporary name and takes the real one only
    // when whole: a server or connection that dies mid-way, or a cancel,
    // never leaves a cut file under the real name, and an older file of
    // that name stays until the new one replaces it.
    const QString tempName = temporaryUploadName(fileName);
    QNFTPLocation location(config->url(), config->isSFTP());
    QNStringEncoding encoding(encodingFor(folderPath));
    FolderCommands names{location, folderPath, encoding, {}, nullptr};
    const auto url = location.fileUrl(QNFTPLocation::join(folderPath, tempName), encoding);
    if (!url.ok())
        return answer.failed(ftpError(url.error));
    CurlList renameCommands;
    names.rename(renameCommands, tempName, fileName);
    if (!names.error.isNull())
        return answer.failed(ftpError(names.error));

    const int fd = ::open(QFile::encodeName(localPath).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return answer.failed(ftpError(QStringLiteral("The file \u201c%1\u201d could not be read: %2")
                                 .arg(localPath, systemError(errno))));
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return answer.failed(ftpError(QStringLiteral("\u201c%1\u201d is not a file that can be uploaded.").arg(localPath)));
    }

    Transfer t(this, config->password());
    const QByteArray what = "Uploading " + QNFTPLocation::join(folderPath, fileName).toUtf8();
    t.log.add(QNFTPTransferLog::Kind::Text, what.constData(), size_t(what.size()));
    t.mode = Transfer::Mode::ReadFile;
    t.fd = fd;
    t.progress = uploadProgress();
    t.progressIsUpload = true;
    t.sinceProgress.start();
    CurlHandle curl;
    const QString setupError = setUp(curl, t, url.bytes, *config, encoding, location.isSFTP(), [&](CURL *h) {
        return curl_easy_setopt(h, CURLOPT_UPLOAD, 1L) == CURLE_OK && curl_easy_setopt(h, CURLOPT_READDATA, &t) == CURLE_OK &&
               curl_easy_setopt(h, CURLOPT_READFUNCTION, &Transfer::read) == CURLE_OK &&
               curl_easy_setopt(h, CURLOPT_INFILESIZE_LARGE, curl_off_t(info.st_size)) == CURLE_OK &&
               curl_easy_setopt(h, CURLOPT_POSTQUOTE, renameCommands.list) == CURLE_OK;
    });
    if (!setupError.isNull()) {
        ::close(fd);
        return answer.failed(ftpError(setupError));
    }

    const CURLcode code = curl_easy_perform(curl.handle);
    ::close(fd);
    Outcome outcome = outcomeOf(code, t, isCancelled());
    names.connection = curl.handle;
    // The library runs the rename only after a whole upload; a refused
    // rename (many servers will not rename onto an existing name) is
    // answered by removing the old file, then renaming again.
    const bool renameRefused = code == CURLE_QUOTE_ERROR && !t.ioFailed;
    if (renameRefused && !isCancelled()) {
        outcome = replaceWithUpload(names, tempName, fileName);
        if (outcome.error || outcome.cancelled)
            return void(answer.unsuccessful(outcome));
    } else if (outcome.cancelled || outcome.error) {
        if (t.readStarted)
            removeTemporaryUpload(names, tempName);
        return void(answer.unsuccessful(outcome));
    }
    completed(destPath, nullptr, false);
}

QNFTPHandler::Outcome QNFTPHandler::replaceWithUpload(FolderCommands &names, const QString &tempName,
                                                      const QString &fileName)
{
    const auto config = driveConfig();
    const auto url = names.url();
    CurlList removeOld;
    names.remove(removeOld, fileName);
    Outcome removed = performCommands(this, *config, names.location.isSFTP(), names.encoding, url.bytes, removeOld,
                                      false, names.connection);
    if (removed.error) {
        // The old file is still there and whole; the new one goes.
        removeTemporaryUpload(names, tempName);
        return removed;
    }
    CurlList rename;
    names.rename(rename, tempName, fileName);
    Outcome renamed = performCommands(this, *config, names.location.isSFTP(), names.encoding, url.bytes, rename,
                                      false, names.connection);
    if (renamed.error) {
        // The old file is gone: the whole new one stays under its
        // temporary name rather than be lost.
        const QString kept = QNFTPLocation::join(names.folderPath, tempName);
        return {false, ftpError(QStringLiteral("The uploaded file could not take the name \u201c%1\u201d; it is kept "
                                               "on the server as \u201c%2\u201d.")
                                    .arg(fileName, kept) +
                                renamed.error->localizedDescription().prepend(QLatin1Char('\n')))};
    }
    return {};
}

void QNFTPHandler::removeTemporaryUpload(FolderCommands &names, const QString &tempName)
{
    const auto config = driveConfig();
    const auto url = names.url();
    CurlList commands;
    names.remove(commands, tempName);
    if (!url.ok() || !names.error.isNull())
        return;
    // This clean-up often runs because of a cancel: it must not be cancelled.
    const Outcome outcome = performCommands(this, *config, names.location.isSFTP(), names.encoding, url.bytes,
                                            commands, false, names.connection);
    VNLog::log(QStringLiteral("QNFTPHandler upload removed the unfinished file \u201c%1\u201d: %2")
                   .arg(QNFTPLocation::join(names.folderPath, tempName),
                        outcome.error ? outcome.error->localizedDescription().section(QLatin1Char('\n'), 0, 0)
                                      : QStringLiteral("done")));
}

namespace {

// Runs server commands (see commandOptions): FTP commands in the folder the
// URL names, or SFTP commands on server paths.
Outcome performCommands(QNFTPHandler *handler, const QNDriveConfig &config, bool sftp, QNStringEncoding &encoding,
                        const QByteArray &url, CurlList &commands, bool watchCancel, CURL *reuse)
{
    if (!commands.list || commands.failed)
        return {false, ftpError(QString::fromLatin1(QNFTPErrorTexts::text(CURLE_OUT_OF_MEMORY)))};
    QNFTPHandler::Transfer t(handler, config.password());
    t.watchCancel = watchCancel;
    std::optional<CurlHandle> borrowed;
    std::optional<CurlHandle> own;
    if (reuse)
        borrowed.emplace(reuse);
    else
        own.emplace();
    CurlHandle &curl = reuse ? *borrowed : *own;
    const QString setupError = setUp(curl, t, url, config, encoding, sftp, commandOptions(sftp, commands));
    if (!setupError.isNull())
        return {false, ftpError(setupError)};
    const CURLcode code = curl_easy_perform(curl.handle);
    return outcomeOf(code, t, watchCancel && handler->isCancelled());
}

}  // namespace

void QNFTPHandler::runCreateFolder(QString name, QNDocumentPtr destPath, QNDocumentCallback completed)
{
    const DocumentAnswer answer{"createFolder", completed};
    const auto config = driveConfig();
    if (!config || !destPath)
        return answer.failed(ftpError(QStringLiteral("The new folder has no place.")));
    if (name.isEmpty() || name.contains(QLatin1Char('/')) || name == QLatin1String(".") || name == QLatin1String(".."))
        return answer.failed(ftpError(QStringLiteral("\u201c%1\u201d is not a valid folder name.").arg(name)));
    if (isCancelled())
        return answer.cancelled();

    const QString folderPath = destPath->path().isEmpty() ? QStringLiteral("/") : destPath->path();
    const QString newPath = QNFTPLocation::join(folderPath, name);
    QNFTPLocation location(config->url(), config->isSFTP());
    QNStringEncoding encoding(encodingFor(folderPath));
    CurlList commands;
    QNFTPLocation::Result url;
    if (location.isSFTP()) {
        const auto path = location.serverPath(newPath, encoding);
        if (!path.ok())
            return answer.failed(ftpError(path.error));
        url = location.baseUrl(encoding);
        commands.append("mkdir " + QNFTPLocation::sftpQuoted(path.bytes));
    } else {
        const auto bytes = QNFTPLocation::nameBytes(name, encoding);
        if (!bytes.ok())
            return answer.failed(ftpError(bytes.error));
        url = location.folderUrl(folderPath, encoding);
        commands.append("MKD " + bytes.bytes);
    }
    if (!url.ok())
        return answer.failed(ftpError(url.error));
    const Outcome outcome = performCommands(this, *config, location.isSFTP(), encoding, url.bytes, commands);
    if (answer.unsuccessful(outcome))
        return;
    auto result = QNDocument::create();
    result->setPath(newPath);
    result->setDisplayName(name);
    completed(result, nullptr, false);
}

void QNFTPHandler::runRemove(QNDocumentPtr document, QNDocumentCallback completed)
{
    const DocumentAnswer answer{"remove", completed};
    const auto config = driveConfig();
    if (!config || !document)
        return answer.failed(ftpError(QStringLiteral("Nothing to remove.")));
    const QString path = document->path();
    const QString name = QNFTPLocation::lastComponent(path);
    if (name.isEmpty())
        return answer.failed(ftpError(QStringLiteral("The drive's top folder cannot be removed.")));
    if (isCancelled())
        return answer.cancelled();

    const bool folder = document->isDirectory();
    QNFTPLocation location(config->url(), config->isSFTP());
    QNStringEncoding encoding(encodingFor(path));
    CurlList commands;
    QNFTPLocation::Result url;
    if (location.isSFTP()) {
        const auto serverPath = location.serverPath(path, encoding);
        if (!serverPath.ok())
            return answer.failed(ftpError(serverPath.error));
        url = location.baseUrl(encoding);
        commands.append((folder ? "rmdir " : "rm ") + QNFTPLocation::sftpQuoted(serverPath.bytes));
    } else {
        const auto bytes = QNFTPLocation::nameBytes(name, encoding);
        if (!bytes.ok())
            return answer.failed(ftpError(bytes.error));
        url = location.folderUrl(QNFTPLocation::parentPath(path), encoding);
        commands.append((folder ? "RMD " : "DELE ") + bytes.bytes);
    }
    if (!url.ok())
        return answer.failed(ftpError(url.error));
    const Outcome outcome = performCommands(this, *config, location.isSFTP(), encoding, url.bytes, commands);
    if (answer.unsuccessful(outcome))
        return;
    completed(document, nullptr, false);
}

void QNFTPHandler::runRename(QNDocumentPtr document, QNDocumentPtr name, QNDocumentCallback completed)
{
    const DocumentAnswer answer{"rename", completed};
    const auto config = driveConfig();
    if (!config || !document || !name)
        return answer.failed(ftpError(QStringLiteral("Nothing to rename.")));
    const QString oldPath = document->path();
    const QString newPath = name->path();
    const QString oldName = QNFTPLocation::lastComponent(oldPath);
    const QString newName = QNFTPLocation::lastComponent(newPath);
    if (oldName.isEmpty() || newName.isEmpty() || name->displayName().contains(QLatin1Char('/')))
        return answer.failed(ftpError(QStringLiteral("\u201c%1\u201d cannot be renamed to \u201c%2\u201d.").arg(oldPath, newPath)));
    if (isCancelled())
        return answer.cancelled();

    QNFTPLocation location(config->url(), config->isSFTP());
    QNStringEncoding encoding(encodingFor(oldPath));
    CurlList commands;
    QNFTPLocation::Result url;
    if (location.isSFTP()) {
        const auto from = location.serverPath(oldPath, encoding);
        const auto to = location.serverPath(newPath, encoding);
        if (!from.ok() || !to.ok())
            return answer.failed(ftpError(!from.ok() ? from.error : to.error));
        url = location.baseUrl(encoding);
        commands.append("rename " + QNFTPLocation::sftpQuoted(from.bytes) + ' ' + QNFTPLocation::sftpQuoted(to.bytes));
    } else {
        const QString oldParent = QNFTPLocation::parentPath(oldPath);
        const QString newParent = QNFTPLocation::parentPath(newPath);
        // In the old name's folder; a new name in another folder is reached
        // from there.
        QString target = newName;
        if (newParent != oldParent) {
            QString up;
            for (qsizetype i = 0; i < QNFTPLocation::segments(oldParent).size(); ++i)
                up += QLatin1String("../");
            target = up + QNFTPLocation::segments(newPath).join(QLatin1Char('/'));
        }
        const auto from = QNFTPLocation::nameBytes(oldName, encoding);
        const auto to = QNFTPLocation::nameBytes(target, encoding);
        if (!from.ok() || !to.ok())
            return answer.failed(ftpError(!from.ok() ? from.error : to.error));
        url = location.folderUrl(oldParent, encoding);
        commands.append("RNFR " + from.bytes);
        commands.append("RNTO " + to.bytes);
    }
    if (!url.ok())
        return answer.failed(ftpError(url.error));
    const Outcome outcome = performCommands(this, *config, location.isSFTP(), encoding, url.bytes, commands);
    if (answer.unsuccessful(outcome))
        return;
    completed(document, nullptr, false);
}
