// Shared by the files of QNFTPHandler: the libcurl plumbing of one
// transfer and the helpers the operations use.
#pragma once

#include "Cloud/QNFTPCertificateMemory.h"
#include "Cloud/QNFTPConnectionPool.h"
#include "Cloud/QNFileWriteBehind.h"
#include "Cloud/QNFTPHandler.h"
#include "Cloud/QNFTPTransferLog.h"
#include "Cloud/QNSSHKnownHosts.h"
#include "Platform/VNLog.h"
#include "Cloud/QNStringEncoding.h"

#include <QElapsedTimer>
#include <QString>
#include <curl/curl.h>

#include <atomic>
#include <cerrno>
#include <functional>
#include <mutex>
#include <sys/types.h>
#include <unistd.h>
#include <utility>

namespace QNFTPInternal {

extern const QString kDomain;

std::mutex &settingsMutex();
std::function<void(const QByteArray &)> &transferStartHook();
QString &caFileSetting();
QString &knownHostsSetting();
extern std::atomic<int> stallTimeoutSeconds;


VNErrorPtr ftpError(const QString &text);

// The libcurl handles of one transfer. setUp() takes them from the
// connection pool (a kept connection of the drive's identity, or a new
// one); they go back to the pool only when the transfer went well (keep)
// and libcurl kept its connection open (open), else they are closed with
// their connection. Borrowed ones belong to another CurlHandle, which decides.
struct CurlHandle {
    CURL *handle = nullptr;
    CURLM *multi = nullptr;  // runs the transfer and keeps its connection
    bool owned = true;
    bool pooled = false;
    bool keep = false;
    // libcurl still holds the connection after the last transfer (it closes
    // it itself after most failures, and after a transfer stopped mid-way),
    // and the server has not closed it.
    bool open = false;
    // The server or the network closed the connection during the last
    // transfer (an SSH one the library failed on may still hold it).
    bool lost = false;
    // setUp() makes a new connection rather than take a kept one.
    bool fresh = false;
    QNFTPConnectionPool::Lease lease;
    // A borrowed one's owner, told what became of the connection.
    CurlHandle *owner = nullptr;
    ~CurlHandle()
    {
        if (owner)
            owner->open = open;
        finish();
    }
    CurlHandle() = default;
    // Another transfer's, its options cleared: its connection is used again
    // instead of logging in anew.
    explicit CurlHandle(CurlHandle *lender) : handle(lender->handle), multi(lender->multi), owned(false), owner(lender)
    {
        curl_easy_reset(handle);
    }
    CurlHandle(const CurlHandle &) = delete;
    CurlHandle &operator=(const CurlHandle &) = delete;
    // Gives the connection back to the pool, or closes it, now rather than
    // when the handle goes: an operation does so before it answers, so that
    // the transfer its answer starts finds the connection kept (else it
    // would log in anew).
    void finish()
    {
        if (owned && pooled && keep && open && handle) {
            QNFTPConnectionPool::shared().giveBack({multi, handle}, lease);
            handle = nullptr;
            multi = nullptr;
        } else {
            close();
        }
    }
    // Ends the connection now.
    void close()
    {
        if (owned)
            QNFTPConnectionPool::Connection{multi, handle}.close();
        handle = nullptr;
        multi = nullptr;
    }
};

// A file descriptor, closed with its owner.
struct OwnedFd {
    int fd = -1;
    OwnedFd() = default;
    explicit OwnedFd(int owned) : fd(owned) {}
    OwnedFd(OwnedFd &&other) noexcept : fd(std::exchange(other.fd, -1)) {}
    OwnedFd &operator=(OwnedFd &&other) noexcept
    {
        if (this != &other) {
            reset();
            fd = std::exchange(other.fd, -1);
        }
        return *this;
    }
    ~OwnedFd() { reset(); }
    void reset()
    {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
};

struct CurlList {
    curl_slist *list = nullptr;
    QList<QByteArray> lines;  // as appended
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
        lines.append(command);
        return true;
    }
};

QString systemError(int err);
// The library's debug output (its data: the Transfer): protocol text goes
// to the transfer log, file and listing bytes do not; the commands that
// change the server are watched going out and being answered.
int debugToLog(CURL *, curl_infotype type, char *data, size_t size, void *userdata);
// A URL for the log: without any user name or password typed into it.
QString urlForLog(const QByteArray &url);

}  // namespace QNFTPInternal

// The drive's settings for one operation, read at once at its start: the
// identity of the connection its transfers take and the options they set
// are both built from these, never from the drive as the settings sheet
// writes it field by field meanwhile. The process's files of remembered
// keys and certificate authorities belong to them.
struct QNFTPHandler::Settings {
    QString url;
    bool sftpDrive = false;  // the drive's own switch
    bool sftp = false;       // the protocol spoken: the switch, or the URL's scheme
    QString username;
    QString password;
    quint64 stringEncoding = 0;
    bool useSSL = false;
    bool validateCertificates = false;
    bool ftpActive = false;
    QString knownHostsFile;
    QString caFile;

