// Writes received bytes to a file from a thread of its own, a large block at
// a time: the connection's thread goes on receiving (and, over SSH,
// decrypting) while the disk takes the block before. The library hands a
// download over in pieces of about 16 KiB; a write call each cost more
// system time than the copy itself.
//
// At most two blocks are held: the one being filled and the one being
// written. The writer thread starts with the first full block, so a small
// file is written by the caller's thread alone, at finish().
#pragma once

#include <QByteArray>

#include <condition_variable>
#include <mutex>
#include <thread>

class QNFileWriteBehind {
public:
    static constexpr qsizetype defaultBlockSize = 1 << 20;

    explicit QNFileWriteBehind(int fd, qsizetype blockSize = defaultBlockSize);
    // Waits for a block being written; bytes not yet handed over are dropped
    // (a failed or cancelled download's file is removed anyway).
    ~QNFileWriteBehind();
    QNFileWriteBehind(const QNFileWriteBehind &) = delete;
    QNFileWriteBehind &operator=(const QNFileWriteBehind &) = delete;

    // Takes the bytes; false once a write has failed (error() says why).
    bool write(const char *data, qsizetype size);
    // Writes what is still held and waits for it: true when every byte
    // reached the file.
    bool finish();
    // The errno of the write that failed, 0 while none did.
    int error() const;

private:
    void handOver();
    void waitIdle(std::unique_lock<std::mutex> &lock);
    void run();
    static int writeAll(int fd, const char *data, qsizetype size);

    const int m_fd;
    const qsizetype m_blockSize;
    QByteArray m_filling;  // the caller's block
    QByteArray m_writing;  // the writer's block

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_busy = false;  // m_writing holds bytes not yet written
    bool m_stop = false;
    int m_error = 0;
    std::thread m_thread;
};
