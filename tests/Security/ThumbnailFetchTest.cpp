// The thumbnail view's fetches against the hostile server: the Box and Copy
// credentials, carried in a thumbnail's address, reach their own origin
// only, across redirects too, and a thumbnail reply without end is dropped
// at its bound, by the pane's fetches and by the browser's own alike.
#include "App/Panes/PanesTestSupport.h"
#include "HostileFake.h"

#include "App/QNThumbnailFetch.h"

#include <QDir>

using Hostile::header;
using Hostile::received;
using Hostile::url;

namespace {

class ThumbnailFetch : public PanesTest {
protected:
    // A file of the drive whose thumbnail address is made for a fresh tag.
    void addFile(const char *name, const std::function<QString(const QString &tag)> &address) {
        const QString tag = Hostile::tag();
        tags.insert(QLatin1String(name), tag);
        addresses.insert(QLatin1String(name), address(tag));
    }

    // Opens a local drive holding the files added, gives each its
    // thumbnail address and shows the thumbnails.
    QNMacFilesViewController *showThumbnails() {
        const QString files = folder(QStringLiteral("files"));
        for (auto it = addresses.begin(); it != addresses.end(); ++it)
            writeFile(files + QLatin1Char('/') + it.key(), 10);
        QNMainWindowController *w = openDrive(localDrive(QStringLiteral("T"), files));
        if (!w)
            return nullptr;
        QNMacFilesViewController *pane = w->filesViewController();
        for (const QNDocumentPtr &d : pane->documents())
            d->setThumbnailURL(QUrl(addresses.value(d->displayName()), QUrl::StrictMode));
        pane->imageBrowserView()->setZoomValue(0.3f);
        pane->changeView(true);
        return pane;
    }

    static QString redirectTo(const QString &tag, const QUrl &target) {
        return url("a", tag + QStringLiteral("/redirect?to=") +
                            QString::fromLatin1(QUrl::toPercentEncoding(target.toString())))
            .toString();
    }

    QHash<QString, QString> addresses;  // file name -> thumbnail address
    QHash<QString, QString> tags;       // file name -> its requests' tag
};

}  // namespace

TEST_F(ThumbnailFetch, ACredentialReachesItsOwnOriginOnlyAcrossRedirects) {
    struct Row {
        const char *file;
        const char *credential;  // the marker and its value, as the drive writes it
        const char *target;      // the origin the redirect leads to
        const char *host;        // under this host name
        bool kept;
        int code = 307;          // the redirect's status (a 301, 302 or 303 passes on no Authorization)
    };
    const Row rows[] = {
        {"box-here.png", "&BoxAuth+T0KEN", "a", "127.0.0.1", true},
        {"box-here-302.png", "&BoxAuth+T0KEN", "a", "127.0.0.1", false, 302},
        {"box-port.png", "&BoxAuth+T0KEN", "b", "127.0.0.1", false},
        {"box-host.png", "&BoxAuth+T0KEN", "a", "localhost", false},
        {"copy-port.png", "&CopyAuth+Bearer%20c0py", "b", "127.0.0.1", false},
    };
    for (const Row &row : rows)
        addFile(row.file, [&](const QString &tag) {
            return redirectTo(tag, url(row.target, tag + QStringLiteral("/echo"), QLatin1String(row.host))) +
                   QStringLiteral("&code=%1").arg(row.code) + QLatin1String(row.credential);
        });
    ASSERT_NE(showThumbnails(), nullptr);
    for (const Row &row : rows) {
        SCOPED_TRACE(row.file);
        const QString tag = tags.value(QLatin1String(row.file));
        ASSERT_TRUE(VNTest::waitUntil([&] { return !received(tag + QStringLiteral("/echo")).isEmpty(); }, 20000));
        const QList<QJsonObject> first = received(tag + QStringLiteral("/redirect"));
        ASSERT_EQ(first.size(), 1);
        EXPECT_FALSE(header(first[0], QStringLiteral("Authorization")).isEmpty());  // its own origin has it
        const QList<QJsonObject> arrived = received(tag + QStringLiteral("/echo"));
        ASSERT_EQ(arrived.size(), 1);
        EXPECT_EQ(arrived[0][QStringLiteral("origin")].toString(), QLatin1String(row.target));
        EXPECT_TRUE(header(arrived[0], QStringLiteral("Host")).startsWith(QLatin1String(row.host)));
        EXPECT_EQ(header(arrived[0], QStringLiteral("Authorization")).isEmpty(), !row.kept)
            << header(arrived[0], QStringLiteral("Authorization")).toStdString();
        for (const QJsonObject &entry : received(tag))
            EXPECT_FALSE(entry[QStringLiteral("path")].toString().contains(QLatin1String("Auth+")));
    }
}

TEST_F(ThumbnailFetch, AThumbnailReplyWithoutEndIsDroppedAtItsBound) {
    struct Row {
        const char *file;
        const char *marker;  // a credential marker: fetched by the pane; none: by the browser itself
    };
    const Row rows[] = {{"by-the-pane.png", "&BoxAuth+T0KEN"}, {"by-the-browser.png", ""}};
    for (const Row &row : rows)
        addFile(row.file, [&](const QString &tag) {
            return url("a", tag + QStringLiteral("/endless?mib=200")).toString() + QLatin1String(row.marker);
        });
    QNMacFilesViewController *pane = showThumbnails();
    ASSERT_NE(pane, nullptr);
    for (const Row &row : rows) {
        SCOPED_TRACE(row.file);
        const qint64 sent = Hostile::sentBeforeHangUp(tags.value(QLatin1String(row.file)));
        // Hung up long before the end: what was read, and what the
        // loopback's buffers held beside it.
        EXPECT_LT(sent, qint64(36) << 20);
    }
    VNTest::spin(700);  // the coalesced reload
    EXPECT_TRUE(QDir(pane->thumbTempPath()).entryList(QDir::Files).isEmpty());
    EXPECT_EQ(pane->thumbnailDownloadCount(), 0);
}

// The bound is 4 MiB: a reply of exactly that is a thumbnail, one byte more is not.
TEST_F(ThumbnailFetch, AReplyOfFourMiBIsKeptAndOneByteMoreIsDropped) {
    constexpr qint64 fourMiB = qint64(4) << 20;
    struct Row {
        qint64 size;
        bool kept;
    } rows[] = {{fourMiB, true}, {fourMiB + 1, false}};
    for (const Row &row : rows) {
        SCOPED_TRACE(row.size);
        const QUrl address = url("a", Hostile::tag() + QStringLiteral("/endless?bytes=%1").arg(row.size));
        bool done = false;
        QByteArray body;
        VNErrorPtr error;
        const auto cancel = QNThumbnailFetch::start({address, {}}, [&](QByteArray data, VNErrorPtr e) {
            body = data;
            error = e;
            done = true;
        });
        ASSERT_TRUE(VNTest::waitUntil([&] { return done; }, 20000));
        EXPECT_EQ(body.size(), row.kept ? row.size : 0);
        EXPECT_EQ(error == nullptr, row.kept);
    }
}
