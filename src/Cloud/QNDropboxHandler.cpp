#include "Cloud/QNDropboxHandler.h"

#include "Cloud/DropboxSDK/Classes/DXRestClient.h"
#include "Cloud/DropboxSDK/Classes/DXSession.h"
#include "Cloud/QNDrivePaths.h"
#include "Core/QNCloudInterfaceFactory.h"
#include "Core/QNLoginSheetProvider.h"
#include "Platform/VNLog.h"

#include <QFile>
#include <QFileInfo>
#include <QUrlQuery>
#include <QUuid>
#include <filesystem>

using namespace QNDrivePaths;

QNDropboxHandler::QNDropboxHandler(QNDriveConfigPtr driveConfig) : QNCloudInterface(std::move(driveConfig)) {}

QNDropboxHandler::~QNDropboxHandler() = default;

QString QNDropboxHandler::className() const {
    return QStringLiteral("QNDropboxHandler");
}

QString QNDropboxHandler::loginCaption() {
    return QStringLiteral("SHOW DOCUMENTS ON THIS DROPBOX ACCOUNT");
}

void QNDropboxHandler::registerWithFactory() {
    QNCloudInterfaceFactory::registerHandler(QNCloudInterfaceFactory::Kind::Dropbox,
                                             [](const QNDriveConfigPtr &config) -> QNCloudInterfacePtr {
                                                 return std::make_shared<QNDropboxHandler>(config);
                                             });
}

std::shared_ptr<QNDropboxHandler> QNDropboxHandler::self() {
    return std::static_pointer_cast<QNDropboxHandler>(shared_from_this());
}

std::shared_ptr<DXRestClient> QNDropboxHandler::client(VNErrorPtr *error) {
    if (m_client)
        return m_client;
    auto session = DXSession::sharedSession();
    const auto config = driveConfig();
    const QString userId = config ? config->userId() : QString();
    if (!session || userId.isEmpty() || !session->isUserLinked(userId)) {
        *error = makeError(QStringLiteral("This Dropbox account is not linked to Varnello. Add the drive again."));
        return nullptr;
    }
    m_client = std::make_shared<DXRestClient>(session, userId);
    return m_client;
}

QNDocumentPtr QNDropboxHandler::documentFromMetadata(const DXMetadata &metadata, const QString &folder,
                                                     bool anywhereBelow) {
    if (!metadata.isValid() || metadata.isDeleted())
        return nullptr;
    // A path written with a trailing slash names the same entry; without it
    // the path ends in the entry's name, which the parent is cut from.
    const QString path = withoutTrailingSlashes(metadata.path());
    const QString name = metadata.filename();
    // An empty step ("/a//b") names no folder: such a path would be shown
    // under a parent it does not have.
    if (!path.startsWith(QLatin1Char('/')) || path.contains(QLatin1String("//")) || !isUsableName(name))
        return nullptr;
    // The service keeps names case-insensitively; compare folders that way.
    const QString parent = withoutTrailingSlashes(path.left(path.size() - name.size()));
    const QString base = withoutTrailingSlashes(folder);
    if (anywhereBelow) {
        const QStringList parts = path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
        for (const QString &part : parts)
            if (!isUsableName(part))
                return nullptr;
        const QString prefix = base == QLatin1String("/") ? base : base + QLatin1Char('/');
        if (!path.startsWith(prefix, Qt::CaseInsensitive))
            return nullptr;
    } else if (parent.compare(base, Qt::CaseInsensitive) != 0) {
        return nullptr;
    }
    auto document = QNDocument::create();
    document->setPath(path);
    document->setDisplayName(name);
    document->setIsDirectory(metadata.isDirectory());
    document->setSize(metadata.isDirectory() ? 0 : metadata.totalBytes());
    document->setDate(metadata.lastModifiedDate());
    return document;
}

