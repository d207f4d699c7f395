// Opening documents: a document no application opens says so and offers
// Open With; the application picked there gets the pane's private copy;
// terminal programs run in the terminal emulator or are left out without
// one; the desktop's records are read once per type and again when an
// applications folder changes.
#include "PanesTestSupport.h"

#include "App/QNDesktopApplications.h"

#include <QMenu>
#include <QMimeDatabase>
#include <QStandardPaths>
#include <fcntl.h>
#include <unistd.h>

namespace {

class OpenWithTest : public PanesTest {
protected:
    void TearDown() override {
        for (const char *name : {"XDG_DATA_HOME", "XDG_DATA_DIRS", "XDG_CONFIG_HOME", "XDG_CONFIG_DIRS"})
            qunsetenv(name);
        qputenv("PATH", path);
        PanesTest::TearDown();
    }

    // An applications folder below the test's folder, with these entries.
    QString applications(const QStringList &entries) {
        const QString data = folder(QStringLiteral("data"));
        for (const QString &entry : entries) {
            const QString id = entry.section(QLatin1Char('\n'), 0, 0);
            EXPECT_TRUE(VNTest::writeFile(data + QStringLiteral("/applications/") + id,
                                          ("[Desktop Entry]\nType=Application\n" + entry.section('\n', 1)).toUtf8()));
        }
        return data;
    }
    // The submenu's entry of that title (nothing else is triggered: "Choose…"
    // would ask a person), or null, the titles it has said.
    static QAction *entryTitled(const QMenu &submenu, const QString &title) {
        QStringList titles;
        for (QAction *a : submenu.actions()) {
            if (a->text() == title)
                return a;
            titles << a->text();
        }
        ADD_FAILURE() << "no entry \"" << title.toStdString() << "\" in Open With: "
                      << titles.join(QStringLiteral(", ")).toStdString();
        return nullptr;
    }
    static QStringList ids(const QNDesktopApplications::Choices &choices) {
        QStringList list;
        if (choices.defaultApplication)
            list << choices.defaultApplication->id;
        for (const auto &a : choices.others)
            list << a.id;
        return list;
    }

    // The pane of a drive of the folder, its first entry selected, on a
    // desktop whose only applications are those of the user's data folder.
    QNMacFilesViewController *openWithDesktopOf(const QString &dataHome, const QString &root) {
        // The types are read before the system's folders are hidden (a
        // test run alone would know no type, and no application of one).
        EXPECT_EQ(QMimeDatabase().mimeTypeForFile(QStringLiteral("a.txt")).name(), QStringLiteral("text/plain"));
        // The system's types stay known: the type database is read again
        // now and then, from the data folders of the moment.
        const QString types =
            QStandardPaths::locate(QStandardPaths::GenericDataLocation, QStringLiteral("mime"), QStandardPaths::LocateDirectory);
        const QString none = folder(QStringLiteral("none"));
        if (!types.isEmpty() && !QFileInfo::exists(none + QStringLiteral("/mime")))
            QFile::link(types, none + QStringLiteral("/mime"));
        qputenv("XDG_DATA_HOME", dataHome.toUtf8());
        for (const char *name : {"XDG_DATA_DIRS", "XDG_CONFIG_HOME", "XDG_CONFIG_DIRS"})
            qputenv(name, none.toUtf8());
        QNMainWindowController *w = openDrive(localDrive(QStringLiteral("FILES"), root));
        if (!w)
            return nullptr;
        w->filesViewController()->tableView()->selectRow(0);
        return w->filesViewController();
    }

    const QByteArray path = qgetenv("PATH");
};

}  // namespace

