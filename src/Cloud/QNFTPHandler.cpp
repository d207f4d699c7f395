#include "Cloud/QNFTPHandler.h"
#include "Cloud/QNFTPHandlerInternal.h"

#include "Cloud/QNFTPEncodingMemory.h"
#include "Cloud/QNFTPLocation.h"
#include "Cloud/QNStringEncoding.h"
#include "Core/QNCloudInterfaceFactory.h"
#include "Platform/VNOperationQueue.h"
#include "Platform/VNUserDefaults.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <functional>
#include <mutex>

using namespace QNFTPInternal;

namespace QNFTPInternal {

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

std::function<void(const QByteArray &)> &transferStartHook()
{
    static std::function<void(const QByteArray &)> hook;
    return hook;
}

}  // namespace QNFTPInternal

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
    QNCloudInterfaceFactory::registerForgetter(QNCloudInterfaceFactory::Kind::FTP, &QNFTPHandler::forgetDrive);
}

void QNFTPHandler::forgetDrive(const QNDriveConfig &config)
{
    const Settings settings = Settings::of(config);
    QNFTPConnectionPool::shared().forgetDrive(serverOf(settings), driveDigest(settings));
}

void QNFTPHandler::setConnectionIdleSeconds(int seconds)
{
    QNFTPConnectionPool::shared().setIdleSeconds(seconds);
}

void QNFTPHandler::setConnectionMaxAgeSeconds(int seconds)
{
    QNFTPConnectionPool::shared().setMaxAgeSeconds(seconds);
}

void QNFTPHandler::setTransferStartHookForTesting(std::function<void(const QByteArray &url)> hook)
{
    std::lock_guard lock(settingsMutex());
    transferStartHook() = std::move(hook);
}

QNFTPHandler::Settings QNFTPHandler::readSettings() const
{
    const auto config = driveConfig();
    return config ? Settings::of(*config) : Settings();
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
    Settings settings;
    settings.knownHostsFile = knownHostsFile();
    return settings.certificatesFile();
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

quint32 QNFTPHandler::encodingLearnedFor(const QString &path)
{
    const bool plain = std::all_of(path.cbegin(), path.cend(), [](QChar c) { return c.unicode() < 0x80; });
    if (m_shouldDetectStringEncoding && !plain && QNFTPEncodingMemory::lookup(driveKey(), path) == 0) {
        // Read in the encoding its folder's listing was guessed in (a
        // document saved back after a restart): the drive's last guess, or
        // UTF-8, would send other bytes, and name no file or another one.
        auto folder = QNDocument::withPath(QNFTPLocation::parentPath(path), true);
        runList(folder, QString(), [](QNDocumentList, QString, VNErrorPtr, bool) {});
    }
    return encodingFor(path);
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

void QNFTPHandler::uploadUnderTemporaryName(QNDocumentPtr document, QNDocumentPtr destPath,
                                            QNProgressCallback progress, QNDocumentCallback completed)
{
    upload(std::move(document), std::move(destPath), std::move(progress), std::move(completed));
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

    const Settings settings = readSettings();
    QNFTPLocation location(settings.url, settings.sftpDrive);
    QNStringEncoding encoding(encodingFor(QStringLiteral("/")));
    const auto url = location.baseUrl(encoding);
    if (!url.ok())
        return fail(ftpError(url.error));
    Transfer t(this, settings.password);
    t.mode = Transfer::Mode::Discard;
    CurlHandle curl;
    const QString setupError = setUp(curl, t, url.bytes, settings, encoding);
    if (!setupError.isNull())
        return fail(ftpError(setupError));

    const CURLcode code = perform(curl, t);
    const Outcome outcome = outcomeOf(code, t, isCancelled());
    if (outcome.cancelled)
        return completed(false, nullptr, true);
    if (outcome.error)
        return fail(outcome.error);
    config->setDescription(loginCaption());
    answerOnMain([completed] { completed(true, nullptr, false); });
}
