// The known-hosts file of SFTP drives, read and written as OpenSSH does.
#include "Cloud/QNSSHKnownHosts.h"
#include "support/TestSupport.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QMessageAuthenticationCode>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

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
        const char *host = "example.org";  // as the drive's address gives it
    };
    const Row rows[] = {
        {"the key under [host]:port", line("[example.org]:2222", key), 2222, V::Known},
        {"another key under [host]:port", line("[example.org]:2222", other), 2222, V::Changed},
        {"another key under another port", line("[example.org]:2200", other), 2222, V::Added},
        {"another key under the host alone, for another port", line("example.org", other), 2222, V::Added},
        {"the key under the host alone, for port 22", line("example.org", key), 22, V::Known},
        {"another key under the host alone, for port 22", line("example.org", other), 22, V::Changed},
        {"another key under [host]:22", line("[example.org]:22", other), 22, V::Added},
        {"a key of another type", line("[example.org]:2222", rsa), 2222, V::OtherType},
        {"a key of another type under another port", line("[example.org]:2200", rsa), 2222, V::Added},
        {"a revoked key of another type", "@revoked " + line("[example.org]:2222", rsa), 2222, V::Added},
        {"the key beside one of another type", line("[example.org]:2222", rsa) + line("[example.org]:2222", key),
         2222, V::Known},
        {"the key among names and patterns", line("other.org,[example.*]:2222", key), 2222, V::Known},
        {"another key under a negated name", line("[*]:2222,![example.org]:2222", other), 2222, V::Added},
        {"the key under a hashed name", line(hashed("[example.org]:2222"), key), 2222, V::Known},
        {"another key under a hashed name", line(hashed("[example.org]:2222"), other), 2222, V::Changed},
        {"the key revoked", "@revoked * " + line("", key).mid(1), 2222, V::Revoked},
        // Host names are compared without regard to letter case.
        {"another key under the host in other letters' case", line("Example.ORG", other), 22, V::Changed},
        {"another key under [host]:port in other letters' case", line("[EXAMPLE.org]:2222", other), 2222, V::Changed},
        {"another key under a pattern in other letters' case", line("[EXAMPLE.*]:2222", other), 2222, V::Changed},
        {"another key under a negated name in other letters' case", line("[*]:2222,![Example.Org]:2222", other),
         2222, V::Added},
        {"one of two remembered keys", line("[example.org]:2222", other) + line("[example.org]:2222", key), 2222,
         V::Known},
        // An address written with capitals is looked for, and remembered,
        // under the lower-case name, the one a hashed line was made from.
        {"the key under the host, asked for in capitals", line("example.org", key), 22, V::Known, "Example.ORG"},
        {"another key under the host, asked for in capitals", line("example.org", other), 22, V::Changed,
         "Example.ORG"},
        {"the key under a hashed [host]:port, asked for in capitals", line(hashed("[example.org]:2222"), key), 2222,
         V::Known, "Example.ORG"},
        {"another key under a hashed [host]:port, asked for in capitals", line(hashed("[example.org]:2222"), other),
         2222, V::Changed, "Example.ORG"},
        {"another key under a hashed host, asked for in capitals", line(hashed("example.org"), other), 22,
         V::Changed, "Example.ORG"},
        {"another key under another port, asked for in capitals", line("[example.org]:2200", other), 2222, V::Added,
         "Example.ORG"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        auto temp = VNTest::makeTempDir();
        const QString file = temp->path() + "/known_hosts";
        ASSERT_TRUE(VNTest::writeFile(file, row.file));
        EXPECT_EQ(QNSSHKnownHosts(file).check(QString::fromUtf8(row.host), row.port, key), row.verdict);
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

// A file that is there but cannot be read trusts no key, a changed one
// least of all: every row but the first differs from it in the file alone.
TEST(SSHKnownHosts, AFileThatCannotBeReadTrustsNoKey) {
    const QByteArray key = wireKey("ssh-ed25519", 'a');
    const QByteArray other = wireKey("ssh-ed25519", 'b');
    using V = QNSSHKnownHosts::Verdict;
    enum class Kind { Readable, Folder, IOError, TooLarge };
    struct Row {
        const char *name;
        Kind kind;
        V verdict;
    };
    const Row rows[] = {
        {"a readable file remembering another key", Kind::Readable, V::Changed},
        {"a folder in its place", Kind::Folder, V::FileUnreadable},
        // Reading the start of a process's memory fails, for root too.
        {"a file whose reading fails", Kind::IOError, V::FileUnreadable},
        {"a file past 16 MiB", Kind::TooLarge, V::FileUnreadable},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        auto temp = VNTest::makeTempDir();
        const QString file = temp->path() + "/known_hosts";
        switch (row.kind) {
        case Kind::Readable:
            ASSERT_TRUE(VNTest::writeFile(file, line("[example.org]:2222", other)));
            break;
        case Kind::Folder:
            ASSERT_TRUE(QDir().mkpath(file));
            break;
        case Kind::IOError:
            ASSERT_TRUE(QFile::link(QStringLiteral("/proc/self/mem"), file));
            break;
        case Kind::TooLarge:
            ASSERT_TRUE(VNTest::writeFile(file, QByteArray(16 * 1024 * 1024, '#') + '\n' +
                                                    line("[example.org]:2222", other)));
            break;
        }
        const QNSSHKnownHosts knownHosts(file);
        EXPECT_EQ(knownHosts.check("example.org", 2222, key), row.verdict);
        EXPECT_EQ(knownHosts.remembered("example.org", 2222).problem.isNull(), row.kind == Kind::Readable);
        if (row.kind == Kind::Readable)
            EXPECT_EQ(VNTest::readFile(file), line("[example.org]:2222", other));
    }
}

// A key is remembered whole or not at all: on a disk that fills up midway,
// the file stays as it was and the server is met anew once there is room,
// not refused as changed for half a line.
TEST(SSHKnownHosts, AKeyIsRememberedWholeOrNotAtAllOnAFullDisk) {
    auto temp = VNTest::makeTempDir();
    const QString mountPoint = temp->path() + "/small";
    ASSERT_TRUE(QDir().mkpath(mountPoint));
    if (::mount("tmpfs", QFile::encodeName(mountPoint).constData(), "tmpfs", 0, "size=64k") != 0)
        GTEST_SKIP() << "no small file system can be mounted here";
    struct Unmount {
        QByteArray path;
        ~Unmount() { ::umount2(path.constData(), MNT_DETACH); }
    } unmount{QFile::encodeName(mountPoint)};

    // One remembered server, and a comment filling the file's page to 40
    // bytes short of its end: a new line would get those 40 bytes only.
    const QByteArray first = line("[example.org]:2222", wireKey("ssh-ed25519", 'a'));
    const QByteArray contents = first + "# " + QByteArray(4096 - 40 - first.size() - 3, 'x') + '\n';
    ASSERT_EQ(contents.size(), 4096 - 40);
    const QString file = mountPoint + "/known_hosts";
    ASSERT_TRUE(VNTest::writeFile(file, contents));
    QFile filler(mountPoint + "/filler");
    ASSERT_TRUE(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
    const QByteArray page(4096, 'f');
    while (filler.write(page) == page.size()) {
    }
    filler.close();

    const QByteArray key = wireKey("ssh-ed25519", 'b');
    EXPECT_EQ(QNSSHKnownHosts(file).check("example.net", 2222, key), QNSSHKnownHosts::Verdict::Unremembered);
    EXPECT_EQ(VNTest::readFile(file), contents);
    ASSERT_TRUE(filler.remove());
    EXPECT_EQ(QNSSHKnownHosts(file).check("example.net", 2222, key), QNSSHKnownHosts::Verdict::Added);
    EXPECT_EQ(VNTest::readFile(file), contents + line("[example.net]:2222", key));
}

}  // namespace
