#include "App/QNNetService.h"

#include <arpa/inet.h>
#include <cstring>
#include <netinet/in.h>

QByteArray QNNetService::socketAddress(const QString &address, quint16 port, int scopeInterface) {
    const QByteArray text = address.toLatin1();
    sockaddr_in v4{};
    if (inet_pton(AF_INET, text.constData(), &v4.sin_addr) == 1) {
        v4.sin_family = AF_INET;
        v4.sin_port = htons(port);
        return QByteArray(reinterpret_cast<const char *>(&v4), sizeof v4);
    }
    sockaddr_in6 v6{};
    if (inet_pton(AF_INET6, text.constData(), &v6.sin6_addr) == 1) {
        v6.sin6_family = AF_INET6;
        v6.sin6_port = htons(port);
        v6.sin6_scope_id = IN6_IS_ADDR_LINKLOCAL(&v6.sin6_addr) && scopeInterface > 0 ? uint32_t(scopeInterface) : 0;
        return QByteArray(reinterpret_cast<const char *>(&v6), sizeof v6);
    }
    return {};
}
