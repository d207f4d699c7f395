#include "DA/Photos/DAPhotoEntries.h"
#include "DA/Upload/HFMIMEDocument.h"
#include "DA/Upload/HFReadMonitorInputStream.h"

#include "support/TestSupport.h"

#include <QThread>
#include <gtest/gtest.h>
#include <thread>

namespace {

QByteArray readAll(HFInputStream &stream, qint64 chunk) {
    stream.open();
    QByteArray out, buffer(int(chunk), '\0');
    for (qint64 n; (n = stream.read(buffer.data(), chunk)) > 0;)
        out += buffer.left(int(n));
    return out;
}

}  // namespace

TEST(DAUploadBodies, MultipartIsByteExact) {
    auto makeDoc = [] {
        HFMIMEDocument doc;
        doc.seedRandomWith(1);
        doc.addPartWithHeaders({{"Content-Type", "application/atom+xml; charset=UTF-8"}}, "<entry/>");
        doc.addPartWithHeaders({{"Content-Type", "image/jpeg"}, {"Content-Transfer-Encoding", "binary"}},
                               "JPEG END_OF_PART bytes");
        return doc;
    };
    const QByteArray expected = "\r\n--END_OF_PART_00000001\r\nContent-Type: application/atom+xml; charset=UTF-8\r\n\r\n<entry/>"
                                "\r\n--END_OF_PART_00000001\r\nContent-Transfer-Encoding: binary\r\nContent-Type: image/jpeg\r\n\r\n"
                                "JPEG END_OF_PART bytes\r\n--END_OF_PART_00000001--\r\n";
    for (qint64 chunk : {1, 5, 7, 4096}) {  // reads across buffer borders
        HFMIMEDocument doc = makeDoc();
        HFMIMEDocument::Body body = doc.generateInputStream();
        EXPECT_EQ(body.boundary, "END_OF_PART_00000001");
        EXPECT_EQ(body.length, expected.size());
        EXPECT_EQ(readAll(*body.stream, chunk), expected) << chunk;
        EXPECT_EQ(body.stream->streamStatus(), HFInputStream::AtEnd);
    }

    HFMIMEDocument plain;
    plain.addPartWithHeaders({}, "x");
    EXPECT_EQ(plain.uniqueBoundary(), "END_OF_PART");
    HFMIMEDocument empty;
    HFMIMEDocument::Body endOnly = empty.generateInputStream();
    EXPECT_EQ(readAll(*endOnly.stream, 64), "\r\n--END_OF_PART--\r\n");
    EXPECT_EQ(endOnly.length, 19);
}

TEST(DAUploadBodies, BoundaryNeverOccursInAPart) {
    // Every suffixed candidate of a fixed seed is planted in the body.
    HFMIMEDocument doc;
    doc.seedRandomWith(100);
    QByteArray body = "END_OF_PART";
    for (quint32 i = 100; i < 112; ++i)
        body += QStringLiteral(" END_OF_PART_%1 %2_marlune_%3").arg(i, 8, 16, QLatin1Char('0')).arg(i, 8, 16, QLatin1Char('0')).arg(i + 1, 8, 16, QLatin1Char('0')).toLatin1();
    doc.addPartWithHeaders({}, body);
    const QString boundary = doc.uniqueBoundary();
    EXPECT_FALSE(body.contains(boundary.toLatin1())) << boundary.toStdString();
}

TEST(DAUploadBodies, GatherAndMonitorStreams) {
    HFGatherInputStream none({});
    none.open();
    char b[4];
    EXPECT_EQ(none.read(b, 4), 0);
    EXPECT_EQ(none.streamStatus(), HFInputStream::AtEnd);

    auto inner = HFGatherInputStream::streamWithArray({"ab", "", "cde"});
    HFReadMonitorInputStream plain(inner);
    EXPECT_EQ(readAll(plain, 2), "abcde");
    QByteArray seen;
    auto watched = HFReadMonitorInputStream::inputStreamWithStream(HFGatherInputStream::streamWithArray({"ab", "cde"}));
    auto delegate = std::make_shared<int>(0);
    watched->setReadDelegate(delegate);
    watched->setReadSelector([&](HFReadMonitorInputStream &stream, const char *bytes, qint64 n) {
        EXPECT_EQ(&stream, watched.get());
        seen.append(bytes, n);
    });
    EXPECT_EQ(readAll(*watched, 3), "abcde");
    EXPECT_EQ(seen, "abcde");  // read on the making thread: reported during the read
    EXPECT_EQ(watched->length(), 5);
}

