// Base64 and Base32: the RFC 4648 vectors (every length of the final group),
// round trips of every byte value, and whitespace, padding and damaged input.
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

TEST(Base64, RfcVectorsAndRoundTripOfEveryByte) {
    for (const Vector &v : kBase64Vectors) {
        EXPECT_EQ(Base64::encode(QByteArray(v.plain)), QString::fromLatin1(v.encoded)) << v.plain;
        EXPECT_EQ(Base64::decode(QString::fromLatin1(v.encoded)), QByteArray(v.plain)) << v.encoded;
    }
    const char bytes[] = {'f', 'o', 'o', '\0', 'x'};
    EXPECT_EQ(Base64::encode(bytes, 5), "Zm9vAHg=");
    EXPECT_EQ(Base64::encode(nullptr, 3), "");
    EXPECT_EQ(Base64::decode(Base64::encode(everyByte())), everyByte());
}

TEST(Base64, DecodingSkipsWhitespaceToleratesMissingPaddingAndRefusesDamage) {
    const std::vector<std::pair<QString, QByteArray>> cases{
        {"Zm9v\nYmFy", "foobar"},
        {"Zm9v YmE=\r\n", "fooba"},
        {"\tZ m 9 v\n", "foo"},
        {"YW\r\nI =\n", "ab"},
        {"YWI", "ab"},
        {"YQ", "a"},
        {"Zm9vYmFy=", "foobar"},
        {"Y", ""},  // a lone symbol holds no byte
        {"", ""},
        {"==", ""},
        {" \n", ""},
        {"Zm9v*mFy", QByteArray()},
        {"Zm9v-_Fy", QByteArray()},  // URL alphabet is not ours
        {"YQ==YQ==", QByteArray()},  // data after padding
        {QString::fromUtf8("Zm9v\u00e4"), QByteArray()},
        {QString(), QByteArray()},
    };
    for (const auto &[text, expected] : cases) {
        const QByteArray decoded = Base64::decode(text);
        EXPECT_EQ(decoded, expected) << text.toStdString();
        EXPECT_EQ(decoded.isNull(), expected.isNull()) << text.toStdString();
    }
    // 76-character lines as mail and PEM write them.
    const QByteArray data = randomBytes(200);
    QString wrapped = Base64::encode(data);
    for (int at = 76; at < wrapped.size(); at += 78)
        wrapped.insert(at, QStringLiteral("\r\n"));
    EXPECT_EQ(Base64::decode(wrapped), data);
    EXPECT_TRUE(Base64::decode(nullptr, 4).isNull());
    const char highByte[] = {'Z', 'm', char(0xC3), '9'};
    EXPECT_TRUE(Base64::decode(highByte, 4).isNull());
    EXPECT_EQ(Base64::decode("Zm9v\nYmFy", 9), QByteArray("foobar"));
    EXPECT_EQ(Base64::decode("Zm9v\nYmFy", 4), QByteArray("foo"));
}

TEST(Base32, RfcVectorsAndRoundTripOfEveryByte) {
    for (const Vector &v : kBase32Vectors) {
        EXPECT_EQ(QNBase32Codec::base32StringFromData(QByteArray(v.plain)), QString::fromLatin1(v.encoded))
            << v.plain;
        EXPECT_EQ(QNBase32Codec::dataFromBase32String(QString::fromLatin1(v.encoded)), QByteArray(v.plain))
            << v.encoded;
    }
    EXPECT_EQ(QNBase32Codec::dataFromBase32String(QNBase32Codec::base32StringFromData(everyByte())),
              everyByte());
    const QString text = QString::fromUtf8("Grüße, 世界");  // texts travel as UTF-8
    const QString encoded = QNBase32Codec::base32StringFromString(text);
    EXPECT_EQ(encoded, QNBase32Codec::base32StringFromData(text.toUtf8()));
    EXPECT_EQ(QNBase32Codec::stringFromBase32String(encoded), text);
}

TEST(Base32, DecodingSkipsForeignCharactersAndReadsShortFinalGroups) {
    const std::vector<std::pair<QString, QByteArray>> cases{
        {"mzxq", ""},
        {"MZXQ", "fo"},
        {"MZ XQ\n====", "fo"},
        {"MZ=XW=6", "foo"},
        {QString::fromUtf8("MZ\u20acXW6"), "foo"},
        {"", ""},
        {QString(), QByteArray()},
    };
    for (const auto &[text, expected] : cases) {
        const QByteArray decoded = QNBase32Codec::dataFromBase32String(text);
        EXPECT_EQ(decoded, expected) << text.toStdString();
        EXPECT_EQ(decoded.isNull(), expected.isNull()) << text.toStdString();
    }
    // 2, 3, 4, 5, 6 and 7 trailing symbols give 1, 1, 2, 3, 3 and 4 bytes.
    const int expected[8] = {0, 0, 1, 1, 2, 3, 3, 4};
    for (int symbols = 1; symbols <= 7; ++symbols)
        EXPECT_EQ(QNBase32Codec::dataFromBase32String(QStringLiteral("MZXW6YTB").left(symbols)),
                  QByteArray("fooba").left(expected[symbols])) << symbols;
    EXPECT_EQ(QNBase32Codec::base32StringFromData(QByteArray()), "");
    EXPECT_TRUE(QNBase32Codec::base32StringFromString(QString()).isNull());
    EXPECT_TRUE(QNBase32Codec::stringFromBase32String(QString()).isNull());
}
