#pragma once

#include "App/QNServiceDiscovery.h"

#include <QList>
#include <QPointer>

// A discovery the test drives by hand: it records searches and resolve
// requests, and announces, withdraws and resolves services when told to.
class QNFakeServiceDiscovery : public QNServiceDiscovery {
    Q_OBJECT
public:
    // Makes every discovery the application creates from now on a fake.
    static void install();
    // The fakes made so far that still exist, oldest first.
    static QList<QNFakeServiceDiscovery *> instances();

    QNFakeServiceDiscovery();
    ~QNFakeServiceDiscovery() override;

    void searchForServices(const QString &type, const QString &domain) override;
    void stop() override { m_searching = false; }
    void resolve(const QNNetService &service, int timeoutMs) override;

    bool isSearching() const { return m_searching; }
    QString searchedType() const { return m_type; }
    struct ResolveRequest {
        QNNetService service;
        int timeoutMs;
    };
    QList<ResolveRequest> pendingResolves() const { return m_pending; }

    // A service of the searched type, as an announcement on interface 1.
    static QNNetService service(const QString &name, int protocol = 0, int interfaceIndex = 1);

    void announce(const QNNetService &service);
    void withdraw(const QNNetService &service);
    // Answers the oldest pending request for that announcement with an
    // address ("192.168.1.20", "fe80::1") and port.
    bool answerResolve(const QNNetService &service, const QString &address, quint16 port);
    bool failResolve(const QNNetService &service);

private:
    int takePending(const QNNetService &service);

    bool m_searching = false;
    QString m_type;
    QList<ResolveRequest> m_pending;
};
