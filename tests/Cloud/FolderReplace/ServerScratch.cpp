#include "ServerScratch.h"

#include "../FTP/FTPPeerSupport.h"
#include "../WebDAV/WebDAVPeer.h"
#include "Cloud/QNFTPHandler.h"
#include "Core/QNCloudInterfaceFactory.h"
#include "Core/QNMyDocumentsHandler.h"
#include "Core/QNUtils.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QUuid>
#include <sys/stat.h>
#include <unistd.h>

namespace ServerScratch {

void setUpHandlers(const QTemporaryDir &temp) {
    WebDAVPeer::setUpOnce();
    QNCloudInterfaceFactory::registerCoreHandlers();
    QNFTPHandler::registerHandler();
    QNFTPHandler::setKnownHostsFile(temp.path() + QStringLiteral("/app/known_hosts"));
}

std::string nameOfRow(const CopyOrMove &row) { return std::string(nameOf(row.server)) + (row.move ? "Move" : "Copy"); }

const char *nameOf(Server server) {
    switch (server) {
    case Server::Local:
        return "Local";
    case Server::FTP:
        return "FTP";
    case Server::SFTP:
        return "SFTP";
    case Server::Apache:
        return "Apache";
    case Server::Nginx:
        return "Nginx";
    case Server::Lighttpd:
        return "Lighttpd";
    }
    return "?";
}

Scratch make(Server server, const QTemporaryDir &temp) {
    Scratch scratch;
    const QString name = QStringLiteral("alias-") + QUuid::createUuid().toString(QUuid::WithoutBraces).left(8);
    switch (server) {
    case Server::Local:
        scratch.drive = QNMyDocumentsHandler::makeLocalDriveConfig();
        scratch.onDisk = temp.path() + QLatin1Char('/') + name;
        scratch.drivePath = scratch.onDisk;
        break;
    case Server::FTP:
    case Server::SFTP: {
        const auto kind = server == Server::FTP ? FTPPeer::Kind::FTP : FTPPeer::Kind::SFTP;
        if (FTPPeer::root(kind).isEmpty()) {
            scratch.failure = "the test peer did not start";
            return scratch;
        }
        scratch.drive = FTPPeer::drive(kind);
        scratch.drivePath = QNUtils::withoutTrailingSlashes(FTPPeer::makeScratchFolder(kind));
        scratch.onDisk = FTPPeer::root(kind) + scratch.drivePath;
        scratch.owner = FTPPeer::root(kind);
        break;
    }
    default: {
        const char *family = server == Server::Apache ? "apache" : server == Server::Nginx ? "nginx" : "lighttpd";
        const QJsonObject peer = WebDAVPeer::server(family);
        if (peer.isEmpty()) {
            scratch.failure = std::string("the webdav peer runs no ") + family;
            return scratch;
        }
        scratch.drive = WebDAVPeer::drive(peer.value("url").toString());
        scratch.drivePath = QLatin1Char('/') + name;
        scratch.onDisk = peer.value("dir").toString() + scratch.drivePath;
        break;
    }
    }
    QDir().mkpath(scratch.onDisk);
    giveTo(scratch.onDisk, scratch.owner);
    return scratch;
}

void giveTo(const QString &root, const QString &owner) {
    struct stat info {};
    if (owner.isEmpty() || ::stat(QFile::encodeName(owner).constData(), &info) != 0)
        return;
    (void)::lchown(QFile::encodeName(root).constData(), info.st_uid, info.st_gid);
    QDirIterator all(root, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (all.hasNext())
        (void)::lchown(QFile::encodeName(all.next()).constData(), info.st_uid, info.st_gid);
}

}  // namespace ServerScratch
