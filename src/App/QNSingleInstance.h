#pragma once

#include <QObject>
#include <QString>

class QLocalServer;

// One running instance per user and settings file: a second launch hands its
// request to the running instance over a local socket and quits; the running
// instance then opens a new window.
//
// The running instance holds a lock (a file locked for as long as the
// process lives, freed by the system when it ends): a later launch tells a
// running instance, however busy, from one that is gone by that lock, never
// by how fast the socket answers, and so never takes a live instance's place.
class QNSingleInstance : public QObject {
    Q_OBJECT
public:
    // The socket name for this user and the given settings file.
    static QString serverNameFor(const QString &settingsFile);

    explicit QNSingleInstance(const QString &serverName, QObject *parent = nullptr);
    ~QNSingleInstance() override;

    // Asks a running instance to open a new window; true when one runs. A
    // running instance that does not answer within the time (busy) still
    // holds the request and opens the window when it gets to it. False when
    // none runs: this instance then holds the lock and may listen().
    bool notifyRunningInstance(int timeoutMs = 1000);
    // Becomes the running instance; false when another one runs or the name
    // cannot be taken.
    bool listen();
    bool isListening() const;

signals:
    // A later launch asked for a new window.
    void newWindowRequested();

private:
    bool takeLock();
    void takeRequest(class QLocalSocket *socket);

    QString m_serverName;
    QLocalServer *m_server = nullptr;
    int m_lockFd = -1;  // held while this is the running instance
};
