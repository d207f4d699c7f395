#pragma once

#include "DA/BaseClasses/DAValueConstruct.h"

// A geographic location: a list of numbers; a point when there are exactly
// two, latitude first. Subclasses read and write their own XML form.
class DAGeo : public DAObject {
    DA_CLASS(DAGeo)
public:
    static std::shared_ptr<DAGeo> geoWithLatitude(DAClass cls, double latitude, double longitude);
    // "georss", "geo" (W3C WGS84 position) and "gml" with their namespaces.
    static QMap<QString, QString> geoNamespaces();

    const QList<double> &values() const { return m_values; }
    void setValues(const QList<double> &values) { m_values = values; }
    bool isPoint() const { return m_values.size() == 2; }
    // Not-a-number unless a point.
    double latitude() const;
    double longitude() const;
    QString coordinateString() const { return coordinateStringWithValues(m_values); }

    // Pairs of numbers; a trailing unpaired number is dropped.
    static QList<double> valuesWithCoordinateString(const QString &text);
    static QString coordinateStringWithValues(const QList<double> &values);
    static void addGeoExtensionDeclarations(DAObject &object, DAClass parentClass);
    // The GeoRSS point, else the where, else the W3C point of the object.
    static std::shared_ptr<DAGeo> geoLocationForObject(const DAObject &object);
    static void setGeoLocation(const std::shared_ptr<DAGeo> &geo, DAObject &object);

    bool initWithXMLElement(const DAXMLElementPtr &element, const DAObjectPtr &parent) override;
    bool isEqual(const DAExtensionItem &other) const override;
    QStringList itemsForDescription() const override;

protected:
    void copyInto(DAObject &target) const override;
    QList<double> m_values;
};

class DAGeoRSSPoint : public DAGeo {
    DA_CLASS(DAGeoRSSPoint)
public:
    bool initWithXMLElement(const DAXMLElementPtr &element, const DAObjectPtr &parent) override;
    DAXMLElementPtr XMLElement() const override;
};

class DAGeoRSSWhere : public DAGeo {
    DA_CLASS(DAGeoRSSWhere)
public:
    bool initWithXMLElement(const DAXMLElementPtr &element, const DAObjectPtr &parent) override;
    DAXMLElementPtr XMLElement() const override;
};

class DAGeoW3CPoint : public DAGeo {
    DA_CLASS(DAGeoW3CPoint)
public:
    bool initWithXMLElement(const DAXMLElementPtr &element, const DAObjectPtr &parent) override;
    DAXMLElementPtr XMLElement() const override;
};

DA_DECLARE_ELEMENT(DAGeoRSSFeatureName, DAValueElementConstruct)
DA_DECLARE_ELEMENT(DAGeoRSSRadius, DAValueElementConstruct)
