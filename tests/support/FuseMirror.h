#pragma once

#include <QByteArray>
#include <QString>
#include <memory>

class QProcess;

namespace VNTest {

// A local folder mounted again at another path through FUSE (bindfs) for
// the life of the object: one storage reached by two paths, as a folder and
// its rclone mount, or a NAS export mounted twice, are. The two paths show
// different devices (bindfs passes the inode numbers through), so device
// and inode cannot tell that they are the same folder.
//
// A test that cannot have one says why and skips:
//     VNTest::FuseMirror mirror(share, mnt);
//     if (!mirror.isMounted())
//         GTEST_SKIP() << mirror.whyNot().toStdString();
//
// The mount never outlives the test process: the destructor unmounts it,
// a fixture's clean-up may do so earlier (unmount()), and a watcher process
// detaches it when the test process ends, however it ends. Made and
// unmounted on the thread that runs the test.
class FuseMirror {
public:
    // Mounts folder again at mountPoint (made when missing).
    FuseMirror(const QString &folder, const QString &mountPoint);
    ~FuseMirror();

    FuseMirror(const FuseMirror &) = delete;
    FuseMirror &operator=(const FuseMirror &) = delete;

    const QString &folder() const { return m_folder; }
    const QString &mountPoint() const { return m_mountPoint; }
    bool isMounted() const;
    // Why there is no mount (no usable /dev/fuse, bindfs or fusermount3
    // missing, the mount refused); empty while mounted.
    QString whyNot() const { return m_whyNot; }

    // Unmounts and waits until the mount is gone; a busy mount is ended by
    // ending bindfs and detaching it. True when it is gone. Once is enough.
    bool unmount();

private:
    bool waitUntil(bool mounted, int timeoutMs);
    bool runFusermount(const QStringList &options);

    QString m_folder;
    QString m_mountPoint;
    QString m_whyNot;
    std::unique_ptr<QProcess> m_bindfs;  // the shell that runs bindfs and its watcher
    QByteArray m_output;
    bool m_bindfsEnded = false;
};

}  // namespace VNTest
