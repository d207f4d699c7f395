// What a start of the application maps, with the real program: the main
// window up and the launch done, none of the libraries that only some work
// needs is loaded yet (each is loaded when that work first comes: a web
// sign-in, a transfer, the keyring, a thumbnail).
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <gtest/gtest.h>
#include <memory>

namespace {

TEST(StartLoads, TheMainWindowComesUpWithoutTheLibrariesOnlySomeWorkNeeds) {
    const auto home = VNTest::makeTempDir();
    QProcess app;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("VARNELLO_QUIET_LOG"));
    env.insert(QStringLiteral("HOME"), home->path());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home->path() + QStringLiteral("/config"));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), home->path() + QStringLiteral("/cache"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home->path() + QStringLiteral("/run"));
    env.insert(QStringLiteral("VARNELLO_TMPDIR"), home->path() + QStringLiteral("/tmp"));
    env.insert(QStringLiteral("VARNELLO_DEFAULTS_FILE"), home->path() + QStringLiteral("/defaults.ini"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    QDir().mkpath(home->path() + QStringLiteral("/run"));
    QFile::setPermissions(home->path() + QStringLiteral("/run"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    app.setProcessEnvironment(env);
    app.start(QStringLiteral(VARNELLO_APP), {});
    ASSERT_TRUE(app.waitForStarted(10000));

    // The launch's last step logged, and the event loop has turned since
    // (the queued temporary-folder clean-up wrote the instance's record).
    QByteArray log;
    const bool launched = VNTest::waitUntil(
        [&] {
            log += app.readAllStandardError();
            return log.contains("QNMacAppDelegate launch: notifications") &&
                   !QDir(home->path() + QStringLiteral("/tmp/.instances"))
                        .entryList({QStringLiteral("*.opened-documents.json")}, QDir::Files | QDir::Hidden)
                        .isEmpty();
        },
        20000);
    const QByteArray maps = VNTest::readFile(QStringLiteral("/proc/%1/maps").arg(app.processId()));
    app.kill();
    app.waitForFinished(5000);
    ASSERT_TRUE(launched) << log.toStdString();
    ASSERT_FALSE(maps.isEmpty());

    const struct {
        const char *what;
        const char *file;
    } notYet[] = {
        {"the web engine (a web sign-in loads it)", "libQt6WebEngineCore"},
        {"the web sign-in module", "libvarnello-weblogin"},
        {"the OpenGL driver (the web engine's)", "libGLX_mesa"},
        {"libcurl (the first transfer loads it)", "libcurl"},
        {"libsecret (the keyring's first use loads it)", "libsecret"},
        {"image-format plugins (the first thumbnail loads them)", "/imageformats/"},
    };
    for (const auto &row : notYet)
        EXPECT_FALSE(maps.contains(row.file)) << row.what << " is loaded at start";
}

}  // namespace
