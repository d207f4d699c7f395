// An SFTP upload cancelled at any moment leaves nothing under its temporary
// name on the server: the cancel comes from another thread, as the task
// list's does, once the server has made the part file.
#include "FTPPeerSupport.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace FTPPeer;

namespace {

TEST(SFTPUploadCancel, ACancelOnceThePartFileExistsLeavesNothingOnTheServer)
{
    ASSERT_FALSE(root(Kind::SFTP).isEmpty()) << "the sshd peer is not running";
    auto temp = VNTest::makeTempDir();
    QNFTPHandler::setKnownHostsFile(temp->path() + QStringLiteral("/app/known_hosts"));
    const QString source = temp->path() + QStringLiteral("/upload.bin");
    ASSERT_TRUE(VNTest::writeFile(source, randomBytes(16 << 20, 9)));
    auto config = drive(Kind::SFTP);
    for (int round = 0; round < 5; ++round) {
        SCOPED_TRACE(round);
        const QString folder = makeScratchFolder(Kind::SFTP);
        const QString onDisk = root(Kind::SFTP) + folder;
        auto handler = handlerFor(config);
        std::atomic<bool> done{false};
        std::thread watcher([&] {
            while (!done) {
                if (!QDir(onDisk).entryList(QDir::Files | QDir::Hidden).isEmpty()) {
                    handler->cancel();
                    return;
                }
                std::this_thread::yield();
            }
        });
        const Answer a = upload(config, source, folder, {}, handler);
        done = true;
        watcher.join();
        EXPECT_TRUE(a.cancelled) << a.text().toStdString();
        EXPECT_EQ(QDir(onDisk).entryList(QDir::Files | QDir::Hidden), QStringList());
    }
}

}  // namespace
