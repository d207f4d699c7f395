#include "VNAnswerWatch.h"

std::chrono::microseconds VNAnswerWatch::nextWatch() {
    if (m_misses < missesBeforeResting)
        return m_longest;
    if (++m_skipped < chancesPerTrial)
        return std::chrono::microseconds(0);
    m_skipped = 0;
    return m_longest;
}

void VNAnswerWatch::record(bool answered) {
    if (answered)
        m_misses = 0;
    else if (m_misses < missesBeforeResting)
        ++m_misses;
}
