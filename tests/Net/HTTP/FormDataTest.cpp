// Form requests: URL-encoded and multipart bodies, checked byte for byte and
// by a real form parser on the fake server.
#include "Net/NetTestSupport.h"

#include "Net/NRFormDataRequest.h"

#include <QCryptographicHash>
#include <QRegularExpression>

using namespace NetTest;

namespace {
QJsonObject formOf(const std::shared_ptr<NRHTTPRequest> &r) { return QJsonDocument::fromJson(r->responseData()).object(); }
QString boundaryOf(const QString &contentType) {
    return QRegularExpression(QStringLiteral("boundary=(\\S+)")).match(contentType).captured(1);
}
}  // namespace

TEST(FormData, URLEncodedFieldsInOrderEscaped) {
    auto r = NRFormDataRequest::requestWithURL(fake(QStringLiteral("/echo")));
    r->addPostValue(QStringLiteral("a b&c=d+e"), QStringLiteral("first key"));
    r->addPostValue(5, QStringLiteral("n"));
    r->addPostValue(true, QStringLiteral("yes"));  // a flag as its number
    r->addPostValue(QStringLiteral("dup1"), QStringLiteral("dup"));
    r->addPostValue(QStringLiteral("dup2"), QStringLiteral("dup"));
    r->addPostValue(QString::fromUtf8("é~/"), QStringLiteral("x"));
    r->addPostValue(QStringLiteral("ignored"), QString());
    run(r);
    const QJsonObject e = echoOf(r);
    EXPECT_EQ(e[QStringLiteral("method")].toString(), QStringLiteral("POST"));
    EXPECT_EQ(e[QStringLiteral("headers")].toObject()[QStringLiteral("Content-Type")].toString(),
              QStringLiteral("application/x-www-form-urlencoded; charset=utf-8"));
    EXPECT_EQ(e[QStringLiteral("body")].toString(),
              QStringLiteral("first%20key=a%20b%26c%3Dd%2Be&n=5&yes=1&dup=dup1&dup=dup2&x=%C3%A9%7E%2F"));

    auto set = NRFormDataRequest::requestWithURL(fake(QStringLiteral("/echo")));
    set->addPostValue(QStringLiteral("1"), QStringLiteral("k"));
    set->addPostValue(QStringLiteral("2"), QStringLiteral("k"));
    set->setPostValue(QStringLiteral("3"), QStringLiteral("k"));
    run(set);
    EXPECT_EQ(echoOf(set)[QStringLiteral("body")].toString(), QStringLiteral("k=3"));
}

TEST(FormData, NoFieldsIsAPlainRequest) {
    auto r = NRFormDataRequest::requestWithURL(fake(QStringLiteral("/echo")));
    run(r);
    EXPECT_FALSE(echoHeaders(r).contains(QStringLiteral("Content-Type")));
    EXPECT_EQ(echoOf(r)[QStringLiteral("length")].toInt(), 0);
}

TEST(FormData, MultipartBytesExactly) {
    auto r = NRFormDataRequest::requestWithURL(fake(QStringLiteral("/echo")));
    r->addData("DATA", QStringLiteral("part"));
    r->addPostValue(QStringLiteral("v a&l"), QStringLiteral("field"));
    run(r);
    const QJsonObject e = echoOf(r);
    const QString type = e[QStringLiteral("headers")].toObject()[QStringLiteral("Content-Type")].toString();
    const QString b = boundaryOf(type);
    ASSERT_TRUE(b.startsWith(QLatin1String("0xKhTmLbOuNdArY-")));
    EXPECT_EQ(b.size(), 16 + 36);
    EXPECT_TRUE(type.startsWith(QLatin1String("multipart/form-data; charset=utf-8; boundary=")));
    // Fields first, whatever the order added; text unescaped.
    const QString expected = QStringLiteral("--%1\r\nContent-Disposition: form-data; name=\"field\"\r\n\r\nv a&l"
                                            "\r\n--%1\r\nContent-Disposition: form-data; name=\"part\"; filename=\"file\"\r\n"
                                            "Content-Type: application/octet-stream\r\n\r\nDATA\r\n--%1--\r\n")
                                 .arg(b);
    EXPECT_EQ(e[QStringLiteral("body")].toString(), expected);

    auto fieldsOnly = NRFormDataRequest::requestWithURL(fake(QStringLiteral("/echo")));
    fieldsOnly->setPostFormat(NRFormDataRequest::MultipartFormDataPostFormat);
    fieldsOnly->addPostValue(QStringLiteral("1"), QStringLiteral("a"));
    run(fieldsOnly);
    const QJsonObject f = echoOf(fieldsOnly);
    const QString fb = boundaryOf(f[QStringLiteral("headers")].toObject()[QStringLiteral("Content-Type")].toString());
    EXPECT_EQ(f[QStringLiteral("body")].toString(),
              QStringLiteral("--%1\r\nContent-Disposition: form-data; name=\"a\"\r\n\r\n1\r\n--%1--\r\n").arg(fb));
}

