// The file pane's commands: which apply for the selection, the share-link
// texts, rename by sheet and in place, delete, share links through a drive
// that gives links, and a document opened and saved back end to end.
#include "PanesTestSupport.h"

#include "App/QNDesktopApplications.h"
#include "App/QNNotificationCenter.h"
#include "Core/Fakes/QNFakeRemoteHandler.h"
#include "Core/QNCloudInterface.h"
#include "Platform/VNDispatch.h"

#include <QClipboard>
#include <QDateTime>
#include <QMenu>
#include <QMimeData>

namespace {

using Pane = QNMacFilesViewController;

// A drive kind of the tests ("links://"): two files, and a link for every
// file whose name does not say "nolink".
class LinkHandler : public QNCloudInterface {
public:
    using QNCloudInterface::QNCloudInterface;
    QString className() const override { return QStringLiteral("LinkHandler"); }
    void listDocuments(QNDocumentPtr, QString keyword, QNListCallback completed) override {
        QNDocumentList list;
        for (const char *name : {"a<b>.txt", "nolink.txt"}) {
            auto d = QNDocument::withPath(QStringLiteral("/") + QString::fromUtf8(name));
            d->setDisplayName(QString::fromUtf8(name));
            list << d;
        }
        VNDispatch::globalAsync([list, keyword, completed] { completed(list, keyword, nullptr, false); });
    }
    void linkForDocument(QNDocumentPtr document, QNDocumentCallback completed) override {
        if (!document->displayName().contains(QLatin1String("nolink")))
            document->setLink(QStringLiteral("https://links.example/s?id=1&name=") + document->displayName());
        VNDispatch::globalAsync([document, completed] { completed(document, nullptr, false); });
    }
};

class CommandsTest : public PanesTest {
protected:
    void SetUp() override {
        PanesTest::SetUp();
        QNCloudInterfaceFactory::registerHandler(
            QStringLiteral("links-test"), [](const QNDriveConfig &c) { return c.url().startsWith(QLatin1String("links://")); },
            [](const QNDriveConfigPtr &c) { return std::make_shared<LinkHandler>(c); });
    }
    void TearDown() override {
        Pane::setFileLauncher({});
        QNNotificationCenter::shared().setBackend({});
        PanesTest::TearDown();
        QNCloudInterfaceFactory::unregisterHandler(QStringLiteral("links-test"));
    }

