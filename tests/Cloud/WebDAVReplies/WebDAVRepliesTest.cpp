// How the WebDAV handler builds its URLs and bodies and reads server replies,
// without a server: the listing's own folder in its many spellings, names a
// server must not be able to smuggle in, and the two quota answers.
#include "Cloud/QNWebDAVHandler.h"
#include "Formats/XTDocument.h"

#include <QTimeZone>
#include <gtest/gtest.h>
#include <limits>

namespace {

QByteArray multistatus(const QStringList &responses) {
    return (QStringLiteral("<?xml version=\"1.0\" encoding=\"utf-8\"?><D:multistatus xmlns:D=\"DAV:\">") +
            responses.join(QString()) + QStringLiteral("</D:multistatus>"))
        .toUtf8();
}

QString entry(const QString &href, bool collection = false, const QString &extraProps = QString()) {
    return QStringLiteral("<D:response><D:href>%1</D:href><D:propstat><D:prop><D:resourcetype>%2</D:resourcetype>%3"
                          "</D:prop><D:status>HTTP/1.1 200 OK</D:status></D:propstat></D:response>")
        .arg(href, collection ? QStringLiteral("<D:collection/>") : QString(), extraProps);
}

QNWebDAVHandler::ListingContext context(const QString &folder, const QString &base) {
    QNWebDAVHandler::ListingContext c;
    c.folderPath = folder;
    c.baseURL = base;
    c.formsPath = QString();
    return c;
}

QStringList paths(const QNDocumentList &documents) {
    QStringList out;
    for (const auto &d : documents)
        out << d->path();
    return out;
}

}  // namespace

// The folder itself is never one of its children, in any spelling, and no
// name a server gives may leave the folder.
TEST(WebDAVListingReplies, OnlyTheFoldersOwnChildrenAreListed) {
    struct Row {
        QStringList entries;
        QString folder, base;
        QStringList expected;
        bool diskCast = false;
        QString formsPath;
    };
    const QStringList recycled{entry("/%24RECYCLE.BIN/", true), entry("/System%20Volume%20Information/", true),
                               entry("/Movies/", true)};
    const std::vector<Row> rows{
        {{entry("/a/b/", true), entry("https://files.example:443/a/b/", true),
          entry("https://files.example/a/b/", true), entry("https://files.example/a/b", true),
          // A case-insensitive server's own case and escapes.
          entry("/A/B/", true), entry("/a/%62/", true), entry("https://FILES.example/A/%42", true),
          entry("/a/b/child.txt")},
         "/a/b", "https://files.example", {"/a/b/child.txt"}},
        // A drive mounted under a path, its URL also with a trailing slash.
        {{entry("/dav/sub/", true), entry("/dav/sub/inner/", true), entry("/dav/sub/file.bin")},
         "/sub", "http://127.0.0.1:8080/dav", {"/sub/inner", "/sub/file.bin"}},
        {{entry("http://127.0.0.1:8080/dav/sub/", true), entry("/dav/sub/x")},
         "/sub", "http://127.0.0.1:8080/dav/", {"/sub/x"}},
        {{entry("/dav/", true), entry("/dav/top.txt")}, "/", "http://h:1/dav", {"/top.txt"}},
        {{entry("/f/.."), entry("/f/%2E%2E/", true), entry("/f/."), entry("/f/..%2F..%2Fetc%2Fpasswd"),
          entry("/f/nul%00name"), entry("/f/bad%FF%FEutf8"), entry("/f/ok.txt"), entry("/")},
         "/f", "http://h", {"/f/ok.txt"}},
        // The Wi-Fi disk's system folders are hidden only there.
        {recycled, "/", "http://10.10.10.254:8080", {"/$RECYCLE.BIN", "/System Volume Information", "/Movies"}},
        {recycled, "/", "http://10.10.10.254:8080", {"/Movies"}, true},
        // So is the Forms entry of a document library.
        {{entry("https://site/Documents/Forms/", true), entry("/Documents/a.docx")},
         "/", "https://site/Documents", {"/a.docx"}, false, "https://site/Documents/Forms/"},
    };
    for (const Row &row : rows) {
        auto c = context(row.folder, row.base);
        c.isDiskCast = row.diskCast;
        c.formsPath = row.formsPath;
        VNErrorPtr error;
        const auto documents = QNWebDAVHandler::parseListing(multistatus(row.entries), c, &error);
        EXPECT_FALSE(error) << row.base.toStdString();
        EXPECT_EQ(paths(documents), row.expected) << row.base.toStdString();
    }
}

