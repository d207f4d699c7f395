// The thumbnail browser against a loopback HTTP server: the Box and Copy
// credentials arrive as headers, an unmarked address is fetched by the
// browser and never stored, error pages and undecodable answers are never
// kept, local pictures and PDFs are fetched whole and rendered, and scrolling
// cancels the fetches under way. The preview panel shows the selected entry's
// copy, and a new request cancels the copy before it.
#include "PanesTestSupport.h"

#include "App/QNImageBrowserModel.h"
#include "App/QNPreviewPanel.h"
#include "Core/Fakes/QNFakeRemoteHandler.h"
#include "Core/QNTask.h"
#include "Core/QNTaskManager.h"

#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QScreen>
#include <QScrollBar>
#include <QToolButton>
#include <QUrlQuery>
#include <fcntl.h>
#include <unistd.h>

namespace {

// A one-page PDF (200 × 100 points) with a black bar across it.
QByteArray smallPdf() {
    const QByteArray content = "0 0 0 rg 20 40 160 20 re f\n";
    const QList<QByteArray> objects = {
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 100] /Contents 4 0 R >>",
        "<< /Length " + QByteArray::number(content.size()) + " >>\nstream\n" + content + "endstream",
    };
    QByteArray pdf = "%PDF-1.4\n";
    QList<int> offsets;
    for (int i = 0; i < objects.size(); ++i) {
        offsets << int(pdf.size());
        pdf += QByteArray::number(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const int xref = int(pdf.size());
    pdf += "xref\n0 " + QByteArray::number(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (int o : offsets)
        pdf += QByteArray::number(o).rightJustified(10, '0') + " 00000 n \n";
    pdf += "trailer\n<< /Size " + QByteArray::number(objects.size() + 1) + " /Root 1 0 R >>\nstartxref\n" +
           QByteArray::number(xref) + "\n%%EOF\n";
    return pdf;
}

bool savePicture(const QString &path, QColor color, const char *format = "PNG") {
    QImage image(64, 64, QImage::Format_RGB32);
    image.fill(color);
    return image.save(path, format);
}

class ThumbnailsTest : public PanesTest {
protected:
    void SetUp() override {
        PanesTest::SetUp();
        served = folder(QStringLiteral("served"));
        files = folder(QStringLiteral("files"));
        logPath = temp->path() + QStringLiteral("/requests.log");
        server.start(QStringLiteral("python3"), {QStringLiteral(THUMBNAIL_SERVER), served, logPath});
        ASSERT_TRUE(server.waitForStarted(5000));
        ASSERT_TRUE(server.waitForReadyRead(5000));
        port = server.readLine().trimmed().toInt();
        ASSERT_GT(port, 0);
    }
    void TearDown() override {
        server.kill();
        server.waitForFinished(3000);
        PanesTest::TearDown();
    }

    QString address(const QString &rest) const { return QStringLiteral("http://127.0.0.1:%1/f/%2").arg(port).arg(rest); }

    // Opens the drive of `files` in the table, gives the listed entries their
    // thumbnail addresses, then switches to the thumbnails.
    QNMacFilesViewController *openThumbnails(const QHash<QString, QString> &thumbnailURLs) {
        w = openDrive(localDrive(QStringLiteral("T"), files));
        if (!w)
            return nullptr;
        QNMacFilesViewController *pane = w->filesViewController();
        for (const QNDocumentPtr &d : pane->documents())
            if (thumbnailURLs.contains(d->displayName()))
                d->setThumbnailURL(QUrl(thumbnailURLs.value(d->displayName()), QUrl::StrictMode));
        pane->imageBrowserView()->setZoomValue(zoom);
        pane->changeView(true);
        VNTest::spin(50);
        return pane;
    }

    // The requests the server saw: path → headers.
    QList<QPair<QString, QJsonObject>> requests() const {
        QList<QPair<QString, QJsonObject>> out;
        for (const QByteArray &line : VNTest::readFile(logPath).split('\n')) {
            const QJsonObject o = QJsonDocument::fromJson(line).object();
            if (o.contains(QStringLiteral("path")))
                out.append({o.value(QStringLiteral("path")).toString(), o.value(QStringLiteral("headers")).toObject()});
        }
        return out;
    }
    QJsonObject headersOf(const QString &pathPrefix) const {
        for (const auto &r : requests())
            if (r.first.startsWith(pathPrefix))
                return r.second;
        return {};
    }

    static int indexOf(QNMacFilesViewController *pane, const QString &name) {
        const QNDocumentList docs = pane->documents();
        for (int i = 0; i < docs.size(); ++i)
            if (docs[i]->displayName() == name)
                return i;
        return -1;
    }
    static QImage pictureOf(QNMacFilesViewController *pane, const QString &name) {
        QAbstractItemModel *model = pane->imageBrowserView()->model();
        return model->data(model->index(indexOf(pane, name), 0), QNImageBrowserModel::PictureRole).value<QPixmap>().toImage();
    }
    static QColor centre(const QImage &image) { return image.pixelColor(image.width() / 2, image.height() / 2); }
    QString storedFile(QNMacFilesViewController *pane, const QString &name) const {
        return pane->thumbnailPathFor(pane->documents().value(indexOf(pane, name)));
    }

    QProcess server;
    int port = 0;
    QString served, files, logPath;
    QNMainWindowController *w = nullptr;
    float zoom = 0.5f;
};

TEST_F(ThumbnailsTest, CredentialsBecomeHeadersOnlyGoodPicturesAreKeptAndLocalFilesRender) {
    ASSERT_TRUE(savePicture(served + QStringLiteral("/box.png"), Qt::green));
    ASSERT_TRUE(savePicture(served + QStringLiteral("/copy.jpg"), Qt::blue, "JPG"));
    ASSERT_TRUE(savePicture(served + QStringLiteral("/plain.png"), Qt::yellow));
    ASSERT_TRUE(VNTest::writeFile(served + QStringLiteral("/junk.png"), "<html>no picture</html>"));
    for (const char *name : {"box.png", "copy.jpg", "plain.png", "bad.png", "junk.png", "notes.zip", "readme.txt"})
        writeFile(files + QLatin1Char('/') + QLatin1String(name), 10);
    ASSERT_TRUE(savePicture(files + QStringLiteral("/local.png"), Qt::red));
    ASSERT_TRUE(VNTest::writeFile(files + QStringLiteral("/doc.pdf"), smallPdf()));
    folder(QStringLiteral("files/Album"));
    zoom = 0.3f;  // smaller pictures: more of them visible at once

    QNMacFilesViewController *pane = openThumbnails({
        {QStringLiteral("box.png"), address(QStringLiteral("box.png?size=64&BoxAuth+T0KEN"))},
        {QStringLiteral("copy.jpg"), address(QStringLiteral("copy.jpg?size=64&CopyAuth+Bearer%20c%C3%B6py%2Bkey"))},
        {QStringLiteral("plain.png"), address(QStringLiteral("plain.png"))},
        {QStringLiteral("bad.png"), address(QStringLiteral("bad.png?status=404&BoxAuth+T0KEN"))},
        {QStringLiteral("junk.png"), address(QStringLiteral("junk.png?x=1&BoxAuth+T0KEN"))},
    });
    ASSERT_NE(pane, nullptr);
    const auto done = [&] {
        return QFile::exists(storedFile(pane, QStringLiteral("box.png"))) &&
               QFile::exists(storedFile(pane, QStringLiteral("copy.jpg"))) &&
               QFile::exists(storedFile(pane, QStringLiteral("local.png"))) &&
               QFile::exists(storedFile(pane, QStringLiteral("doc.pdf"))) && requests().size() >= 5 &&
               centre(pictureOf(pane, QStringLiteral("plain.png"))) == QColor(Qt::yellow);
    };
    ASSERT_TRUE(VNTest::waitUntil(done, 15000));
    VNTest::spin(700);  // the coalesced reload

    const QJsonObject box = headersOf(QStringLiteral("/f/box.png?size=64"));
    EXPECT_EQ(box.value(QStringLiteral("Authorization")).toString(), QStringLiteral("Bearer T0KEN"));
    const QJsonObject copy = headersOf(QStringLiteral("/f/copy.jpg?size=64"));
    // The server reads header bytes as Latin-1; the bytes sent are UTF-8.
    EXPECT_EQ(copy.value(QStringLiteral("Authorization")).toString().toLatin1(), QByteArray("Bearer c\xc3\xb6py+key"));
    EXPECT_EQ(copy.value(QStringLiteral("X-Api-Version")).toString(), QStringLiteral("1"));
    EXPECT_FALSE(headersOf(QStringLiteral("/f/plain.png")).contains(QStringLiteral("Authorization")));
    for (const auto &r : requests())
        EXPECT_FALSE(r.first.contains(QStringLiteral("Auth+"))) << r.first.toStdString();

    // Only good pictures are stored: never the unmarked address, the error
    // page or the undecodable answer, and no partial file is left.
    QStringList stored = QDir(pane->thumbTempPath()).entryList(QDir::Files);
    stored.sort();
    QStringList expected;
    for (const char *name : {"box.png", "copy.jpg", "local.png", "doc.pdf"})
        expected << QFileInfo(storedFile(pane, QLatin1String(name))).fileName();
    expected.sort();
    EXPECT_EQ(stored, expected);

    EXPECT_EQ(centre(pictureOf(pane, QStringLiteral("box.png"))), QColor(Qt::green));
    EXPECT_EQ(centre(pictureOf(pane, QStringLiteral("local.png"))), QColor(Qt::red));
    const QImage pdf = pictureOf(pane, QStringLiteral("doc.pdf"));
    EXPECT_EQ(pdf.size(), QSize(256, 256));
    EXPECT_EQ(centre(pdf), QColor(Qt::black));          // the bar
    EXPECT_EQ(pdf.pixelColor(10, 70), QColor(Qt::white));  // the page
    EXPECT_EQ(pdf.pixelColor(10, 10).alpha(), 0);        // outside it
    EXPECT_TRUE(saveShot(w->window(), QStringLiteral("thumbs-loaded.png")));
}

TEST_F(ThumbnailsTest, ScrollingCancelsFetchesUnderWayAndOnlyVisibleItemsFetchAgainKeepingTheSelection) {
    ASSERT_TRUE(savePicture(served + QStringLiteral("/slow.png"), Qt::darkCyan));
    QHash<QString, QString> urls;
    for (int i = 0; i < 60; ++i) {
        const QString name = QStringLiteral("s%1.png").arg(i, 2, 10, QLatin1Char('0'));
        writeFile(files + QLatin1Char('/') + name, 10);
        urls.insert(name, address(QStringLiteral("slow.png?delay=1.5&n=%1&BoxAuth+T").arg(name)));
    }
    QNMacFilesViewController *pane = openThumbnails(urls);
    ASSERT_NE(pane, nullptr);
    ASSERT_TRUE(VNTest::waitUntil([&] { return requests().size() >= 2; }, 5000));
    QStringList first;
    for (const auto &r : requests())
        first << QUrlQuery(QUrl(r.first)).queryItemValue(QStringLiteral("n"));
    EXPECT_EQ(first.size(), 2);  // two at a time
    const QList<int> visibleBefore = pane->visibleItemIndexes();
    ASSERT_FALSE(visibleBefore.isEmpty());
    ASSERT_LT(visibleBefore.size(), 60);
    for (const QString &name : first)
        EXPECT_TRUE(visibleBefore.contains(indexOf(pane, name))) << name.toStdString();

    QScrollBar *bar = pane->imageBrowserView()->verticalScrollBar();
    ASSERT_GT(bar->maximum(), 0);
    bar->setValue(bar->maximum());
    EXPECT_EQ(pane->thumbnailDownloadCount(), 0);
    const QList<int> visible = pane->visibleItemIndexes();
    const int selected = visible.last();
    pane->imageBrowserView()->setSelectionIndexes({selected});

    const auto bottomDone = [&] {
        for (int i : visible)
            if (!QFile::exists(pane->thumbnailPathFor(pane->documents().value(i))))
                return false;
        return true;
    };
    ASSERT_TRUE(VNTest::waitUntil(bottomDone, 30000));
    VNTest::spin(700);
    // The cancelled fetches left nothing, though the server answered them.
    for (const QString &name : first)
        EXPECT_FALSE(QFile::exists(storedFile(pane, name))) << name.toStdString();
    // Nothing outside the visible area was asked for after the scroll.
    const auto all = requests();
    for (int k = 2; k < all.size(); ++k) {
        const QString name = QUrlQuery(QUrl(all[k].first)).queryItemValue(QStringLiteral("n"));
        EXPECT_TRUE(visible.contains(indexOf(pane, name))) << name.toStdString();
    }
    EXPECT_EQ(pane->imageBrowserView()->selectionIndexes(), QList<int>{selected});
    EXPECT_EQ(centre(pictureOf(pane, pane->documents().value(selected)->displayName())), QColor(Qt::darkCyan));
}

TEST_F(ThumbnailsTest, ThePreviewShowsPicturesTextsFoldersAndPdfsAndANewRequestCancelsTheOldCopy) {
    ASSERT_TRUE(savePicture(files + QStringLiteral("/pic.png"), Qt::red));
    ASSERT_TRUE(VNTest::writeFile(files + QStringLiteral("/notes.txt"), "hello preview\n"));
    ASSERT_TRUE(VNTest::writeFile(files + QStringLiteral("/doc.pdf"), smallPdf()));
    folder(QStringLiteral("files/Sub"));
    w = openDrive(localDrive(QStringLiteral("T"), files));
    ASSERT_NE(w, nullptr);
    QNMacFilesViewController *pane = w->filesViewController();
    auto select = [&](const QString &name) { pane->tableView()->selectRow(indexOf(pane, name)); };

    // Without the panel: a request, then another one cancels its copy.
    select(QStringLiteral("pic.png"));
    const QUrl placeholder = pane->previewPanelItem();
    EXPECT_FALSE(QFileInfo::exists(placeholder.toLocalFile()));
    const QNTaskPtr first = pane->previewTask();
    ASSERT_TRUE(first);
    select(QStringLiteral("notes.txt"));
    pane->previewPanelItem();
    EXPECT_TRUE(first->canceled());
    EXPECT_NE(pane->previewTask(), first);

    select(QStringLiteral("pic.png"));
    delegate->toggleQuickLookPreview();
    auto *panel = qobject_cast<QNPreviewPanel *>(delegate->quickLookPanel());
    ASSERT_NE(panel, nullptr);
    ASSERT_TRUE(panel->isVisible());
    ASSERT_TRUE(VNTest::waitUntil([&] { return panel->state() == QLatin1String("image"); }, 10000)) << panel->state().toStdString();
    EXPECT_EQ(QFileInfo(panel->currentItem().toLocalFile()).absolutePath(), QFileInfo(pane->previewTempPath()).absoluteFilePath());
    select(QStringLiteral("notes.txt"));
    ASSERT_TRUE(VNTest::waitUntil([&] { return panel->state() == QLatin1String("text"); }, 10000));
    EXPECT_EQ(panel->shownText(), QStringLiteral("hello preview\n"));
    select(QStringLiteral("Sub"));
    ASSERT_TRUE(VNTest::waitUntil([&] { return panel->state() == QLatin1String("folder"); }, 5000));
    select(QStringLiteral("doc.pdf"));
    ASSERT_TRUE(VNTest::waitUntil([&] { return panel->state() == QLatin1String("pdf"); }, 10000));
    EXPECT_TRUE(saveShot(panel, QStringLiteral("preview.png")));
    delegate->toggleQuickLookPreview();
    EXPECT_FALSE(panel->isVisible());
}

// An entry the preview cannot copy (a link to nothing, a name that is not
// UTF-8, one gone since the listing) is said in the panel, why, instead of
// waiting for it, and is not copied again until the next listing.
TEST_F(ThumbnailsTest, ThePreviewOfAnEntryThatCannotBeCopiedSaysWhy) {
    struct Row {
        const char *what;
        const char *name;
        const char *why;
    } rows[] = {
        {"a link to nothing", "link.txt", "it is a link to \u201cmissing.txt\u201d, which does not exist"},
        {"a name not UTF-8", "caf\\xE9.txt", "its name is not valid UTF-8"},
        {"gone since the listing", "gone.txt", "cannot be opened"},
    };
    EXPECT_TRUE(QFile::link(QStringLiteral("missing.txt"), files + QStringLiteral("/link.txt")));
    EXPECT_EQ(::close(::open((QFile::encodeName(files) + "/caf\xE9.txt").constData(), O_WRONLY | O_CREAT, 0644)), 0);
    ASSERT_TRUE(VNTest::writeFile(files + QStringLiteral("/gone.txt"), "gone"));
    w = openDrive(localDrive(QStringLiteral("T"), files));
    ASSERT_NE(w, nullptr);
    QNMacFilesViewController *pane = w->filesViewController();
    QFile::remove(files + QStringLiteral("/gone.txt"));
    delegate->toggleQuickLookPreview();
    auto *panel = qobject_cast<QNPreviewPanel *>(delegate->quickLookPanel());
    ASSERT_NE(panel, nullptr);
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        const int i = indexOf(pane, QString::fromUtf8(row.name));
        EXPECT_GE(i, 0) << row.name;
        if (i < 0)
            continue;
        pane->tableView()->selectRow(i);
        EXPECT_TRUE(VNTest::waitUntil([&] { return panel->state() == QLatin1String("failed"); }, 10000))
            << panel->state().toStdString();
        EXPECT_TRUE(pane->previewPanelFailure().contains(QString::fromUtf8(row.why)))
            << pane->previewPanelFailure().toStdString();
        // Asked again, the panel says the same without a new copy.
        const QNTaskPtr copy = pane->previewTask();
        panel->reloadData();
        EXPECT_EQ(panel->state(), QStringLiteral("failed"));
        EXPECT_EQ(pane->previewTask(), copy);
        EXPECT_TRUE(QDir(pane->previewTempPath()).entryList(QDir::Files | QDir::System).isEmpty());
    }
    delegate->toggleQuickLookPreview();
    ::unlink((QFile::encodeName(files) + "/caf\xE9.txt").constData());
}

// The preview is the selected entry's file whatever the order of the rows,
// and the panel follows the pane on top when a folder opens and on Back.
TEST_F(ThumbnailsTest, ThePreviewFollowsItsEntryThroughAReSortAndThePaneOnTop) {
    ASSERT_TRUE(VNTest::writeFile(files + QStringLiteral("/a.txt"), "alpha alpha alpha\n"));
    ASSERT_TRUE(VNTest::writeFile(files + QStringLiteral("/b.txt"), "bravo\n"));
    ASSERT_TRUE(VNTest::writeFile(files + QStringLiteral("/Sub/inner.txt"), "inner\n"));
    w = openDrive(localDrive(QStringLiteral("T"), files));
    ASSERT_NE(w, nullptr);
    QNMacFilesViewController *pane = w->filesViewController();
    delegate->toggleQuickLookPreview();
    auto *panel = qobject_cast<QNPreviewPanel *>(delegate->quickLookPanel());
    ASSERT_TRUE(panel && panel->isVisible());
    auto shows = [&](const QString &text) {
        return VNTest::waitUntil(
            [&] { return panel->state() == QLatin1String("text") && panel->shownText() == text; }, 10000);
    };
    auto select = [](QNMacFilesViewController *p, const QString &name) { p->tableView()->selectRow(indexOf(p, name)); };

    select(pane, QStringLiteral("a.txt"));
    ASSERT_TRUE(shows(QStringLiteral("alpha alpha alpha\n")));
    select(pane, QStringLiteral("b.txt"));
    ASSERT_TRUE(shows(QStringLiteral("bravo\n")));
    // By size the two files change rows.
    const int rowOfA = indexOf(pane, QStringLiteral("a.txt"));
    pane->arrangeBySize();
    ASSERT_NE(indexOf(pane, QStringLiteral("a.txt")), rowOfA);
    // The selection stays with its entry.
    EXPECT_EQ(pane->selectedIndexes(), QList<int>{indexOf(pane, QStringLiteral("b.txt"))});
    EXPECT_TRUE(shows(QStringLiteral("bravo\n")));
    select(pane, QStringLiteral("a.txt"));
    EXPECT_TRUE(shows(QStringLiteral("alpha alpha alpha\n"))) << panel->shownText().toStdString();
    EXPECT_EQ(QFileInfo(panel->currentItem().toLocalFile()).fileName(), QStringLiteral("a.txt"));

    // In the thumbnails, where opening a folder leaves the selection as it
    // is: the folder's pane has nothing selected yet.
    w->thumbnailsButton()->setChecked(true);
    w->thumbnails();
    auto pick = [](QNMacFilesViewController *p, const QString &name) {
        p->imageBrowserView()->setSelectionIndexes({indexOf(p, name)});
    };
    pick(pane, QStringLiteral("a.txt"));
    ASSERT_TRUE(shows(QStringLiteral("alpha alpha alpha\n")));
    pane->doubleClickAction(indexOf(pane, QStringLiteral("Sub")));
    ASSERT_TRUE(waitForListing(w));
    QNMacFilesViewController *sub = w->filesViewController();
    ASSERT_NE(sub, pane);
    EXPECT_EQ(delegate->quickLookSource(), sub);
    EXPECT_EQ(panel->state(), QStringLiteral("empty"));
    pick(sub, QStringLiteral("inner.txt"));
    ASSERT_TRUE(shows(QStringLiteral("inner\n")));
    const QString subFolder = sub->tempPath();

    // Back: the popped pane's copy is gone with its folder; the pane
    // beneath serves the panel again, with the entry selected there.
    w->back();
    EXPECT_EQ(delegate->quickLookSource(), pane);
    EXPECT_FALSE(panel->currentItem().toLocalFile().startsWith(subFolder));
    EXPECT_TRUE(shows(QStringLiteral("alpha alpha alpha\n")));
    pick(pane, QStringLiteral("b.txt"));
    EXPECT_TRUE(shows(QStringLiteral("bravo\n")));
    delegate->toggleQuickLookPreview();
}

// The panel is told where its entry is on the screen: the row or cell the
// preview is of (the one selected last; the whole row of the list); nothing
// without a selection or with the window hidden.
TEST_F(ThumbnailsTest, ThePreviewsSourceFrameIsTheLastSelectedRowOrCellOnTheScreen) {
    for (const char *name : {"a.txt", "b.txt", "c.txt"})
        ASSERT_TRUE(VNTest::writeFile(files + QLatin1Char('/') + QString::fromUtf8(name), name));
    w = openDrive(localDrive(QStringLiteral("T"), files));
    ASSERT_NE(w, nullptr);
    w->window()->show();
    QNMacFilesViewController *pane = w->filesViewController();
    QNMacTableView *table = pane->tableView();
    QNImageBrowserView *browser = pane->imageBrowserView();
    const int a = indexOf(pane, QStringLiteral("a.txt")), c = indexOf(pane, QStringLiteral("c.txt"));
    auto onScreen = [](QAbstractItemView *view, const QRect &r) {
        return QRect(view->viewport()->mapToGlobal(r.topLeft()), r.size());
    };

    table->clearSelection();
    EXPECT_TRUE(pane->previewPanelSourceFrame().isNull());
    table->selectRow(c);
    table->selectionModel()->select(table->model()->index(a, 0),
                                    QItemSelectionModel::Select | QItemSelectionModel::Rows);
    const int last = std::max(a, c);
    const QRect row = table->visualRect(table->model()->index(last, 0))
                          .united(table->visualRect(table->model()->index(last, table->model()->columnCount() - 1)));
    EXPECT_EQ(pane->previewPanelSourceFrame(), onScreen(table, row));
    EXPECT_GT(pane->previewPanelSourceFrame().width(), table->columnWidth(0));

    w->thumbnailsButton()->setChecked(true);
    w->thumbnails();
    VNTest::spin(30);
    browser->setSelectionIndexes({});
    EXPECT_TRUE(pane->previewPanelSourceFrame().isNull());
    browser->setSelectionIndexes({a, c});
    browser->selectionModel()->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
    EXPECT_EQ(pane->previewPanelSourceFrame(), onScreen(browser, browser->visualRect(browser->model()->index(last, 0))));
    // The cell clicked last, when it is part of the selection.
    browser->selectionModel()->setCurrentIndex(browser->model()->index(a, 0), QItemSelectionModel::NoUpdate);
    EXPECT_EQ(pane->previewPanelSourceFrame(), onScreen(browser, browser->visualRect(browser->model()->index(a, 0))));

    w->window()->hide();
    EXPECT_TRUE(pane->previewPanelSourceFrame().isNull());
}

}  // namespace

TEST_F(ThumbnailsTest, LargePicturesAreKeptAtTheLargestCellSizeAndRelistingsDoNotGrowTheCaches) {
    QImage large(3000, 2000, QImage::Format_RGB32);
    large.fill(Qt::magenta);
    for (int i = 0; i < 4; ++i)
        ASSERT_TRUE(large.save(files + QStringLiteral("/photo%1.png").arg(i)));
    QNMacFilesViewController *pane = openThumbnails({});
    ASSERT_NE(pane, nullptr);
    const auto allShown = [&] {
        for (int i = 0; i < 4; ++i)
            if (centre(pictureOf(pane, QStringLiteral("photo%1.png").arg(i))) != QColor(Qt::magenta))
                return false;
        return true;
    };
    ASSERT_TRUE(VNTest::waitUntil(allShown, 20000));
    const QSize shown = pictureOf(pane, QStringLiteral("photo0.png")).size();
    EXPECT_EQ(std::max(shown.width(), shown.height()), 256) << shown.width() << "x" << shown.height();
    const auto *model = static_cast<QNImageBrowserModel *>(pane->imageBrowserView()->model());
    const qint64 modelBytes = model->cachedBytes(), paneBytes = pane->thumbnailPictureBytes();
    EXPECT_LE(paneBytes, 4 * 256 * 171 * 4 + 4 * 1024);
    for (int relisting = 0; relisting < 2; ++relisting) {
        pane->listDocuments();
        ASSERT_TRUE(waitForListing(w));
        ASSERT_TRUE(VNTest::waitUntil(allShown, 20000));
    }
    EXPECT_LE(model->cachedBytes(), modelBytes);
    EXPECT_LE(pane->thumbnailPictureBytes(), paneBytes);
}

class PreviewOfARemoteDrive : public PanesTest {
protected:
    void TearDown() override {
        QNFakeRemoteHandler::resetBehaviours();
        PanesTest::TearDown();
    }
};

TEST_F(PreviewOfARemoteDrive, GoingBackDuringThePreviewCopyCancelsIt) {
    using Fake = QNFakeRemoteHandler;
    Fake::registerWithFactory();
    Fake::resetBehaviours();
    // The download runs until it is cancelled, as a large file's would.
    Fake::setBehaviour(Fake::Op::Download, {Fake::Mode::AnswerAfterCancel});
    const QString root = folder(QStringLiteral("server"));
    writeFile(root + QStringLiteral("/large.bin"), 1 << 20);
    QNMainWindowController *w = openDrive(Fake::makeDriveConfig(root));
    ASSERT_NE(w, nullptr);
    QNMacFilesViewController *pane = w->filesViewController();
    ASSERT_EQ(names(pane->documents()), QStringList{"large.bin"});
    pane->tableView()->selectRow(0);
    pane->previewPanelItem();
    const QNTaskPtr preview = pane->previewTask();
    ASSERT_TRUE(preview);
    ASSERT_TRUE(VNTest::waitUntil([] { return Fake::callCount(Fake::Op::Download) == 1; }, 10000));

    QPointer<QNMacFilesViewController> popped(pane);
    w->back();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_FALSE(popped);
    ASSERT_TRUE(VNTest::waitUntil([&] { return delegate->taskManager()->tasks().isEmpty(); }, 10000));
    EXPECT_TRUE(preview->canceled());
    EXPECT_GE(Fake::cancelCount(), 1);
}

TEST(PreviewPanel, OpensWithinTheScreensAvailableArea) {
    QNPreviewPanel panel;
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    panel.resize(area.width() + 300, 200);
    panel.move(area.right() - 100, area.bottom() - 50);
    panel.show();
    VNTest::spin(30);
    EXPECT_TRUE(area.contains(panel.frameGeometry())) << panel.frameGeometry().x() << "," << panel.frameGeometry().y();
}
