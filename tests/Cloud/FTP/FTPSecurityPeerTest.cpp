// Certificates of FTPS drives and host keys of SFTP drives.
#include "FTPPeerSupport.h"

#include "Cloud/QNFTPCertificateMemory.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QJsonObject>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrl>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace FTPPeer;

namespace {

// Passes each connection on to the port it is set to, as an address another
// machine takes over: connections made before a switch stay with the first.
class Relay {
public:
    explicit Relay(int target) : m_target(target)
    {
        m_server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&m_server, &QTcpServer::newConnection, [this] {
            while (QTcpSocket *in = m_server.nextPendingConnection()) {
                auto *out = new QTcpSocket(in);
                out->connectToHost(QHostAddress::LocalHost, quint16(m_target.load()));
                QObject::connect(in, &QTcpSocket::readyRead, out, [in, out] { out->write(in->readAll()); });
                QObject::connect(out, &QTcpSocket::readyRead, in, [in, out] { in->write(out->readAll()); });
                QObject::connect(in, &QTcpSocket::disconnected, out, &QTcpSocket::disconnectFromHost);
                QObject::connect(out, &QTcpSocket::disconnected, in, &QTcpSocket::disconnectFromHost);
            }
        });
    }
    int port() const { return m_server.serverPort(); }
    void setTarget(int port) { m_target = port; }

private:
    QTcpServer m_server;
    std::atomic<int> m_target;
};

class FTPSecurity : public ::testing::Test {
protected:
    void SetUp() override
    {
        temp = VNTest::makeTempDir();
        knownHosts = temp->path() + QStringLiteral("/app/ssh_known_hosts");
        QNFTPHandler::setKnownHostsFile(knownHosts);
        QNFTPHandler::setCertificateAuthorityFile(QString());
    }
    void TearDown() override { QNFTPHandler::setCertificateAuthorityFile(QString()); }

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
    Relay relay(state(Kind::SFTP).value(QStringLiteral("port")).toInt());
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

}  // namespace