    static Settings of(const QNDriveConfig &config);
    // Certificates remembered for FTPS drives that do not validate them.
    QString certificatesFile() const;
};

// One listing transfer's end.
struct QNFTPHandler::ListingFetch {
    Outcome outcome;
    CURLcode code = CURLE_OK;
    long reply = 0;  // the server's last reply code
    QByteArray listing;
};

// A change on the server by drive paths: what the folders' listings show
// once it was carried out.
struct QNFTPHandler::Change {
    enum class Kind { Removed, Made, Renamed };
    Kind kind;
    QString path;     // what was removed or made, or renamed from
    QString newPath;  // a rename's new name
};

// One transfer's state, shared with libcurl's callbacks on the worker.
struct QNFTPHandler::Transfer {
    // Probe: the first data byte answers the question; the transfer stops there.
    enum class Mode { None, Discard, Buffer, WriteFile, ReadFile, Probe };

    Transfer(QNFTPHandler *owner, const QString &password) : handler(owner), log(password) {}

    QNFTPHandler *handler;
    QNFTPTransferLog log;
    // The protocol the drive speaks, as its refusals name it: FTP, FTPS or SFTP.
    QString protocol = QStringLiteral("FTP");
    Mode mode = Mode::None;
    QByteArray buffer;
    int fd = -1;  // ReadFile: the file being uploaded
    QNFileWriteBehind *fileWriter = nullptr;  // WriteFile: takes the bytes to the file
    bool ioFailed = false;
    QString ioError;
    bool readStarted = false;
    bool readEnded = false;  // ReadFile: the whole file was read
    bool watchCancel = true;
    QNProgressCallback progress;
    bool progressIsUpload = false;
    double lastFraction = -1;
    QElapsedTimer sinceProgress;
    bool hostKeyChanged = false;
    bool hostKeyRevoked = false;  // changed, as revoked in the known-hosts file
    // SFTP: the server, as its key is remembered under.
    QString sshHost;
    int sshPort = 22;
    // SFTP: the server showed its key; the key types remembered for it
    // (asked for first); why the known-hosts file could not be read.
    bool hostKeySeen = false;
    QList<QByteArray> rememberedKeyTypes;
    bool hostKeyTypeRefused = false;
    QString knownHostsProblem;
    // SFTP: why a new key could not be written where the known-hosts link leads.
    QString knownHostsWriteProblem;
    // SFTP: the remembered keys, in a file the library reads to know which
    // key type to ask for.
    QNFTPInternal::OwnedFd keyTypeFile;
    bool probeAnswered = false;
    CURL *handle = nullptr;
    // The handle's owner: told whether the connection may be kept.
    QNFTPInternal::CurlHandle *connection = nullptr;
    // The server as the connection pool names it ("host:port").
    QString server;
    // Bytes of the file or listing received so far.
    qint64 received = 0;
    // SFTP: the keys remembered for the server when the transfer began;
    // whether this transfer's connection added the one it met.
    QNSSHKnownHosts::Remembered remembered;
    bool hostKeyAdded = false;
    // What the connection's identity rests on besides the remembered key
    // or certificate (QNFTPConnectionPool).
    QByteArray sessionBase;
    // FTPS without validation: the server's remembered certificate, or
    // where to remember it after the first login.
    QString certificateServer;
    QNFTPCertificateMemory::Entry pinnedCertificate;
    // The settings the transfer runs with (setUp()).
    const QNFTPHandler::Settings *settings = nullptr;
    // Commands that change the server (FTP: as sent, "DELE name"); whether
    // one went out, and whether the server's answer to the last one is
    // still awaited.
    QList<QByteArray> changeCommands;
    bool changeSent = false;
    bool changeUnanswered = false;
    // The transfer sends those commands and nothing else.
    bool onlyCommands = false;

