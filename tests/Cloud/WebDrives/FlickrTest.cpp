// The Flickr drive against its fake: the OAuth 1.0a sign-in of our Flickr
// client (every call's signature checked by the fake), sets as folders and
// photos as files through every operation the handler provides, listings
// read page by page and refused when short, and photos through tasks.
#include "WebDriveServices.h"

#include "Cloud/QNFlickrHandler.h"
#include "Core/QNCloudInterfaceFactory.h"
#include "Platform/VNLog.h"

using namespace WebDriveTest;

namespace {

class FlickrDrive : public ::testing::Test {
protected:
    void SetUp() override {
        if (!fake.isRunning())
            FAIL() << "the flickr peer did not start";
        VNLog::setCapturing(true);
        ASSERT_NO_FATAL_FAILURE(openFlickr(fake, drive));
        local = VNTest::makeTempDir();
    }

    QString upload(const QString &name, const QByteArray &data, const QString &set = "/Holiday") {
        VNTest::writeFile(local->path() + "/" + name, data);
        const Answer a = run(drive, [&](auto h, auto cb) {
            h->upload(QNDocument::withPath(local->path() + "/" + name), QNDocument::withPath(set, true), {}, cb);
        });
        return a.error ? errorText(a.error) : a.document->path();
    }

    Fake fake{"flickr"};
    QNDriveConfigPtr drive;
    std::unique_ptr<QTemporaryDir> local;
};

TEST_F(FlickrDrive, SetsAreFoldersAndPhotosFiles) {
    EXPECT_EQ(upload("beach.jpg", "sand"), "/Holiday/beach.jpg");
    EXPECT_EQ(upload("sea.png", "water"), "/Holiday/sea.png");
    EXPECT_EQ(upload("loose.jpg", "x", "/"), "Photos go into a set.");
    EXPECT_EQ(names(list(drive, "/").documents), (QStringList{"Holiday/", "Work/"}));
    Answer l = list(drive, "/Holiday");
    ASSERT_FALSE(l.error) << errorText(l.error).toStdString();
    ASSERT_EQ(names(l.documents), (QStringList{"beach.jpg", "sea.png"}));
    const QNDocumentPtr beach = l.documents.first()->displayName() == "beach.jpg" ? l.documents.first() : l.documents.last();
    EXPECT_EQ(beach->dimensions(), "640x480");
    EXPECT_TRUE(beach->url().path().startsWith("/static/"));

    // Documents by path alone (no ids) are looked up in the listings.
    struct Step {
        const char *what;
        std::function<void(QNCloudInterfacePtr, QNDocumentCallback)> call;
        QString path;  // of the answer
    };
    const QString back = local->path() + "/back.jpg";
    const std::vector<Step> steps = {
        {"download", [&](auto h, auto cb) { h->download(QNDocument::withPath("/Holiday/beach.jpg"), QNDocument::withPath(back), {}, cb); }, back},
        {"download by id", [&](auto h, auto cb) { h->download(beach, QNDocument::withPath(back), {}, cb); }, back},
        {"rename", [](auto h, auto cb) { h->rename(QNDocument::withPath("/Holiday/sea.png"), QNDocument::withPath("/Holiday/ocean.png"), cb); }, "/Holiday/ocean.png"},
        {"copy", [](auto h, auto cb) { h->localCopy(QNDocument::withPath("/Holiday/beach.jpg"), QNDocument::withPath("/Work", true), cb); }, "/Work/beach.jpg"},
        {"move", [](auto h, auto cb) { h->localMove(QNDocument::withPath("/Holiday/ocean.png"), QNDocument::withPath("/Work", true), cb); }, "/Work/ocean.png"},
        {"rename set", [](auto h, auto cb) { h->rename(QNDocument::withPath("/Work", true), QNDocument::withPath("/Job", true), cb); }, "/Job"},
        {"link", [](auto h, auto cb) { h->linkForDocument(QNDocument::withPath("/Job/ocean.png"), cb); }, "/Job/ocean.png"},
        {"remove", [](auto h, auto cb) { h->remove(QNDocument::withPath("/Job/beach.jpg"), cb); }, "/Job/beach.jpg"},
    };
    for (const Step &step : steps) {
        const Answer a = run(drive, step.call);
        ASSERT_FALSE(a.error) << step.what << ": " << errorText(a.error).toStdString();
        ASSERT_TRUE(a.document) << step.what;
        EXPECT_EQ(a.document->path(), step.path) << step.what;
        EXPECT_EQ(a.count, 1) << step.what;
        if (QString(step.what) == "link")
            EXPECT_TRUE(a.document->link().contains("/static/")) << a.document->link().toStdString();
    }
    EXPECT_EQ(VNTest::readFile(back), "sand");
    EXPECT_EQ(fake.tree().keys(), (QStringList{"/Holiday", "/Job", "/Job/ocean.png"}));

    // What the handler leaves to the base class: create folder and quota cancelled at once, nothing sent.
    fake.control("clear_log");
    Answer a = run(drive, [](auto h, auto cb) { h->createFolder("New", QNDocument::withPath("/", true), cb); });
    EXPECT_TRUE(a.cancelled);
    EXPECT_FALSE(a.error);
    EXPECT_TRUE(fake.log().isEmpty());

    EXPECT_EQ(names(list(drive, "/Job").documents), QStringList{"ocean.png"});
    a = run(drive, [](auto h, auto cb) { h->remove(QNDocument::withPath("/Holiday", true), cb); });
    ASSERT_FALSE(a.error) << errorText(a.error).toStdString();
    EXPECT_EQ(names(list(drive, "/").documents), QStringList{"Job/"});

    const QString log = VNLog::captured().join('\n');
    EXPECT_FALSE(log.contains(drive->token()));
    EXPECT_FALSE(log.contains(drive->tokenSecret()));
}

// Cut off on its way, a rename may still be carried out by the service:
// once sent, it runs to the service's answer.
TEST_F(FlickrDrive, ARenameCancelledOnItsWayRunsToTheServicesAnswer) {
    EXPECT_EQ(upload("sea.png", "water"), "/Holiday/sea.png");
    expectARenameHeldOnItsWayRunsToItsAnswer(fake, drive, QNDocument::withPath("/Holiday/sea.png"), "/Holiday/ocean.png",
                                             {{"method", "POST"}, {"contains", "setMeta"}});
    EXPECT_EQ(names(list(drive, "/Holiday").documents), QStringList{"ocean.png"});
}

TEST_F(FlickrDrive, ListingsAreReadToTheEndOrRefusedWhenShorterThanClaimed) {
    for (int i = 0; i < 5; ++i)
        fake.control("entry", {{"set", "Holiday"}, {"name", QString("p%1.jpg").arg(i)}});
    fake.control("max_per_page", {{"value", 2}});
    Answer l = list(drive, "/Holiday");
    ASSERT_FALSE(l.error) << errorText(l.error).toStdString();
    EXPECT_EQ(l.documents.size(), 5);

    fake.control("lie_total", {{"value", 1}});
    l = list(drive, "/Holiday");
    EXPECT_TRUE(l.error);
    EXPECT_TRUE(l.documents.isEmpty());
}

TEST_F(FlickrDrive, PhotosToASetAndBackAreByteIdentical) {
    const QNDriveConfigPtr localDrive = localDisk();
    const QMap<QString, QByteArray> photos = {{"big.jpg", patternBytes(1024 * 1024 + 11)}, {"empty.png", {}},
                                              {QString::fromUtf8("nïce 'quoted'.jpg"), "unicode"}};
    for (auto it = photos.begin(); it != photos.end(); ++it) {
        VNTest::writeFile(local->path() + "/up/" + it.key(), it.value());
        const VNErrorPtr e = runItem(std::make_shared<QNCopyTask>(), std::make_shared<QNCopyTaskItem>(localDrive, drive, QNDocument::withPath(local->path() + "/up/" + it.key()),
                                                                          QNDocument::withPath("/Holiday", true)));
        ASSERT_FALSE(e) << errorText(e).toStdString();
    }
    QDir().mkpath(local->path() + "/down");
    const VNErrorPtr e = runItem(std::make_shared<QNCopyTask>(),
                                 std::make_shared<QNCopyTaskItem>(drive, localDrive, QNDocument::withPath("/Holiday", true),
                                                                  QNDocument::withPath(local->path() + "/down", true)));
    ASSERT_FALSE(e) << errorText(e).toStdString();
    EXPECT_EQ(treeDifference(local->path() + "/up", local->path() + "/down/Holiday").toStdString(), "");
}

}  // namespace