DXRestClient::MetadataCallback QNDropboxHandler::metadataAnswer(const QString &folder, QNDocumentCallback completed,
                                                               const QString &unusable) {
    auto me = self();
    return [me, completed, folder, unusable](DXMetadata metadata, VNErrorPtr e, bool cancelled) {
        if (e || cancelled) {
            completed(nullptr, e, cancelled);
            return;
        }
        auto result = documentFromMetadata(metadata, folder);
        completed(result, result ? nullptr : me->makeError(unusable), false);
    };
}

// --- The login ------------------------------------------------------------------

void QNDropboxHandler::login(QNLoginCallback) {
    // Linking happens through the OAuth pair; nothing waits on this call.
}

std::shared_ptr<QNAuthWindowController> QNDropboxHandler::oAuthLoginWithCompletedBlock(QNLoginCallback completed) {
    setOAuthLoginCompleted(std::move(completed));
    if (auto config = driveConfig())
        config->setDescription(loginCaption());
    auto session = DXSession::sharedSession();
    if (!session) {
        if (auto answer = takeOAuthLoginCompleted())
            answer(false, makeError(QStringLiteral("Dropbox is not set up in this program.")), false);
        return nullptr;
    }
    auto sheet = QNLoginSheetProvider::makeSheet(shared_from_this());
    m_loginClient = std::make_shared<DXRestClient>(session, QString());
    auto me = self();
    std::weak_ptr<QNAuthWindowController> weakSheet = sheet;
    m_loginClient->loadRequestToken([me, weakSheet](QString token, QString secret, QString, VNErrorPtr error,
                                                     bool cancelled) {
        if (error || cancelled || token.isEmpty()) {
            if (auto answer = me->takeOAuthLoginCompleted())
                answer(false, error, cancelled);
            return;
        }
        VNLog::addSecret(secret);
        me->m_requestToken = token;
        me->m_requestTokenSecret = secret;
        if (auto sheet = weakSheet.lock())
            QNLoginSheetProvider::loadPage(
                sheet, DXRestClient::authorizationURL(token, QNLoginSheetProvider::loopbackCallbackUrl()));
    });
    return sheet;
}

void QNDropboxHandler::processOAuthLogin(const QString &callbackUrl) {
    QNLoginCallback completed = takeOAuthLoginCompleted();
    if (!completed)
        return;
    if (callbackUrl.isNull()) {
        completed(false, nullptr, false);
        return;
    }
    const QUrlQuery query{QUrl(callbackUrl)};
    const QString token = query.queryItemValue(QStringLiteral("oauth_token"), QUrl::FullyDecoded);
    if (m_requestToken.isEmpty() || token != m_requestToken) {
        completed(false, makeError(QStringLiteral("Dropbox did not authorize this sign-in.")), false);
        return;
    }
    auto me = self();
    m_loginClient->loadAccessToken(m_requestToken, m_requestTokenSecret,
                                   [me, completed](QString, QString, QString userId, VNErrorPtr error, bool cancelled) {
        me->m_requestToken.clear();
        me->m_requestTokenSecret.clear();
        if (error || cancelled) {
            completed(false, error, cancelled);
            return;
        }
        if (auto config = me->driveConfig()) {
            config->setUserId(userId);
            if (config->username().isEmpty())
                config->setUsername(userId);
        }
        completed(true, nullptr, false);
    });
}

// --- Listing ------------------------------------------------------------------------

