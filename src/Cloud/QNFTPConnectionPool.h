#pragma once

#include <QByteArray>
#include <QString>
#include <curl/curl.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

// The connections of FTP, FTPS and SFTP drives kept open from one operation
// to the next, so that a folder of many small files is not one login (and
// over SFTP one SSH handshake) per file.
//
// A kept connection lives in a Connection of its own: a libcurl handle and
// the multi handle that runs its transfers and holds the connection between
// them. It serves one transfer at a time, taken from here and given back
// only when its transfer went well (a cancelled or failed one is closed).
// libcurl's shared connection cache is not meant for handles used on
// several threads at once, and transfers run on several.
//
// A connection is kept under its identity: the server, the drive's
// settings, and what its login and checks rested on (the credentials as
// sent, the host keys remembered for the server then and those revoked, the
// certificate pinned, the certificate authorities trusted, by content). A
// transfer takes only a connection of its own identity, so a connection
// serves the drive and the trust it was made for and no other.
//
// Bounds: kMaxKeptPerServer idle connections for one server (as many as a
// task runs at once on a drive), kMaxKeptInAll in all, the least recently
// used going first. An idle connection is closed after idleSeconds(); one
// made longer ago than maxAgeSeconds() serves no more, however often it was
// used (what its checks rested on may have changed in ways no identity
// shows: the system's certificate authorities, the server's own setup).
// Every connection of a removed drive, or of a server whose key or
// certificate was refused, is closed (one in use then when given back).
// libcurl may close a connection itself (after most failures): such a
// handle is never kept. Closing (which may wait for the server's goodbye)
// runs on a queue of its own. At the program's end the pool closes what it
// keeps and keeps nothing more (see VNProcessExit), before the libraries
// are torn down.
class QNFTPConnectionPool {
public:
    static constexpr int kMaxKeptPerServer = 4;
    static constexpr int kMaxKeptInAll = 16;

    struct Identity {
        QString server;      // "host:port", the host in lower case
        QByteArray drive;    // digest of the drive's settings
        QByteArray session;  // digest of what the login and checks rest on
    };
    // Handed out with a connection, and given back with it.
    struct Lease {
        Identity identity;
        quint64 serverGeneration = 0;
        quint64 driveGeneration = 0;
        bool kept = false;  // the connection was a kept one
        // When its connection was made (a kept one's, or now), and its
        // socket then: another one after a transfer is a connection the
        // library made anew.
        std::chrono::steady_clock::time_point made;
        int socket = -1;
    };

    struct Connection {
        CURLM *multi = nullptr;  // holds the connection between transfers
        CURL *handle = nullptr;  // the transfer's options
        bool isNull() const { return !multi || !handle; }
        // Ends the connection (its goodbye to the server included).
        void close();
    };

    // The one pool of the process; never destroyed.
    static QNFTPConnectionPool &shared();

    // A kept connection of this identity (the one given back last), else a
    // new one (always a new one when fresh); null when libcurl cannot make one.
    Connection take(const Identity &identity, Lease *lease, bool fresh = false);
    // A connection whose transfer went well, still open: kept for the next
    // transfer of its identity, its options cleared; closed when past its age.
    void giveBack(Connection connection, const Lease &lease);
    // How many connections to the server are kept (all drives).
    int keptCount(const QString &server) const;
    // Closes every kept connection to the server (all drives).
    void forgetServer(const QString &server);
    // Closes every kept connection of a drive.
    void forgetDrive(const QString &server, const QByteArray &drive);

    // How long a connection is kept unused; 60 s unless set (tests).
    void setIdleSeconds(int seconds);
    int idleSeconds() const;
    // How long after it was made a connection serves; 300 s unless set (tests).
    void setMaxAgeSeconds(int seconds);

    // The program ends: the reaper stops, what is kept is closed, and a
    // connection given back from now on is closed too.
    void shutDown();

private:
    using Clock = std::chrono::steady_clock;
    struct Kept {
        Connection connection;
        Identity identity;
        Clock::time_point since;  // given back
        Clock::time_point made;
        int socket = -1;
    };

    QNFTPConnectionPool();
    static QString driveKey(const QString &server, const QByteArray &drive);
    // Hands the connections to the closing queue.
    static void close(std::vector<Connection> connections);
    // Takes out, under the lock, what must go: too many, idle too long, or
    // made too long ago.
    std::vector<Connection> takeSurplusLocked(Clock::time_point now);
    bool pastAgeLocked(Clock::time_point made, Clock::time_point now) const;
    // When the next kept connection's time is up (under the lock).
    Clock::time_point nextDeadlineLocked() const;
    void reap();

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::vector<Kept> m_kept;  // oldest first
    std::map<QString, quint64> m_serverGenerations;
    std::map<QString, quint64> m_driveGenerations;
    int m_idleSeconds = 60;
    int m_maxAgeSeconds = 300;
    bool m_shutDown = false;
    std::thread m_reaper;
};
