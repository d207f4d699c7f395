#include "Cloud/QNOffice365Handler.h"

#include "Cloud/QNOffice365SignIn.h"
#include "Cloud/QNServiceEndpoints.h"
#include "Core/QNCloudInterfaceFactory.h"
#include "Formats/DXJsonExtensions.h"
#include "Formats/XTDocument.h"
#include "Net/NRHTTPRequest.h"
#include "Platform/VNLog.h"

#include <QUrl>

namespace SignIn = QNOffice365SignIn;

namespace {

XTNamespaceMappings soapMappings() {
    return {{QStringLiteral("wsse"), QLatin1String(SignIn::kSecurityNS)},
            {QStringLiteral("S"), QLatin1String(SignIn::kSoapNS)},
            {QStringLiteral("psf"), QLatin1String(SignIn::kFaultNS)},
            {QStringLiteral("saml"), QLatin1String(SignIn::kSamlNS)}};
}

// The text of the first node an XPath finds; null when none.
QString firstText(const XTDocumentPtr &document, const QString &xpath, const XTNamespaceMappings &mappings) {
    VNErrorPtr error;
    const XTNodeList nodes = document->nodesForXPath(xpath, mappings, &error);
    return nodes.isEmpty() ? QString() : nodes.first()->stringValue();
}

// Parses a step's XML answer; on failure logs it and hands the parser's error over.
XTDocumentPtr parseAnswer(const QByteArray &reply, VNErrorPtr *error) {
    const XTDocumentPtr document = XTDocument::initWithData(reply, error);
    if (!document)
        VNLog::log(QStringLiteral("O365 xml error: %1").arg(*error ? (*error)->localizedDescription() : QString()));
    return document;
}

QString libraryUrl(const QString &site) {
    QString url = site;
    if (!url.endsWith(QLatin1Char('/')))
        url += QLatin1Char('/');
    return url + QStringLiteral("Documents");
}

// The drive url a site becomes: the library of that site.
QString libraryAddress(const QString &site) {
    return QUrl(libraryUrl(site)).toString(QUrl::FullyEncoded);
}

QString cookieEndpoint(const QString &hostUrl) {
    return hostUrl + QStringLiteral("_vti_bin/idcrl.svc/");
}

bool isHttps(const QUrl &url) {
    return url.isValid() && !url.host().isEmpty() &&
           url.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0;
}

bool sameOrigin(const QUrl &a, const QUrl &b) {
    const auto port = [](const QUrl &url) {
        return url.port(url.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0 ? 443 : 80);
    };
    return a.isValid() && b.isValid() && a.scheme().compare(b.scheme(), Qt::CaseInsensitive) == 0 &&
           a.host().compare(b.host(), Qt::CaseInsensitive) == 0 && port(a) == port(b);
}

}  // namespace

QNOffice365Handler::QNOffice365Handler(QNDriveConfigPtr driveConfig)
    : m_originalDriveConfig(driveConfig) {
    // A working copy: sign-in points its url at the document library while
    // the drive list keeps the address the user entered.
    if (driveConfig)
        setDriveConfig(driveConfig->copyThroughArchive());
}

QNOffice365Handler::~QNOffice365Handler() = default;

QString QNOffice365Handler::className() const {
    return QStringLiteral("QNOffice365Handler");
}

QString QNOffice365Handler::errorDomain() {
    return QStringLiteral("QNOffice365Handler");
}

VNErrorPtr QNOffice365Handler::errorFromDomain(const QString &domain, const QString &message) {
    return std::make_shared<VNError>(
        domain, 0, QVariantMap{{VNError::localizedDescriptionKey(), message}, {QStringLiteral("error"), message}});
}

void QNOffice365Handler::registerWithFactory() {
    QNCloudInterfaceFactory::registerHandler(QNCloudInterfaceFactory::Kind::Office365,
                                             [](const QNDriveConfigPtr &config) -> QNCloudInterfacePtr {
                                                 return std::make_shared<QNOffice365Handler>(config);
                                             });
}

QNDriveConfigPtr QNOffice365Handler::originalDriveConfig() const {
    return m_originalDriveConfig;
}

QString QNOffice365Handler::cacheKey() const {
    // The user and the site address entered: never the password.
    const auto config = m_originalDriveConfig;
    return config ? config->username() + QLatin1Char('\n') + config->url() : QString();
}

void QNOffice365Handler::useSite(const QString &site) {
    if (auto config = driveConfig())
        config->setUrl(libraryAddress(site));
}