TEST(FormData, FilesThroughARealParser) {
    auto dir = VNTest::makeTempDir();
    const QString path = dir->path() + QStringLiteral("/notes.txt");
    const QByteArray content = pattern(700000);
    VNTest::writeFile(path, content);
    auto r = NRFormDataRequest::requestWithURL(fake(QStringLiteral("/form")));
    r->addPostValue(QStringLiteral("hello"), QStringLiteral("greeting"));
    r->addFile(path, QStringLiteral("upload"));
    r->addFile(path, QStringLiteral("renamed.bin"), QStringLiteral("application/x-test"), QStringLiteral("second"));
    qint64 sent = 0;
    r->setBytesSentBlock([&](qint64 a, qint64) { sent += a; });
    EXPECT_EQ(run(r)->finished, 1);
    const QJsonObject doc = formOf(r);
    const QJsonArray fields = doc[QStringLiteral("fields")].toArray();
    ASSERT_EQ(fields.size(), 1);
    EXPECT_EQ(fields[0].toArray()[1].toString(), QStringLiteral("hello"));
    const QJsonArray files = doc[QStringLiteral("files")].toArray();
    ASSERT_EQ(files.size(), 2);
    const QString sha = QString::fromLatin1(QCryptographicHash::hash(content, QCryptographicHash::Sha256).toHex());
    EXPECT_EQ(files[0].toObject()[QStringLiteral("filename")].toString(), QStringLiteral("notes.txt"));
    EXPECT_EQ(files[0].toObject()[QStringLiteral("type")].toString(), QStringLiteral("text/plain"));
    EXPECT_EQ(files[0].toObject()[QStringLiteral("sha256")].toString(), sha);
    EXPECT_EQ(files[1].toObject()[QStringLiteral("filename")].toString(), QStringLiteral("renamed.bin"));
    EXPECT_EQ(files[1].toObject()[QStringLiteral("type")].toString(), QStringLiteral("application/x-test"));
    EXPECT_EQ(files[1].toObject()[QStringLiteral("sha256")].toString(), sha);
    // The body went through a temporary file, which is gone now.
    EXPECT_TRUE(VNTest::waitUntil([] { return temporaryFiles().isEmpty(); }, networkWaitMs));
}

TEST(FormData, BodyFileGoesWhenAuthenticationFails) {
    auto r = NRFormDataRequest::requestWithURL(apacheURL(QStringLiteral("/basic/hello.txt")));
    r->addData("some bytes", QStringLiteral("part"));
    EXPECT_EQ(run(r)->failed, 1);
    EXPECT_EQ(errorCode(r), 3);
    EXPECT_TRUE(VNTest::waitUntil([] { return temporaryFiles().isEmpty(); }, networkWaitMs))
        << temporaryFiles().join(QLatin1Char(',')).toStdString();
}

TEST(FormData, MissingFileFailsWithCode6) {
    auto r = NRFormDataRequest::requestWithURL(fake(QStringLiteral("/form")));
    r->addFile(QStringLiteral("/nonexistent/file.txt"), QStringLiteral("f"));
    auto out = run(r);
    EXPECT_EQ(out->failed, 1);
    EXPECT_EQ(out->finished, 0);
    EXPECT_EQ(errorCode(r), 6);
    EXPECT_EQ(r->error()->localizedDescription(), QStringLiteral("No file exists at /nonexistent/file.txt"));
    EXPECT_TRUE(VNTest::waitUntil([&] { return r->isFinished(); }));
}

TEST(FormData, CopyKeepsFieldsNotBlocks) {
    auto r = NRFormDataRequest::requestWithURL(fake(QStringLiteral("/echo")));
    r->addPostValue(QStringLiteral("v"), QStringLiteral("k"));
    r->addRequestHeader(QStringLiteral("X-Copied"), QStringLiteral("yes"));
    bool originalBlockRan = false;
    r->setCompletionBlock([&] { originalBlockRan = true; });
    auto copied = r->copy();
    ASSERT_TRUE(std::dynamic_pointer_cast<NRFormDataRequest>(copied));
    EXPECT_EQ(run(copied)->finished, 1);
    EXPECT_FALSE(originalBlockRan);
    const QJsonObject e = echoOf(copied);
    EXPECT_EQ(e[QStringLiteral("method")].toString(), QStringLiteral("POST"));
    EXPECT_EQ(e[QStringLiteral("body")].toString(), QStringLiteral("k=v"));
    EXPECT_EQ(e[QStringLiteral("headers")].toObject()[QStringLiteral("X-Copied")].toString(), QStringLiteral("yes"));
}

TEST(FormData, MimeTypes) {
    auto dir = VNTest::makeTempDir();
    EXPECT_TRUE(NRHTTPRequest::mimeTypeForFileAtPath(dir->path() + QStringLiteral("/missing.txt")).isNull());
    const QString odd = dir->path() + QStringLiteral("/file.zzqq");
    VNTest::writeFile(odd, "x");
    EXPECT_EQ(NRHTTPRequest::mimeTypeForFileAtPath(odd), QStringLiteral("application/octet-stream"));
}

