#pragma once

#include <QObject>
#include <QString>

class QLocalServer;

// One running instance per user and settings file: a second launch hands its
// request to the running instance over a local socket and quits; the running
// instance then opens a new window.
class QNSingleInstance : public QObject {
    Q_OBJECT
public:
    // The socket name for this user and the given settings file.
    static QString serverNameFor(const QString &settingsFile);

    explicit QNSingleInstance(const QString &serverName, QObject *parent = nullptr);
    ~QNSingleInstance() override;

    // Asks a running instance to open a new window; true when one answered.
    bool notifyRunningInstance(int timeoutMs = 1000);
    // Becomes the running instance; false when the name cannot be taken.
    bool listen();
    bool isListening() const;

signals:
    // A later launch asked for a new window.
    void newWindowRequested();

private:
    QString m_serverName;
    QLocalServer *m_server = nullptr;
};