VNErrorPtr QNOffice365Handler::siteRefusal(const QString &hostUrl, const QString &siteUrl) {
    // The SharePoint token goes to the cookie endpoint, and the cookie it
    // buys to the library: both only over HTTPS, and the library only on
    // the origin that issued the cookie, whatever the answer names.
    const QUrl endpoint(cookieEndpoint(hostUrl));
    if (!isHttps(endpoint))
        return errorFromDomain(errorDomain(),
                               QStringLiteral("Refused the SharePoint host %1: it is not an HTTPS address").arg(hostUrl));
    if (!sameOrigin(urlByAppendingPath(libraryAddress(siteUrl), QStringLiteral("/")), endpoint))
        return errorFromDomain(errorDomain(),
                               QStringLiteral("Refused the personal site %1: it is not on the SharePoint host %2")
                                   .arg(siteUrl, hostUrl));
    return nullptr;
}

// --- Operations -------------------------------------------------------------------

void QNOffice365Handler::login(QNLoginCallback completed) {
    // A login checks the password the drive holds now: the cached sign-in
    // (keyed by user and site) says nothing about a password just typed.
    auto self = std::static_pointer_cast<QNOffice365Handler>(shared_from_this());
    signIn([self, completed](bool success, bool cancelled, VNErrorPtr error, QString, QString) {
        if (success && !cancelled && self->m_originalDriveConfig)
            self->m_originalDriveConfig->setDescription(
                QStringLiteral("SHOW DOCUMENTS ON THIS OFFICE 365 SKYDRIVE PRO ACCOUNT"));
        completed(success, error, cancelled);
    });
}

void QNOffice365Handler::cancel() {
    QNWebDAVHandler::cancel();
}

QString QNOffice365Handler::requestDriveConfig() const {
    const auto config = driveConfig();
    return config ? QUrl(config->url()).toString(QUrl::FullyEncoded) : QString();
}

QString QNOffice365Handler::formsPath() const {
    QString base = requestDriveConfig();
    if (!base.endsWith(QLatin1Char('/')))
        base += QLatin1Char('/');
    return base + QStringLiteral("Forms/");
}

void QNOffice365Handler::authorizeRequestForPath(const QString &path, AuthorizeCallback completion) {
    auto self = std::static_pointer_cast<QNOffice365Handler>(shared_from_this());
    refreshCookie([self, path, completion](bool success, bool cancelled, VNErrorPtr, QString, QString cookie) {
        if (cookie.isEmpty()) {
            completion(false, cancelled,
                       errorFromDomain(errorDomain(), QStringLiteral("Authentication did not create cookie")),
                       nullptr);
            return;
        }
        const auto config = self->driveConfig();
        auto request = NRHTTPRequest::requestWithURL(urlByAppendingPath(config ? config->url() : QString(), path));
        request->setShouldAttemptPersistentConnection(false);
        request->setUseCookiePersistence(false);
        request->addRequestHeader(QStringLiteral("Cookie"), cookie);
        completion(success, cancelled, nullptr, request);
    });
}

bool QNOffice365Handler::authorizationRefused() {
    // A cached cookie the site no longer takes: forget it and sign in once more.
    if (!m_usedCachedCookie || m_retriedRefusedCookie)
        return false;
    m_retriedRefusedCookie = true;
    SignIn::drop(cacheKey());
    return true;
}

// --- Sign-in ----------------------------------------------------------------------

void QNOffice365Handler::refreshCookie(SignInCallback completion) {
    if (const auto entry = SignIn::cached(cacheKey(), SignIn::now())) {
        m_usedCachedCookie = true;
        useSite(entry->site);
        completion(true, false, nullptr, entry->token, entry->cookie);
        return;
    }
    signIn(std::move(completion));
}

void QNOffice365Handler::signIn(SignInCallback completion) {
    m_usedCachedCookie = false;
    requestRealm(std::move(completion));
}

void QNOffice365Handler::startStep(const NRHTTPRequestPtr &request, SignInCallback completion,
                                   std::function<void(NRHTTPRequest &)> done) {
    setCurrentRequest(request);
    if (isCancelled()) {
        completion(false, true, nullptr, QString(), QString());
        return;
    }
    // The sign-in chain carries the password and the tokens: it always
    // checks the hosts' certificates, whatever the drive's switch says for
    // its own file requests.
    request->setValidatesSecureCertificate(true);
    auto answered = std::make_shared<bool>(false);
    std::weak_ptr<NRHTTPRequest> weak = request;
    auto finish = [completion, done, answered, weak]() {
        auto req = weak.lock();
        if (*answered || !req)
            return;
        *answered = true;
        if (req->isCancelled() || req->error()) {
            // A cancelled step hands on the engine's cancel error with the flag.
            completion(false, req->isCancelled(), req->error(), QString(), QString());
            return;
        }
        done(*req);
    };
    request->setCompletionBlock(finish);
    request->setFailedBlock(finish);
    request->startAsynchronous();
}

