#pragma once

#include "Platform/VNAnswerWatch.h"

#include <curl/curl.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class NRHTTPRequest;

// The one thread on which every request's network work runs: a loop of its
// own around libcurl's multi interface. Transfers of all requests share the
// multi handle (and so its connection cache); work from other threads is
// posted and wakes the loop. Every 0.25 s the loop gives each running
// request its status tick (time-outs, upload progress).
class NRNetworkThread {
public:
    static NRNetworkThread &shared();

    // Runs the task on the network thread, later (never inline).
    void post(std::function<void()> task);
    // Runs the task on the network thread after the delay.
    void postAfter(double seconds, std::function<void()> task);
    bool isCurrentThread() const;
    // Network thread only: runs the work at the end of this turn of the
    // loop, once what the turn gave the main thread has gone there (a
    // request is marked finished after its last callbacks are on their way,
    // and without holding the main thread back on a lock the turn holds).
    void afterHandOver(std::function<void()> work);

    // Network thread only: the transfers in flight and the ticking requests.
    void addTransfer(CURL *easy, std::shared_ptr<NRHTTPRequest> request);
    // A transfer of another client of the loop (the data-API fetchers): the
    // callback runs here when libcurl is done with it; the client then
    // removes it.
    using TransferDone = std::function<void(CURL *easy, CURLcode result)>;
    void addTransfer(CURL *easy, TransferDone done);
    void removeTransfer(CURL *easy);
    void addTicking(const std::shared_ptr<NRHTTPRequest> &request);
    // Easy handles of ended transfers wait for the next ones (libcurl then
    // sets up a handle and its buffers once, not per request): a few are
    // kept, and none once the loop has had no transfer for a while. A handle
    // comes back reset to libcurl's defaults.
    CURL *takeEasyHandle();
    void giveBackEasyHandle(CURL *easy);
    static constexpr int keptEasyHandles = 4;
    void removeTicking(const NRHTTPRequest *request);

    // The shared queue: requests wait here and start in the order given, at
    // most maximumRunningRequests at a time; a finished request releases its
    // place. Both run on the network thread (enqueue posts itself there).
    static constexpr int maximumRunningRequests = 4;
    void enqueue(std::shared_ptr<NRHTTPRequest> request);
    void releasePlace();
    int runningRequests() const { return m_runningCount.load(); }

    // Serves the calling thread's events (the main thread's) until done()
    // holds, then once more: a request hands its last callbacks to the main
    // thread before it is marked finished, so those run before this returns.
    static void serveEventsUntil(const std::function<bool()> &done);

    // The number of transfers in flight (for tests).
    int transferCount() const { return m_transferCount.load(); }

private:
    NRNetworkThread();
    void run();
    void runAfterHandOver();

    CURLM *m_multi = nullptr;
    std::thread m_thread;
    // Set by the thread itself as well, so that its first tasks know it.
    std::atomic<std::thread::id> m_threadId;
    std::mutex m_tasksMutex;
    std::deque<std::function<void()>> m_tasks;
    bool m_sleeping = false;  // the loop waits in libcurl: a post wakes it (m_tasksMutex)
    std::atomic<bool> m_hasTasks{false};  // m_tasks is not empty, seen without the lock
    bool spinForWork();
    VNAnswerWatch m_answerWatch{std::chrono::microseconds(200)};
    std::vector<std::function<void()>> m_afterHandOver;
    std::multimap<std::chrono::steady_clock::time_point, std::function<void()>> m_timers;
    std::map<CURL *, std::shared_ptr<NRHTTPRequest>> m_transfers;
    std::map<CURL *, TransferDone> m_otherTransfers;
    std::map<const NRHTTPRequest *, std::weak_ptr<NRHTTPRequest>> m_ticking;
    std::atomic<int> m_transferCount{0};
    std::vector<CURL *> m_idleEasyHandles;
    std::chrono::steady_clock::time_point m_lastTransferSeen;
    void dropIdleEasyHandles(std::chrono::steady_clock::time_point now);
    std::deque<std::shared_ptr<NRHTTPRequest>> m_waiting;
    int m_running = 0;
    std::atomic<int> m_runningCount{0};
    void admit();
};
