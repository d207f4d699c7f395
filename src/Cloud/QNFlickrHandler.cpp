#include "Cloud/QNFlickrHandler.h"

#include "Cloud/QNDrivePaths.h"
#include "Cloud/QNServiceHosts.h"
#include "Core/QNCloudInterfaceFactory.h"
#include "Platform/VNLog.h"

#include <QFileInfo>
#include <QStringList>

using namespace QNDrivePaths;
using Params = FKFlickrClient::Params;

namespace {

// Listing pages as large as the service allows: fewer round trips.
const QString kPerPage = QStringLiteral("500");
// The photo sizes the listing asks for, largest first.
const QStringList kSizes = {QStringLiteral("o"), QStringLiteral("6k"), QStringLiteral("5k"), QStringLiteral("4k"),
                            QStringLiteral("3k"), QStringLiteral("k"), QStringLiteral("h"), QStringLiteral("l"),
                            QStringLiteral("c"), QStringLiteral("z"), QStringLiteral("m")};

VNErrorPtr failure(const QString &message) {
    return QNCloudInterface::makeError(QStringLiteral("FlickrHandler"), message);
}

QStringList segments(const QString &path) {
    return path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
}

QString content(const DXJsonValue &value) {
    return value.isObject() ? value[QStringLiteral("_content")].toString() : value.toString();
}

QString photoExtras() {
    QStringList extras = {QStringLiteral("description"), QStringLiteral("date_upload"), QStringLiteral("original_format")};
    for (const QString &size : kSizes)
        extras << QStringLiteral("url_") + size;
    return extras.join(QLatin1Char(','));
}

QNDocumentPtr copyOf(const QNDocumentPtr &document, const QString &path) {
    auto result = QNDocument::create();
    result->setPath(path);
    result->setDisplayName(lastComponent(path));
    result->setIsDirectory(document->isDirectory());
    result->setId(document->id());
    result->setUrl(document->url());
    result->setDate(document->date());
    result->setSize(document->size());
    result->setDimensions(document->dimensions());
    result->setFileDescription(document->fileDescription());
    return result;
}

}  // namespace

QNFlickrHandler::QNFlickrHandler(QNDriveConfigPtr driveConfig) : QNCloudInterface(std::move(driveConfig)) {
    const auto config = this->driveConfig();
    m_client = std::make_shared<FKFlickrClient>(config ? config->token() : QString(),
                                                config ? config->tokenSecret() : QString());
}

QNFlickrHandler::~QNFlickrHandler() = default;

QString QNFlickrHandler::className() const {
    return QStringLiteral("QNFlickrHandler");
}

QString QNFlickrHandler::loginCaption() {
    return QStringLiteral("SHOW DOCUMENTS ON THIS FLICKR ACCOUNT");
}

void QNFlickrHandler::registerWithFactory() {
    QNCloudInterfaceFactory::registerHandler(QNCloudInterfaceFactory::Kind::Flickr,
                                             [](const QNDriveConfigPtr &config) -> QNCloudInterfacePtr {
                                                 return std::make_shared<QNFlickrHandler>(config);
                                             });
}

std::shared_ptr<QNFlickrHandler> QNFlickrHandler::self() {
    return std::static_pointer_cast<QNFlickrHandler>(shared_from_this());
}

void QNFlickrHandler::cancel() {
    QNCloudInterface::cancel();
    m_client->cancel();
}

// --- Sign-in --------------------------------------------------------------------------------

std::shared_ptr<QNAuthWindowController> QNFlickrHandler::oAuthLoginWithCompletedBlock(QNLoginCallback completed) {
    auto sheet = openLoginSheet(std::move(completed), loginCaption());
    if (!sheet) {
        if (auto answer = takeOAuthLoginCompleted())
            answer(false, failure(QStringLiteral("There is no login sheet to sign in with.")), false);
        return nullptr;
    }
    // The sheet holds this handler; a weak one here keeps the pair from holding each other for ever.
    std::weak_ptr<QNFlickrHandler> weak = self();
    m_client->beginLogin(sheet, [weak](FKFlickrClient::Account account, VNErrorPtr error, bool cancelled) {
        auto me = weak.lock();
        QNLoginCallback answer = me ? me->takeOAuthLoginCompleted() : nullptr;
        if (!answer)
            return;
        const auto config = me->driveConfig();
        if (account.token.isEmpty() || !config) {
            answer(false, error, cancelled);
            return;
        }
        config->setToken(account.token);
        config->setTokenSecret(account.tokenSecret);
        config->setUserId(account.userId);
        answer(true, nullptr, false);
    });
    return sheet;
}