// Reads on another thread reach the observer on the thread that made the
// monitor, and not at all once its delegate is gone.
TEST(DAUploadBodies, ReadMonitorReportsOnTheThreadThatMadeIt) {
    struct Seen {
        QByteArray bytes;
        QList<QThread *> threads;
    };
    auto makeMonitor = [](const std::shared_ptr<void> &delegate, const std::shared_ptr<Seen> &seen) {
        auto monitor = HFReadMonitorInputStream::inputStreamWithStream(HFGatherInputStream::streamWithArray({"ab", "cde"}));
        monitor->setReadDelegate(delegate);
        monitor->setReadSelector([seen](HFReadMonitorInputStream &, const char *bytes, qint64 n) {
            seen->bytes.append(bytes, n);
            seen->threads.append(QThread::currentThread());
        });
        return monitor;
    };
    auto readElsewhere = [](const std::shared_ptr<HFReadMonitorInputStream> &monitor) {
        QByteArray read;
        std::thread reader([&] { read = readAll(*monitor, 2); });
        reader.join();
        return read;
    };

    auto delegate = std::make_shared<int>(0);
    auto seen = std::make_shared<Seen>();
    auto monitor = makeMonitor(delegate, seen);
    EXPECT_EQ(readElsewhere(monitor), "abcde");
    monitor.reset();  // the queued reports keep the monitor alive
    ASSERT_TRUE(VNTest::waitUntil([&] { return seen->bytes == "abcde"; })) << seen->bytes.constData();
    ASSERT_EQ(seen->threads.size(), 3);
    for (QThread *t : seen->threads)
        EXPECT_EQ(t, QThread::currentThread());

    // Reports queued for a delegate that is gone by then are dropped; a
    // monitor read after it, with a live delegate, marks the end.
    auto gone = std::make_shared<int>(0);
    auto orphanSeen = std::make_shared<Seen>(), markerSeen = std::make_shared<Seen>();
    auto orphan = makeMonitor(gone, orphanSeen);
    EXPECT_EQ(readElsewhere(orphan), "abcde");
    gone.reset();
    auto marker = makeMonitor(delegate, markerSeen);
    EXPECT_EQ(readElsewhere(marker), "abcde");
    ASSERT_TRUE(VNTest::waitUntil([&] { return markerSeen->bytes == "abcde"; }));
    EXPECT_TRUE(orphanSeen->bytes.isEmpty()) << orphanSeen->bytes.constData();
}

TEST(DAUploadBodies, EntryBodies) {
    auto photo = DAEntryPhoto::photoEntry();
    photo->setTitleWithString("IMG.jpg");
    DAEntryBase::UploadBody xmlOnly = photo->generateContentInputStream();
    EXPECT_TRUE(readAll(*xmlOnly.stream, 100).contains("<title>IMG.jpg</title>"));

    EXPECT_EQ(xmlOnly.headers.size(), 1);  // no slug, no "Slug"

    // Media without a type fall back to the entry alone, which still names its file.
    photo->setPhotoData("JPEGDATA");
    photo->setPhotoMIMEType("");
    photo->setUploadSlug("IMG.jpg");
    const auto fallback = photo->generateContentInputStream().headers;
    EXPECT_EQ(fallback.value(0).second, "application/atom+xml; charset=UTF-8");
    EXPECT_EQ(fallback.value(1), qMakePair(QString("Slug"), QString("IMG.jpg")));
    photo->setPhotoMIMEType("image/jpeg");
    DAEntryBase::UploadBody multipart = photo->generateContentInputStream();
    ASSERT_EQ(multipart.headers.size(), 3);
    EXPECT_EQ(multipart.headers[0].second, "multipart/related; boundary=\"END_OF_PART\"");
    EXPECT_EQ(multipart.headers[2], qMakePair(QString("Slug"), QString("IMG.jpg")));
    const QByteArray bytes = readAll(*multipart.stream, 64);
    EXPECT_EQ(bytes.size(), multipart.length);
    EXPECT_TRUE(bytes.endsWith("binary\r\nContent-Type: image/jpeg\r\n\r\nJPEGDATA\r\n--END_OF_PART--\r\n"));
    photo->setShouldUploadDataOnly(true);
    EXPECT_EQ(readAll(*photo->generateContentInputStream().stream, 64), "JPEGDATA");
}