void QNDropboxHandler::listDocuments(QNDocumentPtr folder, QString searchKeyword, QNListCallback completed) {
    VNErrorPtr error;
    auto rest = client(&error);
    if (!rest) {
        completed({}, searchKeyword, error, false);
        return;
    }
    const QString path = withoutTrailingSlashes(folder ? folder->path() : QStringLiteral("/"));
    auto me = self();
    if (!searchKeyword.isEmpty()) {
        rest->search(path, searchKeyword, [me, completed, searchKeyword, path](QList<DXMetadata> hits, VNErrorPtr e,
                                                                                bool cancelled) {
            if (e || cancelled) {
                completed({}, searchKeyword, e, cancelled);
                return;
            }
            QNDocumentList documents;
            for (const DXMetadata &hit : hits)
                if (auto document = documentFromMetadata(hit, path, true))
                    documents.append(document);
            completed(documents, searchKeyword, nullptr, false);
        });
        return;
    }
    rest->loadMetadata(path, [me, folder, completed, searchKeyword, path](DXMetadata metadata, VNErrorPtr e,
                                                                          bool cancelled) {
        if (e || cancelled) {
            completed({}, searchKeyword, e, cancelled);
            return;
        }
        if (!metadata.isDirectory() || !metadata.hasContents()) {
            completed({}, searchKeyword, me->makeError(QStringLiteral("%1 is not a folder.").arg(path)), false);
            return;
        }
        QNDocumentList documents;
        int leftOut = 0;
        for (const DXMetadata &entry : metadata.contents()) {
            if (auto document = documentFromMetadata(entry, path)) {
                documents.append(document);
            } else if (!entry.isDeleted()) {
                VNLog::log(QStringLiteral("QNDropboxHandler skipped an entry with an unusable name in %1").arg(path));
                ++leftOut;
            }
        }
        if (folder)
            folder->setLeftOutCount(leftOut);
        completed(documents, searchKeyword, nullptr, false);
    });
}

// --- Transfers ----------------------------------------------------------------------

void QNDropboxHandler::download(QNDocumentPtr document, QNDocumentPtr destPath, QNProgressCallback progress,
                                QNDocumentCallback completed) {
    const QString destination = destPath ? destPath->path() : QString();
    if (!document || destination.isEmpty()) {
        completed(nullptr, makeError(QStringLiteral("No file to download or no destination.")), false);
        return;
    }
    VNErrorPtr error;
    auto rest = client(&error);
    if (!rest) {
        completed(nullptr, error, false);
        return;
    }
    // The reply goes to a hidden file beside the destination and replaces it
    // only when complete: a refused or broken download leaves nothing behind.
    const QString received = partFileFor(destination);
    rest->loadFile(document->path(), received, fractionProgress(progress, document->size()),
                   downloadAnswer(received, destination, className(), completed));
}

void QNDropboxHandler::upload(QNDocumentPtr document, QNDocumentPtr destPath, QNProgressCallback progress,
                              QNDocumentCallback completed) {
    const QString source = document ? document->path() : QString();
    if (source.isEmpty() || !destPath) {
        completed(nullptr, makeError(QStringLiteral("No file to upload or no destination folder.")), false);
        return;
    }
    VNErrorPtr error;
    auto rest = client(&error);
    if (!rest) {
        completed(nullptr, error, false);
        return;
    }
    const QString folder = withoutTrailingSlashes(destPath->path());
    const QString name = QFileInfo(source).fileName();
    rest->uploadFile(
        name, folder, source,
        fractionProgress(progress),
        metadataAnswer(folder, completed, QStringLiteral("Dropbox stored the file under an unusable name.")));
}

// --- Changes inside the drive ---------------------------------------------------------

void QNDropboxHandler::createFolder(QString name, QNDocumentPtr destPath, QNDocumentCallback completed) {
    const QString folder = withoutTrailingSlashes(destPath ? destPath->path() : QStringLiteral("/"));
    if (!isUsableName(name)) {
        completed(nullptr, makeError(QStringLiteral("\"%1\" cannot be a folder name.").arg(name)), false);
        return;
    }
    VNErrorPtr error;
    auto rest = client(&error);
    if (!rest) {
        completed(nullptr, error, false);
        return;
    }
    auto me = self();
    rest->createFolder(joinPath(folder, name),
                       metadataAnswer(folder, completed, QStringLiteral("Dropbox sent an unusable folder.")));
}

void QNDropboxHandler::remove(QNDocumentPtr document, QNDocumentCallback completed) {
    if (!document || withoutTrailingSlashes(document->path()) == QLatin1String("/")) {
        completed(nullptr, makeError(QStringLiteral("The whole Dropbox cannot be removed.")), false);
        return;
    }
    VNErrorPtr error;
    auto rest = client(&error);
    if (!rest) {
        completed(nullptr, error, false);
        return;
    }
    auto me = self();
    rest->deletePath(withoutTrailingSlashes(document->path()), [me, completed, document](VNErrorPtr e, bool cancelled) {
        completed(e || cancelled ? nullptr : document, e, cancelled);
    });
}

