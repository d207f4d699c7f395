#pragma once

#include "Formats/DXJsonBase.h"
#include "Formats/DXJsonValue.h"

#include <QByteArray>

// Writes a DXJsonValue tree as JSON text: compact by default, members in
// the object's own order. On failure the result is null and errorTrace()
// says why.
class DXJsonWriter : public DXJsonBase {
public:
    // An object or an array; anything else fails with code 4 ("Not valid
    // type for JSON").
    QString stringWithObject(const DXJsonValue &value);
    // A value of any kind.
    QString stringWithFragment(const DXJsonValue &value);
    // The same as UTF-8 bytes (a request body), without a text round trip.
    QByteArray dataWithObject(const DXJsonValue &value);
    QByteArray dataWithFragment(const DXJsonValue &value);

    // Members of each object in ascending key order (plain, case-sensitive).
    bool sortKeys() const { return m_sortKeys; }
    void setSortKeys(bool on) { m_sortKeys = on; }
    // Each element and member on a line of its own, indented two spaces per
    // level, " : " between key and value.
    bool humanReadable() const { return m_humanReadable; }
    void setHumanReadable(bool on) { m_humanReadable = on; }

private:
    bool appendValue(const DXJsonValue &value, QByteArray &out);
    bool appendArray(const DXJsonArray &array, QByteArray &out);
    bool appendObject(const DXJsonObject &object, QByteArray &out);
    void appendIndent(QByteArray &out) const;
    static void appendString(const QString &text, QByteArray &out);

    bool m_sortKeys = false;
    bool m_humanReadable = false;
};