// --- Listings -------------------------------------------------------------------------------

QNDocumentPtr QNFlickrHandler::setDocument(const DXJsonValue &set) {
    const QString title = content(set[QStringLiteral("title")]);
    const QString id = set[QStringLiteral("id")].toString();
    if (!isUsableName(title) || id.isEmpty())
        return nullptr;
    auto document = QNDocument::create();
    document->setPath(joinPath(QStringLiteral("/"), title));
    document->setDisplayName(title);
    document->setIsDirectory(true);
    document->setId(id);
    document->setFileDescription(content(set[QStringLiteral("description")]));
    const qint64 updated = set[QStringLiteral("date_update")].toInt64();
    if (updated > 0)
        document->setDate(QDateTime::fromSecsSinceEpoch(updated));
    // The set's cover photo stands for the folder in the thumbnail view.
    const QString cover = set[QStringLiteral("primary_photo_extras")][QStringLiteral("url_m")].toString();
    if (!cover.isEmpty())
        document->setThumbnailURL(QUrl(cover));
    return document;
}

QNDocumentPtr QNFlickrHandler::photoDocument(const DXJsonValue &photo, const QString &setPath) {
    const QString id = photo[QStringLiteral("id")].toString();
    QString name = photo[QStringLiteral("title")].toString().trimmed();
    // A title that could leave its folder is refused before any extension is added.
    if (id.isEmpty() || (!name.isEmpty() && !isUsableName(name)))
        return nullptr;
    // Titles usually lack the extension that applications go by.
    const QString format = photo[QStringLiteral("originalformat")].toString(QStringLiteral("jpg"));
    if (name.isEmpty())
        name = id;
    if (!isPicture(name) && QFileInfo(name).suffix().compare(format, Qt::CaseInsensitive) != 0)
        name += QLatin1Char('.') + format;
    if (!isUsableName(name))
        return nullptr;
    auto document = QNDocument::create();
    document->setPath(joinPath(setPath, name));
    document->setDisplayName(name);
    document->setId(id);
    document->setFileDescription(content(photo[QStringLiteral("description")]));
    const qint64 uploaded = photo[QStringLiteral("dateupload")].toInt64();
    if (uploaded > 0)
        document->setDate(QDateTime::fromSecsSinceEpoch(uploaded));
    for (const QString &size : kSizes) {
        const QString url = photo[QStringLiteral("url_") + size].toString();
        if (url.isEmpty())
            continue;
        document->setUrl(QUrl(url));
        const int width = photo[QStringLiteral("width_") + size].toInt();
        const int height = photo[QStringLiteral("height_") + size].toInt();
        if (width > 0 && height > 0)
            document->setDimensions(QStringLiteral("%1x%2").arg(width).arg(height));
        break;
    }
    return document;
}

void QNFlickrHandler::readPages(const QString &method, const Params &params, const QString &container,
                                const QString &itemKey, int page, Items items, ItemsReply done,
                                std::shared_ptr<QNListingPages> bound) {
    if (!bound)
        bound = std::make_shared<QNListingPages>();
    Params paged = params;
    paged << std::pair{QStringLiteral("page"), QString::number(page)} << std::pair{QStringLiteral("per_page"), kPerPage};
    auto me = self();
    m_client->callSized(method, paged, false,
                   [me, method, params, container, itemKey, page, items, done, bound](
                       const DXJsonValue &reply, qint64 replyBytes, VNErrorPtr error, bool cancelled) {
                       if (error || cancelled) {
                           done(nullptr, error, cancelled);
                           return;
                       }
                       const DXJsonValue &box = reply[container];
                       const DXJsonValue &list = box[itemKey];
                       if (!box.isObject() || !list.isArray()) {
                           done(nullptr, failure(QStringLiteral("Flickr sent an unreadable listing.")), false);
                           return;
                       }
                       for (const DXJsonValue &item : list.toArray())
                           items->append(item);
                       if (const QString beyond = bound->addPage(replyBytes, list.toArray().size());
                           !beyond.isNull()) {
                           done(nullptr, failure(beyond), false);
                           return;
                       }
                       const int pages = box[QStringLiteral("pages")].toInt(1);
                       const qint64 total = box[QStringLiteral("total")].toInt64(-1);
                       if (page < pages && !list.toArray().isEmpty()) {
                           me->readPages(method, params, container, itemKey, page + 1, items, done, bound);
                           return;
                       }
                       if (page < pages || (total >= 0 && items->size() < total)) {
                           done(nullptr, failure(QStringLiteral("Flickr's listing ended early.")), false);
                           return;
                       }
                       done(items, nullptr, false);
                   });
}

