#pragma once

#include <QString>

// The namespace URIs of the data API, kept in one place.
namespace DANamespaces {

inline QString atom() { return QStringLiteral("http://www.w3.org/2005/Atom"); }
inline QString atomPub() { return QStringLiteral("http://www.w3.org/2007/app"); }
// The data-API namespace ("gd").
inline QString data() { return QStringLiteral("http://schemas.google.com/g/2005"); }
inline QString batch() { return QStringLiteral("http://schemas.google.com/gdata/batch"); }
inline QString openSearch() { return QStringLiteral("http://a9.com/-/s" "pec/opensearch/1.1/"); }
inline QString photo() { return QStringLiteral("http://schemas.google.com/photos/2007"); }
inline QString exif() { return QStringLiteral("http://schemas.google.com/photos/exif/2007"); }
inline QString media() { return QStringLiteral("http://search.yahoo.com/mrss/"); }
inline QString geoRSS() { return QStringLiteral("http://www.georss.org/georss"); }
inline QString gml() { return QStringLiteral("http://www.opengis.net/gml"); }
inline QString w3cGeo() { return QStringLiteral("http://www.w3.org/2003/01/geo/wgs84_pos#"); }
inline QString xml() { return QStringLiteral("http://www.w3.org/XML/1998/namespace"); }
// The scheme of kind categories.
inline QString kindScheme() { return data() + QStringLiteral("#kind"); }

}  // namespace DANamespaces
