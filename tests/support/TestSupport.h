#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <functional>
#include <memory>

namespace VNTest {

// Runs the main event loop until the condition holds or the time runs out;
// answers whether the condition held.
bool waitUntil(const std::function<bool()> &condition, int timeoutMs = 10000);

// Runs the main event loop for the given time.
void spin(int milliseconds);

// Lets the main thread run what it was given to do before now (not what
// that gives it in turn). False when its turn did not come within the time.
bool runMainQueue(int timeoutMs = 10000);

// A fresh folder for one test, removed at the end (unless VARNELLO_KEEP_TEMP is set).
std::unique_ptr<QTemporaryDir> makeTempDir();

// Reads a whole file / writes a whole file (creating parent folders).
QByteArray readFile(const QString &path);
bool writeFile(const QString &path, const QByteArray &data);

// A folder's names as its disk holds them, sorted (QDir leaves out those
// that are not UTF-8), and a file of such a name read whole ("" when it
// cannot be).
QList<QByteArray> namesOnDisk(const QString &folder);
QByteArray readOnDisk(const QString &folder, const QByteArray &name);

// Every entry below root, relative, folders ending in "/", sorted.
QStringList listTree(const QString &root);
// Empty when both trees hold the same folders and byte-identical files,
// else a description of the first difference.
QString compareTrees(const QString &a, const QString &b);

// The state a test peer wrote when its fixture started it (port, pid, user,
// password, folders ...), read from $VARNELLO_PEER_STATE/<name>.json. An
// empty object when the peer is not running.
QJsonObject peerState(const QString &name);

// The folder holding test peers and fixtures (tests/peers).
QString peersFolder();

// Where tests put screenshots and other artifacts (build/artifacts).
QString artifactsFolder();

}  // namespace VNTest
