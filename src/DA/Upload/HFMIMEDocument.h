#pragma once

#include "DA/Upload/HFGatherInputStream.h"

#include <QPair>

// One part of a multipart body: its header block (made once) and its body.
class HFMIMEPart {
public:
    // Headers sorted by name, case-insensitively, "Name: value\r\n" each,
    // then an empty line.
    HFMIMEPart(const QList<QPair<QString, QString>> &headers, QByteArray body);
    const QByteArray &header() const { return m_header; }
    const QByteArray &body() const { return m_body; }
    qint64 length() const { return m_header.size() + m_body.size(); }
    bool containsBytes(const QByteArray &bytes) const { return m_header.contains(bytes) || m_body.contains(bytes); }

private:
    QByteArray m_header;
    QByteArray m_body;
};

// A multipart document: parts in order, and a boundary that occurs in none
// of them. The body goes out as a gather stream over the parts' own buffers.
class HFMIMEDocument {
public:
    HFMIMEDocument() = default;
    static HFMIMEDocument MIMEDocument() { return HFMIMEDocument(); }

    // Refuses (false, nothing added) a header name or value holding a line
    // break: it would end the header block or start a header of its own.
    bool addPartWithHeaders(const QList<QPair<QString, QString>> &headers, const QByteArray &body);
    const QList<HFMIMEPart> &parts() const { return m_parts; }

    struct Body {
        std::shared_ptr<HFGatherInputStream> stream;
        qint64 length = 0;
        QString boundary;
    };
    // "\r\n--B\r\n", headers and body per part, then "\r\n--B--\r\n".
    Body generateInputStream();

    // "END_OF_PART", else "END_OF_PART_xxxxxxxx" with random digits, tried
    // until one occurs in no part.
    QString uniqueBoundary();
    // A fixed sequence of "random" numbers from the seed on (0: the system's).
    void seedRandomWith(quint32 seed) { m_randomSeed = seed; }
    quint32 random();

private:
    bool collides(const QString &candidate) const;

    QList<HFMIMEPart> m_parts;
    quint32 m_randomSeed = 0;
};
