#include "Formats/NRDataCompressor.h"
#include "Formats/NRDataDecompressor.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <gtest/gtest.h>
#include <optional>
#include <unistd.h>
#include <zlib.h>

namespace {

QByteArray sampleText(int size) {
    QByteArray text;
    int i = 0;
    while (text.size() < size)
        text += "line " + QByteArray::number(i++) + " of the listing <d:response> href=/a/b/c\n";
    text.truncate(size);
    return text;
}

QByteArray randomBytes(int size, quint32 seed) {
    QRandomGenerator rng(seed);
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        bytes[i] = char(rng.bounded(256));
    return bytes;
}

// An independent zlib encoder: windowBits 31 = gzip, 15 = zlib.
QByteArray zlibEncode(const QByteArray &plain, int windowBits) {
    z_stream s{};
    EXPECT_EQ(deflateInit2(&s, 6, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY), Z_OK);
    QByteArray out(int(deflateBound(&s, plain.size())) + 64, Qt::Uninitialized);
    s.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(plain.constData()));
    s.avail_in = plain.size();
    s.next_out = reinterpret_cast<Bytef *>(out.data());
    s.avail_out = out.size();
    EXPECT_EQ(deflate(&s, Z_FINISH), Z_STREAM_END);
    out.resize(out.size() - int(s.avail_out));
    deflateEnd(&s);
    return out;
}

QByteArray zlibDecode(const QByteArray &packed) {
    z_stream s{};
    EXPECT_EQ(inflateInit2(&s, 15 + 32), Z_OK);
    QByteArray out;
    char buf[65536];
    s.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(packed.constData()));
    s.avail_in = packed.size();
    int rc;
    do {
        s.next_out = reinterpret_cast<Bytef *>(buf);
        s.avail_out = sizeof buf;
        rc = inflate(&s, Z_NO_FLUSH);
        out.append(buf, int(sizeof buf - s.avail_out));
    } while (rc == Z_OK);
    EXPECT_EQ(rc, Z_STREAM_END);
    inflateEnd(&s);
    return out;
}

QByteArray inflateInPieces(const QByteArray &packed, int pieceSize, VNErrorPtr *error = nullptr) {
    auto d = NRDataDecompressor::decompressor();
    QByteArray out;
    for (int at = 0; at < packed.size(); at += pieceSize) {
        VNErrorPtr e;
        out += d->uncompressBytes(packed.mid(at, pieceSize), &e);
        if (e) {
            if (error)
                *error = e;
            return QByteArray();
        }
    }
    if (error)
        *error = d->finishStream();
    return out;
}

QString describe(const VNErrorPtr &e) { return e ? e->localizedDescription() : QString(); }

}  // namespace

TEST(GzipInflate, WholeAndPiecesGiveTheSameBytes) {
    const QByteArray plain = sampleText(300000);
    const QByteArray packed = zlibEncode(plain, 31);
    VNErrorPtr e;
    EXPECT_EQ(NRDataDecompressor::uncompressData(packed, &e), plain);
    EXPECT_FALSE(e);
    EXPECT_EQ(NRDataDecompressor::uncompressData(zlibEncode(plain, 15), &e), plain) << "zlib-wrapped input";
    EXPECT_FALSE(e);
    for (int piece : {1, 7, 4096}) {
        EXPECT_EQ(inflateInPieces(packed, piece, &e), plain) << piece;
        EXPECT_FALSE(e) << piece;
    }
}

TEST(GzipInflate, BytesAfterTheStreamAreIgnored) {
    const QByteArray plain = sampleText(1000);
    VNErrorPtr e;
    EXPECT_EQ(NRDataDecompressor::uncompressData(zlibEncode(plain, 31) + "garbage after", &e), plain);
    EXPECT_FALSE(e);
    // Zero padding as some servers add it, fed byte by byte.
    EXPECT_EQ(inflateInPieces(zlibEncode(plain, 31) + QByteArray(10, '\0'), 1, &e), plain);
    EXPECT_FALSE(e);
    // A lone 0x1f at the very end is not the start of a member.
    EXPECT_EQ(inflateInPieces(zlibEncode(plain, 31) + "\x1f", 3, &e), plain);
    EXPECT_FALSE(e);
}