void QNDropboxHandler::rename(QNDocumentPtr document, QNDocumentPtr name, QNDocumentCallback completed) {
    if (!document || !name || !isUsableName(lastComponent(name->path()))) {
        completed(nullptr, makeError(QStringLiteral("No usable new name.")), false);
        return;
    }
    VNErrorPtr error;
    auto rest = client(&error);
    if (!rest) {
        completed(nullptr, error, false);
        return;
    }
    const QString target = withoutTrailingSlashes(name->path());
    const QString folder = target.left(target.lastIndexOf(QLatin1Char('/')) + 1);
    // Cut off on its way, the move may still be carried out: its answer
    // alone tells where the item is.
    sendsToItsAnswer();
    rest->movePath(withoutTrailingSlashes(document->path()), target,
                   metadataAnswer(folder, completed, QStringLiteral("Dropbox sent an unusable name.")));
}

void QNDropboxHandler::transferInside(bool move, QNDocumentPtr document, QNDocumentPtr folder,
                                      QNDocumentCallback completed) {
    if (!document || !folder) {
        completed(nullptr, makeError(QStringLiteral("No document or no destination folder.")), false);
        return;
    }
    VNErrorPtr error;
    auto rest = client(&error);
    if (!rest) {
        completed(nullptr, error, false);
        return;
    }
    const QString destination = withoutTrailingSlashes(folder->path());
    const QString target = joinPath(destination, lastComponent(document->path()));
    auto answer = metadataAnswer(destination, completed, QStringLiteral("Dropbox sent an unusable name."));
    if (move)
        rest->movePath(withoutTrailingSlashes(document->path()), target, answer);
    else
        rest->copyPath(withoutTrailingSlashes(document->path()), target, answer);
}

void QNDropboxHandler::localCopy(QNDocumentPtr document, QNDocumentPtr name, QNDocumentCallback completed) {
    transferInside(false, std::move(document), std::move(name), std::move(completed));
}

void QNDropboxHandler::localMove(QNDocumentPtr document, QNDocumentPtr name, QNDocumentCallback completed) {
    transferInside(true, std::move(document), std::move(name), std::move(completed));
}

void QNDropboxHandler::linkForDocument(QNDocumentPtr document, QNDocumentCallback completed) {
    if (!document) {
        completed(nullptr, makeError(QStringLiteral("No document to share.")), false);
        return;
    }
    VNErrorPtr error;
    auto rest = client(&error);
    if (!rest) {
        completed(nullptr, error, false);
        return;
    }
    auto me = self();
    rest->loadSharableLink(withoutTrailingSlashes(document->path()),
                           [me, completed, document](QString url, QDateTime expires, VNErrorPtr e, bool cancelled) {
        if (e || cancelled) {
            completed(nullptr, e, cancelled);
            return;
        }
        document->setLink(url);
        document->setLinkEndDate(expires);
        completed(document, nullptr, false);
    });
}

void QNDropboxHandler::quota(QNDocumentPtr, QNQuotaCallback completed) {
    VNErrorPtr error;
    auto rest = client(&error);
    if (!rest) {
        completed(error, false);
        return;
    }
    auto me = self();
    rest->loadAccountInfo([me, completed](DXAccountInfo info, VNErrorPtr e, bool cancelled) {
        if (e || cancelled) {
            completed(e, cancelled);
            return;
        }
        if (auto config = me->driveConfig()) {
            const qint64 used = info.normalConsumedBytes() + info.sharedConsumedBytes();
            config->setUsedBytes(used);
            config->setSharedBytes(info.sharedConsumedBytes());
            config->setTotalBytes(info.totalBytes());
            config->setAvailableBytes(std::max<qint64>(0, info.totalBytes() - used));
        }
        completed(nullptr, false);
    });
}

void QNDropboxHandler::cancel() {
    QNCloudInterface::cancel();
    if (m_client)
        m_client->cancelAllRequests();
    if (m_loginClient)
        m_loginClient->cancelAllRequests();
}