TEST(WebDAVListingReplies, EntriesGiveDecodedNamesKindsAndSizesAndMissingPropertiesEmptyValues) {
    struct Row {
        QString response, folder, path, name;
        bool directory;
        qint64 size;
    };
    const std::vector<Row> rows{
        {entry("/a/b/c%20d/", true), "/a/b", "/a/b/c d", "c d", true, 0},
        {entry("/docs/r%C3%A9sum%C3%A9.pdf", false,
               "<D:displayname>Résumé</D:displayname><D:getcontentlength> 1234567890123 </D:getcontentlength>"),
         "/docs/", QString::fromUtf8("/docs/résumé.pdf"), QString::fromUtf8("Résumé"), false, 1234567890123LL},
        {"<D:response><D:href>/x/bare</D:href></D:response>", "/x", "/x/bare", "bare", false, 0},
    };
    for (const Row &row : rows) {
        VNErrorPtr error;
        const auto documents = QNWebDAVHandler::parseListing(multistatus({row.response}), context(row.folder, "http://h"), &error);
        ASSERT_FALSE(error);
        ASSERT_EQ(documents.size(), 1);
        EXPECT_EQ(documents[0]->path(), row.path);
        EXPECT_EQ(documents[0]->displayName(), row.name);
        EXPECT_EQ(documents[0]->isDirectory(), row.directory);
        EXPECT_EQ(documents[0]->size(), row.size);
        EXPECT_FALSE(documents[0]->date().isValid());
    }
}

TEST(WebDAVListingReplies, DateIsTheLastChangeElseTheCreation) {
    const QString modified = "<D:getlastmodified>Tue, 15 Jun 2021 10:20:30 GMT</D:getlastmodified>";
    const QString created = "<D:creationdate>2026-01-02T03:04:05Z</D:creationdate>";
    const QDateTime modifiedAt(QDate(2021, 6, 15), QTime(10, 20, 30), Qt::UTC);
    const QDateTime createdAt(QDate(2026, 1, 2), QTime(3, 4, 5), Qt::UTC);
    struct Row { QString props; QDateTime expected; };
    for (const Row &row : {Row{modified, modifiedAt}, Row{created + modified, modifiedAt}, Row{created, createdAt},
                           Row{created + "<D:getlastmodified/>", createdAt}, Row{QString(), QDateTime()}}) {
        VNErrorPtr error;
        const auto documents =
            QNWebDAVHandler::parseListing(multistatus({entry("/f/a.txt", false, row.props)}), context("/f", "http://h"), &error);
        ASSERT_EQ(documents.size(), 1) << row.props.toStdString();
        EXPECT_EQ(documents[0]->date().toUTC(), row.expected.toUTC()) << row.props.toStdString();
    }
}

// A 207 answer to DELETE, COPY or MOVE fails with its first failed member.
TEST(WebDAVChangeReplies, MultiStatusFailsOnAnyFailedMember) {
    auto member = [](const QString &href, const QString &status) {
        return QStringLiteral("<D:response><D:href>%1</D:href><D:status>%2</D:status></D:response>").arg(href, status);
    };
    struct Row { QByteArray reply; QString failure; };
    const Row rows[] = {
        {multistatus({member("/a/x", "HTTP/1.1 204 No Content")}), QString()},
        {multistatus({member("/a/x", "HTTP/1.1 204 No Content"), member("/a/b%20c", "HTTP/1.1 423 Locked")}),
         "HTTP/1.1 423 Locked"},
        {multistatus({QStringLiteral("<D:response><D:href>/a/p</D:href><D:propstat><D:status>HTTP/1.1 403 Forbidden"
                                     "</D:status></D:propstat></D:response>")}),
         "HTTP/1.1 403 Forbidden"},
        {multistatus({QStringLiteral("<D:response><D:href>/a/q</D:href></D:response>")}), ""},
        {"not xml <", "?"},
        // Cut short after a member that went well: the rest is unknown.
        {multistatus({member("/a/x", "HTTP/1.1 204 No Content"), member("/a/y", "HTTP/1.1 423 Locked")})
             .left(multistatus({member("/a/x", "HTTP/1.1 204 No Content")}).size() - 16),
         "?"},
    };
    for (const Row &row : rows) {
        const VNErrorPtr error = QNWebDAVHandler::multiStatusFailure(row.reply);
        if (row.failure.isNull()) {
            EXPECT_FALSE(error) << row.reply.constData();
            continue;
        }
        ASSERT_TRUE(error) << row.reply.constData();
        if (row.failure != "?")
            EXPECT_EQ(error->userInfo().value("error").toString(), row.failure);
    }
    const VNErrorPtr locked = QNWebDAVHandler::multiStatusFailure(rows[1].reply);
    EXPECT_EQ(locked->localizedDescription(), "The server answered 423 Locked for /a/b c.");
}