void QNFlickrHandler::listSets(ListReply done, std::shared_ptr<int> leftOut) {
    const auto config = driveConfig();
    readPages(QStringLiteral("flickr.photosets.getList"),
              {{QStringLiteral("user_id"), config ? config->userId() : QString()},
               {QStringLiteral("primary_photo_extras"), QStringLiteral("url_m")}},
              QStringLiteral("photosets"), QStringLiteral("photoset"), 1, std::make_shared<QList<DXJsonValue>>(),
              [done, leftOut](Items items, VNErrorPtr error, bool cancelled) {
                  QNDocumentList sets;
                  for (const DXJsonValue &item : items ? *items : QList<DXJsonValue>()) {
                      if (auto set = setDocument(item)) {
                          sets.append(set);
                          continue;
                      }
                      VNLog::log(QStringLiteral("QNFlickrHandler skipped a set with an unusable name"));
                      if (leftOut)
                          ++*leftOut;
                  }
                  done(sets, error, cancelled);
              });
}

void QNFlickrHandler::listPhotos(const QNDocumentPtr &set, ListReply done, std::shared_ptr<int> leftOut) {
    const auto config = driveConfig();
    const QString setPath = set->path();
    readPages(QStringLiteral("flickr.photosets.getPhotos"),
              {{QStringLiteral("photoset_id"), set->id()},
               {QStringLiteral("user_id"), config ? config->userId() : QString()},
               {QStringLiteral("extras"), photoExtras()}},
              QStringLiteral("photoset"), QStringLiteral("photo"), 1, std::make_shared<QList<DXJsonValue>>(),
              [done, setPath, leftOut](Items items, VNErrorPtr error, bool cancelled) {
                  QNDocumentList photos;
                  for (const DXJsonValue &item : items ? *items : QList<DXJsonValue>()) {
                      if (auto photo = photoDocument(item, setPath)) {
                          photos.append(photo);
                          continue;
                      }
                      VNLog::log(QStringLiteral("QNFlickrHandler skipped a photo with an unusable name in %1").arg(setPath));
                      if (leftOut)
                          ++*leftOut;
                  }
                  done(photos, error, cancelled);
              });
}

void QNFlickrHandler::findSet(const QString &path, QNDocumentCallback done) {
    const QStringList parts = segments(path);
    if (parts.size() != 1) {
        done(nullptr, failure(QStringLiteral("Flickr keeps photos in sets only.")), false);
        return;
    }
    listSets([done, name = parts.first()](QNDocumentList sets, VNErrorPtr error, bool cancelled) {
        if (error || cancelled) {
            done(nullptr, error, cancelled);
            return;
        }
        for (const auto &set : sets)
            if (set->displayName() == name) {
                done(set, nullptr, false);
                return;
            }
        done(nullptr, failure(QStringLiteral("There is no set \"%1\".").arg(name)), false);
    });
}

void QNFlickrHandler::findItem(const QNDocumentPtr &document, QNDocumentCallback done) {
    const QString path = document ? withoutTrailingSlashes(document->path()) : QString();
    const QStringList parts = segments(path);
    if (parts.isEmpty() || parts.size() > 2) {
        done(nullptr, failure(QStringLiteral("There is no such item on Flickr.")), false);
        return;
    }
    // Documents of our own listings carry their ids already.
    if (!document->id().isEmpty() && (parts.size() == 1 || !document->url().isEmpty())) {
        done(copyOf(document, path), nullptr, false);
        return;
    }
    auto me = self();
    findSet(QLatin1Char('/') + parts.first(), [me, parts, done](QNDocumentPtr set, VNErrorPtr error, bool cancelled) {
        if (!set || parts.size() == 1) {
            done(set, error, cancelled);
            return;
        }
        me->listPhotos(set, [parts, done](QNDocumentList photos, VNErrorPtr error, bool cancelled) {
            if (error || cancelled) {
                done(nullptr, error, cancelled);
                return;
            }
            for (const auto &photo : photos)
                if (photo->displayName() == parts.last()) {
                    done(photo, nullptr, false);
                    return;
                }
            done(nullptr, failure(QStringLiteral("There is no photo \"%1\".").arg(parts.last())), false);
        });
    });
}

