// The bandwidth budget in a transfer: reply pieces and body reads are cut to
// what the budget allows, and the transfer pauses in libcurl (never spins)
// until it may go on.

#include "Net/NRHTTPRequest.h"
#include "Net/NRHTTPRequestInternal.h"

#include "Net/NRBandwidthThrottle.h"
#include "Net/NRNetworkThread.h"

#include <algorithm>

#include <curl/curl.h>

using namespace NRHTTPRequestInternal;

// A reply piece from libcurl. Under a budget only a part of it may be read
// now: that part is taken and the transfer pauses; libcurl keeps the piece
// and hands it over again from its start when resumed, so what was taken
// already is skipped then.
size_t NRHTTPRequest::takeReplyPiece(const char *data, size_t length) {
    if (length == 0 || m_abortTransfer || m_complete) {
        m_inCurlCallback = true;
        const size_t result = handleBytesAvailable(data, length);
        m_inCurlCallback = false;
        return result;
    }
    const size_t skip = std::min(m_replyBytesTaken, length);
    m_replyBytesTaken -= skip;
    if (skip == length)
        return length;
    const size_t allowed = allowedReplyBytes(length - skip);
    if (allowed == 0) {
        m_replyBytesTaken = skip;
        return CURL_WRITEFUNC_PAUSE;  // given again, whole, when resumed
    }
    m_inCurlCallback = true;
    const size_t taken = handleBytesAvailable(data + skip, allowed);
    m_inCurlCallback = false;
    if (taken != allowed)
        return 0;  // the request failed
    if (skip + allowed == length)
        return length;
    m_replyBytesTaken = skip + allowed;
    pauseForBandwidth(CURLPAUSE_RECV, true);
    return CURL_WRITEFUNC_PAUSE;
}

// How many bytes of a reply piece may be read now, counted against the
// budget (and counted with no budget set too, so that the average bandwidth
// used is known); 0 when the transfer must wait (it has paused).
size_t NRHTTPRequest::allowedReplyBytes(size_t length) {
    NRBandwidthThrottle &throttle = NRBandwidthThrottle::shared();
    if (!throttle.isThrottled()) {
        throttle.incrementBandwidthUsedInLastSecond(length);
        throttle.measureBandwidthUsage();
        return length;
    }
    if (throttle.mustWait()) {
        pauseForBandwidth(CURLPAUSE_RECV);
        return 0;
    }
    const size_t allowed = size_t(throttle.maxReadLength(length));
    throttle.incrementBandwidthUsedInLastSecond(allowed);
    return allowed;
}

// Body bytes count once, when read here (the bytes reported written later
// are the same bytes).
qint64 NRHTTPRequest::throttleBodyRead(qint64 wanted) {
    NRBandwidthThrottle &throttle = NRBandwidthThrottle::shared();
    if (!throttle.isThrottled())
        return wanted;
    if (throttle.mustWait()) {
        pauseForBandwidth(CURLPAUSE_SEND);
        return 0;
    }
    const quint64 allowance = throttle.maxUploadReadLength();
    if (allowance == 0) {
        pauseForBandwidth(CURLPAUSE_SEND);
        return 0;
    }
    return std::min<qint64>(wanted, qint64(allowance));
}

// Resumes at the wake-up time, or at once when only a read was cut (the
// rest of the budget is read in further cuts).
void NRHTTPRequest::pauseForBandwidth(int direction, bool resumeAtOnce) {
    m_pausedForBandwidth |= direction;
    m_lastActivity.start();  // waiting for the budget is no idleness
    std::weak_ptr<NRHTTPRequest> weak = sharedSelf();
    CURL *easy = m_easy;
    const auto resume = [weak, easy] {
        if (auto r = weak.lock())
            r->resumeAfterThrottle(easy);
    };
    if (resumeAtOnce) {
        NRNetworkThread::shared().post(resume);
        return;
    }
    NRBandwidthThrottle &throttle = NRBandwidthThrottle::shared();
    const std::optional<double> wake = throttle.wakeUpTime();
    const double wait = std::clamp(wake ? *wake - throttle.now() : 0.05, 0.01, 2.0);
    NRNetworkThread::shared().postAfter(wait, resume);
}

void NRHTTPRequest::resumeAfterThrottle(CURL *easy) {
    LOCKED;
    if (easy != m_easy || !m_easy || !m_pausedForBandwidth)
        return;
    m_pausedForBandwidth = 0;
    m_lastActivity.start();
    curl_easy_pause(m_easy, CURLPAUSE_CONT);
}