    static size_t write(char *data, size_t size, size_t count, void *userdata)
    {
        auto *t = static_cast<Transfer *>(userdata);
        const size_t n = size * count;
        t->received += qint64(n);
        switch (t->mode) {
        case Mode::Probe:
            t->probeAnswered = true;
            return 0;
        case Mode::Buffer:
            if (t->buffer.size() + qsizetype(n) > QNCloudInterface::maximumListingBytes) {
                t->ioFailed = true;
                t->ioError = QNCloudInterface::listingTooLargeText();
                return 0;
            }
            t->buffer.append(data, qsizetype(n));
            return n;
        case Mode::WriteFile:
            if (!t->fileWriter->write(data, qsizetype(n))) {
                t->ioFailed = true;
                t->ioError = QNFTPInternal::systemError(t->fileWriter->error());
                return 0;
            }
            return n;
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
            t->readEnded = r == 0;
            if (r >= 0)
                return size_t(r);
            if (errno == EINTR)
                continue;
            t->ioFailed = true;
            t->ioError = QNFTPInternal::systemError(errno);
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

    // The SSH server's key against the known-hosts file (see QNSSHKnownHosts);
    // a key met for the first time is remembered.
    static int hostKey(void *userdata, int, const char *key, size_t length)
    {
        auto *t = static_cast<Transfer *>(userdata);
        t->hostKeySeen = true;
        const QNSSHKnownHosts knownHosts(t->settings->knownHostsFile);
        QString problem;
        switch (knownHosts.check(t->sshHost, t->sshPort, QByteArray(key, qsizetype(length)), &problem)) {
        case QNSSHKnownHosts::Verdict::Known:
            return CURLKHMATCH_OK;
        case QNSSHKnownHosts::Verdict::Added:
            t->hostKeyAdded = true;
            return CURLKHMATCH_OK;
        case QNSSHKnownHosts::Verdict::Unremembered:
            VNLog::log(QStringLiteral("QNFTPHandler: the host key of %1 could not be remembered in %2")
                           .arg(QNSSHKnownHosts::nameFor(t->sshHost, t->sshPort), t->settings->knownHostsFile));
            return CURLKHMATCH_OK;
        case QNSSHKnownHosts::Verdict::Changed:
            t->hostKeyChanged = true;
            return CURLKHMATCH_MISMATCH;
        case QNSSHKnownHosts::Verdict::Revoked:
            t->hostKeyChanged = t->hostKeyRevoked = true;
            return CURLKHMATCH_MISMATCH;
        case QNSSHKnownHosts::Verdict::OtherType:
            t->hostKeyTypeRefused = true;
            t->rememberedKeyTypes = knownHosts.remembered(t->sshHost, t->sshPort).types();
            return CURLKHMATCH_MISMATCH;
        case QNSSHKnownHosts::Verdict::FileUnreadable:
            t->knownHostsProblem = problem.isEmpty() ? QStringLiteral("it could not be read") : problem;
            return CURLKHMATCH_MISMATCH;
        case QNSSHKnownHosts::Verdict::LinkUnwritable:
            t->knownHostsWriteProblem = problem.isEmpty() ? QStringLiteral("it could not be written") : problem;
            return CURLKHMATCH_MISMATCH;
        default:
            return CURLKHMATCH_MISMATCH;
        }
    }
};

namespace QNFTPInternal {

using Settings = QNFTPHandler::Settings;

// The server of a drive as the connection pool names it ("host:port").
QString serverOf(const Settings &settings);
// A digest of the drive's settings: what keeps two drives' connections
// apart (see QNFTPConnectionPool).
QByteArray driveDigest(const Settings &settings);
// Sets the options every transfer shares; an error text when one cannot be set.
QString configure(CURL *h, QNFTPHandler::Transfer &t, const QByteArray &url, const Settings &settings,
                  QNStringEncoding &encoding);
// Sets up a handle for one transfer (a kept one of the drive, else a new
// one, unless curl holds one already): the shared options, then the
// operation's own (ownOptions answers false when one cannot be set). A null
// text when ready, the error text otherwise.
QString setUp(CurlHandle &curl, QNFTPHandler::Transfer &t, const QByteArray &url, const Settings &settings,
              QNStringEncoding &encoding, const std::function<bool(CURL *)> &ownOptions = {});
// Runs the transfer set up on curl. A kept connection the server has
// closed meanwhile (its idle time-out, a restart) fails before anything
// moved: the transfer then runs once more on a new connection, unless a
// command that changes the server may have reached it (see
// Transfer::changeCommands).
CURLcode perform(CurlHandle &curl, QNFTPHandler::Transfer &t);
// The own options of a transfer that only sends commands: FTP commands go
// after the library changed into the URL's folder, SFTP ones act on server
// paths. Nothing is transferred.
std::function<bool(CURL *)> commandOptions(bool sftp, const CurlList &commands);

using Outcome = QNFTPHandler::Outcome;

// The certificate the server showed in this transfer (PEM), if any.
QByteArray serverCertificate(CURL *h);
// The server's host key or certificate was refused in this transfer.
bool serverRefused(CURLcode code, const QNFTPHandler::Transfer &t);
// The connection ended before the server answered a change it may have
// carried out (see Transfer::changeCommands).
bool answerLost(CURLcode code, const QNFTPHandler::Transfer &t);
// A transfer's result. A local file that failed (even after the library was
// done, such as a download's file failing to close) fails the transfer.
// An error of a refused host key or certificate says so (see
// QNCloudInterface::refusingServer()).
Outcome outcomeOf(CURLcode code, QNFTPHandler::Transfer &t, bool cancelled);
// Runs server commands (see commandOptions): FTP commands in the folder the
// URL names, or SFTP commands on server paths. Each command changes the
// server; one whose answer was lost is told by Outcome::answerLost.
Outcome performCommands(QNFTPHandler *handler, const Settings &settings, QNStringEncoding &encoding,
                        const QByteArray &url, CurlList &commands, bool watchCancel = true,
                        CurlHandle *reuse = nullptr);
// The same on the connection curl holds (one it was set up with before, its
// options then cleared), else one setUp() gives it.
Outcome performCommandsOn(CurlHandle &curl, QNFTPHandler *handler, const Settings &settings,
                          QNStringEncoding &encoding, const QByteArray &url, CurlList &commands, bool watchCancel);

void answerOnMain(std::function<void()> answer);
void logError(const char *operation, const VNErrorPtr &error);

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

}  // namespace QNFTPInternal