void QNFlickrHandler::photoUrl(const QNDocumentPtr &photo, QNDocumentCallback done) {
    if (!photo->url().isEmpty()) {
        done(photo, nullptr, false);
        return;
    }
    m_client->call(QStringLiteral("flickr.photos.getSizes"), {{QStringLiteral("photo_id"), photo->id()}}, false,
                   [photo, done](const DXJsonValue &reply, VNErrorPtr error, bool cancelled) {
                       if (error || cancelled) {
                           done(nullptr, error, cancelled);
                           return;
                       }
                       qint64 best = -1;
                       for (const DXJsonValue &size : reply[QStringLiteral("sizes")][QStringLiteral("size")].toArray()) {
                           const int width = size[QStringLiteral("width")].toInt();
                           const int height = size[QStringLiteral("height")].toInt();
                           const QString source = size[QStringLiteral("source")].toString();
                           if (!source.isEmpty() && qint64(width) * height > best) {
                               best = qint64(width) * height;
                               photo->setUrl(QUrl(source));
                               photo->setDimensions(QStringLiteral("%1x%2").arg(width).arg(height));
                           }
                       }
                       done(photo->url().isEmpty() ? nullptr : photo,
                            photo->url().isEmpty() ? failure(QStringLiteral("Flickr gave no size of the photo.")) : nullptr,
                            false);
                   });
}

void QNFlickrHandler::listDocuments(QNDocumentPtr folder, QString searchKeyword, QNListCallback completed) {
    const QString folderPath = withoutTrailingSlashes(folder ? folder->path() : QStringLiteral("/"));
    // What is left out for its name stays on Flickr: the folder says how many.
    auto leftOut = std::make_shared<int>(0);
    auto answer = [searchKeyword, completed, folder, leftOut](QNDocumentList documents, VNErrorPtr error,
                                                              bool cancelled) {
        QNDocumentList matching;
        if (!error && !cancelled)
            for (const auto &document : documents)
                if (searchKeyword.isEmpty() || document->displayName().contains(searchKeyword, Qt::CaseInsensitive))
                    matching.append(document);
        if (folder && !error && !cancelled)
            folder->setLeftOutCount(*leftOut);
        completed(matching, searchKeyword, error, cancelled);
    };
    if (folderPath == QLatin1String("/")) {
        listSets(answer, leftOut);
        return;
    }
    auto me = self();
    auto setFolder = folder && !folder->id().isEmpty() ? copyOf(folder, folderPath) : nullptr;
    if (setFolder && segments(folderPath).size() == 1) {
        listPhotos(setFolder, answer, leftOut);
        return;
    }
    findSet(folderPath, [me, answer, leftOut](QNDocumentPtr set, VNErrorPtr error, bool cancelled) {
        if (!set)
            answer({}, error, cancelled);
        else
            me->listPhotos(set, answer, leftOut);
    });
}

// --- Files ----------------------------------------------------------------------------------

void QNFlickrHandler::download(QNDocumentPtr document, QNDocumentPtr destPath, QNProgressCallback progress,
                               QNDocumentCallback completed) {
    const QString destination = destPath ? destPath->path() : QString();
    if (!document || destination.isEmpty() || segments(document->path()).size() != 2) {
        completed(nullptr, failure(QStringLiteral("No photo to download or no destination.")), false);
        return;
    }
    auto me = self();
    findItem(document, [me, destination, progress, completed](QNDocumentPtr photo, VNErrorPtr error, bool cancelled) {
        if (!photo) {
            completed(nullptr, error, cancelled);
            return;
        }
        me->photoUrl(photo, [me, destination, progress, completed](QNDocumentPtr photo, VNErrorPtr error, bool cancelled) {
            if (!photo) {
                completed(nullptr, error, cancelled);
                return;
            }
            const QString received = partFileFor(destination);
            auto done = downloadAnswer(received, destination, QStringLiteral("FlickrHandler"), completed);
            me->m_client->fetch(photo->url(), received, fractionProgress(progress), done);
        });
    });
}