TEST(WebDAVListingReplies, UnparsableEmptyOrForeignReplyIsAnErrorNotAnEmptyFolder) {
    for (const QByteArray reply : {QByteArray("this is <not xml"), QByteArray(),
                                   QByteArray("<html><body>Proxy login</body></html>")}) {
        VNErrorPtr error;
        EXPECT_TRUE(QNWebDAVHandler::parseListing(reply, context("/", "http://h"), &error).isEmpty());
        ASSERT_TRUE(error) << reply.constData();
        if (reply.startsWith("<html"))  // well-formed, but no listing
            EXPECT_EQ(error->domain(), QNWebDAVHandler::errorDomain());
    }
}

// --- URLs and bodies ---------------------------------------------------------------------

TEST(WebDAVRequests, PathsAreEscapedAndAppendedToTheDriveURL) {
    EXPECT_EQ(QNWebDAVHandler::urlByAppendingPath("http://h:81", "/a b/c%d#e?f").toString(QUrl::FullyEncoded),
              "http://h:81/a%20b/c%25d%23e%3Ff");
    EXPECT_EQ(QNWebDAVHandler::urlByAppendingPath("http://h/dav/", "/").toString(QUrl::FullyEncoded),
              "http://h/dav/");
    EXPECT_EQ(QNWebDAVHandler::urlByAppendingPath("https://h/dav", "/x/").toString(QUrl::FullyEncoded),
              "https://h/dav/x/");
    EXPECT_EQ(QNWebDAVHandler::urlByAppendingPath("http://h", QString::fromUtf8("/é")).toString(QUrl::FullyEncoded),
              "http://h/%C3%A9");
    EXPECT_FALSE(QNWebDAVHandler::urlByAppendingPath("not a url", "/").isValid());
}

TEST(WebDAVRequests, ListingBodyAsksForTheSixPropertiesInTheDAVNamespace) {
    const QByteArray body = QNWebDAVHandler::listingRequestBody();
    EXPECT_TRUE(body.startsWith("<?xml version=\"1.0\"?>"));
    VNErrorPtr error;
    const auto doc = XTDocument::initWithData(body, &error);
    ASSERT_TRUE(doc);
    const auto props = doc->nodesForXPath("/D:propfind/D:prop/*", {{"D", "DAV:"}}, &error);
    QStringList names;
    for (const auto &p : props)
        names << p->localName();
    EXPECT_EQ(names, (QStringList{"displayname", "getcontentlength", "getcontenttype", "resourcetype",
                                  "getlastmodified", "creationdate"}));
}

TEST(WebDAVRequests, WiFiDiskQuotaURLDropsThePortAndKeepsAValidURLWithoutOne) {
    EXPECT_EQ(QNWebDAVHandler::wiFiDiskQuotaURL("http://10.10.10.254:8080").toString(), "http://10.10.10.254/rpc.cgi");
    EXPECT_EQ(QNWebDAVHandler::wiFiDiskQuotaURL("http://10.10.10.254").toString(), "http://10.10.10.254/rpc.cgi");
    EXPECT_EQ(QNWebDAVHandler::wiFiDiskQuotaURL("http://disk.local:81/share/").toString(), "http://disk.local/rpc.cgi");
    EXPECT_FALSE(QNWebDAVHandler::wiFiDiskQuotaURL("").isValid());
    EXPECT_EQ(QNWebDAVHandler::wiFiDiskQuotaRequestBody(),
              QByteArray(R"({"method":"pref-get","arguments":{"infos":["disk_list"]}})"));
}

