#pragma once

#include <QtGlobal>

#include <deque>
#include <functional>
#include <mutex>
#include <optional>

// The process-wide bandwidth budget of every request: bytes read from
// replies and bytes read from request bodies count against one maximum per
// second. Periods of one second are measured as they end; the average of
// the last (at most 6) periods is kept. Overspending sets a wake-up time
// until which throttled transfers wait (paused in libcurl, never spinning).
//
// Every call is made under one lock; the clock is injectable for tests.
class NRBandwidthThrottle {
public:
    using Clock = std::function<double()>;  // seconds, monotonic

    static NRBandwidthThrottle &shared();
    explicit NRBandwidthThrottle(Clock clock = {});

    void setClock(Clock clock);
    // 0: no throttling.
    void setMaxBandwidthPerSecond(quint64 bytes);
    quint64 maxBandwidthPerSecond() const;
    bool isThrottled() const;

    void incrementBandwidthUsedInLastSecond(quint64 bytes);
    quint64 averageBandwidthUsedPerSecond();
    // Closes the period when it is over; sets the wake-up time when the
    // budget is overspent.
    void measureBandwidthUsage();
    // Seconds (on the clock) until which throttled transfers wait; none when
    // they may go on.
    std::optional<double> wakeUpTime() const;
    // Whether a throttled transfer must wait now (measures first).
    bool mustWait();
    // How many body bytes a request may read now: a quarter of the budget,
    // cut to what is left of it (0 when it is spent).
    quint64 maxUploadReadLength();
    // How many reply bytes a read may take now, out of `wanted`: a quarter of
    // what is left, 1 when it is spent; never below 1.
    quint64 maxReadLength(quint64 wanted);
    double now() const;

private:
    void recordBandwidthUsage();

    mutable std::mutex m_mutex;
    Clock m_clock;
    quint64 m_maximum = 0;
    quint64 m_usedInLastSecond = 0;
    std::optional<double> m_measurementDate;  // end of the current period
    std::optional<double> m_wakeUpTime;
    std::deque<quint64> m_tracker;
};