TEST(GzipInflate, EveryMemberOfAMultiMemberStreamIsDecoded) {
    const QByteArray a = sampleText(7000), b = randomBytes(3000, 7), c = "third";
    const QByteArray packed = zlibEncode(a, 31) + zlibEncode(b, 31) + zlibEncode(c, 31);
    VNErrorPtr e;
    EXPECT_EQ(NRDataDecompressor::uncompressData(packed, &e), a + b + c);
    EXPECT_FALSE(e);
    for (int piece : {1, 2, 7, 4096})
        EXPECT_EQ(inflateInPieces(packed, piece, &e), a + b + c) << piece;
}

TEST(GzipInflate, NeitherGzipNorZlibFailsWithDataError) {
    VNErrorPtr e;
    const QByteArray out = NRDataDecompressor::uncompressData("this is plain text, not compressed", &e);
    EXPECT_TRUE(out.isNull());
    ASSERT_TRUE(e);
    EXPECT_EQ(e->domain(), "NRHTTPRequestErrorDomain");
    EXPECT_EQ(e->code(), 11);
    EXPECT_EQ(e->localizedDescription(), "Decompression of data failed with code -3");
    // Without a place for the error too.
    EXPECT_TRUE(NRDataDecompressor::decompressor()->uncompressBytes(QByteArray("not gzip at all")).isNull());
}

TEST(GzipInflate, TruncatedStreamIsAnError) {
    const QByteArray packed = zlibEncode(sampleText(100000), 31);
    for (qsizetype cut : {qsizetype(1), qsizetype(10), packed.size() / 2, packed.size() - 1}) {
        VNErrorPtr e;
        EXPECT_TRUE(NRDataDecompressor::uncompressData(packed.left(cut), &e).isNull()) << cut;
        ASSERT_TRUE(e) << cut;
        EXPECT_EQ(e->code(), 11);
        EXPECT_EQ(e->localizedDescription(), "Decompression of data failed with code -5");
        inflateInPieces(packed.left(cut), 1000, &e);
        EXPECT_TRUE(e) << cut;
    }
}

TEST(GzipCodec, EmptyInputGivesNothingAndNoError) {
    VNErrorPtr e;
    EXPECT_TRUE(NRDataDecompressor::uncompressData(QByteArray(), &e).isNull());
    EXPECT_FALSE(e);
    auto d = NRDataDecompressor::decompressor();
    EXPECT_TRUE(d->uncompressBytes(nullptr, 0, &e).isNull());
    EXPECT_FALSE(e);
    EXPECT_FALSE(d->finishStream());
    EXPECT_TRUE(NRDataCompressor::compressData(QByteArray(), &e).isNull());
    EXPECT_FALSE(e);
}

TEST(GzipInflate, HighlyCompressedInputExpandsFully) {
    // 64 MiB of zeros packs into ~64 KiB: the output must grow far past the
    // input's size without stalling.
    const QByteArray plain(64 * 1024 * 1024, '\0');
    const QByteArray packed = zlibEncode(plain, 31);
    ASSERT_LT(packed.size(), 200000);
    VNErrorPtr e;
    EXPECT_EQ(NRDataDecompressor::uncompressData(packed, &e), plain);
    EXPECT_FALSE(e);
}

TEST(GzipInflate, StreamLifeCycle) {
    NRDataDecompressor d;
    EXPECT_FALSE(d.streamReady());
    EXPECT_FALSE(d.closeStream());
    VNErrorPtr e;
    EXPECT_TRUE(d.uncompressBytes(QByteArray("x"), &e).isNull());
    EXPECT_TRUE(e);  // not set up
    EXPECT_FALSE(d.setupStream());
    EXPECT_TRUE(d.streamReady());
    EXPECT_FALSE(d.setupStream());  // already ready: nothing
    EXPECT_FALSE(d.closeStream());
    EXPECT_FALSE(d.streamReady());
}

