#pragma once

#include "Cloud/DropboxSDK/Classes/DXSession.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <memory>

// The Dropbox fake (tests/peers/dropbox_peer.py) and the private keyring
// (keyring_peer.py), and the client pointed at them.
namespace DropboxFake {

// Whether both peers run; else the reason.
QString unavailableReason();
// Points the client's hosts, the certificate authority and the keyring at
// the peers, empties the fake and sets a fresh shared session (its tokens
// from the keyring).
void setUp();
std::shared_ptr<DXSession> newSession();
QString appKey();
QString userId();
// The plain-http base of the authorization page ("http://127.0.0.1:<port>").
QString webBase();

// A test control of the fake: reset, log, fault, revoke, entry, file, tree.
QByteArray control(const QString &what, const QJsonObject &arguments = {});
// Every call the fake served since the last reset.
QJsonArray requestLog();
// Injects a fault on calls whose path starts with prefix.
void fault(const QString &prefix, int status, int times = 1, bool dropBody = false);
// Puts a file (or folder) straight into the fake's tree.
void putFile(const QString &path, const QByteArray &data, bool isDirectory = false);
// The fake's tree: lower-case key -> {"path", "is_dir", "sha1"}.
QJsonObject tree();

// Links the fake's user through the three OAuth steps (the authorization
// page's redirect read without a browser); the session keeps the token.
bool linkUser(const std::shared_ptr<DXSession> &session);

}  // namespace DropboxFake