    // A local-folder drive holding a.txt, b.txt and c.txt, opened.
    void openFiles() {
        root = folder(QStringLiteral("files"));
        for (const char *name : {"a.txt", "b.txt", "c.txt"})
            writeFile(root + QLatin1Char('/') + QString::fromUtf8(name), 4);
        window = openDrive(localDrive(QStringLiteral("FILES"), root));
        ASSERT_NE(window, nullptr);
    }
    Pane *pane() const { return window->filesViewController(); }
    void select(const QList<int> &rows) {
        pane()->tableView()->clearSelection();
        for (int r : rows)
            pane()->tableView()->selectionModel()->select(pane()->tableView()->model()->index(r, 0),
                                                          QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    QStringList files() const { return QDir(root).entryList(QDir::Files); }

    QNMainWindowController *window = nullptr;
    QString root;
};

}  // namespace

TEST(PaneCommands, WhatAppliesForNoneOneAndTwoSelectedEntries) {
    const struct {
        int tag, selected;
        bool rename, create, link, enabled;
        const char *title;
    } cases[] = {
        {Pane::OpenWithTag, 0, true, true, true, false, nullptr}, {Pane::OpenWithTag, 1, true, true, true, true, nullptr},
        {Pane::OpenWithTag, 2, true, true, true, false, nullptr}, {Pane::RenameTag, 1, true, true, true, true, nullptr},
        {Pane::RenameTag, 2, true, true, true, false, nullptr},   {Pane::RenameTag, 1, false, true, true, false, nullptr},
        {Pane::DeleteTag, 0, true, true, true, false, nullptr},   {Pane::DeleteTag, 2, true, true, true, true, nullptr},
        {Pane::DeleteTag, 2, false, true, true, false, nullptr},  {Pane::NewFolderTag, 0, true, false, true, false, nullptr},
        {Pane::NewFolderTag, 2, false, true, false, true, nullptr}, {Pane::ShareLinkTag, 0, true, true, true, false, "Share Links"},
        {Pane::ShareLinkTag, 1, true, true, true, true, "Share Link"}, {Pane::ShareLinkTag, 2, true, true, true, true, "Share Links"},
        {Pane::ShareLinkTag, 1, true, true, false, false, "Share Link"}, {0, 0, false, false, false, true, nullptr},
        {Pane::DownloadToTag, 0, true, true, true, false, nullptr}, {Pane::DownloadToTag, 2, false, false, false, true, nullptr},
    };
    for (const auto &c : cases) {
        const Pane::MenuItemState s = Pane::menuItemState(c.tag, c.selected, c.rename, c.create, c.link);
        EXPECT_EQ(s.enabled, c.enabled) << c.tag << " " << c.selected;
        EXPECT_EQ(s.title, c.title ? QString::fromUtf8(c.title) : QString()) << c.tag << " " << c.selected;
    }
}

TEST(PaneCommands, ShareTextsEscapeNamesAndLinksAndCountTheirLinks) {
    auto doc = [](const QString &name, const QString &link, const QDateTime &end = {}) {
        auto d = QNDocument::withPath(QStringLiteral("/") + name);
        d->setDisplayName(name);
        d->setLink(link);
        d->setLinkEndDate(end);
        return d;
    };
    const QNDocumentList one = {doc(QStringLiteral("<script>x</script>.txt"), QStringLiteral("https://h/?a=1&b=\"2\""))};
    EXPECT_EQ(Pane::shareLinksHtml(one),
              QStringLiteral("<html>\n<body>\n<a href=\"https://h/?a=1&amp;b=&quot;2&quot;\">&lt;script&gt;x&lt;/script&gt;.txt"
                             "</a><br/>\nhttps://h/?a=1&amp;b=&quot;2&quot;<br/><br/></body>\n</html>"));
    const QDateTime end(QDate(2030, 3, 4), QTime(12, 0));
    EXPECT_TRUE(Pane::shareLinksHtml({doc(QStringLiteral("x"), QStringLiteral("l"), end)})
                    .contains(QStringLiteral(" (expires on: %1)").arg(QLocale().toString(end.date(), QLocale::LongFormat))));
    const QNDocumentList three = {doc("a", "l1"), doc("b", "l2"), doc("c", "l3")};
    EXPECT_EQ(Pane::shareLinksText(three), QStringLiteral("l1\nl2\nl3"));
    EXPECT_EQ(Pane::shareLinksMessage(1), QStringLiteral("The Shared Link has been copied to your clipboard."));
    EXPECT_EQ(Pane::shareLinksMessage(2), QStringLiteral("The Shared Links have been copied to your clipboard."));
    for (const QString &bad : {QString(), QStringLiteral("a/b"), QStringLiteral("."), QStringLiteral(".."),
                               QStringLiteral("x") + QChar(0)})
        EXPECT_FALSE(Pane::unusableNameReason(bad).isEmpty()) << bad.toStdString();
    EXPECT_EQ(Pane::localFileName(QStringLiteral("../../etc/passwd")), QStringLiteral(".._.._etc_passwd"));
    EXPECT_EQ(Pane::localFileName(QStringLiteral("..")), QStringLiteral("document"));
}

TEST_F(CommandsTest, TheMenusFollowTheSelectionAndTheSheetRenamesTheEntrySelectedWhenItOpened) {
    openFiles();
    EXPECT_EQ(pane()->menuForRows({}), pane()->backgroundMenu());
    select({0, 1});
    QMenu *menu = pane()->menuForRows({0, 1});
    ASSERT_EQ(menu, pane()->documentMenu());
    for (QAction *a : menu->actions()) {
        if (a->data().toInt() == Pane::RenameTag)
            EXPECT_FALSE(a->isEnabled());
        if (a->data().toInt() == Pane::DeleteTag)
            EXPECT_TRUE(a->isEnabled());
    }

    select({0});
    pane()->renameDocument();
    const auto question = onlyPendingAlert();
    EXPECT_EQ(question.alert.messageText, QStringLiteral("Rename"));
    EXPECT_EQ(question.alert.informativeText, QStringLiteral("Please enter the new filename:"));
    EXPECT_EQ(question.alert.buttons, (QStringList{"OK", "Cancel"}));
    ASSERT_NE(pane()->renameInput(), nullptr);
    EXPECT_EQ(pane()->renameInput()->text(), QStringLiteral("a.txt"));
    pane()->renameInput()->setText(QStringLiteral("renamed.txt"));
    select({2});  // the selection moves while the sheet is up
    QNDialogService::shared().answer(question.id, QNAlert::FirstButtonReturn);
    ASSERT_TRUE(VNTest::waitUntil([&] { return files() == QStringList({"b.txt", "c.txt", "renamed.txt"}); }));
    ASSERT_TRUE(waitForListing(window));

    // In place: a new name renames, an unchanged or empty one does nothing,
    // a name with "/" is refused.
    QAbstractItemModel *model = pane()->tableView()->model();
    const int b = int(names(pane()->documents()).indexOf(QStringLiteral("b.txt")));
    EXPECT_FALSE(model->setData(model->index(b, Pane::NameColumn), QStringLiteral("b.txt")));
    EXPECT_FALSE(model->setData(model->index(b, Pane::NameColumn), QString()));
    EXPECT_TRUE(model->setData(model->index(b, Pane::NameColumn), QStringLiteral("../up.txt")));
    EXPECT_TRUE(onlyPendingAlert().alert.messageText.contains(QStringLiteral("cannot be used as a name")));
    QNDialogService::shared().answer(onlyPendingAlert().id, QNAlert::FirstButtonReturn);
    EXPECT_TRUE(model->setData(model->index(b, Pane::NameColumn), QStringLiteral("in place.txt")));
    ASSERT_TRUE(VNTest::waitUntil([&] { return files() == QStringList({"c.txt", "in place.txt", "renamed.txt"}); }));
    EXPECT_FALSE(QFileInfo::exists(temp->path() + QStringLiteral("/up.txt")));
}

// A drive that lists a folder only by its entry's id (as SugarSync and the
// web drives do): a rename in one of its folders checks the new name against
// that folder as the pane holds it, id and all.
class RenameOnADriveAddressedById : public PanesTest {
protected:
    void TearDown() override {
        QNFakeRemoteHandler::resetBehaviours();
        PanesTest::TearDown();
    }
};

TEST_F(RenameOnADriveAddressedById, ARenameInASubfolderChecksTheNameThereAndGoesThrough) {
    using Fake = QNFakeRemoteHandler;
    Fake::registerWithFactory();
    Fake::resetBehaviours();
    Fake::setAddressesFoldersById(true);
    const QString root = folder(QStringLiteral("server"));
    writeFile(folder(QStringLiteral("server/sub")) + QStringLiteral("/a.txt"), 10);
    QNMainWindowController *w = openDrive(Fake::makeDriveConfig(root));
    ASSERT_NE(w, nullptr);
    ASSERT_EQ(names(w->filesViewController()->documents()), QStringList{"sub"});
    w->filesViewController()->doubleClickAction(0);
    ASSERT_TRUE(waitForListing(w));
    Pane *pane = w->filesViewController();
    ASSERT_EQ(names(pane->documents()), QStringList{"a.txt"});

    QAbstractItemModel *model = pane->tableView()->model();
    EXPECT_TRUE(model->setData(model->index(0, Pane::NameColumn), QStringLiteral("b.txt")));
    ASSERT_TRUE(VNTest::waitUntil(
        [&] { return QFileInfo::exists(root + QStringLiteral("/sub/b.txt")) || !QNDialogService::shared().pendingAlerts().isEmpty(); },
        10000));
    EXPECT_TRUE(QNDialogService::shared().pendingAlerts().isEmpty())
        << QNDialogService::shared().pendingAlerts().first().alert.messageText.toStdString();
    EXPECT_TRUE(QFileInfo::exists(root + QStringLiteral("/sub/b.txt")));
    EXPECT_FALSE(QFileInfo::exists(root + QStringLiteral("/sub/a.txt")));
}

TEST_F(CommandsTest, DeleteRemovesTheSelectionWithoutAskingAndRelists) {
    openFiles();
    select({0, 2});
    pane()->deleteDocument();
    EXPECT_TRUE(QNDialogService::shared().history().isEmpty());
    ASSERT_TRUE(VNTest::waitUntil([&] { return names(pane()->documents()) == QStringList{"b.txt"}; }, 10000));
    EXPECT_EQ(files(), QStringList{"b.txt"});
}

TEST_F(CommandsTest, ShareLinksPutTheLinksGivenOnTheClipboardAndSaySo) {
    QStringList notices;
    QNNotificationCenter::shared().setBackend([&](const QString &title, const QString &text) {
        notices << title + QStringLiteral(": ") + text;
        return true;
    });
    auto drive = QNDriveConfig::create();
    drive->setIsBox(true);  // a kind that gives links
    drive->setName(QStringLiteral("LINKS"));
    drive->setUrl(QStringLiteral("links://server"));
    window = openDrive(drive);
    ASSERT_EQ(pane()->documents().size(), 2);
    select({0, 1});
    pane()->shareLink();
    ASSERT_TRUE(VNTest::waitUntil([&] { return !notices.isEmpty(); }, 10000));
    EXPECT_EQ(notices, QStringList{"Varnello: The Shared Link has been copied to your clipboard."});
    const QMimeData *clip = QGuiApplication::clipboard()->mimeData();
    ASSERT_NE(clip, nullptr);
    EXPECT_EQ(clip->text(), QStringLiteral("https://links.example/s?id=1&name=a<b>.txt"));
    EXPECT_TRUE(clip->html().contains(QStringLiteral(">a&lt;b&gt;.txt</a>")));
}

// The application is handed the very file the open made, under the
// document's own name (one that a name made "safe" would not be: the
// application made that file anew and the save-back uploaded it under the
// made name), and the save-back writes that name.
TEST_F(CommandsTest, AnOpenedDocumentChangedElsewhereIsSavedBackToItsDrive) {
    openFiles();
    writeFile(root + QStringLiteral("/a\\b.txt"), 4);
    pane()->listDocuments();
    ASSERT_TRUE(VNTest::waitUntil([&] { return names(pane()->documents()).contains(QStringLiteral("a\\b.txt")); }));
    const char *rows[] = {"b.txt", "a\\b.txt"};
    int opened = 0;
    for (const char *row : rows) {
        const QString name = QString::fromUtf8(row);
        SCOPED_TRACE(row);
        QString launched;
        Pane::setFileLauncher([&](const QString &path, QString *) {
            launched = path;
            // The other application saves the document a little later.
            VNTest::writeFile(path, "edited elsewhere");
            QFile f(path);
            f.open(QIODevice::ReadWrite);
            f.setFileTime(QDateTime::currentDateTime().addSecs(5), QFileDevice::FileModificationTime);
            return true;
        });
        pane()->doubleClickAction(int(names(pane()->documents()).indexOf(name)));
        EXPECT_TRUE(VNTest::waitUntil([&] { return !launched.isEmpty(); }, 10000));
        EXPECT_TRUE(launched.startsWith(pane()->tempPath()));
        EXPECT_TRUE(launched.endsWith(QLatin1Char('/') + name)) << launched.toStdString();
        EXPECT_EQ(delegate->openedDocuments().size(), ++opened);

        delegate->applicationDidBecomeActive();
        EXPECT_TRUE(VNTest::waitUntil([] { return QNDialogService::shared().pendingAlerts().size() == 1; }, 5000));
        if (QNDialogService::shared().pendingAlerts().size() != 1)
            continue;
        QNDialogService::shared().answer(onlyPendingAlert().id, QNAlert::FirstButtonReturn);  // Save
        EXPECT_TRUE(VNTest::waitUntil([&] { return VNTest::readFile(root + QLatin1Char('/') + name) == "edited elsewhere"; },
                                      15000));
        EXPECT_TRUE(VNTest::waitUntil([&] { return files() == QStringList({"a.txt", "a\\b.txt", "b.txt", "c.txt"}); }))
            << files().join(QLatin1Char(',')).toStdString();
        EXPECT_TRUE(QNDialogService::shared().pendingAlerts().isEmpty());
    }
}

TEST(OpenWith, ExecLinesBecomeArgumentListsWithTheFileAsOneArgument) {
    const QString file = QStringLiteral("/tmp/a b/$(rm -rf ~)'; \"x\".txt");
    const struct {
        const char *exec;
        QStringList args;
    } cases[] = {
        {"viewer %f", {"viewer", file}},
        {"viewer --new %U", {"viewer", "--new", QUrl::fromLocalFile(file).toString()}},
        {"\"/opt/My App/run\" --title=%c %i %k", {"/opt/My App/run", "--title=Viewer", "--icon", "viewer-icon", "/x/viewer.desktop", file}},
        {"tool --percent=100%% %d %F", {"tool", "--percent=100%", file}},
        {"sh -c \"echo \\\"quoted\\\"\"", {"sh", "-c", "echo \"quoted\"", file}},
    };
    for (const auto &c : cases) {
        const QNDesktopApplications::Application app{"viewer.desktop", "/x/viewer.desktop", "Viewer",
                                                     QString::fromUtf8(c.exec), "viewer-icon"};
        EXPECT_EQ(QNDesktopApplications::expandExec(app, file), c.args) << c.exec;
    }
}

TEST(OpenWith, TheDesktopsRecordsGiveTheDefaultThenTheOthersInXdgOrder) {
    auto temp = VNTest::makeTempDir();
    const QString config = temp->path() + QStringLiteral("/config"), data = temp->path() + QStringLiteral("/data");
    auto entry = [&](const QString &relative, const QString &body) {
        ASSERT_TRUE(VNTest::writeFile(data + QStringLiteral("/applications/") + relative,
                                      (QStringLiteral("[Desktop Entry]\nType=Application\n") + body).toUtf8()));
    };
    entry("viewer.desktop", "Name=Viewer\nExec=viewer %f\nMimeType=text/plain;\n");
    entry("other/viewer.desktop", "Name=Viewer\nExec=viewer2 %f\nMimeType=text/plain;\n");
    entry("editor.desktop", "Name=Editor\nName[de]=Bearbeiter\nExec=editor %f\nMimeType=text/plain;\n");
    entry("unwanted.desktop", "Name=Unwanted\nExec=unwanted %f\nMimeType=text/plain;\n");
    entry("hidden.desktop", "Name=Hidden\nExec=hidden %f\nHidden=true\nMimeType=text/plain;\n");
    ASSERT_TRUE(VNTest::writeFile(config + QStringLiteral("/mimeapps.list"),
                                  "[Default Applications]\ntext/plain=editor.desktop\n"
                                  "[Removed Associations]\ntext/plain=unwanted.desktop;\n"));
    ASSERT_TRUE(VNTest::writeFile(config + QStringLiteral("/gnome-mimeapps.list"),
                                  "[Default Applications]\ntext/plain=viewer.desktop\n"));
    QNDesktopApplications::Folders folders{{config}, {data}, {QStringLiteral("gnome")}, QStringLiteral("de_DE")};
    auto choices = QNDesktopApplications::applicationsForFileName(QStringLiteral("notes.txt"), folders);
    ASSERT_TRUE(choices.defaultApplication);
    EXPECT_EQ(choices.defaultApplication->id, QStringLiteral("viewer.desktop"));
    QStringList others;
    for (const auto &a : choices.others)
        others << a.id + QLatin1Char('=') + a.name;
    EXPECT_EQ(others, (QStringList{"editor.desktop=Bearbeiter", "other-viewer.desktop=Viewer"}));
    // Without the desktop's own list the common default holds.
    folders.desktops.clear();
    choices = QNDesktopApplications::applicationsForFileName(QStringLiteral("notes.txt"), folders);
    EXPECT_EQ(choices.defaultApplication->id, QStringLiteral("editor.desktop"));
}
