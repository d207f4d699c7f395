#pragma once

#include <QString>
#include <functional>

// Notices to the user (for example after share links were copied): through
// the desktop's notification service when one is running, else as a modal
// alert with the notice's text.
class QNNotificationCenter {
public:
    static QNNotificationCenter &shared();

    // Shows the notice. Answers true when the desktop service took it, false
    // when the alert was shown instead.
    bool deliverNotification(const QString &title, const QString &informativeText);

    // Whether notices are presented while the application is in front; the
    // application delegate answers yes for every notice.
    using PresentationPolicy = std::function<bool(const QString &title)>;
    void setPresentationPolicy(PresentationPolicy policy) { m_policy = std::move(policy); }

    // The desktop service, replaceable for tests: answers whether it showed
    // the notice.
    using Backend = std::function<bool(const QString &title, const QString &text)>;
    void setBackend(Backend backend) { m_backend = std::move(backend); }
    static bool desktopBackend(const QString &title, const QString &text);

private:
    QNNotificationCenter();
    Backend m_backend;
    PresentationPolicy m_policy;
};