TEST(FormData, FilePartThatCannotBeReadFailsBeforeAnythingIsSent) {
    auto dir = VNTest::makeTempDir();
    const QString gone = dir->path() + QStringLiteral("/gone.txt");
    VNTest::writeFile(gone, "soon gone");
    auto missing = NRFormDataRequest::requestWithURL(fake(QStringLiteral("/form")));
    missing->addPostValue(QStringLiteral("v"), QStringLiteral("k"));
    missing->addFile(gone, QStringLiteral("file"));
    QFile::remove(gone);  // between adding and sending
    EXPECT_EQ(run(missing)->failed, 1);
    EXPECT_EQ(errorCode(missing), 6);
    EXPECT_EQ(missing->error()->localizedDescription(), QStringLiteral("No file exists at %1").arg(gone));
    EXPECT_EQ(missing->responseStatusCode(), 0);  // nothing reached the server

    // A file that opens but cannot be read gives its read error.
    auto unreadable = NRFormDataRequest::requestWithURL(fake(QStringLiteral("/form")));
    unreadable->addFile(QStringLiteral("/proc/self/mem"), QStringLiteral("file"));
    EXPECT_EQ(run(unreadable)->failed, 1);
    EXPECT_EQ(errorCode(unreadable), 6);
    EXPECT_EQ(unreadable->responseStatusCode(), 0);
    EXPECT_TRUE(temporaryFiles().isEmpty());
}

// A copy of a form whose body was built already sends its own whole body:
// the source's body file is the source's (deleted when it ends), so a copy
// never writes into it nor counts on it, nor fails because it could not be
// written (the copy is made once there is room again). Sent one after the
// other, each arrives whole at the server, and neither leaves a file behind.
TEST(FormData, ACopySendsABodyOfItsOwn) {
    auto dir = VNTest::makeTempDir();
    const QString path = dir->path() + QStringLiteral("/part.bin");
    const QByteArray content = pattern(300000);
    VNTest::writeFile(path, content);
    const QString sha = QString::fromLatin1(QCryptographicHash::hash(content, QCryptographicHash::Sha256).toHex());
    const struct {
        const char *name;
        bool compressed;
        bool fileBuilt;  // a file part: the body goes through a temporary file
        bool sourceFileUnwritable = false;
    } rows[] = {
        {"compressed, built into a file", true, true},
        {"not compressed, built into a file", false, true},
        {"not compressed, built into a file that could not be written", false, true, true},
        {"compressed, built in memory", true, false},
        {"not compressed, built in memory", false, false},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        auto source = NRFormDataRequest::requestWithURL(fake(QStringLiteral("/form")));
        source->addPostValue(QStringLiteral("hello"), QStringLiteral("greeting"));
        if (row.fileBuilt)
            source->addFile(path, QStringLiteral("upload"));
        source->setShouldCompressRequestBody(row.compressed);
        const QString temporaryFolder = VNTempDirectory::path();
        if (row.sourceFileUnwritable)
            VNTempDirectory::setPath(QStringLiteral("/dev/full/no-folder"));  // holds no file
        source->buildPostBodyNow();
        VNTempDirectory::setPath(temporaryFolder);
        EXPECT_EQ(errorCode(source), row.sourceFileUnwritable ? NRHTTPRequest::FileManagementError : 0);
        const QString sourceFile = source->postBodyFilePath();
        EXPECT_EQ(sourceFile.isEmpty(), !row.fileBuilt);
        const QByteArray sourceBody = row.fileBuilt ? VNTest::readFile(sourceFile) : QByteArray();

        auto copy = source->copy();
        copy->buildPostBodyNow();
        if (row.fileBuilt)
            EXPECT_TRUE(VNTest::readFile(sourceFile) == sourceBody) << "the copy wrote into the source's body file";

        for (const std::shared_ptr<NRHTTPRequest> &request : {std::shared_ptr<NRHTTPRequest>(source), copy}) {
            const bool isSource = request == source;
            if (isSource && row.sourceFileUnwritable)
                continue;  // it failed already
            EXPECT_EQ(run(request)->finished, 1) << (isSource ? "source" : "copy");
            const QJsonObject doc = formOf(request);
            const QJsonArray fields = doc[QStringLiteral("fields")].toArray();
            EXPECT_EQ(fields.size(), 1) << (isSource ? "source" : "copy");
            EXPECT_EQ(fields.at(0).toArray().at(1).toString(), QStringLiteral("hello"));
            const QJsonArray files = doc[QStringLiteral("files")].toArray();
            EXPECT_EQ(files.size(), row.fileBuilt ? 1 : 0) << (isSource ? "source" : "copy");
            if (row.fileBuilt)
                EXPECT_EQ(files.at(0).toObject()[QStringLiteral("sha256")].toString(), sha);
        }
        EXPECT_TRUE(VNTest::waitUntil([] { return temporaryFiles().isEmpty(); }, networkWaitMs))
            << temporaryFiles().join(QLatin1Char(',')).toStdString();
        for (const QString &left : temporaryFiles())
            QFile::remove(VNTempDirectory::path() + QLatin1Char('/') + left);  // the next row starts clean
    }
}
