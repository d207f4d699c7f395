#pragma once

#include <QString>

// Pieces of the "User-Agent" text the data-API service builds.
namespace HFUserAgent {
// Spaces become "_", then whitespace and ()<>@,;:\"/[]?={} are deleted.
QString HFUserAgentSafeString(const QString &text);
// "MacOSX/<version>": the system's product version ("10.?.?" when there is
// none); computed once.
QString HFSystemVersionToken();
// "<application id>/<version>" of this program, computed once: the id is
// the organization domain and application name ("proc_<name>" without a
// domain), both made safe; the version is left out when empty.
QString HFApplicationToken();
}  // namespace HFUserAgent
