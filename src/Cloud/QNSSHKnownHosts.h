#pragma once

#include <QByteArray>
#include <QString>

// The SSH servers an SFTP drive has met, in a file of OpenSSH's known-hosts
// form: one "names key-type base64-key" line per key. A server on port 22 is
// named by its host alone, on any other port as "[host]:port", so that two
// servers on one host each keep their own key; a line without a port is
// valid for port 22 only. Names may also be patterns ("*", "?", "!") or
// hashed ("|1|salt|hash"), as OpenSSH writes them; "@revoked" lines refuse
// their key. The first key met for a name is trusted and remembered.
class QNSSHKnownHosts {
public:
    enum class Verdict {
        Known,    // the key is the one remembered
        Added,    // first meeting: the key is now remembered
        Changed,  // another key of that type is remembered (or it is revoked)
        // First meeting, but the file could not be written: trusted for now,
        // as OpenSSH goes on when it cannot add a host.
        Unremembered,
        Unreadable,  // the key names no type
    };

    explicit QNSSHKnownHosts(QString file) : m_file(std::move(file)) {}

    // "host" for port 22, else "[host]:port"; the host in lower case.
    static QString nameFor(const QString &host, int port);

    // Checks the server's key (its SSH wire form, which begins with the key
    // type's name) and remembers it on first sight.
    Verdict check(const QString &host, int port, const QByteArray &key) const;

private:
    static bool matchesName(const QString &names, const QString &name);
    static bool matchesPattern(const QString &pattern, const QString &name);
    static bool matchesHashed(const QString &hashed, const QString &name);

    QString m_file;
};
