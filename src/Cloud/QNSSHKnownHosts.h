#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <utility>

// The SSH servers an SFTP drive has met, in a file of OpenSSH's known-hosts
// form: one "names key-type base64-key" line per key. A server on port 22 is
// named by its host alone, on any other port as "[host]:port", so that two
// servers on one host each keep their own key; a line without a port is
// valid for port 22 only. Names may also be patterns ("*", "?", "!") or
// hashed ("|1|salt|hash"), as OpenSSH writes them; "@revoked" lines refuse
// their key. The first key met for a name is trusted and remembered; a
// server that once showed a key of one type must show a key of that type
// again (a connection asks for it first). A file that is there but cannot
// be read trusts nothing. A file that is a link is read and written where
// the link leads; a link that leads nowhere (a volume not mounted) cannot be
// read, and stays the link it is.
class QNSSHKnownHosts {
public:
    enum class Verdict {
        Known,    // the key is the one remembered
        Added,    // first meeting: the key is now remembered
        Changed,  // another key of that type is remembered
        Revoked,  // the key is on an "@revoked" line
        // First meeting, but the file could not be written: trusted for now,
        // as OpenSSH goes on when it cannot add a host.
        Unremembered,
        Unreadable,  // the key names no type
        // A key of another type than the ones remembered for the server.
        OtherType,
        // The file is there but cannot be read (a folder in its place, no
        // permission, an I/O error, far too large, a link to nothing):
        // nothing is trusted.
        FileUnreadable,
        // First meeting, but the file is a link and the key could not be
        // written where it leads: refused. The link says where the keys are
        // kept; trusted unremembered, the server would be met as new again
        // each time, whatever key it shows.
        LinkUnwritable,
    };

    // The keys remembered for one server: (type, base64 key), in file order;
    // and those revoked for it.
    struct Remembered {
        QString problem;  // the file cannot be read: why (else null)
        QList<std::pair<QByteArray, QByteArray>> keys;
        QList<std::pair<QByteArray, QByteArray>> revoked;
        QList<QByteArray> types() const;
    };

    explicit QNSSHKnownHosts(QString file) : m_file(std::move(file)) {}

    // "host" for port 22, else "[host]:port"; the host in lower case.
    static QString nameFor(const QString &host, int port);

    // Checks the server's key (its SSH wire form, which begins with the key
    // type's name) and remembers it on first sight. For FileUnreadable and
    // LinkUnwritable, why is given in problem (when asked for).
    Verdict check(const QString &host, int port, const QByteArray &key, QString *problem = nullptr) const;

    // What the file remembers for the server, its revoked keys apart.
    Remembered remembered(const QString &host, int port) const;

    // Known-hosts lines of the remembered keys, named as the transfer
    // library looks its server up (the URL's host as written, and in lower
    // case), so that it asks the server for a key of a remembered type.
    static QByteArray preferenceLines(const QString &urlHost, int port, const Remembered &remembered);

private:
    // The file's bytes; a missing file is empty. False, with why, when the
    // file is there but cannot be read whole.
    bool read(QByteArray *contents, QString *problem) const;
    // Writes the file anew with line added, whole or not at all; false, with
    // why, when it could not.
    bool append(const QByteArray &contents, const QByteArray &line, QString *problem) const;
    bool isLink() const;
    // The first link on the file's path (the file itself or a folder above
    // it) that leads nowhere, described; null when there is none.
    QString linkToNothingOnPath() const;
    static bool matchesName(const QString &names, const QString &name);
    static bool matchesPattern(const QString &pattern, const QString &name);
    static bool matchesHashed(const QString &hashed, const QString &name);

    QString m_file;
};