void QNFlickrHandler::upload(QNDocumentPtr document, QNDocumentPtr destPath, QNProgressCallback progress,
                             QNDocumentCallback completed) {
    const QString source = document ? document->path() : QString();
    const QString folderPath = destPath ? withoutTrailingSlashes(destPath->path()) : QString();
    const QString name = QFileInfo(source).fileName();
    if (source.isEmpty() || segments(folderPath).size() != 1 || !isUsableName(name)) {
        completed(nullptr, failure(QStringLiteral("Photos go into a set.")), false);
        return;
    }
    auto me = self();
    auto withSet = [me, source, name, progress, completed](QNDocumentPtr set, VNErrorPtr error, bool cancelled) {
        if (!set) {
            completed(nullptr, error, cancelled);
            return;
        }
        me->m_client->upload(source, name, fractionProgress(progress), [me, set, source, name, completed](QString photoId, VNErrorPtr error, bool cancelled) {
            if (photoId.isEmpty()) {
                completed(nullptr, error, cancelled);
                return;
            }
            auto photo = QNDocument::create();
            photo->setPath(joinPath(set->path(), name));
            photo->setDisplayName(name);
            photo->setId(photoId);
            photo->setSize(QFileInfo(source).size());
            me->m_client->call(QStringLiteral("flickr.photosets.addPhoto"),
                               {{QStringLiteral("photoset_id"), set->id()}, {QStringLiteral("photo_id"), photoId}}, true,
                               [me, photo, completed](const DXJsonValue &, VNErrorPtr error, bool cancelled) {
                                   if (!error && !cancelled) {
                                       completed(photo, nullptr, false);
                                       return;
                                   }
                                   // Outside any set the photo would be out of the drive's sight.
                                   me->m_client->call(QStringLiteral("flickr.photos.delete"),
                                                      {{QStringLiteral("photo_id"), photo->id()}}, true,
                                                      [](const DXJsonValue &, VNErrorPtr, bool) {});
                                   completed(nullptr, error, cancelled);
                               });
        });
    };
    if (!destPath->id().isEmpty())
        withSet(copyOf(destPath, folderPath), nullptr, false);
    else
        findSet(folderPath, withSet);
}

void QNFlickrHandler::remove(QNDocumentPtr document, QNDocumentCallback completed) {
    auto me = self();
    findItem(document, [me, document, completed](QNDocumentPtr item, VNErrorPtr error, bool cancelled) {
        if (!item) {
            completed(nullptr, error, cancelled);
            return;
        }
        const bool isSet = segments(item->path()).size() == 1;
        me->m_client->call(isSet ? QStringLiteral("flickr.photosets.delete") : QStringLiteral("flickr.photos.delete"),
                           {{isSet ? QStringLiteral("photoset_id") : QStringLiteral("photo_id"), item->id()}}, true,
                           [document, completed](const DXJsonValue &, VNErrorPtr error, bool cancelled) {
                               completed(error || cancelled ? nullptr : document, error, cancelled);
                           });
    });
}

void QNFlickrHandler::rename(QNDocumentPtr document, QNDocumentPtr name, QNDocumentCallback completed) {
    const QString newPath = name ? withoutTrailingSlashes(name->path()) : QString();
    if (!document || !isUsableName(lastComponent(newPath)) || parentPath(newPath) != parentPath(document->path())) {
        completed(nullptr, failure(QStringLiteral("No usable new name.")), false);
        return;
    }
    auto me = self();
    findItem(document, [me, newPath, completed](QNDocumentPtr item, VNErrorPtr error, bool cancelled) {
        if (!item) {
            completed(nullptr, error, cancelled);
            return;
        }
        const bool isSet = segments(item->path()).size() == 1;
        const Params params = isSet ? Params{{QStringLiteral("photoset_id"), item->id()}, {QStringLiteral("title"), lastComponent(newPath)}}
                                    : Params{{QStringLiteral("photo_id"), item->id()}, {QStringLiteral("title"), lastComponent(newPath)}};
        // Cut off on its way, the change may still be carried out: its
        // answer alone tells where the item is.
        me->sendsToItsAnswer();
        me->m_client->call(isSet ? QStringLiteral("flickr.photosets.editMeta") : QStringLiteral("flickr.photos.setMeta"),
                           params, true, [item, newPath, completed](const DXJsonValue &, VNErrorPtr error, bool cancelled) {
                               completed(error || cancelled ? nullptr : copyOf(item, newPath), error, cancelled);
                           });
    });
}

