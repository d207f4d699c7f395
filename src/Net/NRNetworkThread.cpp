#include "Net/NRNetworkThread.h"

#include "Net/NRHTTPRequest.h"
#include "Platform/VNDispatch.h"

#include <QCoreApplication>

#include <chrono>
#include <optional>
#include <vector>

void NRNetworkThread::serveEventsUntil(const std::function<bool()> &done) {
    while (!done())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QCoreApplication::processEvents();  // what was handed over before done() held
}

NRNetworkThread &NRNetworkThread::shared() {
    // Lives to the end of the process, like the thread it runs.
    static NRNetworkThread *thread = new NRNetworkThread();
    return *thread;
}

NRNetworkThread::NRNetworkThread() {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    m_multi = curl_multi_init();
    // Plenty of kept-alive connections for requests running side by side.
    curl_multi_setopt(m_multi, CURLMOPT_MAXCONNECTS, 32L);
    m_thread = std::thread([this] { run(); });
    m_threadId = m_thread.get_id();
    m_thread.detach();
    // A request waiting for the loop or in flight answers on the main
    // thread soon.
    VNDispatch::setAnswerExpected([] {
        const NRNetworkThread &thread = shared();
        return thread.m_hasTasks.load(std::memory_order_relaxed) || thread.m_runningCount.load(std::memory_order_relaxed) > 0;
    });
}

bool NRNetworkThread::isCurrentThread() const {
    return std::this_thread::get_id() == m_threadId.load();
}

void NRNetworkThread::post(std::function<void()> task) {
    bool wake;
    {
        std::lock_guard lock(m_tasksMutex);
        m_tasks.push_back(std::move(task));
        m_hasTasks.store(true, std::memory_order_release);
        wake = m_sleeping;
        m_sleeping = false;
    }
    // The loop looks for tasks before it sleeps: only a loop that sleeps (or
    // has decided to) needs waking, and once.
    if (wake)
        curl_multi_wakeup(m_multi);
}

// The main thread often answers what it was handed with new work at once
// (the next request): with no transfer in flight the loop watches for it a
// moment before it sleeps, as the wake-up through the kernel costs more than
// the wait (and stops watching while the main thread does not answer so).
// With transfers in flight it sleeps on their sockets at once, as they need
// it.
bool NRNetworkThread::spinForWork() {
    if (!m_transfers.empty() || !m_otherTransfers.empty())
        return false;
    return m_answerWatch.watch([this] { return m_hasTasks.load(std::memory_order_acquire); });
}

void NRNetworkThread::afterHandOver(std::function<void()> work) {
    m_afterHandOver.push_back(std::move(work));
}

void NRNetworkThread::runAfterHandOver() {
    while (!m_afterHandOver.empty()) {
        auto work = std::move(m_afterHandOver);
        m_afterHandOver.clear();
        // What this work hands to the main thread goes before the work it
        // leaves for after its own hand-over.
        VNDispatch::MainBatch batch;
        for (auto &w : work)
            w();
    }
}

void NRNetworkThread::addTransfer(CURL *easy, std::shared_ptr<NRHTTPRequest> request) {
    m_transfers[easy] = std::move(request);
    curl_multi_add_handle(m_multi, easy);
    m_transferCount.store(static_cast<int>(m_transfers.size() + m_otherTransfers.size()));
}

void NRNetworkThread::addTransfer(CURL *easy, TransferDone done) {
    m_otherTransfers[easy] = std::move(done);
    curl_multi_add_handle(m_multi, easy);
    m_transferCount.store(static_cast<int>(m_transfers.size() + m_otherTransfers.size()));
}

void NRNetworkThread::removeTransfer(CURL *easy) {
    if (auto other = m_otherTransfers.find(easy); other != m_otherTransfers.end()) {
        curl_multi_remove_handle(m_multi, easy);
        auto keep = std::move(other->second);
        m_otherTransfers.erase(other);
        m_transferCount.store(static_cast<int>(m_transfers.size() + m_otherTransfers.size()));
        return;
    }
    auto it = m_transfers.find(easy);
    if (it == m_transfers.end())
        return;
    curl_multi_remove_handle(m_multi, easy);
    auto keep = std::move(it->second);  // released after the map no longer holds it
    m_transfers.erase(it);
    m_transferCount.store(static_cast<int>(m_transfers.size() + m_otherTransfers.size()));
}

CURL *NRNetworkThread::takeEasyHandle() {
    if (m_idleEasyHandles.empty() || !isCurrentThread())
        return curl_easy_init();
    CURL *easy = m_idleEasyHandles.back();
    m_idleEasyHandles.pop_back();
    return easy;
}

void NRNetworkThread::giveBackEasyHandle(CURL *easy) {
    if (!easy)
        return;
    if (!isCurrentThread() || int(m_idleEasyHandles.size()) >= keptEasyHandles) {
        curl_easy_cleanup(easy);
        return;
    }
    // Nothing of the last request stays: options (with the pointers into
    // that request) go back to libcurl's defaults.
    curl_easy_reset(easy);
    m_idleEasyHandles.push_back(easy);
    m_lastTransferSeen = std::chrono::steady_clock::now();
}

