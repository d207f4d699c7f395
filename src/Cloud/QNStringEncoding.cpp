#include "Cloud/QNStringEncoding.h"

#include "Cloud/QNSingleByteCharsets.h"

#include <cerrno>
#include <cstring>
#include <iconv.h>
#include <uchardet.h>

namespace {

struct EncodingName {
    quint32 number;
    const char *iconvName;
    const char *displayName;
};

// The encodings a drive form offers, then the ones a detector may report
// (numbered as the platform's string encodings: 0x80000000 plus the
// CoreFoundation number).
const EncodingName kEncodings[] = {
    {QNStringEncoding::ASCII, "ASCII", "ASCII"},
    {QNStringEncoding::NEXTSTEP, "", "NEXTSTEP"},
    {QNStringEncoding::JapaneseEUC, "EUC-JP", "Japanese EUC"},
    {QNStringEncoding::UTF8, "UTF-8", "UTF-8"},
    {QNStringEncoding::ISOLatin1, "ISO-8859-1", "ISO Latin1"},
    {QNStringEncoding::Symbol, "", "Symbol"},
    {QNStringEncoding::NonLossyASCII, "", "Non Lossy ASCII"},
    {QNStringEncoding::ShiftJIS, "CP932", "Shift JIS"},
    {QNStringEncoding::ISOLatin2, "ISO-8859-2", "ISO Latin2"},
    {QNStringEncoding::Unicode, "UTF-16", "Unicode / UTF-16"},
    {QNStringEncoding::WindowsCP1251, "CP1251", "Windows CP1251 (Cyrillic)"},
    {QNStringEncoding::WindowsCP1252, "CP1252", "Windows CP1252 (WinLatin1)"},
    {QNStringEncoding::WindowsCP1253, "CP1253", "Windows CP1253 (Greek)"},
    {QNStringEncoding::WindowsCP1254, "CP1254", "Windows CP1254 (Turkish)"},
    {QNStringEncoding::WindowsCP1250, "CP1250", "Windows CP1250 (WinLatin2)"},
    {QNStringEncoding::ISO2022JP, "ISO-2022-JP", "ISO 2022 Japanese"},
    {QNStringEncoding::MacOSRoman, "MACINTOSH", "Mac OS Roman"},
    {QNStringEncoding::UTF16BigEndian, "UTF-16BE", "UTF-16 Big Endian"},
    {QNStringEncoding::UTF16LittleEndian, "UTF-16LE", "UTF-16 Little Endian"},
    {QNStringEncoding::UTF32, "UTF-32", "UTF-32"},
    {QNStringEncoding::UTF32BigEndian, "UTF-32BE", "UTF-32 Big Endian"},
    {QNStringEncoding::UTF32LittleEndian, "UTF-32LE", "UTF-32 Little Endian"},
    // Reached only through detection.
    {0x80000007, "MAC-CYRILLIC", "Mac Cyrillic"},
    {0x80000203, "ISO-8859-3", "ISO Latin3"},
    {0x80000204, "ISO-8859-4", "ISO Latin4"},
    {0x80000205, "ISO-8859-5", "ISO Cyrillic"},
    {0x80000206, "ISO-8859-6", "ISO Arabic"},
    {0x80000207, "ISO-8859-7", "ISO Greek"},
    {0x80000208, "ISO-8859-8", "ISO Hebrew"},
    {0x80000209, "ISO-8859-9", "ISO Latin5"},
    {0x8000020A, "ISO-8859-10", "ISO Latin6"},
    {0x8000020B, "TIS-620", "Thai"},
    {0x8000020D, "ISO-8859-13", "ISO Latin7"},
    {0x8000020E, "ISO-8859-14", "ISO Latin8"},
    {0x8000020F, "ISO-8859-15", "ISO Latin9"},
    {0x80000210, "ISO-8859-16", "ISO Latin10"},
    {0x80000410, "CP850", "DOS Latin1"},
    {0x80000412, "CP852", "DOS Latin2"},
    {0x80000413, "CP855", "DOS Cyrillic"},
    {0x8000041B, "CP866", "DOS Russian"},
    {0x80000505, "CP1255", "Windows Hebrew"},
    {0x80000506, "CP1256", "Windows Arabic"},
    {0x80000507, "CP1257", "Windows Baltic"},
    {0x80000508, "CP1258", "Windows Vietnamese"},
    {0x80000632, "GB18030", "GB 18030"},
    {0x80000830, "ISO-2022-CN", "ISO 2022 Chinese"},
    {0x80000840, "ISO-2022-KR", "ISO 2022 Korean"},
    {0x80000930, "EUC-CN", "Chinese EUC"},
    {0x80000931, "EUC-TW", "Taiwanese EUC"},
    {0x80000940, "EUC-KR", "Korean EUC"},
    {0x80000A02, "KOI8-R", "KOI8-R"},
    {0x80000A03, "BIG5", "Big 5"},
    {0x80000A05, "HZ", "HZ GB 2312"},
    {0x80000A08, "KOI8-U", "KOI8-U"},
};

// Charset names a detector reports, where they differ from the iconv names above.
struct CharsetAlias {
    const char *name;
    quint32 number;
};
const CharsetAlias kCharsetAliases[] = {
    {"SHIFT_JIS", QNStringEncoding::ShiftJIS},  {"SJIS", QNStringEncoding::ShiftJIS},
    {"WINDOWS-31J", QNStringEncoding::ShiftJIS}, {"WINDOWS-1250", QNStringEncoding::WindowsCP1250},
    {"WINDOWS-1251", QNStringEncoding::WindowsCP1251}, {"WINDOWS-1252", QNStringEncoding::WindowsCP1252},
    {"WINDOWS-1253", QNStringEncoding::WindowsCP1253}, {"WINDOWS-1254", QNStringEncoding::WindowsCP1254},
    {"WINDOWS-1255", 0x80000505}, {"WINDOWS-1256", 0x80000506}, {"WINDOWS-1257", 0x80000507},
    {"WINDOWS-1258", 0x80000508}, {"IBM850", 0x80000410}, {"IBM852", 0x80000412}, {"IBM855", 0x80000413},
    {"IBM866", 0x8000041B}, {"MACCYRILLIC", 0x80000007}, {"X-MAC-CYRILLIC", 0x80000007},
    {"GB2312", 0x80000930}, {"HZ-GB-2312", 0x80000A05}, {"ISO-8859-11", 0x8000020B},
    {"US-ASCII", QNStringEncoding::ASCII}, {"UTF-16", QNStringEncoding::Unicode},
    {"MAC-ROMAN", QNStringEncoding::MacOSRoman},
};

const EncodingName *findEncoding(quint32 number)
{
    for (const auto &e : kEncodings)
        if (e.number == number)
            return &e;
    return nullptr;
}

// The length of the valid UTF-8 sequence at p (at most n bytes), or 0.
int utf8SequenceLength(const uchar *p, qsizetype n)
{
    const uchar c = p[0];
    if (c < 0x80)
        return 1;
    int len;
    uint min;
    uint cp;
    if (c >= 0xC2 && c <= 0xDF) {
        len = 2, min = 0x80, cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        len = 3, min = 0x800, cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        len = 4, min = 0x10000, cp = c & 0x07;
    } else {
        return 0;
    }
    if (n < len)
        return 0;
    for (int i = 1; i < len; ++i) {
        if ((p[i] & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (p[i] & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return len;
}

}  // namespace

struct QNStringEncoding::Converters {
    iconv_t decoder = iconv_t(-1);  // encoding -> UTF-8
    iconv_t encoder = iconv_t(-1);  // UTF-8 -> encoding
    bool decoderTried = false;
    bool encoderTried = false;

    ~Converters()
    {
        if (decoder != iconv_t(-1))
            iconv_close(decoder);
        if (encoder != iconv_t(-1))
            iconv_close(encoder);
    }
};

QNStringEncoding::QNStringEncoding(quint32 encoding)
    : m_encoding(encoding == Detect ? quint32(UTF8) : encoding), m_converters(std::make_unique<Converters>())
{
}

QNStringEncoding::~QNStringEncoding() = default;

bool QNStringEncoding::isAvailable() const
{
    if (m_encoding == UTF8 || m_encoding == NonLossyASCII || QNSingleByteCharsets::handles(m_encoding))
        return true;
    const QByteArray name = iconvName(m_encoding);
    if (name.isEmpty())
        return false;
    iconv_t cd = iconv_open("UTF-8", name.constData());
    if (cd == iconv_t(-1))
        return false;
    iconv_close(cd);
    return true;
}

QByteArray QNStringEncoding::iconvName(quint32 encoding)
{
    const EncodingName *e = findEncoding(encoding);
    return e ? QByteArray(e->iconvName) : QByteArray();
}

QString QNStringEncoding::displayName(quint32 encoding)
{
    if (encoding == Detect)
        return QStringLiteral("Detect / UTF-8");
    const EncodingName *e = findEncoding(encoding);
    return e ? QString::fromLatin1(e->displayName) : QStringLiteral("encoding %1").arg(encoding);
}

quint32 QNStringEncoding::fromCharsetName(QByteArrayView name)
{
    const QByteArray upper = name.toByteArray().trimmed().toUpper();
    if (upper.isEmpty())
        return 0;
    for (const auto &a : kCharsetAliases)
        if (upper == a.name)
            return a.number;
    for (const auto &e : kEncodings)
        if (e.iconvName[0] && upper == e.iconvName)
            return e.number;
    return 0;
}

bool QNStringEncoding::isValidUtf8(QByteArrayView bytes)
{
    const auto *p = reinterpret_cast<const uchar *>(bytes.data());
    const qsizetype n = bytes.size();
    qsizetype i = 0;
    while (i < n) {
        if (p[i] < 0x80) {
            ++i;
            continue;
        }
        const int len = utf8SequenceLength(p + i, n - i);
        if (len == 0)
            return false;
        i += len;
    }
    return true;
}

quint32 QNStringEncoding::detect(QByteArrayView bytes)
{
    if (isValidUtf8(bytes))
        return UTF8;
    // Only lines holding bytes beyond ASCII tell encodings apart; a sample of
    // them keeps the guess quick on huge listings.
    constexpr qsizetype kSampleLimit = 256 * 1024;
    QByteArray sample;
    qsizetype lineStart = 0;
    bool lineHasHighBytes = false;
    for (qsizetype i = 0; i <= bytes.size() && sample.size() < kSampleLimit; ++i) {
        if (i == bytes.size() || bytes[i] == '\n') {
            if (lineHasHighBytes)
                sample.append(bytes.data() + lineStart, i - lineStart).append('\n');
            lineStart = i + 1;
            lineHasHighBytes = false;
        } else if (uchar(bytes[i]) >= 0x80) {
            lineHasHighBytes = true;
        }
    }
    if (sample.isEmpty())
        sample = bytes.first(qMin(bytes.size(), kSampleLimit)).toByteArray();
    uchardet_t detector = uchardet_new();
    if (!detector)
        return 0;
    quint32 result = 0;
    if (uchardet_handle_data(detector, sample.constData(), size_t(sample.size())) == 0) {
        uchardet_data_end(detector);
        const char *charset = uchardet_get_charset(detector);
        if (charset && *charset)
            result = fromCharsetName(charset);
    }
    uchardet_delete(detector);
    return result;
}

int QNStringEncoding::byteForEscape(QChar c)
{
    const ushort u = c.unicode();
    return (u >= 0xDC00 && u <= 0xDCFF) ? int(u - 0xDC00) : -1;
}

QString QNStringEncoding::decode(QByteArrayView bytes, bool *lossless)
{
    if (lossless)
        *lossless = true;
    if (bytes.isEmpty())
        return QStringLiteral("");  // empty, not null
    if (m_encoding == UTF8)
        return decodeUtf8(bytes, lossless);
    if (m_encoding == NonLossyASCII)
        return decodeNonLossyAscii(bytes, lossless);
    if (QNSingleByteCharsets::handles(m_encoding))
        return QNSingleByteCharsets::decode(m_encoding, bytes, lossless);
    return decodeIconv(bytes, lossless);
}

QString QNStringEncoding::decodeUtf8(QByteArrayView bytes, bool *lossless)
{
    if (isValidUtf8(bytes))
        return QString::fromUtf8(bytes);
    const auto *p = reinterpret_cast<const uchar *>(bytes.data());
    const qsizetype n = bytes.size();
    QString out;
    out.reserve(n);
    qsizetype runStart = 0;
    qsizetype i = 0;
    while (i < n) {
        const int len = utf8SequenceLength(p + i, n - i);
        if (len > 0) {
            i += len;
            continue;
        }
        out += QString::fromUtf8(bytes.sliced(runStart, i - runStart));
        out += escapeForByte(p[i]);
        ++i;
        runStart = i;
        if (lossless)
            *lossless = false;
    }
    out += QString::fromUtf8(bytes.sliced(runStart, n - runStart));
    return out;
}

QString QNStringEncoding::decodeNonLossyAscii(QByteArrayView bytes, bool *lossless)
{
    // 7-bit text where "\\" is a backslash, "\uXXXX" a UTF-16 unit and "\ooo"
    // an octal byte value.
    QString out;
    const qsizetype n = bytes.size();
    auto hex = [](char c) -> int {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    };
    for (qsizetype i = 0; i < n; ++i) {
        const uchar c = uchar(bytes[i]);
        if (c >= 0x80) {
            out += escapeForByte(c);
            if (lossless)
                *lossless = false;
            continue;
        }
        if (c != '\\' || i + 1 >= n) {
            out += QChar(c);
            continue;
        }
        const char next = bytes[i + 1];
        if (next == '\\') {
            out += QLatin1Char('\\');
            ++i;
        } else if (next == 'u' && i + 5 < n && hex(bytes[i + 2]) >= 0 && hex(bytes[i + 3]) >= 0 &&
                   hex(bytes[i + 4]) >= 0 && hex(bytes[i + 5]) >= 0) {
            out += QChar(ushort((hex(bytes[i + 2]) << 12) | (hex(bytes[i + 3]) << 8) | (hex(bytes[i + 4]) << 4) |
                                hex(bytes[i + 5])));
            i += 5;
        } else if (i + 3 < n && next >= '0' && next <= '3' && bytes[i + 2] >= '0' && bytes[i + 2] <= '7' &&
                   bytes[i + 3] >= '0' && bytes[i + 3] <= '7') {
            out += QChar(ushort(((next - '0') << 6) | ((bytes[i + 2] - '0') << 3) | (bytes[i + 3] - '0')));
            i += 3;
        } else {
            out += QChar(c);
        }
    }
    return out;
}

QString QNStringEncoding::decodeIconv(QByteArrayView bytes, bool *lossless)
{
    Converters &cv = *m_converters;
    if (!cv.decoderTried) {
        cv.decoderTried = true;
        const QByteArray name = iconvName(m_encoding);
        if (!name.isEmpty())
            cv.decoder = iconv_open("UTF-8", name.constData());
    }
    if (cv.decoder == iconv_t(-1)) {
        // No converter for this encoding: keep every byte beyond ASCII raw.
        QString out;
        for (char c : bytes) {
            if (uchar(c) < 0x80) {
                out += QChar(uchar(c));
            } else {
                out += escapeForByte(uchar(c));
                if (lossless)
                    *lossless = false;
            }
        }
        return out;
    }
    iconv(cv.decoder, nullptr, nullptr, nullptr, nullptr);
    QString out;
    char *in = const_cast<char *>(bytes.data());
    size_t inLeft = size_t(bytes.size());
    QByteArray buffer(qMax<qsizetype>(64, bytes.size() * 4), Qt::Uninitialized);
    while (inLeft > 0) {
        char *outPtr = buffer.data();
        size_t outLeft = size_t(buffer.size());
        const size_t r = iconv(cv.decoder, &in, &inLeft, &outPtr, &outLeft);
        const int err = errno;
        out += QString::fromUtf8(buffer.constData(), outPtr - buffer.constData());
        if (r != size_t(-1))
            break;
        if (err == E2BIG)
            continue;
        // An invalid or incomplete sequence: keep its first byte and go on.
        out += escapeForByte(uchar(*in));
        ++in;
        --inLeft;
        if (lossless)
            *lossless = false;
        iconv(cv.decoder, nullptr, nullptr, nullptr, nullptr);
    }
    return out;
}

std::optional<QByteArray> QNStringEncoding::encode(const QString &text)
{
    if (m_encoding == NonLossyASCII)
        return encodeNonLossyAscii(text);
    if (QNSingleByteCharsets::handles(m_encoding))
        return QNSingleByteCharsets::encode(m_encoding, text);
    return encodeIconv(text);
}

std::optional<QByteArray> QNStringEncoding::encodeNonLossyAscii(const QString &text)
{
    QByteArray out;
    for (QChar c : text) {
        const int raw = byteForEscape(c);
        if (raw >= 0) {
            out += char(raw);
        } else if (c == QLatin1Char('\\')) {
            out += "\\\\";
        } else if (c.unicode() < 0x80) {
            out += char(c.unicode());
        } else {
            out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0')).toLatin1();
        }
    }
    return out;
}

std::optional<QByteArray> QNStringEncoding::encodeIconv(const QString &text)
{
    Converters &cv = *m_converters;
    const bool utf8 = m_encoding == UTF8;
    if (!utf8 && !cv.encoderTried) {
        cv.encoderTried = true;
        const QByteArray name = iconvName(m_encoding);
        if (!name.isEmpty())
            cv.encoder = iconv_open(name.constData(), "UTF-8");
    }
    if (!utf8 && cv.encoder == iconv_t(-1))
        return std::nullopt;

    QByteArray out;
    // Converts one run of ordinary characters.
    auto convertRun = [&](QStringView run) -> bool {
        if (run.isEmpty())
            return true;
        const QByteArray utf8Run = run.toUtf8();
        if (utf8) {
            out += utf8Run;
            return true;
        }
        iconv(cv.encoder, nullptr, nullptr, nullptr, nullptr);
        char *in = const_cast<char *>(utf8Run.constData());
        size_t inLeft = size_t(utf8Run.size());
        QByteArray buffer(qMax<qsizetype>(64, utf8Run.size() * 4 + 16), Qt::Uninitialized);
        for (;;) {
            char *outPtr = buffer.data();
            size_t outLeft = size_t(buffer.size());
            const size_t r = inLeft > 0 ? iconv(cv.encoder, &in, &inLeft, &outPtr, &outLeft)
                                        : iconv(cv.encoder, nullptr, nullptr, &outPtr, &outLeft);
            const int err = errno;
            out.append(buffer.constData(), outPtr - buffer.constData());
            if (r == size_t(-1)) {
                if (err == E2BIG)
                    continue;
                return false;
            }
            if (inLeft == 0) {
                // Return a stateful encoding to its initial shift state.
                outPtr = buffer.data();
                outLeft = size_t(buffer.size());
                if (iconv(cv.encoder, nullptr, nullptr, &outPtr, &outLeft) == size_t(-1))
                    return false;
                out.append(buffer.constData(), outPtr - buffer.constData());
                return true;
            }
        }
    };

    qsizetype runStart = 0;
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate()) {
            if (i + 1 < n && text.at(i + 1).isLowSurrogate()) {
                ++i;
                continue;
            }
            return std::nullopt;  // a broken pair has no form anywhere
        }
        if (c.isLowSurrogate()) {
            const int raw = byteForEscape(c);
            if (raw < 0)
                return std::nullopt;
            if (!convertRun(QStringView(text).sliced(runStart, i - runStart)))
                return std::nullopt;
            out += char(raw);
            runStart = i + 1;
        }
    }
    if (!convertRun(QStringView(text).sliced(runStart)))
        return std::nullopt;
    return out;
}
