// Certificates of FTPS drives and host keys of SFTP drives.
#include "FTPPeerSupport.h"

#include "Cloud/QNFTPCertificateMemory.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QJsonObject>
#include <QUrl>
#include <gtest/gtest.h>

#include <QFileInfo>
#include <QSet>

#include <atomic>
#include <functional>
#include <thread>

using namespace FTPPeer;

namespace {

class FTPSecurity : public ::testing::Test {
protected:
    void SetUp() override
    {
        temp = VNTest::makeTempDir();
        knownHosts = temp->path() + QStringLiteral("/app/ssh_known_hosts");
        QNFTPHandler::setKnownHostsFile(knownHosts);
        QNFTPHandler::setCertificateAuthorityFile(QString());
    }
    void TearDown() override
    {
        QNFTPHandler::setCertificateAuthorityFile(QString());
        QNFTPHandler::setTransferStartHookForTesting({});
    }

    std::unique_ptr<QTemporaryDir> temp;
    QString knownHosts;
};

TEST_F(FTPSecurity, FtpsValidatesTheCertificateWhenTheDriveAsks)
{
    ASSERT_FALSE(root(Kind::FTPS).isEmpty());
    auto config = drive(Kind::FTPS);
    config->setValidateCertificates(true);
    // The test CA is unknown to the system: refused.
    const Answer refused = login(config);
    ASSERT_TRUE(refused.error);
    EXPECT_TRUE(refused.text().startsWith(QStringLiteral("peer certificate cannot be authenticated")) ||
                refused.text().startsWith(QStringLiteral("SSL peer certificate was not ok")))
        << refused.text().toStdString();
    // Trusted once the CA is.
    QNFTPHandler::setCertificateAuthorityFile(state(Kind::FTPS).value(QStringLiteral("ca_file")).toString());
    const Answer accepted = login(config);
    EXPECT_TRUE(accepted.ok) << accepted.text().toStdString();
}

// Without validation the certificate of the first login is remembered, and
// a server showing another one is refused, naming both fingerprints, before
// the password is sent.
TEST_F(FTPSecurity, FtpsWithoutValidationRemembersTheCertificateAndRefusesAChangedOne)
{
    auto config = drive(Kind::FTPS);
    config->setValidateCertificates(false);
    const QString file = QNFTPHandler::certificatesFile();
    EXPECT_FALSE(QFile::exists(file));
    ASSERT_TRUE(login(config).ok);
    const auto served = QNFTPCertificateMemory::entryOfCertificate(
        VNTest::readFile(state(Kind::FTPS).value(QStringLiteral("workdir")).toString() + QStringLiteral("/server.pem")));
    ASSERT_FALSE(served.isNull());
    const QByteArray remembered = VNTest::readFile(file);
    EXPECT_TRUE(remembered.contains(served.fingerprint.toLatin1() + ' ' + served.pin)) << remembered.constData();
    // The same certificate again: its key matches the pin.
    ASSERT_TRUE(login(config).ok);
    EXPECT_EQ(VNTest::readFile(file), remembered);

    // As if the server's certificate had changed since.
    const QString server = QStringLiteral("127.0.0.1:%1").arg(state(Kind::FTPS).value(QStringLiteral("ftps_port")).toInt());
    const QNFTPCertificateMemory::Entry other{QNFTPCertificateMemory::fingerprintText(QByteArray(32, '\x11')),
                                             QByteArray(32, 'x').toBase64()};
    ASSERT_TRUE(QNFTPCertificateMemory(file).remember(server, other));
    const Answer a = login(config);
    ASSERT_TRUE(a.error);
    EXPECT_TRUE(a.text().startsWith(QStringLiteral("The server's certificate has changed"))) << a.text().toStdString();
    EXPECT_TRUE(a.text().contains(other.fingerprint));
    EXPECT_TRUE(a.text().contains(served.fingerprint));
    EXPECT_FALSE(a.text().contains(QStringLiteral("PASS")));
    EXPECT_TRUE(list(config, QStringLiteral("/")).error);
    EXPECT_EQ(QNFTPCertificateMemory(file).lookup(server).pin, other.pin);
}

TEST_F(FTPSecurity, PlainFtpDriveRefusedByAServerThatRequiresTls)
{
    auto config = drive(Kind::FTPS);
    config->setUseSSL(false);
    const Answer a = login(config);
    ASSERT_TRUE(a.error);
    EXPECT_FALSE(a.text().contains(config->password()));
}

TEST_F(FTPSecurity, SftpRemembersTheHostKeyAtFirstLogin)
{
    ASSERT_FALSE(root(Kind::SFTP).isEmpty());
    EXPECT_FALSE(QFile::exists(knownHosts));
    ASSERT_TRUE(login(drive(Kind::SFTP)).ok);
    const QByteArray remembered = VNTest::readFile(knownHosts);
    const QByteArray key = state(Kind::SFTP).value(QStringLiteral("host_key_public")).toString().toLatin1();
    EXPECT_TRUE(remembered.contains(key.split(' ').value(1))) << remembered.constData();
    // Known now: the next login passes and adds nothing.
    ASSERT_TRUE(login(drive(Kind::SFTP)).ok);
    EXPECT_EQ(VNTest::readFile(knownHosts), remembered);
}

TEST_F(FTPSecurity, SftpRefusesAChangedHostKey)
{
    // Another server's key remembered for this host and port.
    const int port = state(Kind::SFTP).value(QStringLiteral("port")).toInt();
    const QByteArray otherKey = "ssh-ed25519 AAAAC3NzaC1lZDI1NTE5AAAAIDFMIbH4lHnjBT7MrdWFQdFSqdTrTsoi6KkAEPWTWu8t";
    ASSERT_TRUE(VNTest::writeFile(knownHosts, "[127.0.0.1]:" + QByteArray::number(port) + ' ' + otherKey + '\n'));
    const Answer a = login(drive(Kind::SFTP));
    EXPECT_FALSE(a.ok);
    ASSERT_TRUE(a.error);
    EXPECT_TRUE(a.text().startsWith(QStringLiteral("The server's host key has changed"))) << a.text().toStdString();
    // The remembered key stays as it was.
    EXPECT_TRUE(VNTest::readFile(knownHosts).contains(otherKey));
    // And nothing else gets through either.
    const Answer l = list(drive(Kind::SFTP), QStringLiteral("/"));
    ASSERT_TRUE(l.error);
    EXPECT_TRUE(l.documents.isEmpty());
}

// The address of an SSH server taken over by another one while a connection
// to the first is in use: once a new connection met the other's key and was
// refused, the one kept from before is not used again either.
TEST_F(FTPSecurity, SftpConnectionKeptFromBeforeARefusedKeyServesNoMore)
{
    const QJsonObject second = VNTest::peerState(QStringLiteral("sshd2"));
    ASSERT_FALSE(second.isEmpty()) << "the second sshd peer did not start";
    GoBetween relay(state(Kind::SFTP).value(QStringLiteral("port")).toInt());
    auto config = drive(Kind::SFTP);
    QUrl url(config->url());
    url.setPort(relay.port());
    config->setUrl(url.toString());
    ASSERT_TRUE(login(config).ok);  // the first server's key remembered, its connection kept
    const QString folder = makeScratchFolder(Kind::SFTP);
    writeServerFile(Kind::SFTP, folder + QStringLiteral("big.bin"), randomBytes(8 << 20, 8));
    std::atomic<bool> switched{false}, refused{false};
    const Answer got = download(config, folder + QStringLiteral("big.bin"), temp->path() + QStringLiteral("/big.bin"),
                                [&](double, QNFTPHandler &) {
                                    if (switched.exchange(true))
                                        return;
                                    relay.setTarget(second.value(QStringLiteral("port")).toInt());
                                    std::atomic<bool> answered{false};
                                    handlerFor(config)->login([&](bool ok, VNErrorPtr error, bool) {
                                        refused = !ok && error && error->localizedDescription().startsWith(
                                                                      QStringLiteral("The server's host key has changed"));
                                        answered = true;
                                    });
                                    while (!answered)  // its answer comes by the main loop
                                        std::this_thread::yield();
                                });
    ASSERT_FALSE(got.error) << got.text().toStdString();
    EXPECT_TRUE(refused);
    const Answer after = login(config);
    EXPECT_FALSE(after.ok);
    EXPECT_TRUE(after.text().startsWith(QStringLiteral("The server's host key has changed"))) << after.text().toStdString();
}

// Two SSH servers on one address, each on its own port and with its own key:
// each is trusted at its first login and stays reachable after the other
// was used; a key remembered for the host alone (port 22) is no other
// port's key; a changed key on one is still refused.
TEST_F(FTPSecurity, SftpKeysAreRememberedPerHostAndPort)
{
    const QJsonObject second = VNTest::peerState(QStringLiteral("sshd2"));
    ASSERT_FALSE(root(Kind::SFTP).isEmpty()) << "the sshd peer did not start";
    ASSERT_FALSE(second.isEmpty()) << "the second sshd peer did not start";
    auto first = drive(Kind::SFTP);
    auto other = drive(Kind::SFTP);
    other->setUrl(second.value(QStringLiteral("url")).toString());
    auto lineFor = [](const QJsonObject &peer) {
        return "[127.0.0.1]:" + QByteArray::number(peer.value(QStringLiteral("port")).toInt()) + ' ' +
               peer.value(QStringLiteral("host_key_public")).toString().toLatin1();
    };
    const QByteArray firstLine = lineFor(state(Kind::SFTP));
    const QByteArray otherLine = lineFor(second);
    ASSERT_NE(firstLine.split(' ').value(2), otherLine.split(' ').value(2)) << "the peers share a host key";

    // Each trusted on first use, each remembered under its port.
    ASSERT_TRUE(login(first).ok);
    ASSERT_TRUE(login(other).ok) << login(other).text().toStdString();
    EXPECT_EQ(VNTest::readFile(knownHosts), firstLine + '\n' + otherLine + '\n');
    // Both still reachable, in either order, and nothing more remembered.
    for (const auto &config : {first, other, first}) {
        const Answer again = login(config);
        EXPECT_TRUE(again.ok) << again.text().toStdString();
    }
    EXPECT_EQ(VNTest::readFile(knownHosts), firstLine + '\n' + otherLine + '\n');

    // A key remembered for the host alone belongs to port 22, not to these.
    const QByteArray stranger = "ssh-ed25519 AAAAC3NzaC1lZDI1NTE5AAAAIDFMIbH4lHnjBT7MrdWFQdFSqdTrTsoi6KkAEPWTWu8t";
    ASSERT_TRUE(VNTest::writeFile(knownHosts, "127.0.0.1 " + stranger + '\n'));
    const Answer besidePortless = login(first);
    EXPECT_TRUE(besidePortless.ok) << besidePortless.text().toStdString();
    EXPECT_EQ(VNTest::readFile(knownHosts), "127.0.0.1 " + stranger + '\n' + firstLine + '\n');

    // A changed key on one server: refused there; the other still passes.
    ASSERT_TRUE(VNTest::writeFile(knownHosts, firstLine.split(' ').value(0) + ' ' + stranger + '\n' + otherLine + '\n'));
    const Answer changed = login(first);
    EXPECT_FALSE(changed.ok);
    EXPECT_TRUE(changed.text().startsWith(QStringLiteral("The server's host key has changed"))) << changed.text().toStdString();
    const Answer unchanged = login(other);
    EXPECT_TRUE(unchanged.ok) << unchanged.text().toStdString();
}

// A connection kept from an earlier transfer serves the next one only while
// what its checks rested on stands: a key revoked in the known-hosts file,
// or the drive's certificate authority taken out of the file it trusts,
// refuses the next transfer, and nothing it was to send arrives.
TEST_F(FTPSecurity, AKeptConnectionServesOnlyWhileWhatItsChecksRestedOnStands)
{
    const QString authorities = temp->path() + QStringLiteral("/authorities.pem");
    ASSERT_TRUE(VNTest::writeFile(authorities, VNTest::readFile(state(Kind::FTPS).value(QStringLiteral("ca_file")).toString())));
    QNFTPHandler::setCertificateAuthorityFile(authorities);
    const QByteArray key = state(Kind::SFTP).value(QStringLiteral("host_key_public")).toString().toLatin1();
    const QByteArray revoked = "@revoked [127.0.0.1]:" +
                               QByteArray::number(state(Kind::SFTP).value(QStringLiteral("port")).toInt()) + ' ' + key + '\n';
    const struct {
        const char *what;
        Kind kind;
        std::function<void()> change;
        const char *refusal;  // null when the file arrives
    } rows[] = {
        {"SFTP, nothing changed", Kind::SFTP, [] {}, nullptr},
        {"SFTP, the key revoked", Kind::SFTP,
         [&] { VNTest::writeFile(knownHosts, VNTest::readFile(knownHosts) + revoked); }, "The server's host key is revoked"},
        {"FTPS validated, nothing changed", Kind::FTPS, [] {}, nullptr},
        {"FTPS validated, its authority taken out of the file", Kind::FTPS,
         [&] { VNTest::writeFile(authorities, VNTest::readFile(QStringLiteral("/etc/ssl/certs/ca-certificates.crt"))); },
         "peer certificate cannot be authenticated"},
    };
    int n = 0;
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        [&] {  // a failing row ends here; the others still run
            // Files of their own: no connection kept by a row before serves this one.
            knownHosts = temp->path() + QStringLiteral("/row%1/ssh_known_hosts").arg(++n);
            QNFTPHandler::setKnownHostsFile(knownHosts);
            ASSERT_TRUE(VNTest::writeFile(authorities, VNTest::readFile(state(Kind::FTPS).value(QStringLiteral("ca_file")).toString())));
            auto config = drive(row.kind);
            config->setValidateCertificates(row.kind == Kind::FTPS);
            const QString folder = makeScratchFolder(row.kind);
            const QSet<int> before = connectionsTo(row.kind);
            const Answer first = login(config);
            ASSERT_TRUE(first.ok) << first.text().toStdString();
            const QSet<int> kept = connectionsTo(row.kind) - before;
            EXPECT_EQ(kept.size(), 1);
            row.change();
            const QString name = QStringLiteral("after %1.txt").arg(n);
            ASSERT_TRUE(VNTest::writeFile(temp->path() + QLatin1Char('/') + name, "sent"));
            const Answer a = upload(config, temp->path() + QLatin1Char('/') + name, folder);
            const bool arrived = QFileInfo::exists(root(row.kind) + folder + name);
            if (!row.refusal) {
                EXPECT_FALSE(a.error) << a.text().toStdString();
                EXPECT_TRUE(arrived);
                EXPECT_TRUE((connectionsTo(row.kind) - before).contains(kept)) << "the kept connection did not serve";
                return;
            }
            EXPECT_TRUE(a.error);
            EXPECT_TRUE(a.text().startsWith(QLatin1String(row.refusal))) << a.text().toStdString();
            EXPECT_FALSE(arrived);
            EXPECT_TRUE(VNTest::waitUntil([&] { return (connectionsTo(row.kind) & kept).isEmpty(); }))
                << "the kept connection was not closed";
        }();
    }
}

