#include "Cloud/QNFTPConnectionPool.h"

#include "Platform/VNOperationQueue.h"
#include "Platform/VNProcessExit.h"

#include <algorithm>
#include <pthread.h>

namespace {

bool sameIdentity(const QNFTPConnectionPool::Identity &a, const QNFTPConnectionPool::Identity &b)
{
    return a.server == b.server && a.drive == b.drive && a.session == b.session;
}

VNOperationQueue &closingQueue()
{
    // Never destroyed: a goodbye may still be under way at exit.
    static VNOperationQueue *queue = new VNOperationQueue(QStringLiteral("QNFTPConnectionPool closing"));
    return *queue;
}

}  // namespace

QNFTPConnectionPool &QNFTPConnectionPool::shared()
{
    static QNFTPConnectionPool *pool = new QNFTPConnectionPool;
    return *pool;
}

QNFTPConnectionPool::QNFTPConnectionPool()
{
    // Sleeps until the next connection's time is up, until the program ends.
    m_reaper = std::thread([this] {
        pthread_setname_np(pthread_self(), "FTP keep reaper");
        reap();
    });
    VNProcessExit::beforeExit([this] { shutDown(); });
}

QString QNFTPConnectionPool::driveKey(const QString &server, const QByteArray &drive)
{
    return server + QLatin1Char('\n') + QString::fromLatin1(drive.toHex());
}

void QNFTPConnectionPool::Connection::close()
{
    // The multi handle's own clean-up says goodbye on its cached connection.
    if (multi)
        curl_multi_cleanup(multi);
    if (handle)
        curl_easy_cleanup(handle);
    multi = nullptr;
    handle = nullptr;
}

QNFTPConnectionPool::Connection QNFTPConnectionPool::take(const Identity &identity, Lease *lease, bool fresh)
{
    {
        std::lock_guard lock(m_mutex);
        lease->identity = identity;
        lease->serverGeneration = m_serverGenerations[identity.server];
        lease->driveGeneration = m_driveGenerations[driveKey(identity.server, identity.drive)];
        lease->kept = false;
        lease->made = Clock::now();
        lease->socket = -1;
        for (auto it = m_kept.rbegin(); !fresh && it != m_kept.rend(); ++it) {
            if (sameIdentity(it->identity, identity) && !pastAgeLocked(it->made, lease->made)) {
                const Connection connection = it->connection;
                lease->kept = true;
                lease->made = it->made;
                lease->socket = it->socket;
                m_kept.erase(std::next(it).base());
                return connection;
            }
        }
    }
    Connection made{curl_multi_init(), curl_easy_init()};
    // One connection each: a transfer's data connection is not kept.
    if (made.multi && curl_multi_setopt(made.multi, CURLMOPT_MAXCONNECTS, 1L) != CURLM_OK)
        made.close();
    if (made.isNull())
        made.close();
    return made;
}

void QNFTPConnectionPool::giveBack(Connection connection, const Lease &lease)
{
    if (connection.isNull())
        return;
    // No option of the last transfer (its callbacks and their data) may
    // outlive it, not even while the connection closes.
    curl_easy_reset(connection.handle);
    std::vector<Connection> closing;
    {
        std::lock_guard lock(m_mutex);
        const Identity &id = lease.identity;
        const auto now = Clock::now();
        if (m_shutDown || m_serverGenerations[id.server] != lease.serverGeneration ||
            m_driveGenerations[driveKey(id.server, id.drive)] != lease.driveGeneration ||
            pastAgeLocked(lease.made, now)) {
            closing.push_back(connection);  // forgotten while in use, or done
        } else {
            m_kept.push_back({connection, id, now, lease.made, lease.socket});
            closing = takeSurplusLocked(now);
        }
    }
    m_wake.notify_all();
    close(std::move(closing));
}

int QNFTPConnectionPool::keptCount(const QString &server) const
{
    std::lock_guard lock(m_mutex);
    return int(std::count_if(m_kept.begin(), m_kept.end(), [&](const Kept &k) { return k.identity.server == server; }));
}

