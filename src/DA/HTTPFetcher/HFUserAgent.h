#pragma once

#include <QString>

// Pieces of the "User-Agent" text the data-API service builds.
namespace HFUserAgent {
// Spaces become "_", then whitespace and ()<>@,;:\"/[]?={} are deleted.
QString HFUserAgentSafeString(const QString &text);
// "Linux/<kernel version>" (our platform's counterpart of the OS token);
// computed once.
QString HFSystemVersionToken();
// "<application id>/<version>" of this program, computed once: the id is
// the organization domain and application name ("proc_<name>" without a
// domain), both made safe; the version is left out when empty.
QString HFApplicationToken();
}  // namespace HFUserAgent
