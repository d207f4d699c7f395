#include "TestSupport.h"

#include "Platform/VNDispatch.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QThread>

#include <algorithm>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

namespace VNTest {

bool waitUntil(const std::function<bool()> &condition, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return condition();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    return true;
}

void spin(int milliseconds) {
    QDeadlineTimer deadline(milliseconds);
    while (!deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
}

bool runMainQueue(int timeoutMs) {
    auto ran = std::make_shared<bool>(false);
    VNDispatch::mainAsync([ran] { *ran = true; });
    return waitUntil([ran] { return *ran; }, timeoutMs);
}

std::unique_ptr<QTemporaryDir> makeTempDir() {
    auto dir = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/varnello-test-XXXXXX"));
    if (!qgetenv("VARNELLO_KEEP_TEMP").isEmpty())
        dir->setAutoRemove(false);
    return dir;
}

QByteArray readFile(const QString &path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

bool writeFile(const QString &path, const QByteArray &data) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return f.write(data) == data.size();
}

QList<QByteArray> namesOnDisk(const QString &folder) {
    QList<QByteArray> names;
    if (DIR *d = ::opendir(QFile::encodeName(folder).constData())) {
        while (const dirent *entry = ::readdir(d))
            if (qstrcmp(entry->d_name, ".") != 0 && qstrcmp(entry->d_name, "..") != 0)
                names << QByteArray(entry->d_name);
        ::closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

QByteArray readOnDisk(const QString &folder, const QByteArray &name) {
    const int fd = ::open((QFile::encodeName(folder) + '/' + name).constData(), O_RDONLY | O_CLOEXEC);
    QFile f;
    if (fd < 0 || !f.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        if (fd >= 0)
            ::close(fd);
        return {};
    }
    return f.readAll();
}

QJsonObject peerState(const QString &name) {
    const QString dir = QString::fromLocal8Bit(qgetenv("VARNELLO_PEER_STATE"));
    if (dir.isEmpty())
        return {};
    return QJsonDocument::fromJson(readFile(dir + QLatin1Char('/') + name + QStringLiteral(".json"))).object();
}

QString peersFolder() { return QString::fromLocal8Bit(qgetenv("VARNELLO_TEST_PEERS")); }

QString artifactsFolder() {
    QString dir = QString::fromLocal8Bit(qgetenv("VARNELLO_ARTIFACTS"));
    if (dir.isEmpty())
        dir = QDir::currentPath() + QStringLiteral("/artifacts");
    QDir().mkpath(dir);
    return dir;
}

QStringList listTree(const QString &root) {
    QStringList out;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        QString rel = QDir(root).relativeFilePath(path);
        if (QFileInfo(path).isDir())
            rel += QLatin1Char('/');
        out.append(rel);
    }
    out.sort();
    return out;
}

QString compareTrees(const QString &a, const QString &b) {
    const QStringList left = listTree(a);
    const QStringList right = listTree(b);
    if (left != right)
        return QStringLiteral("entries differ:\n  %1\nvs\n  %2").arg(left.join(QStringLiteral(", ")),
                                                                      right.join(QStringLiteral(", ")));
    for (const QString &rel : left) {
        if (rel.endsWith(QLatin1Char('/')))
            continue;
        if (readFile(a + QLatin1Char('/') + rel) != readFile(b + QLatin1Char('/') + rel))
            return QStringLiteral("content of %1 differs").arg(rel);
    }
    return {};
}

}  // namespace VNTest
