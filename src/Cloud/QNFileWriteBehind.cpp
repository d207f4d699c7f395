#include "Cloud/QNFileWriteBehind.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

QNFileWriteBehind::QNFileWriteBehind(int fd, qsizetype blockSize) : m_fd(fd), m_blockSize(blockSize) {}

QNFileWriteBehind::~QNFileWriteBehind()
{
    {
        std::unique_lock lock(m_mutex);
        waitIdle(lock);
        m_stop = true;
    }
    m_changed.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

bool QNFileWriteBehind::write(const char *data, qsizetype size)
{
    if (error() != 0)
        return false;
    if (m_filling.capacity() < m_blockSize)
        m_filling.reserve(m_blockSize);
    while (size > 0) {
        const qsizetype room = m_blockSize - m_filling.size();
        const qsizetype part = qMin(room, size);
        m_filling.append(data, part);
        data += part;
        size -= part;
        if (m_filling.size() == m_blockSize)
            handOver();
    }
    return error() == 0;
}

bool QNFileWriteBehind::finish()
{
    {
        std::unique_lock lock(m_mutex);
        waitIdle(lock);
    }
    // The last, partial block is written here: no thread to wait for.
    if (!m_filling.isEmpty() && error() == 0) {
        const int failed = writeAll(m_fd, m_filling.constData(), m_filling.size());
        m_filling.clear();
        std::lock_guard lock(m_mutex);
        m_error = failed;
    }
    return error() == 0;
}

int QNFileWriteBehind::error() const
{
    std::lock_guard lock(m_mutex);
    return m_error;
}

// Gives the full block to the writer once it is done with the one before.
void QNFileWriteBehind::handOver()
{
    {
        std::unique_lock lock(m_mutex);
        waitIdle(lock);
        if (m_error != 0) {
            m_filling.resize(0);
            return;
        }
        m_writing.swap(m_filling);
        m_busy = true;
    }
    m_filling.resize(0);  // keeps the swapped-in block's room
    if (!m_thread.joinable())
        m_thread = std::thread(&QNFileWriteBehind::run, this);
    else
        m_changed.notify_all();
}

void QNFileWriteBehind::waitIdle(std::unique_lock<std::mutex> &lock)
{
    m_changed.wait(lock, [this] { return !m_busy; });
}

void QNFileWriteBehind::run()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return m_busy || m_stop; });
        if (!m_busy)
            return;
        lock.unlock();
        const int failed = writeAll(m_fd, m_writing.constData(), m_writing.size());
        lock.lock();
        if (failed != 0)
            m_error = failed;
        m_busy = false;
        m_changed.notify_all();
    }
}

// 0 when all was written, the errno otherwise.
int QNFileWriteBehind::writeAll(int fd, const char *data, qsizetype size)
{
    while (size > 0) {
        const ssize_t w = ::write(fd, data, size_t(size));
        if (w < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        data += w;
        size -= w;
    }
    return 0;
}
