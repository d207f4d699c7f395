#include "Cloud/QNServiceEndpoints.h"

#include <mutex>

namespace {

std::mutex g_mutex;
QString g_overrideHost;
int g_overridePort = 0;

}  // namespace

QString QNServiceEndpoints::office365SignInHost() {
    return QStringLiteral("login.microsoftonline.com");
}

QString QNServiceEndpoints::office365OfficeAppsHost() {
    return QStringLiteral("odc.officeapps.live.com");
}

QString QNServiceEndpoints::office365ForwardLinkHost() {
    return QStringLiteral("go.microsoft.com");
}

QString QNServiceEndpoints::office365SharePointDomain() {
    return QStringLiteral("sharepoint.com");
}

QString QNServiceEndpoints::office365OfficeAppsDomain() {
    return QStringLiteral("officeapps.live.com");
}

QString QNServiceEndpoints::sugarSyncAPIHost() {
    return QStringLiteral("api.sugarsync.com");
}

QString QNServiceEndpoints::base(const QString &host) {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (!g_overrideHost.isEmpty())
        return QStringLiteral("https://%1:%2").arg(g_overrideHost).arg(g_overridePort);
    return QStringLiteral("https://") + host;
}

void QNServiceEndpoints::setOverrideForTesting(const QString &host, int port) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_overrideHost = host;
    g_overridePort = port;
}
