// The drive form's encodings through iconv, raw bytes kept, and detection.
#include "Cloud/QNStringEncoding.h"

#include <gtest/gtest.h>

#include <QList>

namespace {

TEST(StringEncoding, EveryFormEncodingIsAvailable)
{
    const quint32 form[] = {1, 7, 5, 9, 21, 3, 8, 6, 11, 12, 13, 14, 15, 30, 2, 4, 10,
                            0x90000100, 0x94000100, 0x8C000100, 0x98000100, 0x9C000100};
    for (quint32 n : form)
        EXPECT_TRUE(QNStringEncoding(n).isAvailable()) << n;
    EXPECT_EQ(QNStringEncoding(0).encoding(), quint32(QNStringEncoding::UTF8));
}

TEST(StringEncoding, RoundTripsInTheNamedEncodings)
{
    struct Case {
        quint32 encoding;
        const char *utf8;
        QByteArray bytes;
    };
    const Case cases[] = {
        {QNStringEncoding::ShiftJIS, "日本語", QByteArray::fromHex("93fa967b8cea")},
        {QNStringEncoding::WindowsCP1251, "Привет", QByteArray::fromHex("cff0e8e2e5f2")},
        {QNStringEncoding::ISOLatin1, "café", QByteArray("caf\xe9")},
        {QNStringEncoding::MacOSRoman, "café", QByteArray("caf\x8e")},
        {QNStringEncoding::JapaneseEUC, "日本", QByteArray::fromHex("c6fccbdc")},
        {QNStringEncoding::ISO2022JP, "日本", QByteArray::fromHex("1b2442467c4b5c1b2842")},
        {QNStringEncoding::UTF16LittleEndian, "ab", QByteArray("a\0b\0", 4)},
        {QNStringEncoding::NonLossyASCII, "a\\é", QByteArray("a\\\\\\u00e9")},
        {QNStringEncoding::NEXTSTEP, "déjà Ł", QByteArray("d\xdd" "j\xd5 \xe8")},
        {QNStringEncoding::Symbol, "αβ∀ 1ξ", QByteArray("ab\x22 1x")},
    };
    for (const auto &c : cases) {
        QNStringEncoding enc(c.encoding);
        EXPECT_EQ(enc.encode(QString::fromUtf8(c.utf8)).value_or("<none>"), c.bytes) << c.encoding;
        bool lossless = false;
        EXPECT_EQ(enc.decode(c.bytes, &lossless), QString::fromUtf8(c.utf8)) << c.encoding;
        EXPECT_TRUE(lossless);
    }
}

TEST(StringEncoding, InvalidBytesAreKeptAndGiveTheSameBytesBack)
{
    for (quint32 n : {quint32(QNStringEncoding::UTF8), quint32(QNStringEncoding::ShiftJIS),
                      quint32(QNStringEncoding::ASCII)}) {
        QNStringEncoding enc(n);
        const QByteArray raw("ok\xff\x80-\xc3", 6);
        bool lossless = true;
        const QString text = enc.decode(raw, &lossless);
        EXPECT_FALSE(lossless) << n;
        EXPECT_TRUE(text.startsWith(QLatin1String("ok")));
        EXPECT_EQ(enc.encode(text).value_or("<none>"), raw) << n;
    }
}

TEST(StringEncoding, TextWithNoFormInTheEncodingIsRefused)
{
    QNStringEncoding ascii(QNStringEncoding::ASCII);
    EXPECT_FALSE(ascii.encode(QString::fromUtf8("é")).has_value());
    QNStringEncoding cp1251(QNStringEncoding::WindowsCP1251);
    EXPECT_FALSE(cp1251.encode(QString::fromUtf8("日本")).has_value());
    QNStringEncoding utf8(QNStringEncoding::UTF8);
    EXPECT_FALSE(utf8.encode(QString(QChar(0xD800))).has_value());  // a broken pair
    EXPECT_EQ(utf8.encode(QString::fromUtf8("😀")).value(), QByteArray("\xf0\x9f\x98\x80"));
    // Empty text is empty, not null, either way.
    EXPECT_FALSE(utf8.decode(QByteArray()).isNull());
    EXPECT_EQ(utf8.encode(QString()).value(), QByteArray());
}

TEST(StringEncoding, Utf8Validation)
{
    EXPECT_TRUE(QNStringEncoding::isValidUtf8("plain ascii"));
    EXPECT_TRUE(QNStringEncoding::isValidUtf8("\xe6\x97\xa5"));
    EXPECT_FALSE(QNStringEncoding::isValidUtf8("\xc0\xaf"));          // overlong
    EXPECT_FALSE(QNStringEncoding::isValidUtf8("\xed\xa0\x80"));      // surrogate
    EXPECT_FALSE(QNStringEncoding::isValidUtf8("\xf4\x90\x80\x80"));  // beyond U+10FFFF
    EXPECT_FALSE(QNStringEncoding::isValidUtf8("\xe6\x97"));          // cut short
}

TEST(StringEncoding, CharsetNamesOfTheDetector)
{
    EXPECT_EQ(QNStringEncoding::fromCharsetName("SHIFT_JIS"), quint32(QNStringEncoding::ShiftJIS));
    EXPECT_EQ(QNStringEncoding::fromCharsetName("windows-1251"), quint32(QNStringEncoding::WindowsCP1251));
    EXPECT_EQ(QNStringEncoding::fromCharsetName("UTF-8"), quint32(QNStringEncoding::UTF8));
    EXPECT_EQ(QNStringEncoding::fromCharsetName("EUC-JP"), quint32(QNStringEncoding::JapaneseEUC));
    EXPECT_EQ(QNStringEncoding::fromCharsetName("KOI8-R"), 0x80000A02u);
    EXPECT_EQ(QNStringEncoding::fromCharsetName(""), 0u);
    EXPECT_EQ(QNStringEncoding::fromCharsetName("no-such-charset"), 0u);
    // Every encoding a detector can name is one we can convert.
    for (const char *name : {"GB18030", "BIG5", "EUC-KR", "ISO-8859-5", "IBM866", "MAC-CYRILLIC", "TIS-620"})
        EXPECT_TRUE(QNStringEncoding(QNStringEncoding::fromCharsetName(name)).isAvailable()) << name;
}

// A directory listing as a server sends it, with names in one encoding.
QByteArray listingOf(const QList<QByteArray> &names)
{
    QByteArray out;
    for (const auto &n : names)
        out += "-rw-r--r--    1 1000     1000          120 Mar 03 14:05 " + n + "\r\n";
    return out;
}

TEST(StringEncoding, DetectsShiftJisCp1251AndUtf8Listings)
{
    QNStringEncoding sjis(QNStringEncoding::ShiftJIS);
    QList<QByteArray> japanese;
    for (const char *n : {"日本語のファイル.txt", "会議の議事録.doc", "写真フォルダ", "新しいテキスト文書.txt",
                          "東京の地図.pdf", "お知らせ.txt"})
        japanese << sjis.encode(QString::fromUtf8(n)).value();
    EXPECT_EQ(QNStringEncoding::detect(listingOf(japanese)), quint32(QNStringEncoding::ShiftJIS));

    QNStringEncoding cp1251(QNStringEncoding::WindowsCP1251);
    QList<QByteArray> russian;
    for (const char *n : {"Привет мир.txt", "Отчёт за год.doc", "Новая папка", "Фотографии с отпуска",
                          "Документы для работы.pdf", "Список покупок.txt"})
        russian << cp1251.encode(QString::fromUtf8(n)).value();
    EXPECT_EQ(QNStringEncoding::detect(listingOf(russian)), quint32(QNStringEncoding::WindowsCP1251));
    // Valid UTF-8 and plain ASCII are taken as UTF-8.
    EXPECT_EQ(QNStringEncoding::detect(listingOf({"plain.txt"})), quint32(QNStringEncoding::UTF8));
    EXPECT_EQ(QNStringEncoding::detect(listingOf({"Привет.txt", "日本語.txt"})), quint32(QNStringEncoding::UTF8));
    EXPECT_EQ(QNStringEncoding::detect(QByteArray()), quint32(QNStringEncoding::UTF8));
}

}  // namespace