// --- Quota replies -----------------------------------------------------------------------

TEST(WebDAVQuotaReplies, WiFiDiskSumsEveryPartitionOfEveryDiskAndSaturates) {
    const qint64 max = std::numeric_limits<qint64>::max();
    struct Row {
        QByteArray reply;
        qint64 used, available, total;
    };
    const Row rows[] = {
        {R"({"arguments":{"infos":{"disk_list":{"disk_detail":[
            {"partition_detail":[{"used":"1.5G","avai":"1G","capacity":"2.5G"}]},
            {"partition_detail":[{"used":"500M","avai":"12K","capacity":"1T"},{"used":"3B","avai":"0B","capacity":"3B"}]}
         ]}}}})",
         2134900736LL + 3, 1073741824LL + 12288, 2684354560LL + 1099511627776LL + 3},
        // Each figure fits in 64 bits (or saturates by itself); their sums do not.
        {R"({"arguments":{"infos":{"disk_list":{"disk_detail":[
            {"partition_detail":[{"used":"5000000T","avai":"-5000000T","capacity":"9000000T"}]},
            {"partition_detail":[{"used":"5000000T","avai":"-5000000T","capacity":"9000000T"}]}
         ]}}}})",
         max, std::numeric_limits<qint64>::min(), max},
        {R"({"arguments":{"infos":{"disk_list":{"disk_detail":[]}}}})", 0, 0, 0},
    };
    for (const Row &row : rows) {
        qint64 used = -1, available = -1, total = -1;
        VNErrorPtr error;
        ASSERT_TRUE(QNWebDAVHandler::parseWiFiDiskQuota(row.reply, &used, &available, &total, &error));
        EXPECT_EQ(used, row.used);
        EXPECT_EQ(available, row.available);
        EXPECT_EQ(total, row.total);
    }
}

TEST(WebDAVQuotaReplies, WiFiDiskReplyThatIsNotTheDiskListIsAnError) {
    for (const QByteArray reply : {QByteArray("<html>login</html>"), QByteArray(""), QByteArray("[1,2]"),
                                   QByteArray(R"({"arguments":{}})"),
                                   QByteArray(R"({"arguments":{"infos":{"disk_list":{"disk_detail":"x"}}}})")}) {
        qint64 used = 0, available = 0, total = 0;
        VNErrorPtr error;
        EXPECT_FALSE(QNWebDAVHandler::parseWiFiDiskQuota(reply, &used, &available, &total, &error)) << reply.data();
        EXPECT_TRUE(error) << reply.data();
    }
}

TEST(WebDAVQuotaReplies, PropertiesEitherOrNeither) {
    auto reply = [](const QString &props) {
        return multistatus({QStringLiteral("<D:response><D:href>/</D:href><D:propstat><D:prop>%1</D:prop>"
                                           "</D:propstat></D:response>")
                                .arg(props)});
    };
    qint64 available = -1, used = -1;
    VNErrorPtr error;
    ASSERT_TRUE(QNWebDAVHandler::parseQuotaProperties(
        reply("<D:quota-available-bytes>9000000000</D:quota-available-bytes><D:quota-used-bytes>42</D:quota-used-bytes>"),
        &available, &used, &error));
    EXPECT_EQ(available, 9000000000LL);
    EXPECT_EQ(used, 42);
    ASSERT_TRUE(QNWebDAVHandler::parseQuotaProperties(reply("<D:quota-used-bytes>7</D:quota-used-bytes>"), &available,
                                                      &used, &error));
    EXPECT_EQ(available, 0);
    EXPECT_EQ(used, 7);
    ASSERT_TRUE(QNWebDAVHandler::parseQuotaProperties(reply(""), &available, &used, &error));
    EXPECT_EQ(available + used, 0);
    EXPECT_FALSE(QNWebDAVHandler::parseQuotaProperties("garbage <<", &available, &used, &error));
    EXPECT_TRUE(error);
}
