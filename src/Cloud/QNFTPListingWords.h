#pragma once

#include <QByteArrayView>
#include <QString>
#include <cstdint>

class QNStringEncoding;

// One listing line cut into words at blanks and tabs, for the readers of the
// listing formats. Words keep their place in the line, so a name can be taken
// from the line itself with its inner blanks. The text of a word is decoded
// as UTF-8 when it is valid UTF-8, else in the listing's encoding (first in
// it when that is a Japanese, Chinese or Korean one): month names and the
// marks of East Asian dates come in either.
class QNFTPListingWords {
public:
    // Enough words to reach the last column before the name of any format.
    static constexpr int kMaxWords = 24;

    QNFTPListingWords(const char *line, int32_t len, QNStringEncoding *encoding);

    const char *line() const { return m_line; }
    int32_t length() const { return m_len; }
    int count() const { return m_count; }
    // Word k, for k < count().
    const char *at(int k) const { return m_line + m_begin[k]; }
    int32_t begin(int k) const { return m_begin[k]; }
    int32_t end(int k) const { return m_end[k]; }
    // Empty for a word past the last.
    int32_t size(int k) const { return k < m_count ? m_end[k] - m_begin[k] : 0; }
    QByteArrayView bytes(int k) const { return k < m_count ? QByteArrayView(at(k), size(k)) : QByteArrayView(); }
    QString text(int k) const;

    // The value of a word of digits only; -1 for any other word (or one too
    // long to be a size or a date field).
    int64_t number(int k) const { return k < m_count ? digitsValue(bytes(k)) : -1; }
    static int64_t digitsValue(QByteArrayView digits);
    static int64_t digitsValue(QStringView digits);

private:
    static bool isEastAsian(quint32 encoding);

    const char *m_line;
    int32_t m_len;
    QNStringEncoding *m_encoding;
    int32_t m_begin[kMaxWords];
    int32_t m_end[kMaxWords];
    int m_count = 0;
};
