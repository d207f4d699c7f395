#pragma once

// A go-between for the connections of a plain-text protocol (FTP control
// connections, HTTP), on a free port of 127.0.0.1, that can hold a rename on
// its way to the server: the client's line that starts with the held
// command ("RNTO" of FTP, "MOVE " of HTTP), and whatever follows it, is kept
// back until released, so the server renames only then, whatever the client
// did in between; a client that gave up meanwhile has its line delivered
// all the same, as a network would. FTP data connections go to the server
// directly (it names its own address).

#include <atomic>
#include <string>
#include <thread>

class HeldGoBetween {
public:
    HeldGoBetween(int serverPort, std::string heldCommand);
    ~HeldGoBetween();
    HeldGoBetween(const HeldGoBetween &) = delete;
    HeldGoBetween &operator=(const HeldGoBetween &) = delete;

    int port() const { return m_port; }

    // Holds the next line of the held command that passes.
    void holdNext() { m_armed = true; }
    // A line is held.
    bool holding() const { return m_holding; }
    // The client closed the connection whose line is held.
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
    std::string m_heldCommand;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_armed{false};
    std::atomic<bool> m_holding{false};
    std::atomic<bool> m_clientGaveUp{false};
    std::atomic<bool> m_releaseAsked{false};
    std::atomic<bool> m_serverDone{false};
    std::thread m_thread;
};
