#include "DA/HTTPFetcher/HFInputStream.h"

#include <cstring>
#include <mutex>

qint64 HFDataInputStream::read(char *buffer, qint64 maxLength) {
    const qint64 n = std::min(maxLength, qint64(m_data.size()) - m_offset);
    if (n <= 0) {
        m_status = AtEnd;
        return 0;
    }
    std::memcpy(buffer, m_data.constData() + m_offset, size_t(n));
    m_offset += n;
    m_status = Reading;
    return n;
}

namespace HFStreamMonitor {
namespace {
std::mutex g_mutex;
Factory g_factory;
}  // namespace

void setFactory(Factory factory) {
    std::lock_guard lock(g_mutex);
    g_factory = std::move(factory);
}

Factory factory() {
    std::lock_guard lock(g_mutex);
    return g_factory;
}
}  // namespace HFStreamMonitor
