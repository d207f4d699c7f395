#include "DXApplicationKeys.h"

#ifndef VARNELLO_DROPBOX_APP_KEY
#define VARNELLO_DROPBOX_APP_KEY "qk7mwe3xz8rtypa"
#endif
#ifndef VARNELLO_DROPBOX_APP_SECRET
#define VARNELLO_DROPBOX_APP_SECRET "52nd0f41ppqzcxb"
#endif

namespace DXApplicationKeys {

QString appKey() {
    return QStringLiteral(VARNELLO_DROPBOX_APP_KEY);
}

QString appSecret() {
    return QStringLiteral(VARNELLO_DROPBOX_APP_SECRET);
}

}  // namespace DXApplicationKeys
