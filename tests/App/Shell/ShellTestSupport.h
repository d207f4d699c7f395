#pragma once

#include "App/AppWindowTest.h"

// The shell tests' drives: a few stored ones with their texts and icons.
class ShellTest : public AppWindowTest {
protected:
    static QNDriveConfigPtr makeDrive(const QString &name, const QString &displayName = {},
                                      const QString &description = {}, const QString &image = {}) {
        auto d = QNDriveConfig::create();
        d->setName(name);
        d->setDisplayName(displayName);
        d->setDescription(description);
        d->setImage(image);
        return d;
    }

    // FTP drives named and shown as the names, in that order.
    static QNDriveConfigList ftpDrives(const QStringList &names) {
        QNDriveConfigList drives;
        for (const QString &n : names) {
            auto d = makeDrive(n, n, QString(), QStringLiteral("icon_ftp.pdf"));
            d->setUrl(QStringLiteral("ftp://") + n.toLower());
            drives << d;
        }
        return drives;
    }

    // Two stored drives: a Dropbox account and an FTP server.
    static QNDriveConfigList twoStoredDrives() {
        auto dropbox = makeDrive(QStringLiteral("DROPBOX"), QString(), QStringLiteral("SHOW DOCUMENTS ON THIS DROPBOX ACCOUNT"),
                                 QStringLiteral("icon_dropbox.pdf"));
        dropbox->setIsDropbox(true);
        dropbox->setUserId(QStringLiteral("1001"));
        auto ftp = makeDrive(QStringLiteral("FTP"), QStringLiteral("Office FTP"),
                             QStringLiteral("SHOW DOCUMENTS ON THIS FTP ACCOUNT"), QStringLiteral("icon_ftp.pdf"));
        ftp->setIsFTP(true);
        ftp->setUrl(QStringLiteral("ftp://127.0.0.1:2121/"));
        ftp->setUsername(QStringLiteral("user"));
        return {dropbox, ftp};
    }

    static void storeDrives(const QNDriveConfigList &drives) {
        ASSERT_TRUE(QNDriveConfig::writeStoredDrives(drives));
    }
};