// A transfer reads the drive's settings once: switched while it starts (the
// settings sheet writes one field at a time), its connection is never
// checked by one setting and kept under the other. Certificates are
// validated and the test's authority is unknown: every login is refused.
TEST_F(FTPSecurity, SettingsSwitchedAsATransferStartsServeItAsTheyWereRead)
{
    for (const bool switched : {false, true}) {
        SCOPED_TRACE(switched ? "validation switched off as the transfer starts" : "nothing switched");
        auto config = drive(Kind::FTPS);
        config->setValidateCertificates(true);
        std::atomic<bool> once{false};
        QNFTPHandler::setTransferStartHookForTesting([&](const QByteArray &) {
            if (switched && !once.exchange(true))
                config->setValidateCertificates(false);
        });
        const Answer first = login(config);
        QNFTPHandler::setTransferStartHookForTesting({});
        config->setValidateCertificates(true);
        EXPECT_FALSE(first.ok);
        EXPECT_TRUE(first.text().startsWith(QStringLiteral("peer certificate cannot be authenticated")))
            << first.text().toStdString();
        const Answer again = login(config);
        EXPECT_FALSE(again.ok) << "a connection checked by nothing was kept as a validated one";
    }
}

// Following a listing's links meets the server as any transfer does: a key
// refused there (another one remembered for the server since the listing
// began) fails the listing with the refusal and closes the connection kept
// from before, which no later transfer may use.
TEST_F(FTPSecurity, AKeyRefusedWhileLinksAreFollowedEndsTheListingAndTheKeptConnections)
{
    const QByteArray stranger = "ssh-ed25519 AAAAC3NzaC1lZDI1NTE5AAAAIDFMIbH4lHnjBT7MrdWFQdFSqdTrTsoi6KkAEPWTWu8t";
    const QByteArray name = "[127.0.0.1]:" + QByteArray::number(state(Kind::SFTP).value(QStringLiteral("port")).toInt());
    for (const bool replaced : {false, true}) {
        SCOPED_TRACE(replaced ? "another key remembered as the links are followed" : "the remembered key stays");
        [&] {  // a failing row ends here; the others still run
            QFile::remove(knownHosts);
            auto config = drive(Kind::SFTP);
            const QSet<int> before = connectionsTo(Kind::SFTP);
            ASSERT_TRUE(login(config).ok);  // the key remembered, the connection kept
            const QSet<int> kept = connectionsTo(Kind::SFTP) - before;
            ASSERT_EQ(kept.size(), 1);
            std::atomic<bool> once{false};
            QNFTPHandler::setTransferStartHookForTesting([&](const QByteArray &) {
                if (replaced && !once.exchange(true))  // the listing's own transfer, on the kept connection
                    VNTest::writeFile(knownHosts, name + ' ' + stranger + '\n');
            });
            const Answer listed = list(config, QStringLiteral("/links/"));
            QNFTPHandler::setTransferStartHookForTesting({});
            if (!replaced) {
                EXPECT_FALSE(listed.error) << listed.text().toStdString();
                const auto link = find(listed.documents, QStringLiteral("folder link"));
                EXPECT_TRUE(link && link->isDirectory());
                EXPECT_FALSE((connectionsTo(Kind::SFTP) - before).isEmpty()) << "no connection kept";
                return;
            }
            ASSERT_TRUE(listed.error);
            EXPECT_TRUE(listed.text().startsWith(QStringLiteral("The server's host key has changed"))) << listed.text().toStdString();
            EXPECT_TRUE(VNTest::waitUntil([&] { return (connectionsTo(Kind::SFTP) & kept).isEmpty(); }))
                << "the connection kept from before serves on";
        }();
    }
}

}  // namespace