void QNOffice365Handler::requestRealm(SignInCallback completion) {
    const auto config = driveConfig();
    const QString user = config ? config->username() : QString();
    const QString url = QNServiceEndpoints::base(QNServiceEndpoints::office365SignInHost()) +
                        QStringLiteral("/GetUserRealm.srf?login=%1&handler=1")
                            .arg(QString::fromLatin1(QUrl::toPercentEncoding(user)));
    auto self = std::static_pointer_cast<QNOffice365Handler>(shared_from_this());
    startStep(NRHTTPRequest::requestWithURL(QUrl(url, QUrl::StrictMode)), completion,
              [self, completion](NRHTTPRequest &request) {
                  const DXJsonValue realm = JSONValue(request.responseData());
                  const QString authUrl = realm["AuthURL"].toString();
                  if (!authUrl.isEmpty()) {
                      self->requestFederationToken(QUrl(authUrl).host(), completion);
                      return;
                  }
                  const auto config = self->driveConfig();
                  self->requestTokens(SignIn::userNameFragment(config ? config->username() : QString(),
                                                               config ? config->password() : QString(),
                                                               SignIn::now()),
                                      completion);
              });
}

void QNOffice365Handler::requestFederationToken(const QString &authHost, SignInCallback completion) {
    const auto config = driveConfig();
    const QString url = QNServiceEndpoints::base(authHost) + QStringLiteral("/adfs/services/trust/2005/usernamemixed");
    auto request = NRHTTPRequest::requestWithURL(QUrl(url));
    request->addRequestHeader(QStringLiteral("Content-Type"), QStringLiteral("application/soap+xml; charset=utf-8"));
    request->addRequestHeader(QStringLiteral("Accept"), QStringLiteral("application/json"));
    request->appendPostData(SignIn::federationEnvelope(url, config ? config->username() : QString(),
                                                       config ? config->password() : QString(), SignIn::now()));
    auto self = std::static_pointer_cast<QNOffice365Handler>(shared_from_this());
    startStep(request, completion, [self, completion](NRHTTPRequest &request) {
        VNErrorPtr error;
        const XTDocumentPtr answer = parseAnswer(request.responseData(), &error);
        if (!answer) {
            completion(false, request.isCancelled(), error, QString(), QString());
            return;
        }
        const auto mappings = soapMappings();
        const XTNodeList assertions = answer->nodesForXPath(QStringLiteral("//saml:Assertion"), mappings, &error);
        const QString sText = firstText(answer, QStringLiteral("//S:Text[1]"), mappings);
        const QString psfCode = firstText(answer, QStringLiteral("//psf:code[1]"), mappings);
        const QString psfText = firstText(answer, QStringLiteral("//psf:text[1]"), mappings);
        if (psfCode.isNull() && sText.isNull() && !assertions.isEmpty()) {
            self->requestTokens(assertions.first()->XMLString(), completion);
            return;
        }
        completion(false, request.isCancelled(),
                   errorFromDomain(errorDomain(), SignIn::faultMessage(sText, psfText, psfCode)), QString(), QString());
    });
}

void QNOffice365Handler::requestTokens(const QString &securityText, SignInCallback completion) {
    const QString url = QNServiceEndpoints::base(QNServiceEndpoints::office365SignInHost()) + QStringLiteral("/rst2.srf");
    auto request = NRHTTPRequest::requestWithURL(QUrl(url));
    request->addRequestHeader(QStringLiteral("Content-Type"), QStringLiteral("application/soap+xml; charset=utf-8"));
    request->addRequestHeader(QStringLiteral("Accept"), QStringLiteral("application/json"));
    request->appendPostData(SignIn::tokenEnvelope(securityText));
    auto self = std::static_pointer_cast<QNOffice365Handler>(shared_from_this());
    startStep(request, completion, [self, completion](NRHTTPRequest &request) {
        VNErrorPtr error;
        const XTDocumentPtr answer = parseAnswer(request.responseData(), &error);
        if (!answer) {
            completion(false, request.isCancelled(), error, QString(), QString());
            return;
        }
        const auto mappings = soapMappings();
        const QString sharePoint = firstText(answer, QStringLiteral("//wsse:BinarySecurityToken[@Id='Compact0']"), mappings);
        const QString office = firstText(answer, QStringLiteral("//wsse:BinarySecurityToken[@Id='Compact1']"), mappings);
        const QString sText = firstText(answer, QStringLiteral("//S:Text[1]"), mappings);
        const QString psfCode = firstText(answer, QStringLiteral("//psf:code[1]"), mappings);
        const QString psfText = firstText(answer, QStringLiteral("//psf:text[1]"), mappings);
        if (psfCode.isNull() && sText.isNull() && !sharePoint.isNull() && !office.isNull()) {
            self->requestUserConnected(sharePoint, office, completion);
            return;
        }
        completion(false, request.isCancelled(),
                   errorFromDomain(errorDomain(), SignIn::faultMessage(sText, psfText, psfCode)), QString(), QString());
    });
}

