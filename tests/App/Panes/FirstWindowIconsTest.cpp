// The folder icon does not depend on what the application showed first: an
// alert, the About window or a file pane. The icon looked up first fixes the
// icon theme for the whole process, so each row starts the application in a
// process of its own: this test program, running only the step below.
#include "PanesTestSupport.h"

#include "App/QNMainMenu.h"

#include <QAction>
#include <QDialog>
#include <QIcon>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>

namespace {

constexpr char kFirstWindow[] = "VARNELLO_TEST_FIRST_WINDOW";
constexpr char kIconFile[] = "VARNELLO_TEST_FOLDER_ICON_FILE";

class FirstWindowStep : public PanesTest {
protected:
    // A desktop as X11 gives it without a session: the bare "hicolor" theme
    // (which has no folder icon), with no fallback of its own. The offscreen
    // platform names no theme at all.
    static void likeX11WithoutADesktop() {
        if (!QIcon::themeName().isEmpty())
            return;
        QStringList paths = QIcon::themeSearchPaths();
        for (const QString &data : QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation))
            paths << data + QStringLiteral("/icons");
        QIcon::setThemeSearchPaths(paths);
        QIcon::setThemeName(QStringLiteral("hicolor"));
        QIcon::setFallbackThemeName(QStringLiteral("hicolor"));
    }
};

}  // namespace

// A row's step: the application starts, shows its first window, then a
// folder in a pane; the folder's icon is written to a file.
TEST_F(FirstWindowStep, ShowsTheFirstWindowThenAFolder) {
    const QString first = qEnvironmentVariable(kFirstWindow);
    if (first.isEmpty())
        GTEST_SKIP() << "a step of FirstWindow.TheFolderIconIsTheSameWhateverCameFirst";
    likeX11WithoutADesktop();
    QNDialogService::shared().setAutomated(false);  // the panels are made and shown
    QNMainWindowController *w = launch();
    ASSERT_NE(w, nullptr);
    w->window()->show();
    if (first == QLatin1String("alert")) {
        QNAlert alert;
        alert.messageText = QStringLiteral("The drive could not be reached");
        alert.style = QNAlert::Critical;
        QNDialogService::shared().beginAlertSheet(alert, w->window());
    } else if (first == QLatin1String("about")) {
        w->mainMenu()->action(QNMainMenu::About)->trigger();
    }
    if (first != QLatin1String("pane")) {
        QDialog *panel = nullptr;
        ASSERT_TRUE(VNTest::waitUntil([&] {
            panel = qobject_cast<QDialog *>(QNDialogService::shared().attachedSheet(w->window()));
            return panel && panel->isVisible();
        }));
        panel->reject();
        ASSERT_TRUE(VNTest::waitUntil([&] { return !QNDialogService::shared().attachedSheet(w->window()); }));
    }

    const QString root = folder(QStringLiteral("first"));
    folder(QStringLiteral("first/Album"));
    storeDrives({localDrive(QStringLiteral("FIRST"), root)});
    ASSERT_TRUE(openRow(w, 0));
    const QAbstractItemModel *model = w->filesViewController()->tableView()->model();
    ASSERT_EQ(model->index(0, 0).data().toString(), QStringLiteral("Album"));
    const QIcon icon = model->index(0, 0).data(Qt::DecorationRole).value<QIcon>();
    ASSERT_TRUE(icon.pixmap(32).toImage().save(qEnvironmentVariable(kIconFile), "PNG"));
}

TEST(FirstWindow, TheFolderIconIsTheSameWhateverCameFirst) {
    const auto dir = VNTest::makeTempDir();
    QHash<QString, QImage> icons;
    for (const char *first : {"pane", "alert", "about"}) {
        SCOPED_TRACE(first);
        const QString file = dir->path() + QLatin1Char('/') + QLatin1String(first) + QStringLiteral(".png");
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QString::fromLatin1(kFirstWindow), QString::fromLatin1(first));
        env.insert(QString::fromLatin1(kIconFile), file);
        QProcess step;
        step.setProcessEnvironment(env);
        step.setProcessChannelMode(QProcess::MergedChannels);
        step.start(QCoreApplication::applicationFilePath(),
                   {QStringLiteral("--gtest_filter=FirstWindowStep.ShowsTheFirstWindowThenAFolder")});
        ASSERT_TRUE(step.waitForFinished(90000));
        const QByteArray output = step.readAll();
        ASSERT_EQ(step.exitStatus(), QProcess::NormalExit) << output.toStdString();
        ASSERT_EQ(step.exitCode(), 0) << output.toStdString();
        const QImage icon(file);
        ASSERT_FALSE(icon.isNull()) << output.toStdString();
        icons.insert(QString::fromLatin1(first), icon.convertToFormat(QImage::Format_ARGB32));
    }
    for (const char *first : {"alert", "about"})
        EXPECT_TRUE(icons.value(QString::fromLatin1(first)) == icons.value(QStringLiteral("pane")))
            << "the folder icon after the " << first << " window differs from the one shown when a pane came first";
}
