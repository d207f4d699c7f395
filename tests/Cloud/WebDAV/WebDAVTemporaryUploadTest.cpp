// The upload under a temporary name: on Apache the whole file replaces its
// namesake and no temporary file stays; against the fake, a MOVE onto the
// name that fails removes the temporary file only while the name still
// holds a file (a server that removed the file it was to replace leaves the
// new one as the only copy), and a cancelled upload removes what it sent.
#include "WebDAVPeer.h"
#include "Net/NRHTTPRequest.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QUuid>
#include <gtest/gtest.h>

using namespace WebDAVPeer;

namespace {

QString unique() {
    return QUuid::createUuid().toString(QUuid::WithoutBraces).left(8);
}

// The requests the fake received for paths below prefix, "METHOD path" each.
QStringList seenBelow(const QString &prefix) {
    auto request = NRHTTPRequest::requestWithURL(QUrl(fakeURL() + QStringLiteral("/seen") + prefix));
    request->startSynchronous();
    return QString::fromUtf8(request->responseData()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// Whether a request of method for the temporary file of name was seen.
bool sawTemporary(const QStringList &seen, const char *method, const QString &name) {
    for (const QString &line : seen)
        if (line.startsWith(QLatin1String(method) + QLatin1Char(' ')) &&
            line.section(QLatin1Char('/'), -1).startsWith(QLatin1Char('.') + name + QStringLiteral(".part-")))
            return true;
    return false;
}

class WebDAVTemporaryUpload : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(state().isEmpty()) << "the webdav peer is not running";
        setUpOnce();
        local = VNTest::makeTempDir();
        source = local->path() + QStringLiteral("/note.txt");
        ASSERT_TRUE(VNTest::writeFile(source, "new"));
    }

    AnswerPtr uploadUnderTemporaryName(const QNDriveConfigPtr &config, const QString &folder) {
        auto answer = std::make_shared<Answer>();
        handlerFor(config)->uploadUnderTemporaryName(QNDocument::withPath(source), QNDocument::withPath(folder, true),
                                                     nullptr, documentAnswer(answer));
        EXPECT_TRUE(waitForAnswer(answer, 60000));
        EXPECT_EQ(answer->count, 1);
        return answer;
    }

    std::unique_ptr<QTemporaryDir> local;
    QString source;
};

TEST_F(WebDAVTemporaryUpload, TheWholeFileReplacesItsNamesakeAndNoTemporaryFileStays) {
    // A name a URL must escape, in the PUT's path and the MOVE's Destination.
    const QString name = QString::fromUtf8("n\xc3\xb6te #1.txt");
    source = local->path() + QLatin1Char('/') + name;
    ASSERT_TRUE(VNTest::writeFile(source, "new"));
    const QString folder = freshFolder(QStringLiteral("root_dir"), QStringLiteral("temporary-") + unique());
    ASSERT_TRUE(VNTest::writeFile(folder + QLatin1Char('/') + name, "old, and longer than the new"));
    auto answer = uploadUnderTemporaryName(drive(url(QStringLiteral("http"))),
                                           QLatin1Char('/') + QDir(folder).dirName());
    EXPECT_FALSE(answer->error) << answer->errorText().toStdString();
    EXPECT_TRUE(answer->document);
    EXPECT_EQ(VNTest::readFile(folder + QLatin1Char('/') + name), QByteArray("new"));
    EXPECT_EQ(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList{name});
}

TEST_F(WebDAVTemporaryUpload, AFailedMoveRemovesTheTemporaryFileOnlyWhileTheNameStillHoldsAFile) {
    struct Row {
        const char *where;  // what the look at the name after the failed MOVE finds
        bool removed;
        const char *said;
    };
    const Row rows[] = {
        {"there", true, "The temporary file was removed."},
        {"gone", false, "is no longer there, so the uploaded file is kept as"},
        {"unknown", false, "could not be told"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.where);
        const QString folder = QStringLiteral("/move-fails/%1/%2").arg(QLatin1String(row.where), unique());
        auto answer = uploadUnderTemporaryName(drive(fakeURL()), folder);
        EXPECT_FALSE(answer->document);
        EXPECT_FALSE(answer->cancelled);
        const QString said = answer->error ? answer->error->localizedDescription() : QString();
        EXPECT_TRUE(said.contains(QLatin1String("could not take its own name")) &&
                    said.contains(QLatin1String("500")) && said.contains(QLatin1String(row.said)))
            << said.toStdString();
        const QStringList seen = seenBelow(folder);
        EXPECT_TRUE(sawTemporary(seen, "PUT", QStringLiteral("note.txt"))) << seen.join(' ').toStdString();
        EXPECT_TRUE(sawTemporary(seen, "MOVE", QStringLiteral("note.txt"))) << seen.join(' ').toStdString();
        EXPECT_EQ(sawTemporary(seen, "DELETE", QStringLiteral("note.txt")), row.removed)
            << seen.join(' ').toStdString();
        // Nothing is ever sent onto the name itself.
        EXPECT_FALSE(seen.contains(QStringLiteral("PUT %1/note.txt").arg(folder))) << seen.join(' ').toStdString();
    }
}

TEST_F(WebDAVTemporaryUpload, ACancelledUploadRemovesItsTemporaryFile) {
    const QByteArray data(4 * 1024 * 1024, 'u');
    ASSERT_TRUE(VNTest::writeFile(source, data));
    const QString folder = QStringLiteral("/slow-upload/") + unique();
    auto handler = handlerFor(drive(fakeURL()));
    auto answer = std::make_shared<Answer>();
    QList<double> progress;
    handler->uploadUnderTemporaryName(QNDocument::withPath(source), QNDocument::withPath(folder, true),
                                      [&progress](double f) { progress.append(f); }, documentAnswer(answer));
    ASSERT_TRUE(VNTest::waitUntil([&] { return !progress.isEmpty() && progress.last() > 0; }, 20000));
    handler->cancel();
    ASSERT_TRUE(waitForAnswer(answer, 60000));
    EXPECT_EQ(answer->count, 1);
    EXPECT_TRUE(answer->cancelled);
    EXPECT_FALSE(answer->document);
    // The handler's own answer comes once the removal has been answered.
    const QStringList seen = seenBelow(folder);
    EXPECT_TRUE(sawTemporary(seen, "DELETE", QStringLiteral("note.txt"))) << seen.join(' ').toStdString();
    EXPECT_FALSE(sawTemporary(seen, "MOVE", QStringLiteral("note.txt"))) << seen.join(' ').toStdString();
}

}  // namespace
