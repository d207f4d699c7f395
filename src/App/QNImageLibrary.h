#pragma once

#include <QPixmap>
#include <QString>
#include <QStringList>

// The application's own images (drive icons, path-bar glyphs, title-bar and
// window buttons), shipped in the resource file. Names may carry an old file
// extension (".png", ".pdf"), which is ignored.
namespace QNImageLibrary {

// The image of that name; a name we do not ship is logged once and gives a
// neutral placeholder, never a null image.
QPixmap imageNamed(const QString &name);

// Whether the resource file ships that name.
bool hasImage(const QString &name);

// Every name shipped, without extension.
QStringList imageNames();

// The name without a trailing ".png" or ".pdf".
QString baseName(const QString &name);

}  // namespace QNImageLibrary
