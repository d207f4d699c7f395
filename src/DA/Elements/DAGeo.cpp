#include "DA/Elements/DAGeo.h"

#include "DA/BaseClasses/DANamespaces.h"
#include "DA/BaseClasses/DAUtilities.h"
#include "Platform/VNLog.h"

#include <QLocale>
#include <cctype>
#include <cmath>

using namespace DANamespaces;

DA_DEFINE_CLASS(DAGeo, DAObject)
DA_DEFINE_ELEMENT_CLASS(DAGeoRSSPoint, DAGeo, geoRSS(), "georss", "point")
DA_DEFINE_ELEMENT_CLASS(DAGeoRSSWhere, DAGeo, geoRSS(), "georss", "where")
DA_DEFINE_ELEMENT_CLASS(DAGeoW3CPoint, DAGeo, w3cGeo(), "geo", "Point")
DA_DEFINE_ELEMENT_CLASS(DAGeoRSSFeatureName, DAValueElementConstruct, geoRSS(), "georss", "featurename")
DA_DEFINE_ELEMENT_CLASS(DAGeoRSSRadius, DAValueElementConstruct, geoRSS(), "georss", "radius")

std::shared_ptr<DAGeo> DAGeo::geoWithLatitude(DAClass cls, double latitude, double longitude) {
    auto geo = std::dynamic_pointer_cast<DAGeo>(objectOfClass(cls));
    if (geo)
        geo->setValues({latitude, longitude});
    return geo;
}

QMap<QString, QString> DAGeo::geoNamespaces() {
    return {{QStringLiteral("georss"), geoRSS()}, {QStringLiteral("geo"), w3cGeo()}, {QStringLiteral("gml"), gml()}};
}

double DAGeo::latitude() const { return isPoint() ? m_values[0] : std::nan(""); }
double DAGeo::longitude() const { return isPoint() ? m_values[1] : std::nan(""); }

namespace {

// A scanner's double at i (white space skipped): sign, digits, an optional
// fraction and exponent; false when no number starts there.
bool scanDouble(const QByteArray &s, qsizetype &i, double &out) {
    qsizetype j = i;
    while (j < s.size() && std::isspace(static_cast<unsigned char>(s[j])))
        ++j;
    const qsizetype start = j;
    auto digits = [&] {
        const qsizetype from = j;
        while (j < s.size() && std::isdigit(static_cast<unsigned char>(s[j])))
            ++j;
        return j > from;
    };
    if (j < s.size() && (s[j] == '+' || s[j] == '-'))
        ++j;
    bool any = digits();
    if (j < s.size() && s[j] == '.') {
        ++j;
        any = digits() || any;
    }
    if (!any)
        return false;
    if (j < s.size() && (s[j] == 'e' || s[j] == 'E')) {
        qsizetype k = j + 1;
        if (k < s.size() && (s[k] == '+' || s[k] == '-'))
            ++k;
        const qsizetype exponent = k;
        while (k < s.size() && std::isdigit(static_cast<unsigned char>(s[k])))
            ++k;
        if (k > exponent)
            j = k;
    }
    out = s.mid(start, j - start).toDouble();  // C locale, whatever the user's
    i = j;
    return true;
}

}  // namespace

namespace {

// The shortest text that reads back as the same number, so a location
// fetched and sent back with an update keeps every digit it had.
QString numberText(double v) { return QString::number(v, 'g', QLocale::FloatingPointShortest); }

}  // namespace

QList<double> DAGeo::valuesWithCoordinateString(const QString &text) {
    // Numbers are read in pairs until a read fails; an unpaired one is dropped.
    QList<double> values;
    const QByteArray bytes = text.toLatin1();
    qsizetype i = 0;
    double a = 0, b = 0;
    if (!scanDouble(bytes, i, a))
        return values;
    while (scanDouble(bytes, i, b)) {
        values << a << b;
        if (!scanDouble(bytes, i, a))
            break;
    }
    return values;
}

QString DAGeo::coordinateStringWithValues(const QList<double> &values) {
    QStringList parts;
    for (double v : values)
        parts << numberText(v);
    return parts.join(QLatin1Char(' '));
}

void DAGeo::addGeoExtensionDeclarations(DAObject &object, DAClass parentClass) {
    object.addExtensionDeclarationsForParent(
        parentClass, {DAGeoRSSPoint::staticClass(), DAGeoRSSWhere::staticClass(), DAGeoW3CPoint::staticClass()});
}

std::shared_ptr<DAGeo> DAGeo::geoLocationForObject(const DAObject &object) {
    if (auto g = object.extension<DAGeoRSSPoint>())
        return g;
    if (auto g = object.extension<DAGeoRSSWhere>())
        return g;
    return object.extension<DAGeoW3CPoint>();
}

