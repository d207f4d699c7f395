#include "DA/Service/DAAuthenticationFetcher.h"

#include "DA/BaseClasses/DAUtilities.h"

std::shared_ptr<HFHTTPFetcher> DAAuthenticationFetcher::authTokenFetcher(const QString &username, const QString &password,
                                                                         const QString &service, const QString &source,
                                                                         const QString &signInDomain, const QString &accountType,
                                                                         const Parameters &additionalParameters,
                                                                         const Parameters &customHeaders) {
    if (username.isEmpty() || password.isEmpty())
        return nullptr;
    using DAUtilities::stringByURLEncodingForURI;
    const QString host = signInDomain.isEmpty() ? defaultSignInDomain() : signInDomain;
    const QString scheme = host.startsWith(QLatin1String("localhost:")) ? QStringLiteral("http") : QStringLiteral("https");
    HFURLRequest request(QUrl(QStringLiteral("%1://%2/accounts/ClientLogin").arg(scheme, host)), 60.0);
    request.setCachePolicy(HFURLRequest::ReloadIgnoringLocalCacheData);
    for (const auto &[name, value] : customHeaders)
        request.setValue(value, name);
    QString body = QStringLiteral("Email=%1&Passwd=%2&source=%3&service=%4&accountType=%5")
                       .arg(stringByURLEncodingForURI(username), stringByURLEncodingForURI(password),
                            stringByURLEncodingForURI(source), stringByURLEncodingForURI(service),
                            stringByURLEncodingForURI(accountType.isNull() ? QStringLiteral("HOSTED_OR_GOOGLE") : accountType));
    for (const auto &[key, value] : additionalParameters)
        body += QStringLiteral("&%1=%2").arg(key, stringByURLEncodingForURI(value));
    auto fetcher = HFHTTPFetcher::fetcherWithRequest(request);
    fetcher->setPostData(body.toUtf8());
    fetcher->setCredential(HFCredential{username, password});
    fetcher->setRetryEnabled(true);
    return fetcher;
}
