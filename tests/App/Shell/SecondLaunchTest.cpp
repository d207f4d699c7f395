// Launching the application again while it runs, with real processes: a
// running instance too busy to answer (stopped) keeps its socket and the
// files of its temporary folder, and still opens the window it was asked
// for once it goes on; an instance with settings of its own that shares the
// temporary folder starts, but its clean-up removes nothing of the other's.
#include "App/QNSingleInstance.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <gtest/gtest.h>
#include <csignal>
#include <memory>

namespace {

class SecondLaunchTest : public ::testing::Test {
protected:
    void SetUp() override {
        home = VNTest::makeTempDir();
        QDir().mkpath(runtime());
        QFile::setPermissions(runtime(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }

    void TearDown() override {
        for (const auto &p : launched) {
            ::kill(pid_t(p->processId()), SIGCONT);
            p->kill();
            p->waitForFinished(5000);
        }
    }

    QString runtime() const { return home->path() + QStringLiteral("/run"); }
    QString tmp() const { return home->path() + QStringLiteral("/tmp"); }
    QString settings(const QString &name) const { return home->path() + QStringLiteral("/%1.ini").arg(name); }

    // The application with this test's home, temporary folder and the settings file.
    QProcess *start(const QString &settingsName) {
        auto process = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("VARNELLO_QUIET_LOG"));
        env.insert(QStringLiteral("HOME"), home->path());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home->path() + QStringLiteral("/config"));
        env.insert(QStringLiteral("XDG_CACHE_HOME"), home->path() + QStringLiteral("/cache"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime());
        env.insert(QStringLiteral("VARNELLO_TMPDIR"), tmp());
        env.insert(QStringLiteral("VARNELLO_DEFAULTS_FILE"), settings(settingsName));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        process->setProcessEnvironment(env);
        process->start(QStringLiteral(VARNELLO_APP), {});
        launched.push_back(std::move(process));
        return launched.back().get();
    }

    // The launch clean-up of each instance has run when it has written its record.
    int records() const {
        return int(QDir(tmp() + QStringLiteral("/.instances")).entryList({QStringLiteral("*.opened-documents.json")},
                                                                        QDir::Files | QDir::Hidden).size());
    }

    static bool logged(QProcess *process, QByteArray *log, const QByteArray &text, int timeoutMs) {
        return VNTest::waitUntil(
            [&] {
                *log += process->readAllStandardError();
                return log->contains(text);
            },
            timeoutMs);
    }

    std::unique_ptr<QTemporaryDir> home;
    std::vector<std::unique_ptr<QProcess>> launched;
};

}  // namespace

TEST_F(SecondLaunchTest, ABusyRunningInstanceKeepsItsSocketAndTemporaryFilesAndStillOpensTheWindow) {
    QProcess *first = start(QStringLiteral("one"));
    ASSERT_TRUE(first->waitForStarted(10000));
    ASSERT_TRUE(VNTest::waitUntil([&] { return records() == 1; }, 20000)) << first->readAllStandardError().toStdString();
    // A transfer of the first instance under way, in the shared temporary folder.
    const QString transfer = tmp() + QStringLiteral("/TASK/report.pdf");
    ASSERT_TRUE(VNTest::writeFile(transfer, "being downloaded"));
    const QString socket = QDir::tempPath() + QLatin1Char('/') + QNSingleInstance::serverNameFor(settings("one"));
    ASSERT_TRUE(QFileInfo::exists(socket));
    // Busy: it answers nothing until it goes on.
    ASSERT_EQ(::kill(pid_t(first->processId()), SIGSTOP), 0);

    QProcess *second = start(QStringLiteral("one"));
    ASSERT_TRUE(second->waitForFinished(15000)) << "the second launch took the running instance's place";
    const QByteArray secondLog = second->readAllStandardError();
    EXPECT_EQ(second->exitCode(), 0) << secondLog.toStdString();
    EXPECT_TRUE(secondLog.contains("the running instance is busy")) << secondLog.toStdString();
    EXPECT_TRUE(QFileInfo::exists(socket));
    EXPECT_EQ(VNTest::readFile(transfer), QByteArray("being downloaded"));

    // Settings of its own, the same temporary folder: its own instance, whose
    // clean-up removes nothing while the first one runs.
    QProcess *other = start(QStringLiteral("two"));
    QByteArray otherLog;
    EXPECT_TRUE(logged(other, &otherLog, "another running instance uses the temporary folder", 20000))
        << otherLog.toStdString();
    EXPECT_TRUE(VNTest::waitUntil([&] { return records() == 2; }, 10000));
    EXPECT_EQ(VNTest::readFile(transfer), QByteArray("being downloaded"));

    // Going on, the first instance takes the request the second one left.
    ASSERT_EQ(::kill(pid_t(first->processId()), SIGCONT), 0);
    QByteArray firstLog;
    EXPECT_TRUE(logged(first, &firstLog, "a later launch asked for a new window", 10000)) << firstLog.toStdString();
    EXPECT_EQ(first->state(), QProcess::Running);
}
