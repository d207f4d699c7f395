#include "Core/QNCloudInterfaceFactory.h"

#include "Core/QNMyDocumentsHandler.h"

#include <map>
#include <mutex>
#include <vector>

namespace {

struct PredicateEntry {
    QString name;
    QNCloudInterfaceFactory::Predicate predicate;
    QNCloudInterfaceFactory::Maker maker;
};

struct Registry {
    std::mutex mutex;
    std::map<QNCloudInterfaceFactory::Kind, QNCloudInterfaceFactory::Maker> makers;
    std::vector<PredicateEntry> predicates;
    std::map<QNCloudInterfaceFactory::Kind, QNCloudInterfaceFactory::Forgetter> forgetters;
};

Registry &registry() {
    static Registry *r = new Registry;  // lives to the end; handlers may be made during exit
    return *r;
}

}  // namespace

void QNCloudInterfaceFactory::registerHandler(Kind kind, Maker maker) {
    auto &r = registry();
    std::lock_guard lock(r.mutex);
    if (maker)
        r.makers[kind] = std::move(maker);
    else
        r.makers.erase(kind);
}

void QNCloudInterfaceFactory::registerHandler(const QString &name, Predicate predicate, Maker maker) {
    auto &r = registry();
    std::lock_guard lock(r.mutex);
    for (auto &entry : r.predicates) {
        if (entry.name == name) {
            entry.predicate = std::move(predicate);
            entry.maker = std::move(maker);
            return;
        }
    }
    r.predicates.push_back({name, std::move(predicate), std::move(maker)});
}

void QNCloudInterfaceFactory::unregisterHandler(Kind kind) {
    registerHandler(kind, Maker());
}

void QNCloudInterfaceFactory::unregisterHandler(const QString &name) {
    auto &r = registry();
    std::lock_guard lock(r.mutex);
    std::erase_if(r.predicates, [&](const PredicateEntry &e) { return e.name == name; });
}

bool QNCloudInterfaceFactory::isRegistered(Kind kind) {
    auto &r = registry();
    std::lock_guard lock(r.mutex);
    return r.makers.count(kind) > 0;
}

void QNCloudInterfaceFactory::registerForgetter(Kind kind, Forgetter forgetter) {
    auto &r = registry();
    std::lock_guard lock(r.mutex);
    r.forgetters[kind] = std::move(forgetter);
}

void QNCloudInterfaceFactory::driveRemoved(const QNDriveConfig &config) {
    Forgetter forgetter;
    if (auto kind = kindOf(config)) {
        auto &r = registry();
        std::lock_guard lock(r.mutex);
        auto it = r.forgetters.find(*kind);
        if (it != r.forgetters.end())
            forgetter = it->second;
    }
    if (forgetter)
        forgetter(config);
}

void QNCloudInterfaceFactory::registerCoreHandlers() {
    registerHandler(Kind::MyFiles, &QNMyDocumentsHandler::make);
}

std::optional<QNCloudInterfaceFactory::Kind> QNCloudInterfaceFactory::kindOf(const QNDriveConfig &c) {
    if (c.isMyFiles()) return Kind::MyFiles;
    if (c.isDropbox()) return Kind::Dropbox;
    if (c.isOffice365()) return Kind::Office365;
    if (c.isGoogleDrive()) return Kind::GoogleDrive;
    if (c.isGooglePhotos()) return Kind::GooglePhotos;
    if (c.isBox()) return Kind::Box;
    if (c.isCopy()) return Kind::Copy;
    if (c.isFlickr()) return Kind::Flickr;
    if (c.isSkyDrive()) return Kind::SkyDrive;
    if (c.isSugarSync()) return Kind::SugarSync;
    if (c.isWebDAV()) return Kind::WebDAV;
    if (c.isFTP()) return Kind::FTP;
    if (c.isBitcasa()) return Kind::Bitcasa;
    return std::nullopt;
}

QString QNCloudInterfaceFactory::handlerClassName(Kind kind) {
    switch (kind) {
    case Kind::MyFiles: return QStringLiteral("QNMyDocumentsHandler");
    case Kind::Dropbox: return QStringLiteral("QNDropboxHandler");
    case Kind::Office365: return QStringLiteral("QNOffice365Handler");
    case Kind::GoogleDrive: return QStringLiteral("QNGoogleDriveHandler");
    case Kind::GooglePhotos: return QStringLiteral("QNGooglePhotosHandler");
    case Kind::Box: return QStringLiteral("QNBoxHandler");
    case Kind::Copy: return QStringLiteral("QNCopyHandler");
    case Kind::Flickr: return QStringLiteral("QNFlickrHandler");
    case Kind::SkyDrive: return QStringLiteral("QNSkyDriveHandler");
    case Kind::SugarSync: return QStringLiteral("QNSugarSyncHandler");
    case Kind::WebDAV: return QStringLiteral("QNWebDAVHandler");
    case Kind::FTP: return QStringLiteral("QNFTPHandler");
    case Kind::Bitcasa: return QStringLiteral("QNBitcasaHandler");
    }
    return {};
}

QNCloudInterfacePtr QNCloudInterfaceFactory::create(const QNDriveConfigPtr &config) {
    if (!config)
        return nullptr;
    Maker maker;
    {
        auto &r = registry();
        std::lock_guard lock(r.mutex);
        for (const auto &entry : r.predicates) {
            if (entry.predicate && entry.predicate(*config)) {
                maker = entry.maker;
                break;
            }
        }
        if (!maker) {
            if (auto kind = kindOf(*config)) {
                auto it = r.makers.find(*kind);
                if (it != r.makers.end())
                    maker = it->second;
            }
        }
    }
    return maker ? maker(config) : nullptr;
}

QNCloudInterfacePtr QNCloudInterfaceFactory::createOrFallback(const QNDriveConfigPtr &config) {
    if (auto handler = create(config))
        return handler;
    return std::make_shared<QNCloudInterface>(config);
}