TEST(GzipInflate, AfterTheEndFurtherPiecesProduceNothing) {
    auto d = NRDataDecompressor::decompressor();
    VNErrorPtr e;
    EXPECT_EQ(d->uncompressBytes(zlibEncode("abc", 15), &e), "abc");
    EXPECT_TRUE(d->streamComplete());
    EXPECT_TRUE(d->uncompressBytes(QByteArray("more"), &e).isEmpty());
    EXPECT_FALSE(e);
}

TEST(GzipDeflate, RoundTripsInMemory) {
    for (const QByteArray &plain : {QByteArray("x"), sampleText(100), randomBytes(70000, 3), sampleText(1 << 20)}) {
        VNErrorPtr e;
        const QByteArray packed = NRDataCompressor::compressData(plain, &e);
        ASSERT_FALSE(e);
        ASSERT_GE(packed.size(), 18);
        EXPECT_EQ(quint8(packed[0]), 0x1f);
        EXPECT_EQ(quint8(packed[1]), 0x8b);
        EXPECT_EQ(zlibDecode(packed), plain);
        EXPECT_EQ(NRDataDecompressor::uncompressData(packed, &e), plain);
    }
}

TEST(GzipDeflate, StreamingInSmallPiecesAndFinishingLater) {
    const QByteArray plain = randomBytes(20000, 11) + sampleText(50000);
    auto c = NRDataCompressor::compressor();
    QByteArray packed;
    VNErrorPtr e;
    for (int at = 0; at < plain.size(); at += 1) {
        packed += c->compressBytes(plain.constData() + at, 1, &e, false);
        ASSERT_FALSE(e);
    }
    EXPECT_FALSE(c->streamFinished());
    packed += c->compressBytes(nullptr, 0, &e, true);  // finish with no further input
    EXPECT_FALSE(e);
    EXPECT_TRUE(c->streamFinished());
    EXPECT_EQ(zlibDecode(packed), plain);
    EXPECT_TRUE(c->compressBytes(QByteArray("late"), &e, true).isEmpty());
}

TEST(GzipFiles, FileToFileRoundTrip) {
    auto dir = VNTest::makeTempDir();
    const QString plainPath = dir->filePath("plain.bin"), packedPath = dir->filePath("packed.gz"),
                  backPath = dir->filePath("back.bin");
    // 524,288 bytes: an exact multiple of the read size, and sizes around it.
    for (int size : {0, 1, 524288, 524288 + 17, 262143}) {
        const QByteArray plain = randomBytes(size / 2, size) + sampleText(size - size / 2);
        ASSERT_TRUE(VNTest::writeFile(plainPath, plain));
        VNErrorPtr e;
        ASSERT_TRUE(NRDataCompressor::compressDataFromFile(plainPath, packedPath, &e)) << describe(e).toStdString();
        const QByteArray packed = VNTest::readFile(packedPath);
        EXPECT_EQ(zlibDecode(packed), plain) << size;
        ASSERT_TRUE(NRDataDecompressor::uncompressDataFromFile(packedPath, backPath, &e)) << describe(e).toStdString();
        EXPECT_EQ(VNTest::readFile(backPath), plain) << size;
    }
}

