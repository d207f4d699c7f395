#pragma once

#include <QSet>
#include <QString>

// What one paged folder listing has taken so far, so that a service that
// never ends a listing cannot fill memory or hold the metadata queue: the
// bytes of its replies are held to QNCloudInterface::maximumListingBytes
// (large pages of few entries), its entries to maximumEntries (many small
// ones), each page weighing at least minimumPageBytes (pages of nothing
// under ever new tokens); a next-page token given twice would list the same
// pages forever. Each bound fails with its own text.
class QNListingPages {
public:
    static constexpr qsizetype maximumEntries = 100000;
    // 1,024 pages within the byte bound: a folder of maximumEntries in pages
    // of a hundred or more (every drive asks for five hundred) still fits.
    static constexpr qint64 minimumPageBytes = 32 * 1024;

    // Counts one page: its reply's size and the entries it added. A null
    // text while within the bound, else what the listing fails with.
    QString addPage(qint64 replyBytes, qsizetype entries);
    // Records the token (or address) of the next page. A null text the first
    // time, else what the listing fails with. An empty token is no page.
    QString follow(const QString &token);

    qint64 bytes() const { return m_bytes; }
    qsizetype entries() const { return m_entries; }

private:
    qint64 m_bytes = 0;
    qsizetype m_entries = 0;
    int m_pages = 0;
    QSet<QString> m_followed;
};
