#pragma once

#include <QByteArray>
#include <QString>

// The certificates of FTPS servers whose drives do not validate them
// against certificate authorities: remembered at the first login to a host
// and port, as SSH remembers host keys, so that a changed one is refused.
//
// Kept in a text file, one server a line: "host:port fingerprint pin", the
// fingerprint being the certificate's SHA-256 in hex pairs (as a user
// compares it) and the pin the SHA-256 of its public key in base64 (as the
// transfer library checks it before anything is sent).
class QNFTPCertificateMemory {
public:
    struct Entry {
        QString fingerprint;
        QByteArray pin;
        bool isNull() const { return pin.isEmpty(); }
    };

    explicit QNFTPCertificateMemory(QString file);

    QString file() const { return m_file; }
    Entry lookup(const QString &server) const;
    bool remember(const QString &server, const Entry &entry) const;

    // The fingerprint and pin of a certificate given in PEM; null when it
    // cannot be read.
    static Entry entryOfCertificate(const QByteArray &pem);
    // "AB:CD:..." of SHA-256 bytes.
    static QString fingerprintText(const QByteArray &sha256);

private:
    QString m_file;
};
