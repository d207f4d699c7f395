// The known-hosts file of SFTP drives against real sshd servers: one with an
// ed25519 host key only, and one with an ed25519 and an ECDSA key. A file
// that cannot be read refuses every server, naming the file; a server is
// asked for the type of key remembered for it, and one that has no key of
// that type is refused, naming the host, the port and the type.
#include "../FTP/FTPPeerSupport.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QJsonObject>
#include <gtest/gtest.h>

using namespace FTPPeer;

namespace {

// Another server's keys, of each type.
const QByteArray strangerEd25519 = "ssh-ed25519 AAAAC3NzaC1lZDI1NTE5AAAAIDFMIbH4lHnjBT7MrdWFQdFSqdTrTsoi6KkAEPWTWu8t";
const QByteArray strangerEcdsa =
    "ecdsa-sha2-nistp256 AAAAE2VjZHNhLXNoYTItbmlzdHAyNTYAAAAIbmlzdHAyNTYAAABBBCHD+UC1vtl9LN2s8YZOsLnOpdeAWVcwHRLF87TMpd"
    "Ibk90e/DrlOYdb3LZ7tc/aHr+PpgsTTwkXi9gm61QopgQ=";

class SSHHostKeys : public ::testing::Test {
protected:
    void SetUp() override {
        temp = VNTest::makeTempDir();
        knownHosts = temp->path() + QStringLiteral("/app/ssh_known_hosts");
        QNFTPHandler::setKnownHostsFile(knownHosts);
        ASSERT_FALSE(root(Kind::SFTP).isEmpty()) << "the sshd peer did not start";
        twoKeys = VNTest::peerState(QStringLiteral("sshd_twokeys"));
        ASSERT_FALSE(twoKeys.isEmpty()) << "the sshd peer with two host keys did not start";
    }

    // "[127.0.0.1]:port" of a peer.
    static QByteArray nameOf(const QJsonObject &peer) {
        return "[127.0.0.1]:" + QByteArray::number(peer.value(QStringLiteral("port")).toInt());
    }
    QNDriveConfigPtr twoKeysDrive() const {
        auto config = drive(Kind::SFTP);
        config->setUrl(twoKeys.value(QStringLiteral("url")).toString());
        return config;
    }

    std::unique_ptr<QTemporaryDir> temp;
    QString knownHosts;
    QJsonObject twoKeys;
};

// The server's own key is remembered in each row but the first; the rows
// differ from the second in how the file can be read alone. A file that is
// a link is read and written where it leads: the link rows differ from the
// plain ones in the link alone, and from the good link in where it leads.
TEST_F(SSHHostKeys, AKnownHostsFileThatCannotBeReadRefusesTheServerNamingTheFile) {
    const QJsonObject peer = state(Kind::SFTP);
    const QByteArray remembered = nameOf(peer) + ' ' + strangerEd25519 + '\n';
    // Another server's key: this one is met for the first time.
    const QByteArray otherServer = "[127.0.0.1]:1 " + strangerEd25519 + '\n';
    const QByteArray ownLine = nameOf(peer) + ' ' + peer.value(QStringLiteral("host_key_public")).toString().toLatin1() + '\n';
    enum class Kind_ {
        Missing, Readable, Folder, IOError, LinkToNothing, LinkToUnreadable, LinkToGoodFile, LinkToUnwritable,
        FolderLinkToNothing, FolderLinkToGoodFolder
    };
    enum class Outcome { Passes, Changed, Unreadable, Unwritable };
    struct Row {
        const char *name;
        Kind_ kind;
        Outcome outcome;
    };
    const Row rows[] = {
        {"no file yet", Kind_::Missing, Outcome::Passes},
        {"a file remembering another key", Kind_::Readable, Outcome::Changed},
        {"a folder in its place", Kind_::Folder, Outcome::Unreadable},
        // As a file whose reading fails: the start of a process's memory
        // cannot be read, by root either.
        {"a file whose reading fails", Kind_::IOError, Outcome::Unreadable},
        // A volume not mounted: not a file never written, where every key
        // (a changed one too) would be trusted.
        {"a link to a missing target", Kind_::LinkToNothing, Outcome::Unreadable},
        {"a link to a file too large to be read", Kind_::LinkToUnreadable, Outcome::Unreadable},
        {"a link to a good file", Kind_::LinkToGoodFile, Outcome::Passes},
        // /proc takes no new file, from root either.
        {"a link to a file whose folder refuses writing", Kind_::LinkToUnwritable, Outcome::Unwritable},
        // The file's folder a link rather than the file: not there when it
        // leads nowhere, and written where it leads when it leads somewhere.
        {"its folder a link to a missing target", Kind_::FolderLinkToNothing, Outcome::Unreadable},
        {"its folder a link to a good folder", Kind_::FolderLinkToGoodFolder, Outcome::Passes},
    };
    const QString store = temp->path() + QStringLiteral("/store");
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        bool ready = true;  // the row's files could be made
        const QString folder = QFileInfo(knownHosts).absolutePath();
        if (QFileInfo(folder).isSymLink())
            QFile::remove(folder);  // the link, not what it leads to
        QDir(folder).removeRecursively();
        QDir(store).removeRecursively();
        ready = QDir().mkpath(QFileInfo(knownHosts).absolutePath());
        QString target;  // where a link leads
        QString folderTarget;  // where the file's folder leads, when it is a link
        switch (row.kind) {
        case Kind_::Missing:
            break;
        case Kind_::Readable:
            ready = ready && VNTest::writeFile(knownHosts, remembered);
            break;
        case Kind_::Folder:
            ready = ready && QDir().mkpath(knownHosts);
            break;
        case Kind_::IOError:
            ready = ready && QFile::link(QStringLiteral("/proc/self/mem"), knownHosts);
            break;
        case Kind_::LinkToNothing:
            target = temp->path() + QStringLiteral("/unmounted volume/known_hosts");
            break;
        case Kind_::LinkToUnreadable:
            target = store + QStringLiteral("/known_hosts");
            ready = ready && VNTest::writeFile(target, QByteArray(16 * 1024 * 1024, '#') + '\n' + remembered);
            break;
        case Kind_::LinkToGoodFile:
            target = store + QStringLiteral("/known_hosts");
            ready = ready && VNTest::writeFile(target, otherServer);
            break;
        case Kind_::LinkToUnwritable:
            target = QStringLiteral("/proc/version");
            break;
        case Kind_::FolderLinkToNothing:
            folderTarget = temp->path() + QStringLiteral("/unmounted volume/ssh");
            break;
        case Kind_::FolderLinkToGoodFolder:
            folderTarget = store;
            ready = ready && QDir().mkpath(store);
            break;
        }
        if (!target.isNull())
            ready = ready && QFile::link(target, knownHosts);
        if (!folderTarget.isNull())
            ready = ready && QDir().rmdir(folder) && QFile::link(folderTarget, folder);
        EXPECT_TRUE(ready) << "the row's files could not be made";
        if (!ready)
            continue;
        const QByteArray targetBefore = target.isNull() ? QByteArray() : VNTest::readFile(target);

        const Answer a = login(drive(Kind::SFTP));
        EXPECT_EQ(a.ok, row.outcome == Outcome::Passes) << a.text().toStdString();
        if (!target.isNull()) {
            EXPECT_TRUE(QFileInfo(knownHosts).isSymLink()) << "the link was replaced";
            EXPECT_EQ(VNTest::readFile(target), row.outcome == Outcome::Passes ? targetBefore + ownLine : targetBefore);
        }
        if (!folderTarget.isNull()) {
            EXPECT_TRUE(QFileInfo(folder).isSymLink()) << "the folder's link was replaced";
            EXPECT_EQ(VNTest::readFile(folderTarget + u'/' + QFileInfo(knownHosts).fileName()),
                      row.outcome == Outcome::Passes ? ownLine : QByteArray());
        }
        if (row.kind == Kind_::LinkToNothing)
            EXPECT_FALSE(QFileInfo::exists(QFileInfo(target).absolutePath()));
        if (row.kind == Kind_::FolderLinkToNothing)
            EXPECT_FALSE(QFileInfo::exists(folderTarget));
        switch (row.outcome) {
        case Outcome::Passes:
            continue;
        case Outcome::Changed:
            EXPECT_TRUE(a.text().startsWith(QStringLiteral("The server's host key has changed"))) << a.text().toStdString();
            continue;
        case Outcome::Unreadable:
            EXPECT_TRUE(a.text().startsWith(QStringLiteral("The file of remembered SSH host keys %1 cannot be read")
                                                .arg(knownHosts)))
                << a.text().toStdString();
            break;
        case Outcome::Unwritable:
            EXPECT_TRUE(a.text().startsWith(QStringLiteral("The file of remembered SSH host keys %1 cannot be written")
                                                .arg(knownHosts)))
                << a.text().toStdString();
            break;
        }
        EXPECT_TRUE(list(drive(Kind::SFTP), QStringLiteral("/")).error);
    }
}

