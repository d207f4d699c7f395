#include "Net/NRBandwidthThrottle.h"

#include <chrono>
#include <cmath>
#include <numeric>

namespace {
double steadySeconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}
}  // namespace

NRBandwidthThrottle &NRBandwidthThrottle::shared() {
    static auto *throttle = new NRBandwidthThrottle();
    return *throttle;
}

NRBandwidthThrottle::NRBandwidthThrottle(Clock clock) : m_clock(clock ? std::move(clock) : Clock(steadySeconds)) {}

void NRBandwidthThrottle::setClock(Clock clock) {
    std::lock_guard lock(m_mutex);
    m_clock = clock ? std::move(clock) : Clock(steadySeconds);
    m_measurementDate.reset();
    m_wakeUpTime.reset();
}

double NRBandwidthThrottle::now() const { return m_clock(); }

void NRBandwidthThrottle::setMaxBandwidthPerSecond(quint64 bytes) {
    std::lock_guard lock(m_mutex);
    m_maximum = bytes;
    if (bytes == 0)
        m_wakeUpTime.reset();
}

quint64 NRBandwidthThrottle::maxBandwidthPerSecond() const {
    std::lock_guard lock(m_mutex);
    return m_maximum;
}

bool NRBandwidthThrottle::isThrottled() const {
    std::lock_guard lock(m_mutex);
    return m_maximum > 0;
}

void NRBandwidthThrottle::incrementBandwidthUsedInLastSecond(quint64 bytes) {
    std::lock_guard lock(m_mutex);
    m_usedInLastSecond += bytes;
}

// Closes the current period (the lock is held by the caller).
void NRBandwidthThrottle::recordBandwidthUsage() {
    const double t0 = now();
    if (m_usedInLastSecond == 0) {
        m_tracker.clear();
    } else {
        double t = m_measurementDate ? *m_measurementDate - t0 : 0;
        while ((t < 0 || m_tracker.size() >= 6) && !m_tracker.empty()) {
            m_tracker.pop_front();
            t += 1;
        }
    }
    m_tracker.push_back(m_usedInLastSecond);
    m_measurementDate = t0 + 1;
    m_usedInLastSecond = 0;
}

quint64 NRBandwidthThrottle::averageBandwidthUsedPerSecond() {
    std::lock_guard lock(m_mutex);
    if (m_tracker.empty())
        return 0;
    return std::accumulate(m_tracker.begin(), m_tracker.end(), quint64(0)) / m_tracker.size();
}

void NRBandwidthThrottle::measureBandwidthUsage() {
    std::lock_guard lock(m_mutex);
    if (!m_measurementDate || *m_measurementDate < now())
        recordBandwidthUsage();
    if (m_maximum != 0 && qint64(m_maximum) - qint64(m_usedInLastSecond) < 0) {
        const double over = double(m_usedInLastSecond - m_maximum);
        m_wakeUpTime = *m_measurementDate + over / double(m_maximum);
    }
}

std::optional<double> NRBandwidthThrottle::wakeUpTime() const {
    std::lock_guard lock(m_mutex);
    return m_wakeUpTime;
}

bool NRBandwidthThrottle::mustWait() {
    measureBandwidthUsage();
    std::lock_guard lock(m_mutex);
    return m_maximum != 0 && m_wakeUpTime && *m_wakeUpTime > now();
}

quint64 NRBandwidthThrottle::maxUploadReadLength() {
    std::lock_guard lock(m_mutex);
    quint64 allowance = m_maximum / 4;
    if (m_maximum != 0 && m_usedInLastSecond + allowance > m_maximum)
        allowance = m_usedInLastSecond >= m_maximum ? 0 : m_maximum - m_usedInLastSecond;
    if (allowance == 0 || !m_measurementDate || *m_measurementDate < now())
        m_wakeUpTime = m_measurementDate;
    return allowance;
}

quint64 NRBandwidthThrottle::maxReadLength(quint64 wanted) {
    std::lock_guard lock(m_mutex);
    if (m_maximum == 0)
        return wanted;
    if (m_usedInLastSecond >= m_maximum)
        return 1;
    return std::max<quint64>(1, std::min(wanted, (m_maximum - m_usedInLastSecond) / 4));
}
