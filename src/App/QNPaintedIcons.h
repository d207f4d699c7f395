#pragma once

#include <QIcon>

// Icons of our own drawn at whatever size they are asked for, for a desktop
// whose icon theme has no folder or file icon: a picture scaled up from a
// small bitmap would be blurred in the large thumbnails.
namespace QNPaintedIcons {

QIcon folder();
QIcon document();

}  // namespace QNPaintedIcons