TEST(GzipFiles, FailuresAreReportedWithTheirText) {
    auto dir = VNTest::makeTempDir();
    const QByteArray plain = randomBytes(600000, 5), packed = zlibEncode(plain, 31);
    QByteArray corrupt = zlibEncode(sampleText(400000), 31);
    for (int i = 100; i < 200; ++i)
        corrupt[i] = char(corrupt[i] ^ 0x5a);
    const QString missing = dir->filePath("missing.gz"), src = dir->filePath("src.gz"), dest = dir->filePath("out.bin"),
                  nowhere = dir->filePath("no/such/folder/out.gz");
    const struct {
        const char *what;
        std::optional<QByteArray> source;  // none: the source does not exist
        bool compress;
        QString dest, message;             // a message ending in "*" gives its start
    } cases[] = {
        {"missing source", {}, false, dest, "Decompression of " + missing + " failed the file does not exist"},
        {"missing source", {}, true, dest, "Compression of " + missing + " failed the file does not exist"},
        {"uncreatable destination", "abc", true, nowhere,
         "Compression of " + src + " failed because we were to create a file at " + nowhere},
        {"uncreatable destination", "abc", false, nowhere,
         "Decompression of " + src + " failed because we were to create a file at " + nowhere},
        {"truncated", packed.left(packed.size() - 100), false, dest, "Decompression of data failed with code -5"},
        {"corrupt", corrupt, false, dest, "Decompression of data failed with code *"},
    };
    for (const auto &c : cases) {
        ASSERT_TRUE(VNTest::writeFile(dest, "old contents"));
        QFile::remove(src);
        if (c.source)
            ASSERT_TRUE(VNTest::writeFile(src, *c.source));
        const QString from = c.source ? src : missing;
        VNErrorPtr e;
        EXPECT_FALSE(c.compress ? NRDataCompressor::compressDataFromFile(from, c.dest, &e)
                                : NRDataDecompressor::uncompressDataFromFile(from, c.dest, &e)) << c.what;
        ASSERT_TRUE(e) << c.what;
        EXPECT_EQ(e->code(), 11) << c.what;
        EXPECT_TRUE(c.message.endsWith('*') ? describe(e).startsWith(c.message.chopped(1)) : describe(e) == c.message)
            << c.what << ": " << describe(e).toStdString();
        if (c.dest == dest && !c.compress)  // what was inflated stays, nothing else
            EXPECT_TRUE(plain.startsWith(VNTest::readFile(dest)) || c.source == corrupt) << c.what;
    }
}

TEST(GzipFiles, ConvertingAFileOntoItselfIsRefusedAndKeepsIt) {
    auto dir = VNTest::makeTempDir();
    const QByteArray plain = sampleText(100000);
    const QByteArray packed = zlibEncode(plain, 31);
    const QString plainPath = dir->filePath("plain.txt"), packedPath = dir->filePath("packed.gz");
    ASSERT_TRUE(VNTest::writeFile(plainPath, plain));
    ASSERT_TRUE(VNTest::writeFile(packedPath, packed));
    // The same file by another spelling, and through a link to it.
    const QString plainAgain = dir->path() + "/./plain.txt";
    const QString packedLink = dir->filePath("link.gz");
    ASSERT_TRUE(QFile::link(packedPath, packedLink));
    VNErrorPtr e;
    EXPECT_FALSE(NRDataCompressor::compressDataFromFile(plainPath, plainAgain, &e));
    ASSERT_TRUE(e);
    EXPECT_EQ(e->code(), 11);
    EXPECT_EQ(VNTest::readFile(plainPath), plain);
    e.reset();
    EXPECT_FALSE(NRDataDecompressor::uncompressDataFromFile(packedPath, packedLink, &e));
    ASSERT_TRUE(e);
    EXPECT_EQ(VNTest::readFile(packedPath), packed);
    const QString hardLink = dir->filePath("hard.txt");
    ASSERT_EQ(::link(QFile::encodeName(plainPath).constData(), QFile::encodeName(hardLink).constData()), 0);
    e.reset();
    EXPECT_FALSE(NRDataCompressor::compressDataFromFile(hardLink, plainPath, &e));
    ASSERT_TRUE(e);
    EXPECT_EQ(e->localizedDescription(),
              QString("Compression of %1 failed because the destination is the source file itself").arg(hardLink));
    EXPECT_EQ(VNTest::readFile(plainPath), plain);
}
