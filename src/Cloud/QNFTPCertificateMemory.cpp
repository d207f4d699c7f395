#include "Cloud/QNFTPCertificateMemory.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

#include <mutex>

namespace {

std::mutex &fileMutex()
{
    static std::mutex m;
    return m;
}

// One DER element: its tag, where its content starts and how long it is.
struct Element {
    int tag = -1;
    qsizetype start = 0;   // of the whole element
    qsizetype content = 0;
    qsizetype length = 0;
    qsizetype end() const { return content + length; }
};

bool readElement(const QByteArray &der, qsizetype at, qsizetype limit, Element &e)
{
    if (at + 2 > limit)
        return false;
    e.start = at;
    e.tag = uchar(der[at]);
    qsizetype length = uchar(der[at + 1]);
    qsizetype pos = at + 2;
    if (length & 0x80) {
        const int count = int(length & 0x7f);
        if (count == 0 || count > 4 || pos + count > limit)
            return false;
        length = 0;
        for (int i = 0; i < count; ++i)
            length = (length << 8) | uchar(der[pos++]);
    }
    if (length > limit - pos)
        return false;
    e.content = pos;
    e.length = length;
    return true;
}

// The SubjectPublicKeyInfo element of a certificate: the seventh field of
// the signed part, or the sixth when the version is left out.
QByteArray publicKeyInfo(const QByteArray &der)
{
    Element cert;
    Element tbs;
    if (!readElement(der, 0, der.size(), cert) || cert.tag != 0x30 ||
        !readElement(der, cert.content, cert.end(), tbs) || tbs.tag != 0x30)
        return {};
    qsizetype at = tbs.content;
    Element field;
    int index = 0;
    while (at < tbs.end() && readElement(der, at, tbs.end(), field)) {
        if (index == 0 && field.tag != 0xA0)
            ++index;  // no version field
        if (index == 6)
            return field.tag == 0x30 ? der.mid(field.start, field.end() - field.start) : QByteArray();
        at = field.end();
        ++index;
    }
    return {};
}

}  // namespace

QNFTPCertificateMemory::QNFTPCertificateMemory(QString file) : m_file(std::move(file)) {}

QString QNFTPCertificateMemory::fingerprintText(const QByteArray &sha256)
{
    return QString::fromLatin1(sha256.toHex(':').toUpper());
}

QNFTPCertificateMemory::Entry QNFTPCertificateMemory::entryOfCertificate(const QByteArray &pem)
{
    const qsizetype begin = pem.indexOf("-----BEGIN CERTIFICATE-----");
    const qsizetype end = pem.indexOf("-----END CERTIFICATE-----");
    if (begin < 0 || end < begin)
        return {};
    const qsizetype bodyStart = begin + qstrlen("-----BEGIN CERTIFICATE-----");
    const QByteArray der = QByteArray::fromBase64(pem.mid(bodyStart, end - bodyStart).simplified().replace(' ', ""));
    const QByteArray key = publicKeyInfo(der);
    if (key.isEmpty())
        return {};
    return {fingerprintText(QCryptographicHash::hash(der, QCryptographicHash::Sha256)),
            QCryptographicHash::hash(key, QCryptographicHash::Sha256).toBase64()};
}

QNFTPCertificateMemory::Entry QNFTPCertificateMemory::lookup(const QString &server) const
{
    std::lock_guard lock(fileMutex());
    QFile f(m_file);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    while (!f.atEnd()) {
        const QList<QByteArray> fields = f.readLine().simplified().split(' ');
        if (fields.size() == 3 && QString::fromUtf8(fields[0]) == server)
            return {QString::fromLatin1(fields[1]), fields[2]};
    }
    return {};
}

bool QNFTPCertificateMemory::remember(const QString &server, const Entry &entry) const
{
    std::lock_guard lock(fileMutex());
    QByteArray lines;
    QFile old(m_file);
    if (old.open(QIODevice::ReadOnly)) {
        while (!old.atEnd()) {
            const QByteArray line = old.readLine();
            if (!line.startsWith(server.toUtf8() + ' '))
                lines += line;
        }
    }
    lines += server.toUtf8() + ' ' + entry.fingerprint.toLatin1() + ' ' + entry.pin + '\n';
    QFileInfo(m_file).absoluteDir().mkpath(QStringLiteral("."));
    QSaveFile f(m_file);
    return f.open(QIODevice::WriteOnly) && f.write(lines) == lines.size() && f.commit();
}
