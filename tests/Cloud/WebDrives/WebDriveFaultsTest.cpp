// What every web drive must do with its service's faults, against each
// fake: names that would leave their folder are left out, and a move keeps
// the folder holding one; a download cut short leaves no file, and a
// refused or cut listing page is an error, never a shorter list.
#include "WebDriveServices.h"
#include "Core/QNMoveTask.h"
#include "Core/QNMoveTaskItem.h"

#include <QFileInfo>
#include <QRegularExpression>

using namespace WebDriveTest;

namespace {

struct Service {
    const char *peer;
    void (*open)(const Fake &, QNDriveConfigPtr &);
    QString folder;            // where the files go (it exists once signed in)
    QJsonObject entryArgs;     // what places a server-made entry in that folder, beside its name
    // What places one in a folder the test made; none where the drive has no
    // folders of its own to move (Flickr's sets).
    std::function<QJsonObject(const QNDocumentPtr &folder)> entryIn;
    // Faults on the folder's listing (after setting the fake up for them), and on a download of the file.
    std::function<QList<QJsonObject>(const Fake &)> listingFaults;
    std::function<QJsonObject(const QNDocumentPtr &file)> downloadFault;
    // Listings of the root that never end (made replies, given always), and
    // what each must fail with.
    QList<std::pair<QJsonObject, QString>> endlessListings;
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
            FAIL() << "the " << GetParam().peer << " peer did not start";
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

// The drives with folders of their own (not Flickr's sets).
class WebDriveFolderFaults : public WebDriveFaults {};

TEST_P(WebDriveFaults, NamesThatWouldLeaveTheirFolderAreLeftOut) {
    ASSERT_FALSE(put("ok.jpg", "ok").error);
    for (const char *name : {"..", "a/b", "."})
        fake.control("entry", with(GetParam().entryArgs, {{"name", name}}));
    // The folder listed says how many it left out: a copy of it notes them.
    auto folder = QNDocument::withPath(GetParam().folder, true);
    auto l = std::make_shared<Answer>();
    drive->createCloudInterface()->listDocuments(folder, QString(), [l](QNDocumentList d, QString, VNErrorPtr e, bool) {
        l->documents = d;
        l->error = e;
        ++l->count;
    });
    ASSERT_TRUE(VNTest::waitUntil([l] { return l->count > 0; }, 20000));
    ASSERT_FALSE(l->error) << errorText(l->error).toStdString();
    EXPECT_EQ(names(l->documents), QStringList{"ok.jpg"});
    EXPECT_EQ(folder->leftOutCount(), 3);
}

// A name holding "/" is left out of every listing, so the move never copied
// it: the folder stays with it (no removal of the whole folder), only the
// copied file goes, and the task's end report names the folder and why; the
// move does not fail for it (which cancelled the rest of the task).
TEST_P(WebDriveFolderFaults, AMoveKeepsAFolderHoldingANameTheDriveCannotShow) {
    const QString tree = GetParam().folder + (GetParam().folder == "/" ? "" : "/") + "Tree";
    Answer made = run(drive, [](auto h, auto cb) { h->createFolder("Tree", QNDocument::withPath(GetParam().folder, true), cb); });
    ASSERT_FALSE(made.error) << errorText(made.error).toStdString();
    VNTest::writeFile(local->path() + "/a.txt", "a");
    Answer a = run(drive, [&](auto h, auto cb) { h->upload(QNDocument::withPath(local->path() + "/a.txt"), made.document, {}, cb); });
    ASSERT_FALSE(a.error) << errorText(a.error).toStdString();
    fake.control("entry", with(GetParam().entryIn(made.document), {{"name", "x/y"}}));
    QDir().mkpath(local->path() + "/dest");

    auto task = std::make_shared<QNMoveTask>();
    const VNErrorPtr error = runItem(task, std::make_shared<QNMoveTaskItem>(drive, localDisk(), QNDocument::withPath(tree, true),
                                                                            QNDocument::withPath(local->path() + "/dest", true)));
    EXPECT_FALSE(error) << errorText(error).toStdString();
    EXPECT_FALSE(task->canceled());
    EXPECT_EQ(task->leftOut().join('\n').toStdString(),
              ("An entry of \u201c" + tree + "\u201d was not moved: the drive lists it under a name this drive cannot use "
                                              "(such as one holding \u201c/\u201d).")
                  .toStdString());
    const QJsonObject after = fake.tree();
    EXPECT_TRUE(after.contains(tree + "/x/y"));
    EXPECT_FALSE(after.contains(tree + "/a.txt"));
    EXPECT_EQ(VNTest::readFile(local->path() + "/dest/Tree/a.txt"), QByteArray("a"));
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

// A service whose listing never ends (a fresh next page every time, or the
// same page named again) fills no memory: the listing fails within the
// bound a listing may hold, or at the repeated page. Pages of many small
// entries meet the entry bound first, pages of few large ones (or of
// nothing) the byte bound; the error says which.
TEST_P(WebDriveFaults, AListingThatNeverEndsFailsWithinItsBound) {
    for (const auto &[fault, expected] : GetParam().endlessListings) {
        const std::string what = QJsonDocument(fault).toJson(QJsonDocument::Compact).left(120).toStdString();
        fake.control("fault", fault);
        // Up to a thousand pages: more time than one listing is given.
        Answer l = list(drive, "/", QString(), 120000);
        fake.control("clear_faults");
        ASSERT_TRUE(l.error) << what;
        const QString text = errorText(l.error) + " / " + l.error->localizedDescription();
        EXPECT_TRUE(text.contains(QRegularExpression(expected))) << what << ": " << text.toStdString();
        EXPECT_TRUE(l.documents.isEmpty()) << what;
    }
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

QJsonObject byId(const QNDocumentPtr &folder) { return {{"parent", folder->id()}}; }

// A made reply for every listing call under prefix: body with "{items}" as
// that many copies of item, "{n}" as the count of replies so far.
QJsonObject endless(const QString &prefix, const QString &body, int items, const QString &item = "{}") {
    return {{"prefix", prefix}, {"reply", body}, {"items", items}, {"item", item}, {"times", -1}};
}

const QString kTooLarge = "not read on";                // past what a listing may hold, in one reply
const QString kTooManyEntries = "more than 100000 entries";  // past the entries, pages of many small ones
// Past the bytes, over pages: pages of a megabyte within a hundred pages, by
// their size; pages of nothing in a thousand or more, by their least weight.
const QString kTooManyBytes = "larger than 32 MiB in its \\d\\d pages";
const QString kTooManyEmptyPages = "larger than 32 MiB in its \\d{4} pages";
const QString kRepeated = "had given before";           // a next page named twice
// One entry of about a hundred bytes, for replies larger than a listing's bound.
const QString kLongEntry = "{\"name\":\"" + QString(90, 'x') + "\"}";
// One entry of about 100 kB: ten make a page of a megabyte that holds few
// entries, so only the running count of bytes stops the listing.
const QString kHugeEntry = "{\"pad\":\"" + QString(100000, 'x') + "\"}";

std::vector<Service> services() {
    return {
        Service{"box", openBox, "/", {}, byId,
                [](auto &) { return pageFaults("/2.0/folders/0/items"); },
                [](auto) { return with(kDropBody, {{"prefix", "/2.0/files/"}}); },
                {{endless("/2.0/folders/0/items", R"({"entries":[{items}],"total_count":1000000000})", 5000), kTooManyEntries},
                 {endless("/2.0/folders/0/items", R"({"entries":[{items}],"total_count":1000000000})", 10, kHugeEntry),
                  kTooManyBytes}}},
        Service{"gdrive", openGoogleDrive, "/", {}, byId,
                [](auto &) { return pageFaults("/drive/v3/files"); },
                // The path lookups go first; the fault may hit one of them or the download.
                [](auto) { return with(kDropBody, {{"prefix", "/drive/v3/files/"}}); },
                {{endless("/drive/v3/files", R"({"files":[{items}],"nextPageToken":"page {n}"})", 5000), kTooManyEntries},
                 {endless("/drive/v3/files", R"({"files":[{items}],"nextPageToken":"page {n}"})", 10, kHugeEntry),
                  kTooManyBytes},
                 // Pages of nothing under ever new tokens still weigh.
                 {endless("/drive/v3/files", R"({"files":[{items}],"nextPageToken":"page {n}"})", 0), kTooManyEmptyPages},
                 {endless("/drive/v3/files", R"({"files":[{items}],"nextPageToken":"again"})", 1), kRepeated}}},
        Service{"onedrive", openOneDrive, "/", {}, byId,
                [](auto &) { return pageFaults("/v5.0/folder.root/files", true); },
                [](const QNDocumentPtr &f) { return with(kDropBody, {{"prefix", "/v5.0/" + f->id() + "/content"}}); },
                {{endless("/v5.0/folder.root/files", R"({"data":[{items}],"paging":{"next":"https://x.invalid/{n}"}})", 5000),
                  kTooManyEntries},
                 {endless("/v5.0/folder.root/files", R"({"data":[{items}],"paging":{"next":"https://x.invalid/{n}"}})", 10,
                          kHugeEntry),
                  kTooManyBytes},
                 {endless("/v5.0/folder.root/files", R"({"data":[{items}],"paging":{"next":"https://x.invalid/"}})", 1),
                  kRepeated}}},
        Service{"bitcasa", openBitcasa, "/Bitcasa Infinite Drive", {},
                // The last id of the folder's full path is the folder's own.
                [](const QNDocumentPtr &f) { return QJsonObject{{"parent", f->fullPath().section('/', -1)}}; },
                [](auto &) {
                    return QList<QJsonObject>{{{"prefix", "/v1/folders"}, {"status", 503}},
                                              with(kDropBody, {{"prefix", "/v1/folders"}})};
                },
                [](auto) { return with(kDropBody, {{"prefix", "/v1/files/"}}); },
                // A folder comes in one reply: one past the bound.
                {{endless("/v1/folders", R"({"result":{"items":[{items}]}})", 400000, kLongEntry), "too large"}}},
        // Pages of two; a cut reply claims one child more than the folder holds, on every page.
        Service{"copy", openCopy, "/", {}, [](const QNDocumentPtr &f) { return QJsonObject{{"parent", f->path()}}; },
                [](auto &) {
                    return QList<QJsonObject>{{{"prefix", "/rest/meta/copy"}, {"status", 503}, {"after", 1}},
                                              {{"prefix", "/rest/meta/copy"}, {"status", 500}},
                                              {{"prefix", "/rest/meta/copy"}, {"cut", true}, {"times", 10}}};
                },
                [](auto) { return with(kDropBody, {{"prefix", "/rest/files/"}}); },
                {{endless("/rest/meta/copy", R"({"children":[{items}],"children_count":1000000000})", 5000), kTooManyEntries},
                 {endless("/rest/meta/copy", R"({"children":[{items}],"children_count":1000000000})", 10, kHugeEntry),
                  kTooManyBytes}}},
        Service{"flickr", openFlickr, "/Holiday", {{"set", "Holiday"}}, nullptr,
                [](const Fake &fake) {
                    fake.control("max_per_page", {{"value", 2}});
                    return pageFaults("/services/rest/");
                },
                [](auto) { return with(kDropBody, {{"prefix", "/static/"}}); },
                {{endless("/services/rest/",
                          R"({"stat":"ok","photosets":{"page":{n},"pages":1000000000,"total":1000000000,"photoset":[{items}]}})",
                          5000),
                  kTooManyEntries},
                 {endless("/services/rest/",
                          R"({"stat":"ok","photosets":{"page":{n},"pages":1000000000,"total":1000000000,"photoset":[{items}]}})",
                          10, kHugeEntry),
                  kTooManyBytes}}}};
}

std::vector<Service> servicesWithFolders() {
    std::vector<Service> some;
    for (const Service &service : services())
        if (service.entryIn)
            some.push_back(service);
    return some;
}

std::string peerName(const ::testing::TestParamInfo<Service> &info) { return info.param.peer; }

INSTANTIATE_TEST_SUITE_P(Services, WebDriveFaults, ::testing::ValuesIn(services()), peerName);
INSTANTIATE_TEST_SUITE_P(Services, WebDriveFolderFaults, ::testing::ValuesIn(servicesWithFolders()), peerName);

}  // namespace
