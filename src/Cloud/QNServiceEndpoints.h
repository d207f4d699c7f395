#pragma once

#include <QString>

// The hosts of the online services the drive handlers sign in to, in one
// place. A test sends every service host to one local server (its fake)
// instead: then base() answers "https://HOST:PORT" of that server for any
// host.
class QNServiceEndpoints {
public:
    // Office 365: the sign-in service, the Office apps service, the host of
    // the fixed forward link in token requests, and the two service domains
    // tokens are asked for.
    static QString office365SignInHost();       // "login.microsoftonline.com"
    static QString office365OfficeAppsHost();   // "odc.officeapps.live.com"
    static QString office365ForwardLinkHost();  // "go.microsoft.com"
    static QString office365SharePointDomain(); // "sharepoint.com"
    static QString office365OfficeAppsDomain(); // "officeapps.live.com"

    // SugarSync: the API host of every request.
    static QString sugarSyncAPIHost();          // "api.sugarsync.com"

    // "https://" + host, or the test server's base URL.
    static QString base(const QString &host);

    // Test seam: every host to https://host:port (an empty host restores the
    // real services).
    static void setOverrideForTesting(const QString &host, int port);
};