void DAGeo::setGeoLocation(const std::shared_ptr<DAGeo> &geo, DAObject &object) {
    // A plain DAGeo has no XML form: refused before anything is removed.
    if (geo && geo->objectClass() == staticClass()) {
        VNLog::log(QStringLiteral("setGeoLocation requires an instance of a subclass of DAGeo"));
        return;
    }
    if (auto old = geoLocationForObject(object))
        object.setObject(nullptr, old->objectClass());
    if (geo)
        object.setObject(geo, geo->objectClass());
}

bool DAGeo::initWithXMLElement(const DAXMLElementPtr &element, const DAObjectPtr &parent) {
    // Only the subclasses know their XML form; a plain DAGeo declared as an
    // extension is a mistake of the declaring class, reported here.
    if (objectClass() == staticClass()) {
        VNLog::log(QStringLiteral("Subclass of %1 should handle initWithXMLElement:").arg(QLatin1String(staticClass()->name)));
        return false;
    }
    return DAObject::initWithXMLElement(element, parent);
}

bool DAGeo::isEqual(const DAExtensionItem &other) const {
    auto *o = dynamic_cast<const DAGeo *>(&other);
    return o && DAObject::isEqual(other) && m_values == o->m_values;
}

void DAGeo::copyInto(DAObject &target) const {
    DAObject::copyInto(target);
    static_cast<DAGeo &>(target).m_values = m_values;
}

QStringList DAGeo::itemsForDescription() const {
    QStringList items = DAObject::itemsForDescription();
    if (!m_values.isEmpty())
        items << QStringLiteral("values:%1").arg(coordinateString());
    return items;
}

bool DAGeoRSSPoint::initWithXMLElement(const DAXMLElementPtr &element, const DAObjectPtr &parent) {
    if (!DAGeo::initWithXMLElement(element, parent))
        return false;
    const QString text = stringValueFromElement(element);
    if (!text.isEmpty())
        m_values = valuesWithCoordinateString(text);
    return true;
}

DAXMLElementPtr DAGeoRSSPoint::XMLElement() const {
    DAXMLElementPtr e = XMLElementWithExtensionsAndDefaultName(QStringLiteral("georss:point"));
    if (isPoint())
        e->addChild(DAXMLNode::textWithStringValue(coordinateString()));
    return e;
}

bool DAGeoRSSWhere::initWithXMLElement(const DAXMLElementPtr &element, const DAObjectPtr &parent) {
    if (!DAGeo::initWithXMLElement(element, parent))
        return false;
    if (DAXMLElementPtr point = childWithQualifiedName(QStringLiteral("gml:Point"), gml(), element)) {
        DAXMLElementList pos = point->elementsForLocalName(QStringLiteral("pos"), gml());
        if (pos.size() == 1) {
            const QString text = pos.first()->stringValue();
            if (!text.isEmpty())
                m_values = valuesWithCoordinateString(text);
        }
    }
    return true;
}

DAXMLElementPtr DAGeoRSSWhere::XMLElement() const {
    DAXMLElementPtr e = XMLElementWithExtensionsAndDefaultName(QStringLiteral("georss:where"));
    if (isPoint()) {
        DAXMLElementPtr point = DAXMLNode::elementWithName(QStringLiteral("gml:Point"));
        // The "gml" prefix is declared here, so the location is readable
        // wherever it is written; a parent that declares it too (a photo
        // entry) keeps the one declaration when this is added under it.
        point->addNamespace(DAXMLNode::namespaceWithName(QStringLiteral("gml"), gml()));
        const QString text = coordinateString();
        if (!text.isEmpty())
            point->addChild(DAXMLNode::elementWithName(QStringLiteral("gml:pos"), text));
        e->addChild(point);
    }
    return e;
}

bool DAGeoW3CPoint::initWithXMLElement(const DAXMLElementPtr &element, const DAObjectPtr &parent) {
    if (!DAGeo::initWithXMLElement(element, parent))
        return false;
    const QString uri = element->URI();
    DAXMLElementPtr lat = childWithQualifiedName(QStringLiteral("geo:lat"), uri, element);
    DAXMLElementPtr lon = childWithQualifiedName(QStringLiteral("geo:long"), uri, element);
    if (lat && lon) {
        m_values = {DAUtilities::doubleNumberOrInfForString(lat->stringValue()).value_or(0),
                    DAUtilities::doubleNumberOrInfForString(lon->stringValue()).value_or(0)};
    }
    return true;
}

DAXMLElementPtr DAGeoW3CPoint::XMLElement() const {
    DAXMLElementPtr e = XMLElementWithExtensionsAndDefaultName(QStringLiteral("geo:Point"));
    if (isPoint()) {
        // The children take the prefix of the point's own name ("geo" when
        // it has none, so they stay in the W3C namespace).
        QString prefix = DAXMLNode::prefixForName(elementName());
        if (prefix.isEmpty())
            prefix = QStringLiteral("geo");
        e->addChild(DAXMLNode::elementWithName(prefix + QStringLiteral(":lat"), numberText(latitude())));
        e->addChild(DAXMLNode::elementWithName(prefix + QStringLiteral(":long"), numberText(longitude())));
    }
    return e;
}
