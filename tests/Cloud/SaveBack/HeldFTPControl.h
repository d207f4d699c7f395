#pragma once

// A go-between for FTP control connections, on a free port of 127.0.0.1,
// that can hold a rename on its way to the server: the client's "RNTO" line
// (and whatever follows it) is kept back until released, so the server
// renames only then, whatever the client did in between; a client that
// gave up meanwhile has its line delivered all the same, as a network would.
// Data connections go to the server directly (it names its own address).

#include <atomic>
#include <thread>

class HeldFTPControl {
public:
    explicit HeldFTPControl(int serverPort);
    ~HeldFTPControl();
    HeldFTPControl(const HeldFTPControl &) = delete;
    HeldFTPControl &operator=(const HeldFTPControl &) = delete;

    int port() const { return m_port; }

    // Holds the next RNTO line that passes.
    void holdNextRenameTo() { m_armed = true; }
    // An RNTO line is held.
    bool holding() const { return m_holding; }
    // The client closed the connection whose RNTO line is held.
    bool clientGaveUp() const { return m_clientGaveUp; }
    // Sends the held line on.
    void release() { m_releaseAsked = true; }
    // The server has answered the released line, or closed.
    bool serverDone() const { return m_serverDone; }

private:
    void run();

    int m_listen = -1;
    int m_port = 0;
    int m_serverPort = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_armed{false};
    std::atomic<bool> m_holding{false};
    std::atomic<bool> m_clientGaveUp{false};
    std::atomic<bool> m_releaseAsked{false};
    std::atomic<bool> m_serverDone{false};
    std::thread m_thread;
};
