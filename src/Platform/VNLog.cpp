#include "VNLog.h"

#include <QDateTime>
#include <QSet>
#include <cstdio>
#include <mutex>

namespace {

struct LogState {
    std::mutex mutex;
    QStringList captured;
    QSet<QString> secrets;
    bool capturing = false;
    bool quiet = !qgetenv("VARNELLO_QUIET_LOG").isEmpty();
};

LogState &state() {
    static LogState *s = new LogState;  // lives to the end, used from any thread
    return *s;
}

constexpr int kMinimumSecretLength = 4;  // shorter texts would mask ordinary words
constexpr int kCapturedLimit = 10000;

}  // namespace

namespace VNLog {

namespace {

QString maskedLocked(const LogState &s, const QString &line) {
    QString text = line;
    for (const QString &secret : std::as_const(s.secrets))
        text.replace(secret, QStringLiteral("********"));
    return text;
}

}  // namespace

QString masked(const QString &line) {
    LogState &s = state();
    std::lock_guard lock(s.mutex);
    return maskedLocked(s, line);
}

void log(const QString &line) {
    LogState &s = state();
    std::lock_guard lock(s.mutex);
    const QString text = maskedLocked(s, line);
    if (s.capturing) {
        if (s.captured.size() >= kCapturedLimit)
            s.captured.removeFirst();
        s.captured.append(text);
    }
    if (!s.quiet) {
        const QByteArray bytes = (QDateTime::currentDateTime().toString(Qt::ISODateWithMs) + QLatin1Char(' ') + text)
                                     .toLocal8Bit();
        std::fprintf(stderr, "%s\n", bytes.constData());
    }
}

void addSecret(const QString &secret) {
    if (secret.size() < kMinimumSecretLength)
        return;
    LogState &s = state();
    std::lock_guard lock(s.mutex);
    s.secrets.insert(secret);
}

void setCapturing(bool capturing) {
    LogState &s = state();
    std::lock_guard lock(s.mutex);
    s.capturing = capturing;
}

QStringList captured() {
    LogState &s = state();
    std::lock_guard lock(s.mutex);
    return s.captured;
}

void clearCaptured() {
    LogState &s = state();
    std::lock_guard lock(s.mutex);
    s.captured.clear();
}

void setQuiet(bool quiet) {
    LogState &s = state();
    std::lock_guard lock(s.mutex);
    s.quiet = quiet;
}

}  // namespace VNLog

// glibc serialises tzset() with a lock of its own that the thread sanitizer
// cannot see, so local-time conversions on two threads at once (log time
// stamps, file dates) would be reported as races inside libc.
#if defined(__SANITIZE_THREAD__)
#define VN_THREAD_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define VN_THREAD_SANITIZER 1
#endif
#endif
#ifdef VN_THREAD_SANITIZER
extern "C" const char *__tsan_default_suppressions() {
    return "race:tzset_internal\n";
}
#endif
