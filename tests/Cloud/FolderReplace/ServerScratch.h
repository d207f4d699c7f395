#pragma once

// A scratch folder of its own on each server the namesake tests run on
// (the local disk, vsftpd, sshd, and the Apache, nginx and lighttpd WebDAV
// servers), known both as its drive names it and on the server's disk.
#include "Core/QNDriveConfig.h"

#include <QString>
#include <QTemporaryDir>
#include <memory>
#include <string>

namespace ServerScratch {

enum class Server { Local, FTP, SFTP, Apache, Nginx, Lighttpd };
const char *nameOf(Server server);

struct Scratch {
    QNDriveConfigPtr drive;
    QString drivePath;  // the scratch folder as the drive names it (no trailing "/")
    QString onDisk;     // the same folder on the server's disk
    QString owner;      // a path owned by the server's account, when files must be
    std::string failure;  // why there is none ("" when made)
};

// The drives' handlers registered and the peers' settings read; the SFTP
// server's key remembered in temp.
void setUpHandlers(const QTemporaryDir &temp);

// A fresh scratch folder on the server; a local one lies in temp.
Scratch make(Server server, const QTemporaryDir &temp);

// A row of the tests that copy or move on each server, and its name.
struct CopyOrMove {
    Server server;
    bool move;
};
std::string nameOfRow(const CopyOrMove &row);

// Gives every entry below root to the owner of owner (nothing when "").
void giveTo(const QString &root, const QString &owner);

}  // namespace ServerScratch
