#include "Cloud/QNSSHKnownHosts.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageAuthenticationCode>
#include <QRegularExpression>
#include <mutex>

namespace {

// One process writes the file from many transfers at once.
std::mutex &fileMutex() {
    static std::mutex mutex;
    return mutex;
}

// The key type's name at the start of a key's wire form ("ssh-ed25519").
QByteArray keyTypeOf(const QByteArray &key) {
    if (key.size() < 4)
        return {};
    const quint32 length = (quint32(quint8(key[0])) << 24) | (quint32(quint8(key[1])) << 16) |
                           (quint32(quint8(key[2])) << 8) | quint32(quint8(key[3]));
    if (length == 0 || length > 64 || qsizetype(length) > key.size() - 4)
        return {};
    return key.mid(4, length);
}

}  // namespace

QString QNSSHKnownHosts::nameFor(const QString &host, int port) {
    const QString lower = host.toLower();
    return port <= 0 || port == 22 ? lower : QStringLiteral("[%1]:%2").arg(lower).arg(port);
}

bool QNSSHKnownHosts::matchesPattern(const QString &pattern, const QString &name) {
    if (!pattern.contains(QLatin1Char('*')) && !pattern.contains(QLatin1Char('?')))
        return pattern.compare(name, Qt::CaseInsensitive) == 0;
    QString expression;
    for (const QChar c : pattern) {
        if (c == QLatin1Char('*'))
            expression += QStringLiteral(".*");
        else if (c == QLatin1Char('?'))
            expression += QLatin1Char('.');
        else
            expression += QRegularExpression::escape(QString(c));
    }
    return QRegularExpression(QRegularExpression::anchoredPattern(expression),
                              QRegularExpression::CaseInsensitiveOption)
        .match(name)
        .hasMatch();
}

bool QNSSHKnownHosts::matchesHashed(const QString &hashed, const QString &name) {
    const QStringList parts = hashed.split(QLatin1Char('|'));  // "", "1", salt, hash
    if (parts.size() != 4 || parts.at(1) != QLatin1String("1"))
        return false;
    const QByteArray salt = QByteArray::fromBase64(parts.at(2).toLatin1());
    const QByteArray hash = QByteArray::fromBase64(parts.at(3).toLatin1());
    return !hash.isEmpty() &&
           QMessageAuthenticationCode::hash(name.toUtf8(), salt, QCryptographicHash::Sha1) == hash;
}

bool QNSSHKnownHosts::matchesName(const QString &names, const QString &name) {
    if (names.startsWith(QLatin1Char('|')))
        return matchesHashed(names, name);
    bool matched = false;
    for (const QString &pattern : names.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        if (pattern.startsWith(QLatin1Char('!'))) {
            if (matchesPattern(pattern.mid(1), name))
                return false;  // a negated pattern rules the name out
        } else if (matchesPattern(pattern, name)) {
            matched = true;
        }
    }
    return matched;
}

QNSSHKnownHosts::Verdict QNSSHKnownHosts::check(const QString &host, int port, const QByteArray &key) const {
    const QString name = nameFor(host, port);
    const QByteArray type = keyTypeOf(key);
    const QByteArray encoded = key.toBase64();
    std::lock_guard lock(fileMutex());
    QFile file(m_file);
    QByteArray contents;
    if (file.open(QIODevice::ReadOnly)) {
        // A known-hosts file is small; one past any sensible size is not read whole.
        contents = file.read(16 * 1024 * 1024);
        file.close();
    }
    bool known = false;
    bool changed = false;
    bool revokedKey = false;
    for (const QByteArray &rawLine : contents.split('\n')) {
        const QList<QByteArray> fields = rawLine.simplified().split(' ');
        if (fields.size() < 3 || fields.first().startsWith('#'))
            continue;
        int at = 0;
        bool revoked = false;
        if (fields.first().startsWith('@')) {
            if (fields.first() != "@revoked" || fields.size() < 4)
                continue;  // certificate authorities: not used here
            revoked = true;
            at = 1;
        }
        if (!matchesName(QString::fromUtf8(fields.at(at)), name))
            continue;
        const bool sameKey = fields.at(at + 2) == encoded;
        if (revoked) {
            revokedKey = revokedKey || sameKey;
            continue;
        }
        // Keys of other types stand beside this one (a server offers several).
        if (fields.at(at + 1) != type)
            continue;
        if (sameKey)
            known = true;
        else
            changed = true;
    }
    // One of several remembered keys of the type is enough, as for OpenSSH.
    if (revokedKey || (changed && !known))
        return Verdict::Changed;
    if (known)
        return Verdict::Known;
    if (type.isEmpty())
        return Verdict::Unreadable;
    QDir().mkpath(QFileInfo(m_file).absolutePath());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return Verdict::Unremembered;
    QByteArray line;
    if (!contents.isEmpty() && !contents.endsWith('\n'))
        line += '\n';
    line += name.toUtf8() + ' ' + type + ' ' + encoded + '\n';
    const bool written = file.write(line) == line.size() && file.flush();
    file.close();
    return written ? Verdict::Added : Verdict::Unremembered;
}
