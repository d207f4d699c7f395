#include "Cloud/QNOffice365SignIn.h"

#include "Cloud/QNServiceEndpoints.h"

#include <QHash>
#include <QTimeZone>
#include <mutex>

namespace QNOffice365SignIn {

const char *const kSoapNS = "http://www.w3.org/2003/05/soap-envelope";
const char *const kSecurityNS = "http://docs.oasis-open.org/wss/2004/01/oasis-200401-wss-wssecurity-secext-1.0.xsd";
const char *const kUtilityNS = "http://docs.oasis-open.org/wss/2004/01/oasis-200401-wss-wssecurity-utility-1.0.xsd";
const char *const kFaultNS = "http://schemas.microsoft.com/Passport/SoapServices/SOAPFault";
const char *const kSamlNS = "urn:oasis:names:tc:SAML:1.0:assertion";
const char *const kOfficeNS = "urn:schemas-microsoft-com:office:office";

namespace {

const char *const kPolicyNS = "http://schemas.xmlsoap.org/ws/2004/09/policy";
const char *const kAddressingNS = "http://www.w3.org/2005/08/addressing";
const char *const kTrustNS = "http://schemas.xmlsoap.org/ws/2005/02/trust";
const char *const kPassportNS = "http://schemas.microsoft.com/Passport/SoapServices/PPCRL";
const char *const kNoProofKey = "http://schemas.xmlsoap.org/ws/2005/05/identity/NoProofKey";

QString envelopeStart() {
    return QStringLiteral("<S:Envelope xmlns:S=\"%1\" xmlns:wsse=\"%2\" xmlns:wsp=\"%3\" xmlns:wsu=\"%4\" "
                          "xmlns:wsa=\"%5\" xmlns:wst=\"%6\">")
        .arg(QLatin1String(kSoapNS), QLatin1String(kSecurityNS), QLatin1String(kPolicyNS),
             QLatin1String(kUtilityNS), QLatin1String(kAddressingNS), QLatin1String(kTrustNS));
}

QString headerStart(const QString &to) {
    return QStringLiteral("<S:Header>"
                          "<wsa:Action S:mustUnderstand=\"1\">%1/RST/Issue</wsa:Action>"
                          "<wsa:To S:mustUnderstand=\"1\">%2</wsa:To>"
                          "<ps:AuthInfo xmlns:ps=\"%3\" Id=\"PPAuthInfo\">"
                          "<ps:BinaryVersion>5</ps:BinaryVersion>"
                          "<ps:HostingApp>Microsoft Office OrgId</ps:HostingApp>"
                          "</ps:AuthInfo>")
        .arg(QLatin1String(kTrustNS), to.toHtmlEscaped(), QLatin1String(kPassportNS));
}

QString tokenRequest(const QString &id, const QString &address, bool withPolicy) {
    return QStringLiteral("<wst:RequestSecurityToken xmlns:wst=\"%1\" Id=\"%2\">"
                          "<wst:RequestType>%1/Issue</wst:RequestType>"
                          "<wsp:AppliesTo><wsa:EndpointReference><wsa:Address>%3</wsa:Address>"
                          "</wsa:EndpointReference></wsp:AppliesTo>%4</wst:RequestSecurityToken>")
        .arg(QLatin1String(kTrustNS), id, address,
             withPolicy ? QStringLiteral("<wsp:PolicyReference URI=\"MBI\"></wsp:PolicyReference>")
                        : QStringLiteral("<wst:KeyType>%1</wst:KeyType>").arg(QLatin1String(kNoProofKey)));
}

struct Cache {
    std::recursive_mutex mutex;
    QHash<QString, Entry> entries;
    std::function<QDateTime()> clock;
};

Cache &cache() {
    static Cache c;
    return c;
}

}  // namespace

QString cdata(const QString &value) {
    QString text = value;
    text.replace(QStringLiteral("]]>"), QStringLiteral("]]]]><![CDATA[>"));
    return QStringLiteral("<![CDATA[") + text + QStringLiteral("]]>");
}

QString timestamp(const QDateTime &when) {
    return when.toTimeZone(QTimeZone::utc()).toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss'Z'"));
}

QString userNameFragment(const QString &user, const QString &password, const QDateTime &now) {
    return QStringLiteral("<wsse:UsernameToken wsu:Id=\"user\"><wsse:Username>%1</wsse:Username>"
                          "<wsse:Password>%2</wsse:Password></wsse:UsernameToken>"
                          "<wsu:Timestamp Id=\"Timestamp\"><wsu:Created>%3</wsu:Created>"
                          "<wsu:Expires>%4</wsu:Expires></wsu:Timestamp>")
        .arg(cdata(user), cdata(password), timestamp(now), timestamp(now.addSecs(10800)));
}

QByteArray federationEnvelope(const QString &to, const QString &user, const QString &password,
                              const QDateTime &now) {
    return (envelopeStart() + headerStart(to) + QStringLiteral("<wsse:Security>") +
            userNameFragment(user, password, now) + QStringLiteral("</wsse:Security></S:Header><S:Body>") +
            tokenRequest(QStringLiteral("RST0"), QStringLiteral("urn:federation:MicrosoftOnline"), false) +
            QStringLiteral("</S:Body></S:Envelope>"))
        .toUtf8();
}

QByteArray tokenEnvelope(const QString &securityText) {
    const QString to = QNServiceEndpoints::base(QNServiceEndpoints::office365ForwardLinkHost()) +
                       QStringLiteral("/fwlink/?LinkID=221219");
    return (envelopeStart() + headerStart(to) + QStringLiteral("<wsse:Security>\n") + securityText +
            QStringLiteral("\n</wsse:Security></S:Header><S:Body>"
                           "<ps:RequestMultipleSecurityTokens xmlns:ps=\"%1\" Id=\"RSTS\">")
                .arg(QLatin1String(kPassportNS)) +
            tokenRequest(QStringLiteral("RST0"), QNServiceEndpoints::office365SharePointDomain(), true) +
            tokenRequest(QStringLiteral("RST1"), QNServiceEndpoints::office365OfficeAppsDomain(), true) +
            QStringLiteral("</ps:RequestMultipleSecurityTokens></S:Body></S:Envelope>"))
        .toUtf8();
}

QString faultMessage(const QString &sText, const QString &psfText, const QString &psfCode) {
    auto shown = [](const QString &text) { return text.isNull() ? QStringLiteral("(null)") : text; };
    return QStringLiteral("%1 - %2 (%3)").arg(shown(sText), shown(psfText), shown(psfCode));
}

std::optional<Entry> cached(const QString &key, const QDateTime &now) {
    Cache &c = cache();
    std::lock_guard<std::recursive_mutex> lock(c.mutex);
    const auto it = c.entries.constFind(key);
    // Still good at the very second it expires.
    if (it == c.entries.constEnd() || it->site.isEmpty() || it->cookie.isEmpty() || now > it->expiry)
        return std::nullopt;
    return *it;
}

void store(const QString &key, const Entry &entry) {
    Cache &c = cache();
    std::lock_guard<std::recursive_mutex> lock(c.mutex);
    c.entries.insert(key, entry);
}

void drop(const QString &key) {
    Cache &c = cache();
    std::lock_guard<std::recursive_mutex> lock(c.mutex);
    c.entries.remove(key);
}

void clearForTesting() {
    Cache &c = cache();
    std::lock_guard<std::recursive_mutex> lock(c.mutex);
    c.entries.clear();
}

QDateTime now() {
    Cache &c = cache();
    std::lock_guard<std::recursive_mutex> lock(c.mutex);
    return c.clock ? c.clock() : QDateTime::currentDateTimeUtc();
}

void setClockForTesting(std::function<QDateTime()> clock) {
    Cache &c = cache();
    std::lock_guard<std::recursive_mutex> lock(c.mutex);
    c.clock = std::move(clock);
}

}  // namespace QNOffice365SignIn
