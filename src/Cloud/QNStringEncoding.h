#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <memory>
#include <optional>

// The character encodings of names on file servers, numbered as drive
// configurations store them (0 = detect, 4 = UTF-8, 8 = Shift JIS, 11 =
// Windows CP1251 ...), converted through iconv (NEXTSTEP and Symbol, which
// iconv lacks, through tables of their own).
//
// Bytes that are not valid in the encoding are kept, not lost: decode() turns
// each such byte into the lone low surrogate U+DC80..U+DCFF, and encode()
// turns those back into the same byte, so a file whose name is not valid in
// the drive's encoding can still be downloaded, renamed or removed.
//
// An object keeps its iconv handles open; use one per thread.
class QNStringEncoding {
public:
    enum : quint32 {
        Detect = 0,
        ASCII = 1,
        NEXTSTEP = 2,
        JapaneseEUC = 3,
        UTF8 = 4,
        ISOLatin1 = 5,
        Symbol = 6,
        NonLossyASCII = 7,
        ShiftJIS = 8,
        ISOLatin2 = 9,
        Unicode = 10,
        WindowsCP1251 = 11,
        WindowsCP1252 = 12,
        WindowsCP1253 = 13,
        WindowsCP1254 = 14,
        WindowsCP1250 = 15,
        ISO2022JP = 21,
        MacOSRoman = 30,
        UTF16BigEndian = 0x90000100,
        UTF16LittleEndian = 0x94000100,
        UTF32 = 0x8C000100,
        UTF32BigEndian = 0x98000100,
        UTF32LittleEndian = 0x9C000100,
    };

    explicit QNStringEncoding(quint32 encoding = UTF8);
    ~QNStringEncoding();
    QNStringEncoding(const QNStringEncoding &) = delete;
    QNStringEncoding &operator=(const QNStringEncoding &) = delete;

    quint32 encoding() const { return m_encoding; }
    // Whether this program can convert the encoding at all.
    bool isAvailable() const;

    // The bytes as text; bytes invalid in the encoding become escapes (see
    // above). *lossless (when given) tells whether every byte was valid.
    QString decode(QByteArrayView bytes, bool *lossless = nullptr);
    // The text as bytes; nullopt when a character has no form in the encoding.
    std::optional<QByteArray> encode(const QString &text);

    // The iconv name of an encoding number; empty for 0 and unknown numbers.
    static QByteArray iconvName(quint32 encoding);
    // The encoding number of a charset name as a detector reports it
    // ("SHIFT_JIS", "WINDOWS-1251" ...), compared without case; 0 when unknown.
    static quint32 fromCharsetName(QByteArrayView name);
    // A readable name for logs ("Shift JIS").
    static QString displayName(quint32 encoding);

    // Guesses the encoding of a block of text: UTF-8 when the bytes are valid
    // UTF-8 (plain ASCII included), else the detector's guess from the lines
    // that hold bytes beyond ASCII (the first 256 KiB of them), else 0.
    static quint32 detect(QByteArrayView bytes);
    static bool isValidUtf8(QByteArrayView bytes);

    // The escape character of a byte kept raw, and back (-1 when not one).
    static QChar escapeForByte(uchar byte) { return QChar(ushort(0xDC00 + byte)); }
    static int byteForEscape(QChar c);

private:
    struct Converters;
    quint32 m_encoding;
    std::unique_ptr<Converters> m_converters;

    QString decodeUtf8(QByteArrayView bytes, bool *lossless);
    QString decodeNonLossyAscii(QByteArrayView bytes, bool *lossless);
    QString decodeIconv(QByteArrayView bytes, bool *lossless);
    std::optional<QByteArray> encodeIconv(const QString &text);
    std::optional<QByteArray> encodeNonLossyAscii(const QString &text);
};
