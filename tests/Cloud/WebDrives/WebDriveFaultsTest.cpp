// What every web drive must do with its service's faults, against each
// fake: names that would leave their folder are left out, a download cut
// short leaves no file, and a refused or cut listing page is an error, never
// a shorter list.
#include "WebDriveServices.h"

#include <QFileInfo>

using namespace WebDriveTest;

namespace {

struct Service {
    const char *peer;
    void (*open)(const Fake &, QNDriveConfigPtr &);
    QString folder;            // where the files go (it exists once signed in)
    QJsonObject entryArgs;     // what places a server-made entry in that folder, beside its name
    // Faults on the folder's listing (after setting the fake up for them), and on a download of the file.
    std::function<QList<QJsonObject>(const Fake &)> listingFaults;
    std::function<QJsonObject(const QNDocumentPtr &file)> downloadFault;
};

QJsonObject with(QJsonObject o, const QJsonObject &more) {
    for (auto it = more.begin(); it != more.end(); ++it)
        o.insert(it.key(), it.value());
    return o;
}

const QJsonObject kDropBody{{"status", 0}, {"drop_body", true}};

// Listings come in pages of three (Flickr's made two): the second page is
// refused, or the first, or (where the fake can cut a page) the second is cut.
QList<QJsonObject> pageFaults(const QString &prefix, bool cut = false) {
    QList<QJsonObject> faults{{{"prefix", prefix}, {"status", 503}, {"after", 1}}, {{"prefix", prefix}, {"status", 500}}};
    if (cut)
        faults << with(kDropBody, {{"prefix", prefix}, {"after", 1}});
    return faults;
}

class WebDriveFaults : public ::testing::TestWithParam<Service> {
protected:
    void SetUp() override {
        if (!fake.isRunning())
            GTEST_SKIP() << "the " << GetParam().peer << " peer is not running";
        ASSERT_NO_FATAL_FAILURE(GetParam().open(fake, drive));
        local = VNTest::makeTempDir();
    }
    // The folder's or a file's own document, as its parent lists it.
    QNDocumentPtr find(const QString &path) {
        const QString parent = path.section('/', 0, -2);
        for (const auto &d : list(drive, parent.isEmpty() ? "/" : parent).documents)
            if (d->path() == path)
                return d;
        return nullptr;
    }
    Answer put(const QString &name, const QByteArray &data) {
        VNTest::writeFile(local->path() + "/" + name, data);
        return run(drive, [&](auto h, auto cb) {
            h->upload(QNDocument::withPath(local->path() + "/" + name), QNDocument::withPath(GetParam().folder, true), {}, cb);
        });
    }

    Fake fake{GetParam().peer};
    QNDriveConfigPtr drive;
    std::unique_ptr<QTemporaryDir> local;
};

TEST_P(WebDriveFaults, NamesThatWouldLeaveTheirFolderAreLeftOut) {
    ASSERT_FALSE(put("ok.jpg", "ok").error);
    for (const char *name : {"..", "a/b", "."})
        fake.control("entry", with(GetParam().entryArgs, {{"name", name}}));
    Answer l = list(drive, GetParam().folder);
    ASSERT_FALSE(l.error) << errorText(l.error).toStdString();
    EXPECT_EQ(names(l.documents), QStringList{"ok.jpg"});
}

TEST_P(WebDriveFaults, ADownloadCutShortLeavesNoFile) {
    ASSERT_FALSE(put("f.jpg", QByteArray(100000, 'z')).error);
    const QString path = GetParam().folder + (GetParam().folder == "/" ? "" : "/") + "f.jpg";
    const QNDocumentPtr file = find(path);
    ASSERT_TRUE(file);
    QDir().mkpath(local->path() + "/out");
    fake.control("fault", GetParam().downloadFault(file));
    Answer a = run(drive, [&](auto h, auto cb) {
        h->download(QNDocument::withPath(path), QNDocument::withPath(local->path() + "/out/f.jpg"), {}, cb);
    });
    EXPECT_TRUE(a.error);
    EXPECT_EQ(QDir(local->path() + "/out").entryList(QDir::Files | QDir::Hidden), QStringList());
}

TEST_P(WebDriveFaults, ARefusedOrCutListingPageIsAnErrorNeverAShorterList) {
    for (int i = 0; i < 5; ++i)
        ASSERT_FALSE(put(QStringLiteral("f%1.jpg").arg(i), "data").error);
    for (const QJsonObject &fault : GetParam().listingFaults(fake)) {
        const std::string what = QJsonDocument(fault).toJson(QJsonDocument::Compact).toStdString();
        fake.control("fault", fault);
        Answer l = list(drive, GetParam().folder);
        EXPECT_TRUE(l.error) << what;
        EXPECT_TRUE(l.documents.isEmpty()) << what;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Services, WebDriveFaults,
    ::testing::Values(
        Service{"box", openBox, "/", {},
                [](auto &) { return pageFaults("/2.0/folders/0/items"); },
                [](auto) { return with(kDropBody, {{"prefix", "/2.0/files/"}}); }},
        Service{"gdrive", openGoogleDrive, "/", {},
                [](auto &) { return pageFaults("/drive/v3/files"); },
                // The path lookups go first; the fault may hit one of them or the download.
                [](auto) { return with(kDropBody, {{"prefix", "/drive/v3/files/"}}); }},
        Service{"onedrive", openOneDrive, "/", {},
                [](auto &) { return pageFaults("/v5.0/folder.root/files", true); },
                [](const QNDocumentPtr &f) { return with(kDropBody, {{"prefix", "/v5.0/" + f->id() + "/content"}}); }},
        Service{"bitcasa", openBitcasa, "/Bitcasa Infinite Drive", {},
                [](auto &) {
                    return QList<QJsonObject>{{{"prefix", "/v1/folders"}, {"status", 503}},
                                              with(kDropBody, {{"prefix", "/v1/folders"}})};
                },
                [](auto) { return with(kDropBody, {{"prefix", "/v1/files/"}}); }},
        Service{"flickr", openFlickr, "/Holiday", {{"set", "Holiday"}},
                [](const Fake &fake) {
                    fake.control("max_per_page", {{"value", 2}});
                    return pageFaults("/services/rest/");
                },
                [](auto) { return with(kDropBody, {{"prefix", "/static/"}}); }}),
    [](const auto &info) { return std::string(info.param.peer); });

}  // namespace
