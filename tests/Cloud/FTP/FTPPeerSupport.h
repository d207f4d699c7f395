#pragma once

// Drives on the vsftpd and sshd test peers, and blocking calls of the FTP
// handler that run the main loop until the answer arrives.

#include "Cloud/QNFTPHandler.h"
#include "Core/QNDocument.h"
#include "Core/QNDriveConfig.h"
#include "Core/QNHandlerOperation.h"
#include "Core/QNUploadOperation.h"

#include <QByteArray>
#include <QJsonObject>
#include <QTcpServer>
#include <QSet>
#include <QString>
#include <functional>
#include <memory>

namespace FTPPeer {

// NoRemovalFTP and DropBoxFTP: plain FTP accounts on the same tree that
// remove nothing, and that neither remove nor rename (an upload drop box).
enum class Kind { FTP, FTPS, ActiveFTP, SFTP, NoRemovalFTP, DropBoxFTP };
const char *kindName(Kind kind);

QJsonObject state(Kind kind);
// The served folder on the server's disk.
QString root(Kind kind);
// A drive for the peer (detect encoding, certificates not checked).
QNDriveConfigPtr drive(Kind kind);

// A fresh, unique folder under the peer's scratch folder, made on disk
// (owned by the test account); returns its document path ("/work/x/").
QString makeScratchFolder(Kind kind);
// Writes a file straight onto the server's disk, owned by the test account.
void writeServerFile(Kind kind, const QString &path, const QByteArray &data);
// Kills the server processes serving this test process's connections, as a
// server dying mid-transfer; the listening server lives on. True when any died.
bool killServerSessions(Kind kind);
// A drive of the peer's second account.
QNDriveConfigPtr otherAccountDrive(Kind kind);
// The connections this process holds open to the peer's server (FTP's
// control connections, SSH's), by their local ports.
QSet<int> connectionsTo(Kind kind);
// The same by their sockets' inodes, as /proc/<pid>/fd names them.
QSet<QByteArray> connectionSocketsTo(Kind kind);
// The socket inodes a process holds ("self" for this one).
QSet<QByteArray> socketsOf(const QString &pid);

// A go-between on a loopback port that passes each connection on to a
// server's port, as another machine taking over an address or a network
// cutting a connection would. It runs on the main thread: the tests' waits
// turn its loop.
class GoBetween {
public:
    explicit GoBetween(int target);
    int port() const { return int(m_server.serverPort()); }
    // Connections made from now on go to this port; those made before stay.
    void setTarget(int port) { m_target = port; }
    // Plain FTP: the next command starting with verb reaches the server but
    // its reply does not: the connection is cut once the reply comes.
    void cutAfterReplyTo(const QByteArray &verb);
    // Plain FTP: the next command starting with verb does not reach the
    // server: the connection is cut instead.
    void cutBefore(const QByteArray &verb);
    // Any protocol: from now on the server's bytes are held, and the
    // connection is cut once done() holds (looked at every few ms): a
    // command carried out whose answer never arrives.
    void holdRepliesUntil(std::function<bool()> done);
    // Any protocol: the next bytes sent do not reach the server: the
    // connection is cut instead.
    void cutAtNextRequest();
    int cuts() const { return m_cuts; }

private:
    enum class Arm { None, AfterReply, Before, Hold, NextRequest };
    void accept();
    void cut(QTcpSocket *in, QTcpSocket *out);

    QTcpServer m_server;
    int m_target;
    Arm m_arm = Arm::None;
    QByteArray m_verb;
    std::function<bool()> m_done;
    int m_cuts = 0;
};

struct Answer {
    bool answered = false;
    bool onMainThread = false;
    bool ok = false;  // login
    QNDocumentList documents;
    QNDocumentPtr document;
    VNErrorPtr error;
    bool cancelled = false;
    QString text() const;  // the error's description, or ""
};

std::shared_ptr<QNFTPHandler> handlerFor(const QNDriveConfigPtr &config);

Answer login(const QNDriveConfigPtr &config);
Answer list(const QNDriveConfigPtr &config, const QString &path);
Answer download(const QNDriveConfigPtr &config, const QString &remotePath, const QString &localPath,
                const std::function<void(double, QNFTPHandler &)> &progress = {},
                std::shared_ptr<QNFTPHandler> handler = {});
Answer upload(const QNDriveConfigPtr &config, const QString &localPath, const QString &remoteFolder,
              const std::function<void(double, QNFTPHandler &)> &progress = {},
              std::shared_ptr<QNFTPHandler> handler = {});
// The same through an upload operation, as a copy sends a file: under a
// temporary name, with the operation telling the handler whether the file
// may go straight onto its name. progress may cancel the operation. answer
// is the operation's; handlerAnswer the handler's own, which may come
// after a cancel was answered.
struct OperationUpload {
    Answer answer;
    QNHandlerCallWatch::Answer handlerAnswer;
};
OperationUpload uploadThroughOperation(const QNDriveConfigPtr &config, const QString &localPath,
                                       const QString &remoteFolder, bool mayWriteOntoName,
                                       const std::function<void(double, QNUploadOperation &)> &progress = {});
Answer createFolder(const QNDriveConfigPtr &config, const QString &name, const QString &parent);
Answer remove(const QNDriveConfigPtr &config, const QString &path, bool isDirectory);
Answer rename(const QNDriveConfigPtr &config, const QString &path, const QString &newName);
Answer rename(const QNDriveConfigPtr &config, const QNDocumentPtr &from, const QNDocumentPtr &to);

// Names of the listed documents, in order.
QStringList namesOf(const QNDocumentList &documents);
QNDocumentPtr find(const QNDocumentList &documents, const QString &name);

QByteArray sha256OfFile(const QString &path);
QByteArray randomBytes(qint64 size, quint32 seed);

}  // namespace FTPPeer
