#pragma once

#include <QString>

// The web services' addresses, in one place: each a base URL under a key
// ("google.accounts", "google.api" ...). Tests point them at their fakes.
namespace QNServiceHosts {

// The base URL of the key (no trailing slash); the default unless overridden.
QString url(const QString &key);
// Overrides the key's base URL; an empty URL restores the default.
void setUrl(const QString &key, const QString &baseUrl);

}  // namespace QNServiceHosts