void QNFTPConnectionPool::forgetServer(const QString &server)
{
    std::vector<Connection> closing;
    {
        std::lock_guard lock(m_mutex);
        ++m_serverGenerations[server];
        for (auto it = m_kept.begin(); it != m_kept.end();) {
            if (it->identity.server == server) {
                closing.push_back(it->connection);
                it = m_kept.erase(it);
            } else {
                ++it;
            }
        }
    }
    close(std::move(closing));
}

void QNFTPConnectionPool::forgetDrive(const QString &server, const QByteArray &drive)
{
    std::vector<Connection> closing;
    {
        std::lock_guard lock(m_mutex);
        ++m_driveGenerations[driveKey(server, drive)];
        for (auto it = m_kept.begin(); it != m_kept.end();) {
            if (it->identity.server == server && it->identity.drive == drive) {
                closing.push_back(it->connection);
                it = m_kept.erase(it);
            } else {
                ++it;
            }
        }
    }
    close(std::move(closing));
}

void QNFTPConnectionPool::setIdleSeconds(int seconds)
{
    {
        std::lock_guard lock(m_mutex);
        m_idleSeconds = std::max(1, seconds);
    }
    m_wake.notify_all();
}

int QNFTPConnectionPool::idleSeconds() const
{
    std::lock_guard lock(m_mutex);
    return m_idleSeconds;
}

void QNFTPConnectionPool::setMaxAgeSeconds(int seconds)
{
    {
        std::lock_guard lock(m_mutex);
        m_maxAgeSeconds = std::max(1, seconds);
    }
    m_wake.notify_all();
}

void QNFTPConnectionPool::shutDown()
{
    std::vector<Connection> closing;
    {
        std::lock_guard lock(m_mutex);
        if (m_shutDown)
            return;
        m_shutDown = true;
        for (const Kept &k : m_kept)
            closing.push_back(k.connection);
        m_kept.clear();
    }
    m_wake.notify_all();
    if (m_reaper.joinable())
        m_reaper.join();
    close(std::move(closing));
}

bool QNFTPConnectionPool::pastAgeLocked(Clock::time_point made, Clock::time_point now) const
{
    return now - made >= std::chrono::seconds(m_maxAgeSeconds);
}

QNFTPConnectionPool::Clock::time_point QNFTPConnectionPool::nextDeadlineLocked() const
{
    auto next = Clock::time_point::max();
    for (const Kept &k : m_kept)
        next = std::min({next, k.since + std::chrono::seconds(m_idleSeconds),
                         k.made + std::chrono::seconds(m_maxAgeSeconds)});
    return next;
}

std::vector<QNFTPConnectionPool::Connection> QNFTPConnectionPool::takeSurplusLocked(Clock::time_point now)
{
    std::vector<Connection> out;
    const auto idleLimit = std::chrono::seconds(m_idleSeconds);
    std::map<QString, int> perServer;
    for (const Kept &k : m_kept)
        ++perServer[k.identity.server];
    int inAll = int(m_kept.size());
    // Oldest first: over a bound, idle too long, or too old.
    for (auto it = m_kept.begin(); it != m_kept.end();) {
        int &ofServer = perServer[it->identity.server];
        if (ofServer > kMaxKeptPerServer || inAll > kMaxKeptInAll || now - it->since >= idleLimit ||
            pastAgeLocked(it->made, now)) {
            out.push_back(it->connection);
            --ofServer;
            --inAll;
            it = m_kept.erase(it);
        } else {
            ++it;
        }
    }
    return out;
}

void QNFTPConnectionPool::reap()
{
    std::unique_lock lock(m_mutex);
    while (!m_shutDown) {
        if (m_kept.empty())
            m_wake.wait(lock);
        else
            m_wake.wait_until(lock, nextDeadlineLocked());
        if (m_shutDown)
            break;
        std::vector<Connection> closing = takeSurplusLocked(Clock::now());
        if (closing.empty())
            continue;
        lock.unlock();
        close(std::move(closing));
        lock.lock();
    }
}

void QNFTPConnectionPool::close(std::vector<Connection> connections)
{
    if (connections.empty())
        return;
    closingQueue().addOperation([connections = std::move(connections)]() mutable {
        for (Connection &connection : connections)
            connection.close();
    });
}
