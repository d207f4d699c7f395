#include "FuseMirror.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace VNTest {

namespace {

constexpr int kMountWaitMs = 10000;
// What the shell says once bindfs has ended.
constexpr char kEnded[] = "bindfs ended:";

// A mount point as /proc/self/mountinfo writes it: blanks, tabs, line
// breaks and backslashes as three octal digits after a backslash.
QString decodedMountPoint(const QByteArray &field)
{
    QByteArray out;
    for (qsizetype i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            bool ok = false;
            const int code = field.mid(i + 1, 3).toInt(&ok, 8);
            if (ok) {
                out.append(char(code));
                i += 3;
                continue;
            }
        }
        out.append(field[i]);
    }
    return QFile::decodeName(out);
}

bool isMountPoint(const QString &path)
{
    QFile table(QStringLiteral("/proc/self/mountinfo"));
    if (!table.open(QIODevice::ReadOnly))
        return false;
    // id, parent id, device, root, mount point, ...
    for (const QByteArray &line : table.readAll().split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() > 4 && decodedMountPoint(fields[4]) == path)
            return true;
    }
    return false;
}

}  // namespace

FuseMirror::FuseMirror(const QString &folder, const QString &mountPoint)
    : m_folder(QFileInfo(folder).absoluteFilePath())
{
    QDir().mkpath(mountPoint);
    // The mount point as the mount table names it.
    m_mountPoint = QFileInfo(mountPoint).canonicalFilePath();
    if (m_mountPoint.isEmpty()) {
        m_whyNot = QStringLiteral("the mount point %1 could not be made").arg(mountPoint);
        return;
    }
    const int fuse = ::open("/dev/fuse", O_RDWR | O_CLOEXEC);
    if (fuse < 0) {
        m_whyNot = QStringLiteral("no usable /dev/fuse (%1)").arg(QString::fromLocal8Bit(std::strerror(errno)));
        return;
    }
    ::close(fuse);
    const QString bindfs = QStandardPaths::findExecutable(QStringLiteral("bindfs"));
    if (bindfs.isEmpty()) {
        m_whyNot = QStringLiteral("bindfs is not installed (Debian package bindfs)");
        return;
    }
    if (QStandardPaths::findExecutable(QStringLiteral("fusermount3")).isEmpty()) {
        m_whyNot = QStringLiteral("fusermount3 is not installed (Debian package fuse3)");
        return;
    }

    // bindfs in the foreground under a shell that also starts a watcher. The
    // watcher reads the shell's input, which only this process writes: a
    // line says the mirror is done with; an end without one (this process
    // ended, however it ended) detaches the mount. It leaves this process
    // tree (its own session, its parent gone at once), so that a test runner
    // killing the whole tree spares it. The shell says when bindfs has
    // ended (a refused mount).
    static const QString script = QStringLiteral(
        "exec 3<&0 </dev/null\n"
        "\"$1\" -f \"$2\" \"$3\" 3<&- &\n"
        "b=$!\n"
        "( setsid sh -c 'read -r _ || fusermount3 -u -z \"$1\"' sh \"$3\" <&3 >/dev/null 2>&1 & )\n"
        "exec 3<&-\n"
        "wait $b\n"
        "echo \"%1 $?\"\n")
                                      .arg(QLatin1String(kEnded));
    m_bindfs = std::make_unique<QProcess>();
    m_bindfs->setProgram(QStringLiteral("/bin/sh"));
    m_bindfs->setArguments({QStringLiteral("-c"), script, QStringLiteral("sh"), bindfs, m_folder, m_mountPoint});
    m_bindfs->setProcessChannelMode(QProcess::MergedChannels);
    m_bindfs->start();
    if (!m_bindfs->waitForStarted()) {
        m_whyNot = QStringLiteral("bindfs could not be started: %1").arg(m_bindfs->errorString());
        m_bindfs.reset();
        return;
    }
    if (!waitUntil(true, kMountWaitMs)) {
        const QString said = QString::fromLocal8Bit(m_output);
        m_whyNot = m_bindfsEnded ? QStringLiteral("bindfs refused the mount: %1")
                                       .arg(said.section(QLatin1String(kEnded), 0, 0).trimmed())
                                 : QStringLiteral("the mount did not show within %1 s").arg(kMountWaitMs / 1000);
        unmount();
    }
}

FuseMirror::~FuseMirror()
{
    unmount();
}

bool FuseMirror::isMounted() const
{
    return m_bindfs && m_whyNot.isEmpty() && isMountPoint(m_mountPoint);
}

bool FuseMirror::waitUntil(bool mounted, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        if (isMountPoint(m_mountPoint) == mounted)
            return true;
        // A bindfs that has ended will not mount any more.
        if ((mounted && m_bindfsEnded) || deadline.hasExpired())
            return isMountPoint(m_mountPoint) == mounted;
        if (m_bindfs && m_bindfs->state() != QProcess::NotRunning && m_bindfs->waitForReadyRead(20)) {
            m_output += m_bindfs->readAll();
            m_bindfsEnded = m_output.contains(kEnded);
        } else {
            ::usleep(20000);
        }
    }
}

bool FuseMirror::runFusermount(const QStringList &options)
{
    QProcess fusermount;
    fusermount.setProcessChannelMode(QProcess::MergedChannels);
    fusermount.start(QStringLiteral("fusermount3"), options + QStringList{m_mountPoint});
    return fusermount.waitForFinished(kMountWaitMs) && fusermount.exitStatus() == QProcess::NormalExit &&
           fusermount.exitCode() == 0;
}

bool FuseMirror::unmount()
{
    if (!m_bindfs)
        return !isMountPoint(m_mountPoint);
    bool gone = !isMountPoint(m_mountPoint) || (runFusermount({QStringLiteral("-u")}) && waitUntil(false, kMountWaitMs));
    if (gone) {
        m_bindfs->write("done\n");
        m_bindfs->waitForBytesWritten(kMountWaitMs);
    } else {
        // Busy (a file left open, a folder entered): the watcher detaches
        // the mount, which goes once nothing holds it; bindfs ends with it.
        m_bindfs->closeWriteChannel();
        gone = waitUntil(false, kMountWaitMs);
    }
    m_bindfs->closeWriteChannel();
    if (!m_bindfs->waitForFinished(kMountWaitMs)) {
        m_bindfs->kill();
        m_bindfs->waitForFinished(kMountWaitMs);
    }
    m_bindfs.reset();
    return gone;
}

}  // namespace VNTest
