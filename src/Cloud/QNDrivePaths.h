#pragma once

#include <QString>

// Path and name helpers the web-drive handlers share. Their paths are
// slash-separated, absolute, with "/" as the drive's top.
namespace QNDrivePaths {

// The path without trailing slashes; "/" for the top or an empty path.
QString withoutTrailingSlashes(QString path);
// The path of the name inside the folder.
QString joinPath(const QString &folder, const QString &name);
// The path's last name ("" for the top).
QString lastComponent(const QString &path);
// The folder holding the path ("/" for the top and its children).
QString parentPath(const QString &path);
// Whether a server-given name can stand as one entry of a folder: not empty,
// not "." or "..", no slash and no NUL, so it can't escape its folder.
bool isUsableName(const QString &name);
// Whether the name's extension is a picture's (jpg, png, gif ...).
bool isPicture(const QString &name);

}  // namespace QNDrivePaths
