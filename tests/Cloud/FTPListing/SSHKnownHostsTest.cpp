// The known-hosts file of SFTP drives, read and written as OpenSSH does.
#include "Cloud/QNSSHKnownHosts.h"
#include "support/TestSupport.h"

#include <QCryptographicHash>
#include <QFile>
#include <QMessageAuthenticationCode>
#include <gtest/gtest.h>

namespace {

// A key's wire form: the type's name, then its bytes.
QByteArray wireKey(const QByteArray &type, char fill) {
    QByteArray key;
    for (int shift : {24, 16, 8, 0})
        key += char((type.size() >> shift) & 0xff);
    return key + type + QByteArray(36, fill);
}

QByteArray line(const QByteArray &names, const QByteArray &key) {
    return names + ' ' + key.mid(4, 11) + ' ' + key.toBase64() + '\n';
}

QByteArray hashed(const QByteArray &name) {
    const QByteArray salt(20, 's');
    return "|1|" + salt.toBase64() + '|' +
           QMessageAuthenticationCode::hash(name, salt, QCryptographicHash::Sha1).toBase64();
}

TEST(SSHKnownHosts, AKeyIsFoundUnderItsHostAndPortAsOpenSSHNamesThem) {
    const QByteArray key = wireKey("ssh-ed25519", 'a');
    const QByteArray other = wireKey("ssh-ed25519", 'b');
    const QByteArray rsa = wireKey("ssh-rsa", 'c');
    using V = QNSSHKnownHosts::Verdict;
    struct Row {
        const char *name;
        QByteArray file;
        int port;
        V verdict;
    };
    const Row rows[] = {
        {"the key under [host]:port", line("[example.org]:2222", key), 2222, V::Known},
        {"another key under [host]:port", line("[example.org]:2222", other), 2222, V::Changed},
        {"another key under another port", line("[example.org]:2200", other), 2222, V::Added},
        {"another key under the host alone, for another port", line("example.org", other), 2222, V::Added},
        {"the key under the host alone, for port 22", line("example.org", key), 22, V::Known},
        {"another key under the host alone, for port 22", line("example.org", other), 22, V::Changed},
        {"another key under [host]:22", line("[example.org]:22", other), 22, V::Added},
        {"a key of another type", line("[example.org]:2222", rsa), 2222, V::Added},
        {"the key among names and patterns", line("other.org,[example.*]:2222", key), 2222, V::Known},
        {"another key under a negated name", line("[*]:2222,![example.org]:2222", other), 2222, V::Added},
        {"the key under a hashed name", line(hashed("[example.org]:2222"), key), 2222, V::Known},
        {"another key under a hashed name", line(hashed("[example.org]:2222"), other), 2222, V::Changed},
        {"the key revoked", "@revoked * " + line("", key).mid(1), 2222, V::Changed},
        {"one of two remembered keys", line("[example.org]:2222", other) + line("[example.org]:2222", key), 2222,
         V::Known},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        auto temp = VNTest::makeTempDir();
        const QString file = temp->path() + "/known_hosts";
        ASSERT_TRUE(VNTest::writeFile(file, row.file));
        EXPECT_EQ(QNSSHKnownHosts(file).check("Example.ORG", row.port, key), row.verdict);
        const QByteArray expected =
            row.verdict == V::Added ? row.file + line(QNSSHKnownHosts::nameFor("example.org", row.port).toUtf8(), key)
                                    : row.file;
        EXPECT_EQ(VNTest::readFile(file), expected);
    }
}

// OpenSSH goes on when it cannot add a host to its file; so does a drive,
// and a key that names no type is refused.
TEST(SSHKnownHosts, AKeyThatCannotBeRememberedIsTrustedForNowAndAnUnreadableOneIsRefused) {
    auto temp = VNTest::makeTempDir();
    ASSERT_TRUE(VNTest::writeFile(temp->path() + "/a file", "not a folder"));
    const QNSSHKnownHosts unwritable(temp->path() + "/a file/known_hosts");
    EXPECT_EQ(unwritable.check("example.org", 2222, wireKey("ssh-ed25519", 'a')),
              QNSSHKnownHosts::Verdict::Unremembered);
    const QNSSHKnownHosts writable(temp->path() + "/known_hosts");
    EXPECT_EQ(writable.check("example.org", 2222, QByteArray("\0\0\0\0key", 7)), QNSSHKnownHosts::Verdict::Unreadable);
    EXPECT_FALSE(QFile::exists(temp->path() + "/known_hosts"));
}

}  // namespace
