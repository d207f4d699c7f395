// Base64 and Base32: the RFC 4648 vectors, round trips of every byte value,
// and the handling of whitespace, padding and damaged input.
#include "Core/Base64.h"
#include "Core/QNBase32Codec.h"

#include <QRandomGenerator>
#include <gtest/gtest.h>

#include "QtPrinters.h"

namespace {

struct Vector {
    const char *plain;
    const char *encoded;
};

// RFC 4648, section 10.
const Vector kBase64Vectors[] = {
    {"", ""},         {"f", "Zg=="},         {"fo", "Zm8="},         {"foo", "Zm9v"},
    {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"},
};
const Vector kBase32Vectors[] = {
    {"", ""},
    {"f", "MY======"},
    {"fo", "MZXQ===="},
    {"foo", "MZXW6==="},
    {"foob", "MZXW6YQ="},
    {"fooba", "MZXW6YTB"},
    {"foobar", "MZXW6YTBOI======"},
};

QByteArray everyByte() {
    QByteArray bytes;
    for (int i = 0; i < 256; ++i)
        bytes.append(char(i));
    return bytes;
}

QByteArray randomBytes(int length) {
    QByteArray bytes(length, '\0');
    for (char &b : bytes)
        b = char(QRandomGenerator::global()->bounded(256));
    return bytes;
}

}  // namespace

TEST(Base64, RfcVectors) {
    for (const Vector &v : kBase64Vectors) {
        EXPECT_EQ(Base64::encode(QByteArray(v.plain)), QString::fromLatin1(v.encoded)) << v.plain;
        EXPECT_EQ(Base64::decode(QString::fromLatin1(v.encoded)), QByteArray(v.plain)) << v.encoded;
    }
    EXPECT_EQ(Base64::encode(QByteArray("abc")), "YWJj");
    EXPECT_EQ(Base64::encode(QByteArray("ab")), "YWI=");
    EXPECT_EQ(Base64::decode(QStringLiteral("YWI=")), QByteArray("ab"));
}

TEST(Base64, EncodeFromRawBytes) {
    const char bytes[] = {'f', 'o', 'o', '\0', 'x'};
    EXPECT_EQ(Base64::encode(bytes, 5), "Zm9vAHg=");
    EXPECT_EQ(Base64::encode(nullptr, 3), "");
}

TEST(Base64, RoundTripsEveryByteAndLength) {
    EXPECT_EQ(Base64::decode(Base64::encode(everyByte())), everyByte());
    for (int length = 0; length < 40; ++length) {
        const QByteArray data = randomBytes(length);
        const QString text = Base64::encode(data);
        EXPECT_EQ(text.size(), (length + 2) / 3 * 4);
        EXPECT_EQ(Base64::decode(text), data) << length;
    }
}

TEST(Base64, WhitespaceIsSkippedNotReadAsZeros) {
    EXPECT_EQ(Base64::decode(QStringLiteral("Zm9v\nYmFy")), QByteArray("foobar"));
    EXPECT_EQ(Base64::decode(QStringLiteral("Zm9v YmE=\r\n")), QByteArray("fooba"));
    EXPECT_EQ(Base64::decode(QStringLiteral("\tZ m 9 v\n")), QByteArray("foo"));
    EXPECT_EQ(Base64::decode(QStringLiteral("YW\r\nI =\n")), QByteArray("ab"));
    // 76-character lines as mail and PEM write them.
    const QByteArray data = randomBytes(200);
    QString wrapped = Base64::encode(data);
    for (int at = 76; at < wrapped.size(); at += 78)
        wrapped.insert(at, QStringLiteral("\r\n"));
    EXPECT_EQ(Base64::decode(wrapped), data);
}

TEST(Base64, MissingPaddingStillDecodes) {
    EXPECT_EQ(Base64::decode(QStringLiteral("YWI")), QByteArray("ab"));
    EXPECT_EQ(Base64::decode(QStringLiteral("YQ")), QByteArray("a"));
    EXPECT_EQ(Base64::decode(QStringLiteral("Zm9vYmFy=")), QByteArray("foobar"));
    EXPECT_EQ(Base64::decode(QStringLiteral("Y")), QByteArray(""));  // a lone symbol holds no byte
}

TEST(Base64, DamagedInputGivesNoData) {
    EXPECT_TRUE(Base64::decode(QStringLiteral("Zm9v*mFy")).isNull());
    EXPECT_TRUE(Base64::decode(QStringLiteral("Zm9v-_Fy")).isNull());  // URL alphabet is not ours
    EXPECT_TRUE(Base64::decode(QStringLiteral("YQ==YQ==")).isNull());  // data after padding
    EXPECT_TRUE(Base64::decode(QString::fromUtf8("Zm9vä")).isNull());
    EXPECT_TRUE(Base64::decode(QString()).isNull());
    EXPECT_TRUE(Base64::decode(nullptr, 4).isNull());
    const char highByte[] = {'Z', 'm', char(0xC3), '9'};
    EXPECT_TRUE(Base64::decode(highByte, 4).isNull());
}

TEST(Base64, EmptyInputGivesEmptyData) {
    const QByteArray empty = Base64::decode(QStringLiteral(""));
    EXPECT_FALSE(empty.isNull());
    EXPECT_TRUE(empty.isEmpty());
    EXPECT_FALSE(Base64::decode(QStringLiteral("==")).isNull());
    EXPECT_FALSE(Base64::decode(QStringLiteral(" \n")).isNull());
}

TEST(Base64, DecodeFromRawCharacters) {
    const char text[] = "Zm9v\nYmFy";
    EXPECT_EQ(Base64::decode(text, 9), QByteArray("foobar"));
    EXPECT_EQ(Base64::decode(text, 4), QByteArray("foo"));
}

TEST(Base32, RfcVectors) {
    for (const Vector &v : kBase32Vectors) {
        EXPECT_EQ(QNBase32Codec::base32StringFromData(QByteArray(v.plain)), QString::fromLatin1(v.encoded))
            << v.plain;
        EXPECT_EQ(QNBase32Codec::dataFromBase32String(QString::fromLatin1(v.encoded)), QByteArray(v.plain))
            << v.encoded;
    }
}

TEST(Base32, RoundTripsEveryByteAndLength) {
    EXPECT_EQ(QNBase32Codec::dataFromBase32String(QNBase32Codec::base32StringFromData(everyByte())),
              everyByte());
    for (int length = 0; length < 40; ++length) {
        const QByteArray data = randomBytes(length);
        const QString text = QNBase32Codec::base32StringFromData(data);
        EXPECT_EQ(text.size(), (length + 4) / 5 * 8);
        EXPECT_EQ(QNBase32Codec::dataFromBase32String(text), data) << length;
    }
}

TEST(Base32, CharactersOutsideTheAlphabetAreSkipped) {
    EXPECT_EQ(QNBase32Codec::dataFromBase32String(QStringLiteral("mzxq")), QByteArray(""));
    EXPECT_EQ(QNBase32Codec::dataFromBase32String(QStringLiteral("MZXQ")), QByteArray("fo"));
    EXPECT_EQ(QNBase32Codec::dataFromBase32String(QStringLiteral("MZ XQ\n====")), QByteArray("fo"));
    EXPECT_EQ(QNBase32Codec::dataFromBase32String(QStringLiteral("MZ=XW=6")), QByteArray("foo"));
    EXPECT_EQ(QNBase32Codec::dataFromBase32String(QString::fromUtf8("MZ€XW6")), QByteArray("foo"));
}

TEST(Base32, FinalGroupLengths) {
    // 2, 3, 4, 5, 6 and 7 trailing symbols give 1, 1, 2, 3, 3 and 4 bytes.
    const QString full = QStringLiteral("MZXW6YTB");
    const int expected[8] = {0, 0, 1, 1, 2, 3, 3, 4};
    for (int symbols = 1; symbols <= 7; ++symbols) {
        const QByteArray data = QNBase32Codec::dataFromBase32String(full.left(symbols));
        EXPECT_EQ(data.size(), expected[symbols]) << symbols;
        EXPECT_EQ(data, QByteArray("fooba").left(expected[symbols])) << symbols;
    }
}

TEST(Base32, NullAndEmpty) {
    EXPECT_TRUE(QNBase32Codec::dataFromBase32String(QString()).isNull());
    EXPECT_FALSE(QNBase32Codec::dataFromBase32String(QStringLiteral("")).isNull());
    EXPECT_EQ(QNBase32Codec::base32StringFromData(QByteArray()), "");
    EXPECT_TRUE(QNBase32Codec::base32StringFromString(QString()).isNull());
    EXPECT_TRUE(QNBase32Codec::stringFromBase32String(QString()).isNull());
}

TEST(Base32, TextsTravelAsUtf8) {
    const QString text = QString::fromUtf8("Grüße, 世界");
    const QString encoded = QNBase32Codec::base32StringFromString(text);
    EXPECT_EQ(encoded, QNBase32Codec::base32StringFromData(text.toUtf8()));
    EXPECT_EQ(QNBase32Codec::stringFromBase32String(encoded), text);
    EXPECT_EQ(QNBase32Codec::base32StringFromString(QStringLiteral("foobar")), "MZXW6YTBOI======");
}