TEST_F(OpenWithTest, ADocumentNoApplicationOpensSaysSoAndOffersOpenWith) {
    const QString root = folder(QStringLiteral("docs"));
    writeFile(root + QStringLiteral("/notes.txt"), 12);
    for (const char *name : {"XDG_DATA_HOME", "XDG_DATA_DIRS", "XDG_CONFIG_HOME", "XDG_CONFIG_DIRS"})
        qputenv(name, folder(QStringLiteral("empty")).toUtf8());
    QNMainWindowController *w = openDrive(localDrive(QStringLiteral("Docs"), root));
    ASSERT_NE(w, nullptr);
    w->filesViewController()->doubleClickAction(0);
    ASSERT_TRUE(VNTest::waitUntil([] { return !QNDialogService::shared().pendingAlerts().isEmpty(); }, 10000))
        << "no sheet said that no application opens the document";
    const auto said = onlyPendingAlert();
    EXPECT_EQ(said.alert.messageText, QStringLiteral("No application is set to open \u201cnotes.txt\u201d."));
    EXPECT_EQ(said.alert.buttons, (QStringList{QStringLiteral("Open With") + QChar(0x2026), "Cancel"}));
    QNDialogService::shared().answer(said.id, QNAlert::SecondButtonReturn);
}

TEST_F(OpenWithTest, TerminalProgramsRunInTheTerminalEmulatorOrAreLeftOut) {
    const QString data = applications({"gui.desktop\nName=Gui\nExec=gui %f\nMimeType=text/plain;\n",
                                       "term.desktop\nName=Term\nExec=termapp --view %f\nTerminal=true\nMimeType=text/plain;\n"});
    const QNDesktopApplications::Folders folders{{folder(QStringLiteral("config"))}, {data}, {}, QStringLiteral("C")};
    qunsetenv("TERMINAL");
    qputenv("PATH", folder(QStringLiteral("no-programs")).toUtf8());
    EXPECT_EQ(ids(QNDesktopApplications::applicationsForFileName(QStringLiteral("a.txt"), folders)),
              QStringList{"gui.desktop"});

    // With a terminal emulator on the PATH: listed, and started in it. The
    // desktop's own choice is asked for first, so this one stands in for it
    // whatever terminals the machine has.
    const QString bin = folder(QStringLiteral("bin")), record = bin + QStringLiteral("/args.txt");
    const QString emulator = bin + QStringLiteral("/x-terminal-emulator");
    ASSERT_TRUE(VNTest::writeFile(emulator,
                                  QStringLiteral("#!/bin/sh\nprintf '%s\\n' \"$@\" > '%1'\n").arg(record).toUtf8()));
    QFile::setPermissions(emulator, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("PATH", (bin + QStringLiteral(":/usr/bin:/bin")).toUtf8());
    const auto choices = QNDesktopApplications::applicationsForFileName(QStringLiteral("a.txt"), folders);
    ASSERT_EQ(ids(choices), (QStringList{"gui.desktop", "term.desktop"}));
    ASSERT_TRUE(choices.others.last().terminal);
    ASSERT_TRUE(QNDesktopApplications::launch(choices.others.last(), QStringLiteral("/tmp/a b.txt")));
    ASSERT_TRUE(VNTest::waitUntil([&] { return QFileInfo(record).size() > 0; }, 10000))
        << "the terminal emulator was not started";
    EXPECT_EQ(QString::fromUtf8(VNTest::readFile(record)).split('\n', Qt::SkipEmptyParts),
              (QStringList{"-e", "termapp", "--view", "/tmp/a b.txt"}));
}

TEST_F(OpenWithTest, TheDesktopsRecordsAreReadOncePerTypeAndAgainWhenAnApplicationsFolderChanges) {
    const QString data = applications({"one.desktop\nName=One\nExec=one %f\nMimeType=text/plain;\n"});
    const QNDesktopApplications::Folders folders{{folder(QStringLiteral("config"))}, {data}, {}, QStringLiteral("C")};
    EXPECT_EQ(ids(QNDesktopApplications::applicationsForFileName(QStringLiteral("a.txt"), folders)),
              QStringList{"one.desktop"});
    applications({"two.desktop\nName=Two\nExec=two %f\nMimeType=text/plain;\n"});
    // Asked again before the change is noticed: the answer kept.
    EXPECT_EQ(ids(QNDesktopApplications::applicationsForFileName(QStringLiteral("b.txt"), folders)),
              QStringList{"one.desktop"});
    EXPECT_TRUE(VNTest::waitUntil([&] {
        return ids(QNDesktopApplications::applicationsForFileName(QStringLiteral("a.txt"), folders)) ==
               QStringList({"one.desktop", "two.desktop"});
    })) << "the application installed was never read";
}

TEST_F(OpenWithTest, OpenWithStartsThePickedApplicationWithThePrivateCopyOnly) {
    const QString root = folder(QStringLiteral("files"));
    writeFile(root + QStringLiteral("/a.txt"), 4);
    // The environment's desktop: one application, whose command records its arguments.
    const QString bin = folder(QStringLiteral("bin")), record = bin + QStringLiteral("/args.txt");
    const QString script = bin + QStringLiteral("/record.sh");
    ASSERT_TRUE(VNTest::writeFile(script, QStringLiteral("#!/bin/sh\nprintf '%s\\n' \"$@\" > '%1'\n").arg(record).toUtf8()));
    QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QNMacFilesViewController *pane = openWithDesktopOf(
        applications({QStringLiteral("recorder.desktop\nName=Recorder\nExec=%1 --from-test %f\n"
                                     "MimeType=text/plain;\n").arg(script)}),
        root);
    ASSERT_NE(pane, nullptr);

    const QStringList before = QDir(pane->tempPath()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    QMenu submenu;
    pane->rebuildOpenWithMenu(&submenu, pane->documents().first());
    QStringList titles;
    for (QAction *a : submenu.actions())
        titles << (a->isSeparator() ? QStringLiteral("-") : a->text());
    EXPECT_EQ(titles, (QStringList{"Recorder", "-", QStringLiteral("Choose") + QChar(0x2026)}));
    EXPECT_EQ(QDir(pane->tempPath()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), before);
    QAction *recorder = entryTitled(submenu, QStringLiteral("Recorder"));
    ASSERT_NE(recorder, nullptr);
    recorder->trigger();
    ASSERT_TRUE(VNTest::waitUntil([&] { return VNTest::readFile(record).count('\n') == 2; }, 10000))
        << "the picked application was not started with the copy";
    const QStringList args = QString::fromUtf8(VNTest::readFile(record)).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(args.size(), 2);
    EXPECT_EQ(args[0], QStringLiteral("--from-test"));
    EXPECT_TRUE(args[1].startsWith(pane->tempPath() + QLatin1Char('/')) && args[1].endsWith(QStringLiteral("/a.txt")));
    EXPECT_EQ(delegate->openedDocuments().size(), 1);
}

TEST_F(OpenWithTest, AnApplicationInstalledWhileTheProgramRunsIsOfferedInOpenWith) {
    const QString root = folder(QStringLiteral("files"));
    writeFile(root + QStringLiteral("/a.txt"), 4);
    // A fresh account: the user's applications folder is not there yet.
    const QString data = folder(QStringLiteral("home-data"));
    QNMacFilesViewController *pane = openWithDesktopOf(data, root);
    ASSERT_NE(pane, nullptr);
    QMenu *openWith = nullptr;
    for (QAction *a : pane->menuForRows({0})->actions())
        if (a->data().toInt() == QNMacFilesViewController::OpenWithTag)
            openWith = a->menu();
    ASSERT_NE(openWith, nullptr);
    auto titles = [&] {
        pane->menuForRows({0});  // validated as the menu opens
        QStringList list;
        for (QAction *a : openWith->actions())
            if (!a->isSeparator())
                list << a->text();
        return list;
    };
    EXPECT_EQ(titles(), QStringList{QStringLiteral("Choose") + QChar(0x2026)});

    // Installed meanwhile (the folder made with it), then one in a sub-folder.
    ASSERT_TRUE(VNTest::writeFile(data + QStringLiteral("/applications/late.desktop"),
                                  "[Desktop Entry]\nType=Application\nName=Late Viewer\nExec=late %f\nMimeType=text/plain;\n"));
    EXPECT_TRUE(VNTest::waitUntil([&] { return titles().contains(QStringLiteral("Late Viewer")); }, 5000))
        << titles().join(QStringLiteral(", ")).toStdString();
    ASSERT_TRUE(VNTest::writeFile(data + QStringLiteral("/applications/kde/later.desktop"),
                                  "[Desktop Entry]\nType=Application\nName=Later Viewer\nExec=later %f\nMimeType=text/plain;\n"));
    EXPECT_TRUE(VNTest::waitUntil([&] { return titles().contains(QStringLiteral("Later Viewer")); }, 5000))
        << titles().join(QStringLiteral(", ")).toStdString();
}

// Open and Open With hand the viewer the private copy's own path, whatever
// its name holds (a backslash, "%", "#", "?", a newline: a URL made of it
// and read back by the desktop's opener names another file). A copy that
// fails: Open With says so in an application-modal alert, the double click
// in a sheet on the window; nothing is opened or remembered. A copy that
// leaves the document out (a link to nothing, a name that is not UTF-8)
// ends without an error, and is no more a document to open: it is said as
// the open's own alert, once, and nothing is started. A viewer that cannot
// start is said the same way, naming the document and why.
TEST_F(OpenWithTest, ACopyThatFailsIsShownAsAnAlertByOpenWithAndAsASheetByOpen) {
    enum class Entry { Gone, LinkToNothing, NotUtf8, Opens, ViewerCannotStart };
    struct Row {
        const char *command;
        bool openWith;
        Entry entry;
        const char *why;  // what the alert says, for an entry left out or a viewer that cannot start
        const char *name = "gone.txt";
    } rows[] = {
        {"Open With", true, Entry::Gone, nullptr},
        {"Open", false, Entry::Gone, nullptr},
        {"Open With, a link to nothing", true, Entry::LinkToNothing, "it is a link to \u201cmissing.txt\u201d, which does not exist"},
        {"Open, a link to nothing", false, Entry::LinkToNothing, "it is a link to \u201cmissing.txt\u201d, which does not exist"},
        {"Open With, a name not UTF-8", true, Entry::NotUtf8, "its name is not valid UTF-8"},
        {"Open, a name not UTF-8", false, Entry::NotUtf8, "its name is not valid UTF-8"},
        {"Open, a backslash", false, Entry::Opens, nullptr, "a\\b.txt"},
        {"Open With, a backslash", true, Entry::Opens, nullptr, "a\\b.txt"},
        {"Open, a percent sign before hex digits", false, Entry::Opens, nullptr, "100%41 b.txt"},
        {"Open, a number sign", false, Entry::Opens, nullptr, "#1.txt"},
        {"Open, a question mark", false, Entry::Opens, nullptr, "why?.txt"},
        {"Open, a newline", false, Entry::Opens, nullptr, "two\nlines.txt"},
        {"Open, the viewer cannot start", false, Entry::ViewerCannotStart, "could not be started", "a\\b.txt"},
        {"Open With, the viewer cannot start", true, Entry::ViewerCannotStart, "could not be started", "a\\b.txt"},
    };
    int n = 0;
    for (const Row &row : rows) {
        SCOPED_TRACE(row.command);
        const QString root = folder(QStringLiteral("files-%1").arg(++n));
        const QString name = QString::fromUtf8(row.name);
        // The viewer writes down what it was started with, one argument
        // after the other, each ended by a NUL.
        const QString bin = folder(QStringLiteral("bin"));
        const QString viewer = bin + QStringLiteral("/viewer.sh"), started = bin + QStringLiteral("/started");
        EXPECT_TRUE(VNTest::writeFile(
            viewer, ("#!/bin/sh\nprintf '%s\\0' \"$@\" > '" + started + ".new'\nmv '" + started + ".new' '" + started + "'\n")
                        .toUtf8()));
        // The same entry every row (the desktop's records are read again only
        // when a folder changes); a viewer that cannot start is not executable.
        QFile::setPermissions(viewer, row.entry == Entry::ViewerCannotStart
                                          ? QFile::ReadOwner | QFile::WriteOwner
                                          : QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QFile::remove(started);
        bool made = true;
        if (row.entry == Entry::LinkToNothing) {
            made = QFile::link(QStringLiteral("missing.txt"), root + QStringLiteral("/gone.txt"));
        } else if (row.entry == Entry::NotUtf8) {
            made = ::close(::open((QFile::encodeName(root) + "/gon\xE9.txt").constData(), O_WRONLY | O_CREAT, 0644)) == 0;
        } else {
            made = VNTest::writeFile(root + QLatin1Char('/') + name, "the document");
        }
        EXPECT_TRUE(made) << row.command << ": the entry could not be made";
        if (!made)
            continue;
        QNMacFilesViewController *pane = openWithDesktopOf(
            applications({QStringLiteral("viewer.desktop\nName=Viewer\nExec=%1 %f\nMimeType=text/plain;\n").arg(viewer)}),
            root);
        ASSERT_NE(pane, nullptr);
        if (row.entry == Entry::Gone)
            EXPECT_TRUE(QFile::remove(root + QStringLiteral("/gone.txt")));  // gone since the listing
        QNDialogService::shared().clearHistory();
        if (row.openWith) {
            QMenu submenu;
            pane->rebuildOpenWithMenu(&submenu, pane->documents().first());
            QAction *application = entryTitled(submenu, QStringLiteral("Viewer"));
            if (!application)
                continue;
            application->trigger();
        } else {
            pane->doubleClickAction(0);
        }
        if (row.entry == Entry::Opens) {
            // The viewer got the private copy by its own path, and nothing was said.
            EXPECT_TRUE(VNTest::waitUntil([&] { return QFileInfo::exists(started); }, 10000)) << "the viewer never started";
            const QList<QByteArray> received = VNTest::readFile(started).split('\0');
            EXPECT_EQ(received.size(), 2);  // one argument, and what follows its NUL
            const QString path = QString::fromUtf8(received.first());
            EXPECT_TRUE(path.startsWith(pane->tempPath() + QLatin1Char('/'))) << path.toStdString();
            EXPECT_TRUE(path.endsWith(QLatin1Char('/') + name)) << path.toStdString();
            EXPECT_EQ(VNTest::readFile(path), QByteArray("the document"));
            EXPECT_EQ(delegate->openedDocuments().size(), 1);
            EXPECT_TRUE(VNTest::waitUntil([&] { return delegate->taskManager()->tasks().isEmpty(); }, 10000));
            VNTest::spin(100);
            EXPECT_TRUE(QNDialogService::shared().history().isEmpty()) << alertTexts().join(' ').toStdString();
            continue;
        }
        EXPECT_TRUE(VNTest::waitUntil([] { return !QNDialogService::shared().history().isEmpty(); }, 10000))
            << "no alert said the document was not opened";
        // Each sheet answered in turn (one waiting behind the open's own
        // shows then).
        const auto sheets = answerSheetsInTurn();
        const auto said = QNDialogService::shared().history();
        if (said.isEmpty())
            continue;
        // One alert, the open's own: no end report besides it.
        EXPECT_EQ(said.size(), 1) << messageTexts(said);
        const auto shown = said.first();
        EXPECT_EQ(shown.modal, row.openWith);
        EXPECT_EQ(sheets.size(), row.openWith ? 0 : 1);
        EXPECT_FALSE(shown.alert.messageText.isEmpty());
        if (row.why) {
            EXPECT_TRUE(shown.alert.messageText.endsWith(QStringLiteral("\u201d was not opened")))
                << shown.alert.messageText.toStdString();
            if (row.entry == Entry::ViewerCannotStart)
                EXPECT_EQ(shown.alert.messageText, QStringLiteral("\u201c%1\u201d was not opened").arg(name));
            EXPECT_TRUE(shown.alert.informativeText.contains(QString::fromUtf8(row.why)))
                << shown.alert.informativeText.toStdString();
        }
        EXPECT_FALSE(QFileInfo::exists(started));
        // A copy that was made is remembered for the save-back, started or not.
        EXPECT_EQ(delegate->openedDocuments().size(), row.entry == Entry::ViewerCannotStart ? 1 : 0);
        for (const auto &pending : QNDialogService::shared().pendingAlerts())
            QNDialogService::shared().answer(pending.id, 0);
    }
}
