#include "Cloud/QNFTPListingWords.h"

#include "Cloud/QNStringEncoding.h"

QNFTPListingWords::QNFTPListingWords(const char *line, int32_t len, QNStringEncoding *encoding)
    : m_line(line), m_len(len), m_encoding(encoding)
{
    int32_t i = 0;
    while (i < len && m_count < kMaxWords) {
        while (i < len && (line[i] == ' ' || line[i] == '\t'))
            ++i;
        if (i == len)
            break;
        m_begin[m_count] = i;
        while (i < len && line[i] != ' ' && line[i] != '\t')
            ++i;
        m_end[m_count++] = i;
    }
}

QString QNFTPListingWords::text(int k) const
{
    if (k >= m_count)
        return QString();
    const QByteArrayView raw = bytes(k);
    // A short word of a Japanese, Chinese or Korean encoding may happen to
    // be valid UTF-8 too ("2004年" in EUC-JP); in a listing of such an
    // encoding its own reading comes first.
    if (m_encoding && isEastAsian(m_encoding->encoding())) {
        bool lossless = false;
        const QString decoded = m_encoding->decode(raw, &lossless);
        if (lossless)
            return decoded;
    }
    if (QNStringEncoding::isValidUtf8(raw) || !m_encoding)
        return QString::fromUtf8(raw);
    return m_encoding->decode(raw);
}

bool QNFTPListingWords::isEastAsian(quint32 encoding)
{
    switch (encoding) {
    case QNStringEncoding::JapaneseEUC:
    case QNStringEncoding::ShiftJIS:
    case QNStringEncoding::ISO2022JP:
    case 0x80000632:  // GB 18030
    case 0x80000930:  // Chinese EUC (GB 2312)
    case 0x80000931:  // Taiwanese EUC
    case 0x80000940:  // Korean EUC
    case 0x80000A03:  // Big 5
        return true;
    default:
        return false;
    }
}

int64_t QNFTPListingWords::digitsValue(QByteArrayView digits)
{
    if (digits.isEmpty() || digits.size() > 18)
        return -1;
    int64_t v = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9')
            return -1;
        v = v * 10 + (c - '0');
    }
    return v;
}

int64_t QNFTPListingWords::digitsValue(QStringView digits)
{
    if (digits.isEmpty() || digits.size() > 18)
        return -1;
    int64_t v = 0;
    for (const QChar c : digits) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return -1;
        v = v * 10 + (c.unicode() - '0');
    }
    return v;
}
