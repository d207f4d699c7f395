#pragma once

#include <QString>

// The program's Dropbox application key and secret: the one place they are
// kept. A build may give its own (CMake: VARNELLO_DROPBOX_APP_KEY and
// VARNELLO_DROPBOX_APP_SECRET).
namespace DXApplicationKeys {

QString appKey();
QString appSecret();

}  // namespace DXApplicationKeys
