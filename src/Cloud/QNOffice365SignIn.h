#pragma once

#include "Platform/VNError.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <functional>
#include <optional>

// The texts and the cache of the Office 365 sign-in: the SOAP envelopes of
// the federation and token requests, the reading of their answers, and the
// class-wide cache of signed-in users.
namespace QNOffice365SignIn {

// Namespaces the envelopes and answers use.
extern const char *const kSoapNS;      // S
extern const char *const kSecurityNS;  // wsse
extern const char *const kUtilityNS;   // wsu
extern const char *const kFaultNS;     // psf
extern const char *const kSamlNS;      // saml
extern const char *const kOfficeNS;    // o

// Text inside a CDATA section, split where it holds "]]>" so that no value
// can end the section early and inject markup.
QString cdata(const QString &value);

// The sign-in dates: Created = now, Expires = now + 3 hours.
QString timestamp(const QDateTime &when);

// The wsse:UsernameToken and wsu:Timestamp of a user (the user-name fragment).
QString userNameFragment(const QString &user, const QString &password, const QDateTime &now);
// The federation envelope for the federation server's URL.
QByteArray federationEnvelope(const QString &to, const QString &user, const QString &password,
                              const QDateTime &now);
// The token envelope holding a security text verbatim.
QByteArray tokenEnvelope(const QString &securityText);

// "%@ - %@ (%@)" of the S text, psf text and psf code, absent ones "(null)".
QString faultMessage(const QString &sText, const QString &psfText, const QString &psfCode);

// The class-wide cache of signed-in users, keyed by user name and the site
// address the user entered (two drives of one user on two sites never share
// a cookie). The password is never kept.
struct Entry {
    QString token;
    QString cookie;
    QString site;
    QDateTime expiry;
};
std::optional<Entry> cached(const QString &key, const QDateTime &now);
void store(const QString &key, const Entry &entry);
// Drops an entry whose cookie the server refused.
void drop(const QString &key);
void clearForTesting();

// The time the cache is judged by; a test may set the clock.
QDateTime now();
void setClockForTesting(std::function<QDateTime()> clock);

}  // namespace QNOffice365SignIn