void QNFlickrHandler::addToSet(const QNDocumentPtr &document, const QString &folderPath, bool move,
                               QNDocumentCallback completed) {
    if (!document || segments(document->path()).size() != 2 || segments(folderPath).size() != 1) {
        completed(nullptr, failure(QStringLiteral("Only photos go from set to set.")), false);
        return;
    }
    const QString sourceSet = parentPath(document->path());
    if (move && sourceSet == folderPath) {
        completed(copyOf(document, document->path()), nullptr, false);
        return;
    }
    auto me = self();
    findItem(document, [me, folderPath, sourceSet, move, completed](QNDocumentPtr photo, VNErrorPtr error, bool cancelled) {
        if (!photo) {
            completed(nullptr, error, cancelled);
            return;
        }
        me->findSet(folderPath, [me, photo, folderPath, sourceSet, move, completed](QNDocumentPtr set, VNErrorPtr error,
                                                                                    bool cancelled) {
            if (!set) {
                completed(nullptr, error, cancelled);
                return;
            }
            auto result = copyOf(photo, joinPath(folderPath, photo->displayName()));
            me->m_client->call(
                QStringLiteral("flickr.photosets.addPhoto"),
                {{QStringLiteral("photoset_id"), set->id()}, {QStringLiteral("photo_id"), photo->id()}}, true,
                [me, photo, result, sourceSet, move, completed](const DXJsonValue &, VNErrorPtr error, bool cancelled) {
                    if (error || cancelled || !move) {
                        completed(error || cancelled ? nullptr : result, error, cancelled);
                        return;
                    }
                    // Taken out of its old set only once it is in the new one.
                    me->findSet(sourceSet, [me, photo, result, completed](QNDocumentPtr from, VNErrorPtr error, bool cancelled) {
                        if (!from) {
                            completed(nullptr, error, cancelled);
                            return;
                        }
                        me->m_client->call(QStringLiteral("flickr.photosets.removePhoto"),
                                           {{QStringLiteral("photoset_id"), from->id()}, {QStringLiteral("photo_id"), photo->id()}},
                                           true, [result, completed](const DXJsonValue &, VNErrorPtr error, bool cancelled) {
                                               completed(error || cancelled ? nullptr : result, error, cancelled);
                                           });
                    });
                });
        });
    });
}

void QNFlickrHandler::localCopy(QNDocumentPtr document, QNDocumentPtr name, QNDocumentCallback completed) {
    addToSet(document, name ? withoutTrailingSlashes(name->path()) : QString(), false, std::move(completed));
}

void QNFlickrHandler::localMove(QNDocumentPtr document, QNDocumentPtr name, QNDocumentCallback completed) {
    addToSet(document, name ? withoutTrailingSlashes(name->path()) : QString(), true, std::move(completed));
}

void QNFlickrHandler::linkForDocument(QNDocumentPtr document, QNDocumentCallback completed) {
    auto me = self();
    findItem(document, [me, document, completed](QNDocumentPtr item, VNErrorPtr error, bool cancelled) {
        if (!item) {
            completed(nullptr, error, cancelled);
            return;
        }
        if (segments(item->path()).size() == 1) {
            const auto config = me->driveConfig();
            document->setLink(QNServiceHosts::url(QStringLiteral("flickr.web")) + QStringLiteral("/photos/") +
                              (config ? config->userId() : QString()) + QStringLiteral("/sets/") + item->id() + QLatin1Char('/'));
            completed(document, nullptr, false);
            return;
        }
        me->photoUrl(item, [document, completed](QNDocumentPtr photo, VNErrorPtr error, bool cancelled) {
            if (photo)
                document->setLink(photo->url().toString());
            completed(photo ? document : nullptr, error, cancelled);
        });
    });
}
