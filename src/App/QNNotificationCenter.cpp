#include "App/QNNotificationCenter.h"

#include "App/QNDialogService.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusReply>
#include <QGuiApplication>

QNNotificationCenter &QNNotificationCenter::shared() {
    static QNNotificationCenter center;
    return center;
}

QNNotificationCenter::QNNotificationCenter() : m_backend(&QNNotificationCenter::desktopBackend) {}

bool QNNotificationCenter::desktopBackend(const QString &title, const QString &text) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface())
        return false;
    const QString service = QStringLiteral("org.freedesktop.Notifications");
    if (!bus.interface()->isServiceRegistered(service).value())
        return false;
    QDBusInterface notifications(service, QStringLiteral("/org/freedesktop/Notifications"), service, bus);
    QDBusReply<uint> reply = notifications.call(QStringLiteral("Notify"), QStringLiteral("Varnello"), uint(0),
                                                QString(), title, text, QStringList(), QVariantMap(), int(-1));
    return reply.isValid();
}

bool QNNotificationCenter::deliverNotification(const QString &title, const QString &informativeText) {
    // While we are in front the desktop may hold notices back; the policy
    // says whether ours still go out (they do).
    const bool inFront = QGuiApplication::applicationState() == Qt::ApplicationActive;
    const bool present = !inFront || !m_policy || m_policy(title);
    if (present && m_backend && m_backend(title, informativeText))
        return true;
    QNAlert alert;
    alert.messageText = title;
    alert.informativeText = informativeText;
    alert.buttons = {QStringLiteral("OK")};
    alert.style = QNAlert::Informational;
    QNDialogService::shared().runModal(alert);
    return false;
}
