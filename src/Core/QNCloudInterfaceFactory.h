#pragma once

#include "Core/QNCloudInterface.h"
#include "Core/QNDriveConfig.h"

#include <QString>
#include <functional>
#include <optional>

// Makes the handler of a drive: QNDriveConfig::createCloudInterface() asks
// here. Handler classes join through an explicit registration call at
// start-up (the application's and each test's), never through static
// initializers.
//
// Choice: first the predicate registrations, in the order registered (test
// kinds, for instance); then the first kind flag set, in the fixed order of
// Kind below. A kind with no registered maker yields no handler (null).
class QNCloudInterfaceFactory {
public:
    // The drive kinds that have a handler, in the order their flags are tested.
    enum class Kind {
        MyFiles,       // isMyFiles     -> QNMyDocumentsHandler
        Dropbox,       // isDropbox     -> QNDropboxHandler
        Office365,     // isOffice365   -> QNOffice365Handler
        GoogleDrive,   // isGoogleDrive -> QNGoogleDriveHandler
        GooglePhotos,  // isGooglePhotos-> QNGooglePhotosHandler
        Box,           // isBox         -> QNBoxHandler
        Copy,          // isCopy        -> QNCopyHandler
        Flickr,        // isFlickr      -> QNFlickrHandler
        SkyDrive,      // isSkyDrive    -> QNSkyDriveHandler
        SugarSync,     // isSugarSync   -> QNSugarSyncHandler
        WebDAV,        // isWebDAV      -> QNWebDAVHandler
        FTP,           // isFTP         -> QNFTPHandler
        Bitcasa,       // isBitcasa     -> QNBitcasaHandler
    };

    // Makes a handler for the configuration (normally: construct it and set
    // its driveConfig to the configuration itself).
    using Maker = std::function<QNCloudInterfacePtr(const QNDriveConfigPtr &config)>;
    using Predicate = std::function<bool(const QNDriveConfig &config)>;

    // Registers (or replaces) the maker of a kind.
    static void registerHandler(Kind kind, Maker maker);
    // Registers a maker chosen when the predicate holds, ahead of the kind
    // flags. The name identifies it for replacement and removal.
    static void registerHandler(const QString &name, Predicate predicate, Maker maker);
    static void unregisterHandler(Kind kind);
    static void unregisterHandler(const QString &name);
    static bool isRegistered(Kind kind);

    // What a handler class keeps for a drive from one operation to the next
    // (open connections) goes when the drive is removed: driveRemoved()
    // hands the drive to the forgetter registered for its kind.
    using Forgetter = std::function<void(const QNDriveConfig &config)>;
    static void registerForgetter(Kind kind, Forgetter forgetter);
    static void driveRemoved(const QNDriveConfig &config);

    // Registers the handlers of the core itself (the local-folder drive).
    // Idempotent.
    static void registerCoreHandlers();

    // The first kind flag set, in the fixed order; nullopt when none is.
    static std::optional<Kind> kindOf(const QNDriveConfig &config);
    // The handler class name of a kind ("QNMyDocumentsHandler" ...).
    static QString handlerClassName(Kind kind);

    // A new handler for the drive, or null when no registered maker serves it.
    static QNCloudInterfacePtr create(const QNDriveConfigPtr &config);
    // As create(), but a drive no handler serves gets a plain QNCloudInterface
    // whose calls answer at once ("not supported"; createFolder and quota as
    // cancelled), for callers that talk to a handler directly (login, quota).
    static QNCloudInterfacePtr createOrFallback(const QNDriveConfigPtr &config);
};