void QNOffice365Handler::requestUserConnected(const QString &sharePointToken, const QString &officeToken,
                                              SignInCallback completion) {
    const QString url = QNServiceEndpoints::base(QNServiceEndpoints::office365OfficeAppsHost()) +
                        QStringLiteral("/odc/servicemanager/userconnected");
    auto request = NRHTTPRequest::requestWithURL(QUrl(url));
    request->setShouldAttemptPersistentConnection(false);
    request->setUseCookiePersistence(false);
    request->addRequestHeader(QStringLiteral("Authorization"), officeToken);
    request->addRequestHeader(QStringLiteral("X-Office-UserType"), QStringLiteral("2"));
    request->addRequestHeader(QStringLiteral("X-IDCRL_ACCEPTED"), QStringLiteral("t"));
    request->addRequestHeader(QStringLiteral("X-Office-Version"), QStringLiteral("1.1.0"));
    auto self = std::static_pointer_cast<QNOffice365Handler>(shared_from_this());
    startStep(request, completion, [self, completion, sharePointToken](NRHTTPRequest &request) {
        VNErrorPtr error;
        const XTDocumentPtr answer = parseAnswer(request.responseData(), &error);
        if (!answer) {
            completion(false, request.isCancelled(), error, QString(), QString());
            return;
        }
        const XTNamespaceMappings o{{QStringLiteral("o"), QLatin1String(SignIn::kOfficeNS)}};
        const QString connection = QStringLiteral("//o:Connection[@o:ServiceId='O365_SHAREPOINT']");
        const QString hostUrl = firstText(answer, connection + QStringLiteral("/o:ConnectionHostUrl"), o);
        const QString withHost = connection + QStringLiteral("[count(o:ConnectionHostUrl) > 0]");
        QString siteUrl = firstText(answer, withHost + QStringLiteral("/o:ConnectionUrl"), o);
        if (siteUrl.isEmpty()) {
            QString name = firstText(answer, withHost + QStringLiteral("/o:ConnectionUserDisplayName"), o);
            if (!name.isNull() && !hostUrl.isEmpty()) {
                name.replace(QLatin1Char('@'), QLatin1Char('_')).replace(QLatin1Char('.'), QLatin1Char('_'));
                siteUrl = hostUrl + QStringLiteral("personal/") + name;
            }
        }
        if (hostUrl.isEmpty() || siteUrl.isEmpty()) {
            completion(false, request.isCancelled(),
                       errorFromDomain(errorDomain(), QStringLiteral("Did not get ConnectionUrl")), QString(), QString());
            return;
        }
        if (VNErrorPtr refused = siteRefusal(hostUrl, siteUrl)) {
            completion(false, request.isCancelled(), refused, QString(), QString());
            return;
        }
        self->requestCookie(hostUrl, siteUrl, sharePointToken, completion);
    });
}

void QNOffice365Handler::requestCookie(const QString &hostUrl, const QString &siteUrl,
                                       const QString &sharePointToken, SignInCallback completion) {
    auto request = NRHTTPRequest::requestWithURL(QUrl(cookieEndpoint(hostUrl)));
    request->setShouldAttemptPersistentConnection(false);
    request->addRequestHeader(QStringLiteral("Authorization"), QStringLiteral("BPOSIDCRL ") + sharePointToken);
    request->addRequestHeader(QStringLiteral("X-IDCRL_ACCEPTED"), QStringLiteral("t"));
    auto self = std::static_pointer_cast<QNOffice365Handler>(shared_from_this());
    startStep(request, completion, [self, completion, siteUrl, sharePointToken](NRHTTPRequest &request) {
        const QString cookie = request.responseHeader(QStringLiteral("Set-Cookie"));
        if (cookie.isEmpty()) {
            completion(false, request.isCancelled(),
                       errorFromDomain(errorDomain(), QStringLiteral("Did not get cookie")), QString(), QString());
            return;
        }
        SignIn::Entry entry;
        entry.token = sharePointToken;
        entry.cookie = cookie;
        entry.site = siteUrl;
        entry.expiry = SignIn::now().addSecs(3600);
        SignIn::store(self->cacheKey(), entry);
        self->useSite(siteUrl);
        completion(true, request.isCancelled(), nullptr, sharePointToken, cookie);
    });
}
