#pragma once

#include "Core/QNCloudInterface.h"

#include <QString>
#include <functional>

// Path, name and download helpers the web-drive handlers share. Their paths are
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

// Adds a listed document: one that could not be made (a name that would
// leave its folder) is logged and left out, and a search keeps only the
// names holding the keyword. False when the entry was left out for its name.
bool keepListed(QNDocumentList &documents, const QNDocumentPtr &document, const QString &keyword,
                const QString &handler, const QString &folderPath);

// Where a download grows until it is whole: a hidden name beside the
// destination, so a refused or broken download leaves nothing that looks whole.
QString partFileFor(const QString &destination);
// A transfer's progress as a fraction of its total, or of the expected size
// when the server gives none.
std::function<void(qint64 done, qint64 total)> fractionProgress(QNProgressCallback progress, qint64 expected = 0);
// The end of a download into the part file: a success moves it over the
// destination and answers the destination's document; anything else removes it.
std::function<void(VNErrorPtr error, bool cancelled)> downloadAnswer(const QString &partFile, const QString &destination,
                                                                    const QString &domain, QNDocumentCallback completed);

}  // namespace QNDrivePaths