// Rows of a remembered key and the server it is met on; each refused row
// differs from a passing one in one condition (the key's type or the server).
TEST_F(SSHHostKeys, AServerIsAskedForTheRememberedKeyTypeAndRefusedWithoutIt) {
    const QJsonObject one = state(Kind::SFTP);
    struct Row {
        const char *name;
        bool twoKeyServer;
        QByteArray remembered;  // "type base64"
        bool passes;
    };
    const Row rows[] = {
        // A server with two keys shows the one of the type remembered,
        // whichever type the library would ask for first.
        {"its ed25519 key remembered", true, twoKeys.value(QStringLiteral("host_key_public")).toString().toLatin1(),
         true},
        {"its ECDSA key remembered", true, twoKeys.value(QStringLiteral("host_key_public_ecdsa")).toString().toLatin1(),
         true},
        {"another ECDSA key remembered", true, strangerEcdsa, false},
        {"its ed25519 key remembered, one key", false, one.value(QStringLiteral("host_key_public")).toString().toLatin1(),
         true},
        // A server without a key of the remembered type is refused, not
        // remembered with another key beside.
        {"an ECDSA key remembered, one ed25519 key", false, strangerEcdsa, false},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        const QJsonObject &peer = row.twoKeyServer ? twoKeys : one;
        const QByteArray file = nameOf(peer) + ' ' + row.remembered + '\n';
        const bool written = VNTest::writeFile(knownHosts, file);
        EXPECT_TRUE(written) << "the file could not be written";
        if (!written)
            continue;
        const Answer a = login(row.twoKeyServer ? twoKeysDrive() : drive(Kind::SFTP));
        EXPECT_EQ(a.ok, row.passes) << a.text().toStdString();
        EXPECT_EQ(VNTest::readFile(knownHosts), file);
        if (row.passes)
            continue;
        const QString type = QString::fromLatin1(row.remembered.split(' ').value(0));
        if (row.twoKeyServer) {
            EXPECT_TRUE(a.text().startsWith(QStringLiteral("The server's host key has changed"))) << a.text().toStdString();
        } else {
            EXPECT_TRUE(a.text().startsWith(
                QStringLiteral("The server 127.0.0.1 on port %1 did not show a host key of the type remembered for it (%2)")
                    .arg(peer.value(QStringLiteral("port")).toInt())
                    .arg(type)))
                << a.text().toStdString();
        }
    }
}

}  // namespace
