#pragma once

#include <QDateTime>
#include <functional>

class QThread;
class VNOperationQueue;

// Where the fetchers' callbacks run: the thread that began a fetch (its Qt
// event loop; the main thread through the main queue) or an operation
// queue. Also the clock the fetch history and the retry timers read, which
// tests may replace.
class HFRunLoop {
public:
    // The current thread's place to post to.
    static HFRunLoop current();
    static HFRunLoop onQueue(VNOperationQueue *queue);
    static HFRunLoop main();

    bool isValid() const { return m_thread || m_queue; }
    bool isCurrent() const;
    QThread *thread() const { return m_thread; }
    VNOperationQueue *queue() const { return m_queue; }
    bool operator==(const HFRunLoop &o) const { return m_thread == o.m_thread && m_queue == o.m_queue; }

    // Runs the work there later, in the order posted.
    void post(std::function<void()> work) const;
    // Runs the work there after the given seconds (scaled by the timer scale).
    void postAfter(double seconds, std::function<void()> work) const;

    // The clock: now, unless a test set another.
    static QDateTime now();
    static void setNowForTesting(std::function<QDateTime()> now);
    // Timers wait seconds x scale (tests make back-off waits short).
    static void setTimerScaleForTesting(double scale);

private:
    QThread *m_thread = nullptr;
    VNOperationQueue *m_queue = nullptr;
};
