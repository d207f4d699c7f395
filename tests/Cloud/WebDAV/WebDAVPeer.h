#pragma once

// Shared helpers of the WebDAV tests against the real peer (Apache with
// mod_dav, and the fake in tests/peers/webdav_fake.py).
#include "Cloud/QNWebDAVHandler.h"
#include "Core/QNDriveConfig.h"
#include "support/HandlerAnswer.h"

#include <QJsonObject>
#include <QString>
#include <memory>

namespace WebDAVPeer {

QJsonObject state();
QString text(const QString &key);
// "http", "https", "selfsigned" (root share, Basic), append "/dav" for the Digest share.
QString url(const QString &kind);
QString fakeURL();
// One server family of the suite ("apache", "nginx" ...): its "url" and "dir", empty when not run.
QJsonObject server(const char *family);

// A WebDAV drive on a URL of the peer, with the peer's user and password.
QNDriveConfigPtr drive(const QString &url, bool validateCertificates = true);
std::shared_ptr<QNWebDAVHandler> handlerFor(const QNDriveConfigPtr &config);

// What one call answered, and how many times, and the callbacks recording it.
using Answer = VNTest::HandlerAnswer;
using AnswerPtr = VNTest::HandlerAnswerPtr;
using VNTest::documentAnswer;
using VNTest::listAnswer;
using VNTest::loginAnswer;
using VNTest::quotaAnswer;
using VNTest::waitForAnswer;

// The status-line error text a server gives ("HTTP/1.1 404 Not Found").
QString statusLine(int code, const char *reason);

// Sets up what every peer test binary needs once: umask 0 (Apache's workers
// run under another account and must change what the tests put on the
// shares), the test CA, the factory registration and the Wi-Fi disk port.
void setUpOnce();

// A fresh folder for one test on a share's disk ("root_dir" or "dav_dir").
QString freshFolder(const QString &shareKey, const QString &name);

}  // namespace WebDAVPeer