// Idle handles keep their buffers: they go when no transfer has run for a
// few seconds.
void NRNetworkThread::dropIdleEasyHandles(std::chrono::steady_clock::time_point now) {
    if (!m_transfers.empty() || !m_otherTransfers.empty()) {
        m_lastTransferSeen = now;
        return;
    }
    if (m_idleEasyHandles.empty() || now - m_lastTransferSeen < std::chrono::seconds(5))
        return;
    for (CURL *easy : m_idleEasyHandles)
        curl_easy_cleanup(easy);
    m_idleEasyHandles.clear();
}

void NRNetworkThread::postAfter(double seconds, std::function<void()> task) {
    const auto when = std::chrono::steady_clock::now() +
                      std::chrono::microseconds(qint64(std::max(0.0, seconds) * 1e6));
    post([this, when, task = std::move(task)]() mutable { m_timers.emplace(when, std::move(task)); });
}

void NRNetworkThread::enqueue(std::shared_ptr<NRHTTPRequest> request) {
    post([this, request = std::move(request)]() mutable {
        m_waiting.push_back(std::move(request));
        admit();
    });
}

void NRNetworkThread::releasePlace() {
    --m_running;
    m_runningCount.store(m_running);
    // Possibly inside a libcurl callback, where no transfer may be added:
    // the next request starts on the next turn of the loop.
    post([this] { admit(); });
}

void NRNetworkThread::admit() {
    while (m_running < maximumRunningRequests && !m_waiting.empty()) {
        auto request = std::move(m_waiting.front());
        m_waiting.pop_front();
        ++m_running;
        m_runningCount.store(m_running);
        request->startOnNetworkThread();
    }
}

void NRNetworkThread::addTicking(const std::shared_ptr<NRHTTPRequest> &request) {
    m_ticking[request.get()] = request;
}

void NRNetworkThread::removeTicking(const NRHTTPRequest *request) {
    m_ticking.erase(request);
}

void NRNetworkThread::run() {
    m_threadId.store(std::this_thread::get_id());
    using clock = std::chrono::steady_clock;
    auto nextTick = clock::now() + std::chrono::milliseconds(250);
    bool awaitingAnswer = false;  // the main thread was handed callbacks since the loop last slept
    // Swapped with the posted tasks each turn: the two queues keep their
    // room rather than a new one being made per turn.
    std::deque<std::function<void()>> tasks;
    for (;;) {
        // What this turn hands to the main thread goes at its end, in one
        // wake-up, when no request's lock is held any more.
        std::optional<VNDispatch::MainBatch> batch(std::in_place);
        {
            std::lock_guard lock(m_tasksMutex);
            tasks.swap(m_tasks);
            m_hasTasks.store(false, std::memory_order_relaxed);
        }
        for (auto &task : tasks)
            task();
        tasks.clear();
        while (!m_timers.empty() && m_timers.begin()->first <= clock::now()) {
            auto task = std::move(m_timers.begin()->second);
            m_timers.erase(m_timers.begin());
            task();
        }

        int running = 0;
        curl_multi_perform(m_multi, &running);
        int left = 0;
        while (CURLMsg *msg = curl_multi_info_read(m_multi, &left)) {
            if (msg->msg != CURLMSG_DONE)
                continue;
            if (auto other = m_otherTransfers.find(msg->easy_handle); other != m_otherTransfers.end()) {
                auto done = other->second;  // may remove the transfer
                done(msg->easy_handle, msg->data.result);
                continue;
            }
            auto it = m_transfers.find(msg->easy_handle);
            if (it == m_transfers.end())
                continue;
            std::shared_ptr<NRHTTPRequest> request = it->second;
            const CURLcode result = msg->data.result;
            request->transferDone(msg->easy_handle, result);
        }

        const auto now = clock::now();
        if (now >= nextTick) {
            nextTick = now + std::chrono::milliseconds(250);
            std::vector<std::shared_ptr<NRHTTPRequest>> ticking;
            for (auto it = m_ticking.begin(); it != m_ticking.end();) {
                if (auto r = it->second.lock()) {
                    ticking.push_back(std::move(r));
                    ++it;
                } else {
                    it = m_ticking.erase(it);  // released by its owner
                }
            }
            for (auto &r : ticking)
                r->statusTick();
            dropIdleEasyHandles(now);
        }
        // The turn's callbacks go to the main thread at its very end, when
        // no request's lock is held and nothing is left to do but sleep.
        awaitingAnswer |= VNDispatch::MainBatch::holdsBlocks();
        batch.reset();
        runAfterHandOver();
        bool pending;
        {
            std::lock_guard lock(m_tasksMutex);
            pending = !m_tasks.empty();
        }
        if (pending)
            continue;  // its own follow-ups first (the next request's turn)
        // Nothing left to do: after handing the main thread something, watch
        // for its answer a moment before sleeping.
        if (awaitingAnswer) {
            awaitingAnswer = false;
            if (spinForWork())
                continue;
        }
        {
            std::lock_guard lock(m_tasksMutex);
            pending = !m_tasks.empty();
            m_sleeping = !pending;
        }
        if (pending)
            continue;
        auto wakeAt = nextTick;
        if (!m_timers.empty())
            wakeAt = std::min(wakeAt, m_timers.begin()->first);
        const auto untilTick =
            std::chrono::duration_cast<std::chrono::milliseconds>(wakeAt - clock::now()).count();
        curl_multi_poll(m_multi, nullptr, 0, static_cast<int>(std::max<long long>(1, untilTick)), nullptr);
        std::lock_guard lock(m_tasksMutex);
        m_sleeping = false;
    }
}
