// An application opened after a copy onto a server (Open, Open With) holds
// nothing of this program but its standard streams: not the kept server
// connection, logged in, nor a transfer engine's wake-up pair. A row per
// kind of drive copied onto; the application writes down its descriptors.
#include "App/Panes/PanesTestSupport.h"

#include "../../Cloud/FTP/FTPPeerSupport.h"
#include "App/QNDesktopApplications.h"
#include "Cloud/QNWebDAVHandler.h"
#include "Core/QNCopyTask.h"
#include "Core/QNCopyTaskItem.h"
#include "Core/QNMyDocumentsHandler.h"
#include "support/TaskRun.h"

#include <QStandardPaths>
#include <QUuid>

namespace {

class LaunchedApplicationTest : public PanesTest {
protected:
    void SetUp() override {
        PanesTest::SetUp();
        QNFTPHandler::registerHandler();
        QNWebDAVHandler::registerWithFactory();
    }
};

// Lists its open descriptors, one "number target" a line, beside the file
// it was opened with.
const char *const kLister = R"(import os, sys
lines = []
for fd in sorted(os.listdir('/proc/self/fd'), key=int):
    try:
        lines.append(fd + ' ' + os.readlink('/proc/self/fd/' + fd))
    except OSError:
        pass  # the listing's own, closed by now
with open(sys.argv[1] + '.part', 'w') as out:
    out.write('\n'.join(lines) + '\n')
os.rename(sys.argv[1] + '.part', sys.argv[1] + '.fds')
)";

}  // namespace

TEST_F(LaunchedApplicationTest, AnApplicationOpenedAfterACopyHoldsNothingOfThisProgram) {
    const QJsonObject webdav = VNTest::peerState(QStringLiteral("webdav"));
    ASSERT_FALSE(webdav.isEmpty() || FTPPeer::root(FTPPeer::Kind::FTP).isEmpty() ||
                 FTPPeer::root(FTPPeer::Kind::SFTP).isEmpty())
        << "a peer is not running";
    QNFTPHandler::setKnownHostsFile(folder(QStringLiteral("app")) + QStringLiteral("/known_hosts"));
    auto webdavDrive = QNDriveConfig::create();
    webdavDrive->setIsWebDAV(true);
    webdavDrive->setUrl(webdav.value(QStringLiteral("http_url")).toString() + QLatin1Char('/'));
    webdavDrive->setUsername(webdav.value(QStringLiteral("user")).toString());
    webdavDrive->setPassword(webdav.value(QStringLiteral("password")).toString());
    const struct {
        const char *what;
        QNDriveConfigPtr drive;
        QString folder;
    } rows[] = {
        {"after a copy onto FTP", FTPPeer::drive(FTPPeer::Kind::FTP), FTPPeer::makeScratchFolder(FTPPeer::Kind::FTP)},
        {"after a copy onto SFTP", FTPPeer::drive(FTPPeer::Kind::SFTP), FTPPeer::makeScratchFolder(FTPPeer::Kind::SFTP)},
        {"after a copy onto WebDAV", webdavDrive, QStringLiteral("/")},
    };
    const QString bin = folder(QStringLiteral("bin"));
    ASSERT_TRUE(VNTest::writeFile(bin + QStringLiteral("/lister.py"), kLister));
    QNDesktopApplications::Application lister;
    lister.id = QStringLiteral("lister.desktop");
    lister.name = QStringLiteral("Lister");
    lister.exec = QStandardPaths::findExecutable(QStringLiteral("python3")) + QStringLiteral(" ") + bin +
                  QStringLiteral("/lister.py %f");
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        [&] {  // a failing row ends here; the others still run
            const QString name = QStringLiteral("copied-") + QUuid::createUuid().toString(QUuid::WithoutBraces).left(8) +
                                 QStringLiteral(".txt");
            const QString source = folder(QStringLiteral("source")) + QLatin1Char('/') + name;
            ASSERT_TRUE(VNTest::writeFile(source, "copied"));
            const VNTest::ItemRun copy = VNTest::runItem(
                std::make_shared<QNCopyTask>(),
                std::make_shared<QNCopyTaskItem>(QNMyDocumentsHandler::makeLocalDriveConfig(), row.drive,
                                                 QNDocument::withPath(source), QNDocument::withPath(row.folder, true)));
            ASSERT_TRUE(copy.completed && !copy.error) << (copy.error ? copy.error->localizedDescription().toStdString() : "");
            QString why;
            ASSERT_TRUE(QNDesktopApplications::launch(lister, source, &why)) << why.toStdString();
            ASSERT_TRUE(VNTest::waitUntil([&] { return QFileInfo::exists(source + QStringLiteral(".fds")); }, 20000))
                << "the application did not start";
            QStringList held;
            for (const QString &line : QString::fromUtf8(VNTest::readFile(source + QStringLiteral(".fds"))).split(
                     QLatin1Char('\n'), Qt::SkipEmptyParts))
                if (line.section(QLatin1Char(' '), 0, 0).toInt() > 2)
                    held << line;
            EXPECT_TRUE(held.isEmpty()) << held.join(QStringLiteral("; ")).toStdString();
            if (row.drive == webdavDrive)
                QFile::remove(webdav.value(QStringLiteral("root_dir")).toString() + QLatin1Char('/') + name);
        }();
    }
}
